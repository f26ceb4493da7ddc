// Image files for tests, down to the byte: OPR images around component
// data given as is, zlib streams of exact sizes, and CRC repair after a
// test has changed bytes on purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "harness/files.h"
#include "image/image_format.h"

namespace testing_support {

// A zlib stream of stored (uncompressed) blocks of exactly the size (at
// least 11): pattern data + 6 + 5 per block of at most 65535 bytes, every
// 1024 bytes of which inflate to at most 1024 bytes.
std::vector<uint8_t> storedZlibStreamOf(size_t streamSize);
// The data compressed as a zlib stream.
std::vector<uint8_t> zlibStream(const std::vector<uint8_t>& data);
// Bytes of a simple deterministic pattern.
inline std::vector<uint8_t> patternBytes(size_t size, uint32_t seed = 1) { return interop::testPattern(size, seed); }

struct ImageSpec {
    std::vector<uint8_t> component0;               // stored as is (normally a zlib stream)
    std::optional<std::vector<uint8_t>> bootCode;  // component 1, as is
    uint32_t loadAddress = 0x00010000;
    uint32_t target = swboot::DEVICE_TARGET_ID;
    std::string timestamp = "Mon Jan  1 00:00:00 2007";
    std::string fileText = "test-image.bin";
    uint8_t vpd[4] = {'A', 1, 2, 3};
};

// An OPR image with a correct Size and CRC.
std::vector<uint8_t> oprImage(const ImageSpec& layout);
// Sets bytes 0-1 to the CRC of bytes 2..Size-1 (Size from the image or
// container header).
void fixCrc(std::vector<uint8_t>& file);

}  // namespace testing_support
