#include "host/host_volume_format.h"

#include <zlib.h>

#include "board/flash_array.h"
#include "common/bytes.h"

namespace sim {

namespace {

uint32_t checkValue(const uint8_t* bytes, uint32_t length) {
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), bytes, length));
}

}  // namespace

std::array<uint8_t, FormatRecord::LENGTH> FormatRecord::encode() const {
    std::array<uint8_t, LENGTH> bytes{};
    uint8_t* p = bytes.data();
    swboot::putBe32(p + OFFSET_MAGIC, MAGIC);
    swboot::putBe32(p + OFFSET_VERSION, VERSION);
    swboot::putBe32(p + OFFSET_LENGTH, LENGTH);
    swboot::putBe32(p + OFFSET_FIRST_UNIT, firstUnit);
    swboot::putBe32(p + OFFSET_UNIT_COUNT, unitCount);
    swboot::putBe32(p + OFFSET_PERCENT_USE, params.percentUse);
    swboot::putBe32(p + OFFSET_SPARE_UNITS, params.noOfSpareUnits);
    swboot::putBe32(p + OFFSET_VM_ADDRESSING_LIMIT, params.vmAddressingLimit);
    swboot::putBe32(p + OFFSET_FAT_COPIES, params.noOfFatCopies);
    swboot::putBe32(p + OFFSET_EMBEDDED_CIS_LENGTH, params.embeddedCisLength);
    swboot::putBe32(p + OFFSET_FORMAT_FLAGS, params.formatFlags);
    swboot::putBe32(p + OFFSET_BOOT_IMAGE_LENGTH, params.bootImageLength);
    swboot::putBe32(p + OFFSET_CHECK, checkValue(p, OFFSET_CHECK));
    return bytes;
}

std::optional<FormatRecord> FormatRecord::decode(std::span<const uint8_t> bytes) {
    if (bytes.size() < LENGTH) {
        return std::nullopt;
    }
    const uint8_t* p = bytes.data();
    if (swboot::getBe32(p + OFFSET_MAGIC) != MAGIC || swboot::getBe32(p + OFFSET_VERSION) != VERSION ||
        swboot::getBe32(p + OFFSET_LENGTH) != LENGTH ||
        swboot::getBe32(p + OFFSET_CHECK) != checkValue(p, OFFSET_CHECK)) {
        return std::nullopt;
    }
    FormatRecord record;
    record.firstUnit = swboot::getBe32(p + OFFSET_FIRST_UNIT);
    record.unitCount = swboot::getBe32(p + OFFSET_UNIT_COUNT);
    record.params.percentUse = swboot::getBe32(p + OFFSET_PERCENT_USE);
    record.params.noOfSpareUnits = swboot::getBe32(p + OFFSET_SPARE_UNITS);
    record.params.vmAddressingLimit = swboot::getBe32(p + OFFSET_VM_ADDRESSING_LIMIT);
    record.params.noOfFatCopies = swboot::getBe32(p + OFFSET_FAT_COPIES);
    record.params.embeddedCisLength = swboot::getBe32(p + OFFSET_EMBEDDED_CIS_LENGTH);
    record.params.formatFlags = swboot::getBe32(p + OFFSET_FORMAT_FLAGS);
    record.params.bootImageLength = swboot::getBe32(p + OFFSET_BOOT_IMAGE_LENGTH);
    return record;
}

std::optional<FormatRecord> formatRecordRead(const FlashArray& flash) {
    const uint32_t offset = VOLUME_FIRST_UNIT * FlashArray::UNIT_SIZE;
    auto record = FormatRecord::decode(flash.view(offset, FormatRecord::LENGTH));
    if (!record || record->firstUnit != VOLUME_FIRST_UNIT || record->unitCount != VOLUME_UNIT_COUNT ||
        record->params.percentUse == 0 || record->params.percentUse > 100) {
        return std::nullopt;
    }
    return record;
}

void formatRecordWrite(FlashArray& flash, const FormatRecord& record) {
    const auto bytes = record.encode();
    flash.program(VOLUME_FIRST_UNIT * FlashArray::UNIT_SIZE, bytes);
}

}  // namespace sim
