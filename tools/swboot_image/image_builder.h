// Building OPR images: a 1220-byte image header, the operational code as a
// zlib stream (component 0), and optionally the boot code as it stands
// (component 1), with the image CRC-16 over the whole file.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_format.h"
#include "result.h"

namespace swboot::tool {

// The operational code's vital product data numbers in the header.
struct VpdNumbers {
    uint8_t rel = 1;
    uint8_t ver = 0;
    uint8_t maintLvl = 0;
    uint8_t buildNum = 0;  // 0: none
};

struct ImageBuildInput {
    std::vector<uint8_t> code;                   // the operational code as it is to run
    std::optional<std::vector<uint8_t>> bootCode;
    uint32_t loadAddress = 0;                    // also the entry point
    uint32_t target = DEVICE_TARGET_ID;
    VpdNumbers vpd;
    uint32_t bootCodeVersion = 1;
    std::string timestamp;                       // at most 31 characters
    std::string name;                            // at most 399 characters
};

inline constexpr int IMAGE_CODE_COMPRESSION_LEVEL = 9;

// Builds the image, or says why the loader could not start it.
Result<std::vector<uint8_t>> oprImageBuild(const ImageBuildInput& input);

// Parses "REL.VER.MAINT[.BUILD]": REL is one ASCII letter or a number,
// the others numbers; every number 0..255.
Result<VpdNumbers> vpdParse(std::string_view text);

// Parses a 32-bit hexadecimal number, with or without "0x".
Result<uint32_t> hexParse(std::string_view text);

// A calendar time as the board's ctime writes it, without the line end:
// "Tue Oct 10 10:10:10 2006". Universal time.
std::string ctimeText(std::time_t when);

// The default timestamp: SOURCE_DATE_EPOCH (seconds since 1970) when it
// is set, else now.
Result<std::string> timestampDefault(const char* sourceDateEpoch, std::time_t now);

}  // namespace swboot::tool
