#include "board/sfp_module.h"

#include <cmath>

namespace sim {

namespace {

constexpr size_t TEXT_FIELD = 16;
constexpr size_t REVISION_FIELD = 4;
constexpr size_t DATE_FIELD = 8;
constexpr uint16_t VCC_3V3 = 33000;  // units of 100 uV

}  // namespace

void modulePutText(ModulePage& page, size_t offset, size_t size, const std::string& text) {
    for (size_t i = 0; i < size; ++i) {
        page[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
    }
}

uint8_t moduleCheckCode(const ModulePage& page, size_t first, size_t last) {
    unsigned sum = 0;
    for (size_t i = first; i <= last; ++i) {
        sum += page[i];
    }
    return static_cast<uint8_t>(sum);
}

bool ModulePageDevice::addressed(bool read) {
    pointerNext_ = !read;
    return true;
}

bool ModulePageDevice::write(uint8_t byte) {
    if (pointerNext_) {
        pointer_ = byte;
        pointerNext_ = false;
    }
    return true;
}

uint8_t ModulePageDevice::read(bool) { return page_[pointer_++]; }

ModulePage SfpModule::idPageOf(const ModuleIdentity& identity) {
    ModulePage page{};
    page[IDENTIFIER] = IDENTIFIER_SFP;
    page[EXTENDED_IDENTIFIER] = EXTENDED_IDENTIFIER_TWO_WIRE;
    page[CONNECTOR] = CONNECTOR_LC;
    page[ENCODING] = ENCODING_8B10B;
    page[BIT_RATE] = identity.bitRate;
    modulePutText(page, VENDOR_NAME, TEXT_FIELD, identity.vendor);
    // The vendor OUI stays all zero: unspecified.
    modulePutText(page, VENDOR_PART_NUMBER, TEXT_FIELD, identity.partNumber);
    modulePutText(page, VENDOR_REVISION, REVISION_FIELD, identity.revision);
    page[CHECK_BASE] = moduleCheckCode(page, 0, CHECK_BASE - 1);
    modulePutText(page, VENDOR_SERIAL_NUMBER, TEXT_FIELD, identity.serialNumber);
    modulePutText(page, DATE_CODE, DATE_FIELD, identity.dateCode);
    page[DIAGNOSTIC_TYPE] = DIAGNOSTICS_IMPLEMENTED;
    page[COMPLIANCE] = COMPLIANCE_REVISION;
    page[CHECK_EXTENDED] = moduleCheckCode(page, 64, CHECK_EXTENDED - 1);
    return page;
}

ModulePage SfpModule::diagnosticsPageOf(const ModuleIdentity& identity) {
    ModulePage page{};
    page[DIAG_CHECK] = moduleCheckCode(page, 0, DIAG_CHECK - 1);
    // Temperature in 1/256 degrees, two's complement, most significant first.
    auto temperature = static_cast<int16_t>(std::lround(identity.celsius * 256.0));
    page[DIAG_TEMPERATURE] = static_cast<uint8_t>(static_cast<uint16_t>(temperature) >> 8);
    page[DIAG_TEMPERATURE + 1] = static_cast<uint8_t>(temperature);
    page[DIAG_VCC] = static_cast<uint8_t>(VCC_3V3 >> 8);
    page[DIAG_VCC + 1] = static_cast<uint8_t>(VCC_3V3);
    return page;
}

SfpModule::SfpModule(const ModuleIdentity& identity)
    : id_(idPageOf(identity)), diagnostics_(diagnosticsPageOf(identity)) {}

}  // namespace sim
