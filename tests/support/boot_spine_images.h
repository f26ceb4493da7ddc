// Image files for tests: good OPR images from the host tool's builder, STK
// containers laid out by hand (so that a test can place images and entries
// anywhere, and break them), and the stored CRC put right again after a
// test changed bytes on purpose.
//
// Header-only: the builder lives in the image tool's library, which only
// the test program links.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/image_crc.h"
#include "image/image_format.h"
#include "image_builder.h"
#include "support/test_images.h"

namespace testing_support::boot {

// A load address in the RAM the loader may inflate code into.
inline constexpr uint32_t TEST_LOAD_ADDRESS = 0x00100000;

struct ImageSpec {
    size_t codeBytes = 3000;
    uint8_t codeSeed = 1;                 // varies the code (and so the image)
    bool bootCode = false;
    size_t bootCodeBytes = 700;
    uint32_t target = swboot::DEVICE_TARGET_ID;
    swboot::tool::VpdNumbers vpd = {'A', 2, 3, 0};
    std::string timestamp = "Fri Oct 13 10:00:00 2006";
    std::string name = "test operational code";
};

// A valid OPR image as the loader would start it.
inline std::vector<uint8_t> goodImage(const ImageSpec& layout = {}) {
    swboot::tool::ImageBuildInput input;
    input.code.resize(layout.codeBytes);
    uint32_t x = layout.codeSeed * 2654435761u + 12345u;
    for (uint8_t& b : input.code) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    if (layout.bootCode) {
        input.bootCode = std::vector<uint8_t>(layout.bootCodeBytes, 0x5A);
    }
    input.loadAddress = TEST_LOAD_ADDRESS;
    input.target = layout.target;
    input.vpd = layout.vpd;
    input.timestamp = layout.timestamp;
    input.name = layout.name;
    auto built = swboot::tool::oprImageBuild(input);
    if (!built) {
        throw std::runtime_error("test image: " + built.error());
    }
    return built.value();
}

// Writes bytes at a position of the file, growing it as needed.
inline void placeAt(std::vector<uint8_t>& file, size_t position, const std::vector<uint8_t>& bytes) {
    if (file.size() < position + bytes.size()) {
        file.resize(position + bytes.size(), 0);
    }
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(position));
}

struct StkEntrySpec {
    uint32_t offset;
    uint32_t target;
};

// The front of an STK container: signature, entry count, header length and
// the entry table (entries beyond the file's front are not written). Size
// and CRC are set by stkFinish once the images are placed.
inline std::vector<uint8_t> stkFront(const std::vector<StkEntrySpec>& entries, uint32_t headerLength,
                                     uint32_t entryCount) {
    size_t frontBytes = swboot::STK_ENTRY_TABLE_OFFSET + swboot::STK_ENTRY_SIZE * entries.size();
    std::vector<uint8_t> file(frontBytes, 0);
    swboot::putBe16(file.data() + 2, swboot::STK_SIGNATURE_16);
    swboot::putBe32(file.data() + 4, swboot::STK_SIGNATURE_32);
    swboot::putBe32(file.data() + swboot::STK_ENTRY_COUNT_OFFSET, entryCount);
    swboot::putBe32(file.data() + swboot::STK_HEADER_LENGTH_OFFSET, headerLength);
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* entry = file.data() + swboot::STK_ENTRY_TABLE_OFFSET + swboot::STK_ENTRY_SIZE * i;
        swboot::putBe32(entry + swboot::STK_ENTRY_IMAGE_OFFSET, entries[i].offset);
        swboot::putBe32(entry + swboot::STK_ENTRY_TARGET_OFFSET, entries[i].target);
    }
    return file;
}

inline std::vector<uint8_t> stkFront(const std::vector<StkEntrySpec>& entries) {
    return stkFront(entries,
                    static_cast<uint32_t>(swboot::STK_ENTRY_TABLE_OFFSET + swboot::STK_ENTRY_SIZE * entries.size()),
                    static_cast<uint32_t>(entries.size()));
}

// Sets the container's Size to the file's length and its CRC.
inline void stkFinish(std::vector<uint8_t>& file) {
    swboot::putBe32(file.data() + swboot::STK_SIZE_OFFSET, static_cast<uint32_t>(file.size()));
    fixCrc(file);
}

}  // namespace testing_support::boot
