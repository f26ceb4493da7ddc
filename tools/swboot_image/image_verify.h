// The checks an image file must pass for the loader to accept it and start
// its operational code: the file CRC, the image selection, the header
// fields, the placement of the component data, the load address, and a
// trial inflation of the operational code done the way the loader does it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "result.h"

namespace swboot::tool {

// Step sizes of the loader's inflation loop.
inline constexpr uint32_t INFLATE_INPUT_STEP = 1024;
inline constexpr uint32_t INFLATE_OUTPUT_STEP = 3072;

struct InflateOutcome {
    bool ok = false;
    std::string problem;      // why it failed
    uint64_t produced = 0;    // bytes of output
    bool streamEnded = false; // false when the component ended first
};

// Inflates a component's zlib stream as the loader does: while not all of
// the component was consumed, offer up to 1024 more of its bytes and up to
// 3072 bytes of output room; a stream end stops the loop, any other error
// fails it, and consuming the whole component without a stream end is
// success too. At most `room` bytes of output are allowed. The output is
// kept when `output` is given.
InflateOutcome componentInflate(std::span<const uint8_t> component, uint64_t room,
                                std::vector<uint8_t>* output = nullptr);

struct VerifyReport {
    bool container = false;
    size_t entryIndex = 0;     // chosen container entry
    uint32_t base = 0;         // file position of the chosen image
    uint32_t checkedLength = 0;
    uint32_t target = 0;
    uint32_t loadAddress = 0;
    uint32_t compressedSize = 0;
    uint64_t inflatedSize = 0;
    bool streamEnded = false;
    uint32_t bootCodeSize = 0;
};

// Verifies a file for a target. `file` holds at least the first 16 MiB of
// the file (all the loader reads of it) or the whole file, and fileLength
// is the whole file's length. Fails with a one-line reason for the first
// check that the loader would fail.
Result<VerifyReport> imageVerify(std::span<const uint8_t> file, uint64_t fileLength, uint32_t target);
inline Result<VerifyReport> imageVerify(std::span<const uint8_t> file, uint32_t target) {
    return imageVerify(file, file.size(), target);
}

// The text that follows "OK" for a verified file.
std::string verifySummary(const VerifyReport& report);

}  // namespace swboot::tool
