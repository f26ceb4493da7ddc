#include "image_builder.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "image/image_crc.h"
#include "image_verify.h"
#include "text_format.h"

namespace swboot::tool {

namespace {

Result<std::vector<uint8_t>> compress(const std::vector<uint8_t>& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> stream(length);
    int result = compress2(stream.data(), &length, data.data(), static_cast<uLong>(data.size()),
                           IMAGE_CODE_COMPRESSION_LEVEL);
    if (result != Z_OK) {
        return fail("cannot compress the code (zlib error " + std::to_string(result) + ")");
    }
    stream.resize(length);
    return stream;
}

void descriptorPut(uint8_t* header, size_t index, size_t field, uint32_t value) {
    putBe32(header + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE * index + field, value);
}

void descriptorCrcPut(uint8_t* header, size_t index, const uint8_t* data, size_t length) {
    ImageCrc crc;
    putBe16(header + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE * index + COMPONENT_CRC_OFFSET,
            crc.compute(data, length));
}

Result<unsigned> byteParse(std::string_view text, const char* what) {
    unsigned value = 0;
    if (text.empty() || text.size() > 3) {
        return fail(std::string("VPD ") + what + " must be a number 0..255");
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return fail(std::string("VPD ") + what + " must be a number 0..255");
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) {
        return fail(std::string("VPD ") + what + " must be a number 0..255");
    }
    return value;
}

bool asciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

Result<std::vector<uint8_t>> oprImageBuild(const ImageBuildInput& input) {
    if (input.code.empty()) {
        return fail("the code file is empty");
    }
    if (input.bootCode && input.bootCode->empty()) {
        return fail("the boot code file is empty");
    }
    if (input.timestamp.size() >= IMAGE_TIMESTAMP_SIZE) {
        return fail("timestamp text is " + std::to_string(input.timestamp.size()) + " characters; at most " +
                    std::to_string(IMAGE_TIMESTAMP_SIZE - 1) + " fit");
    }
    if (input.name.size() >= IMAGE_FILE_SIZE) {
        return fail("name text is " + std::to_string(input.name.size()) + " characters; at most " +
                    std::to_string(IMAGE_FILE_SIZE - 1) + " fit");
    }
    const uint32_t limit = inflateLimit(input.loadAddress);
    if (limit == 0) {
        return fail("load address " + hex32(input.loadAddress) +
                    " is not in RAM the code may be placed in (below 0x02000000, or 0x03000000..0x0fffffff)");
    }
    if (input.code.size() > uint64_t{limit} - input.loadAddress) {
        return fail("code of " + std::to_string(input.code.size()) + " bytes at " + hex32(input.loadAddress) +
                    " would pass " + hex32(limit));
    }

    Result<std::vector<uint8_t>> compressed = compress(input.code);
    if (!compressed) {
        return fail(compressed.error());
    }
    const std::vector<uint8_t>& stream = compressed.value();
    const uint64_t bootSize = input.bootCode ? input.bootCode->size() : 0;
    const uint64_t total = uint64_t{IMAGE_HEADER_SIZE} + stream.size() + bootSize;
    if (total > IMAGE_SIZE_MAX) {
        return fail("the image would be " + std::to_string(total) + " bytes; at most " +
                    std::to_string(IMAGE_SIZE_MAX) + " are allowed");
    }

    std::vector<uint8_t> image(static_cast<size_t>(total), 0);
    uint8_t* h = image.data();
    // Bytes 2-3 stay 0 so that the file can never carry the container signature.
    putBe32(h + IMAGE_TARGET_OFFSET, input.target);
    putBe32(h + IMAGE_SIZE_OFFSET, static_cast<uint32_t>(total));
    putBe32(h + IMAGE_COMPONENT_COUNT_OFFSET, input.bootCode ? 2 : 1);

    const size_t code = COMPONENT_OPERATIONAL_CODE;
    descriptorCrcPut(h, code, stream.data(), stream.size());
    descriptorPut(h, code, COMPONENT_SIZE_OFFSET, static_cast<uint32_t>(stream.size()));
    descriptorPut(h, code, COMPONENT_DATA_OFFSET, 0);
    descriptorPut(h, code, COMPONENT_LOAD_ADDRESS_OFFSET, input.loadAddress);
    descriptorPut(h, code, COMPONENT_FLASH_FLAG_OFFSET, 0);
    std::memcpy(h + IMAGE_HEADER_SIZE, stream.data(), stream.size());

    if (input.bootCode) {
        const size_t boot = COMPONENT_BOOT_CODE;
        const std::vector<uint8_t>& bootCode = *input.bootCode;
        descriptorCrcPut(h, boot, bootCode.data(), bootCode.size());
        descriptorPut(h, boot, COMPONENT_VERSION_OFFSET, input.bootCodeVersion);
        descriptorPut(h, boot, COMPONENT_SIZE_OFFSET, static_cast<uint32_t>(bootCode.size()));
        descriptorPut(h, boot, COMPONENT_DATA_OFFSET, static_cast<uint32_t>(stream.size()));
        descriptorPut(h, boot, COMPONENT_FLASH_FLAG_OFFSET, 1);
        std::memcpy(h + IMAGE_HEADER_SIZE + stream.size(), bootCode.data(), bootCode.size());
    }

    h[IMAGE_VPD_REL_OFFSET] = input.vpd.rel;
    h[IMAGE_VPD_VER_OFFSET] = input.vpd.ver;
    h[IMAGE_VPD_MAINT_LVL_OFFSET] = input.vpd.maintLvl;
    h[IMAGE_VPD_BUILD_NUM_OFFSET] = input.vpd.buildNum;
    std::memcpy(h + IMAGE_TIMESTAMP_OFFSET, input.timestamp.data(), input.timestamp.size());
    std::memcpy(h + IMAGE_FILE_OFFSET, input.name.data(), input.name.size());

    ImageCrc crc;
    putBe16(h + IMAGE_CRC_OFFSET, crc.compute(h + 2, image.size() - 2));

    // What we write must be what the loader starts.
    Result<VerifyReport> check = imageVerify(image, input.target);
    if (!check) {
        return fail("built image fails its own check: " + check.error());
    }
    if (check->inflatedSize != input.code.size()) {
        return fail("built image fails its own check: code inflates to " + std::to_string(check->inflatedSize) +
                    " bytes instead of " + std::to_string(input.code.size()));
    }
    return image;
}

Result<VpdNumbers> vpdParse(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    if (parts.size() < 3 || parts.size() > 4) {
        return fail("VPD '" + std::string(text) + "' must be REL.VER.MAINT or REL.VER.MAINT.BUILD");
    }
    VpdNumbers vpd;
    if (parts[0].size() == 1 && asciiLetter(parts[0][0])) {
        vpd.rel = static_cast<uint8_t>(parts[0][0]);
    } else {
        Result<unsigned> rel = byteParse(parts[0], "rel");
        if (!rel) {
            return fail(rel.error() + " or one letter");
        }
        vpd.rel = static_cast<uint8_t>(*rel);
    }
    Result<unsigned> ver = byteParse(parts[1], "ver");
    Result<unsigned> maint = byteParse(parts[2], "maint");
    Result<unsigned> build = parts.size() == 4 ? byteParse(parts[3], "build") : Result<unsigned>(0u);
    for (const Result<unsigned>* r : {&ver, &maint, &build}) {
        if (!*r) {
            return fail(r->error());
        }
    }
    vpd.ver = static_cast<uint8_t>(*ver);
    vpd.maintLvl = static_cast<uint8_t>(*maint);
    vpd.buildNum = static_cast<uint8_t>(*build);
    return vpd;
}

Result<uint32_t> hexParse(std::string_view text) {
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    if (digits.empty() || digits.size() > 8) {
        return fail("'" + std::string(text) + "' is not a 32-bit hexadecimal number");
    }
    uint32_t value = 0;
    for (char c : digits) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return fail("'" + std::string(text) + "' is not a 32-bit hexadecimal number");
        }
        value = (value << 4) | digit;
    }
    return value;
}

std::string ctimeText(std::time_t when) {
    std::tm parts{};
    if (gmtime_r(&when, &parts) == nullptr) {
        return {};
    }
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", days[parts.tm_wday % 7],
                  months[parts.tm_mon % 12], parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  parts.tm_year + 1900);
    return text;
}

Result<std::string> timestampDefault(const char* sourceDateEpoch, std::time_t now) {
    if (sourceDateEpoch == nullptr) {
        return ctimeText(now);
    }
    std::string_view text(sourceDateEpoch);
    int64_t seconds = 0;
    bool valid = !text.empty() && text.size() <= 12;
    for (char c : text) {
        valid = valid && c >= '0' && c <= '9';
        seconds = seconds * 10 + (c - '0');
    }
    if (!valid) {
        return fail("SOURCE_DATE_EPOCH '" + std::string(text) + "' is not a number of seconds");
    }
    std::string when = ctimeText(static_cast<std::time_t>(seconds));
    if (when.empty() || when.size() >= IMAGE_TIMESTAMP_SIZE) {
        return fail("SOURCE_DATE_EPOCH '" + std::string(text) + "' is out of range");
    }
    return when;
}

}  // namespace swboot::tool
