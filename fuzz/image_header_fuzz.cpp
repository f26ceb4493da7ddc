// Fuzz target: an image file from outside (an OPR image or an STK
// container) stored as the active image and read the ways the loader
// reads it -- the header, the file CRC, the active image's check and the
// header display.
//
// Properties checked beyond the sanitizers: a failed header read leaves
// the caller's header alone; an OPR image's header is the file's first
// 1220 bytes (its offsets rebased by 0); the streamed file CRC equals the
// CRC computed in memory, and both equal the byte-at-a-time and the sliced
// forms; a good check means a Size in range that the
// file holds.
#include <cstdint>
#include <cstring>

#include "fuzz_board.h"
#include "image/image_crc.h"
#include "image/image_format.h"
#include "loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace swboot;
    fuzzing::FuzzBoard& fb = fuzzing::FuzzBoard::instance();
    fb.plant("image1", data, size);
    fb.runLoader([&](Loader& loader) {

        ImageHeader header;
        std::memset(header.bytes, 0xA5, sizeof header.bytes);
        const ImageHeader before = header;
        if (loader.images.imageHeaderRead("image1", header) != OK) {
            fuzzing::brokenIf(std::memcmp(header.bytes, before.bytes, sizeof header.bytes) != 0,
                              "a failed header read changed the caller's header");
        } else if (size >= STK_FIXED_PART_SIZE && !stkSignaturePresent(data)) {
            uint8_t expected[IMAGE_HEADER_SIZE] = {};
            std::memcpy(expected, data, size < IMAGE_HEADER_SIZE ? size : IMAGE_HEADER_SIZE);
            fuzzing::brokenIf(std::memcmp(header.bytes, expected, sizeof expected) != 0,
                              "an OPR image's header differs from the file's first bytes");
        }

        if (size >= 2) {
            ImageCrc crc;
            uint16_t inMemory = crc.compute(data + 2, size - 2);
            uint16_t streamed = loader.images.fileCrc16("image1", static_cast<uint32_t>(size));
            fuzzing::brokenIf(streamed != inMemory, "the streamed file CRC differs from the CRC in memory");
            uint16_t byteAtATime = 0;
            for (size_t i = 2; i < size; ++i) {
                crc.crc16Update(data[i], byteAtATime);
            }
            fuzzing::brokenIf(byteAtATime != inMemory || crc16Sliced(0, data + 2, size - 2) != inMemory,
                              "the fast image CRC differs from the byte-at-a-time form");
        }

        int check = loader.images.activeImageCrcCheck();
        fuzzing::brokenIf(check != 0 && check != 1, "activeImageCrcCheck gave neither 0 nor 1");
        if (check == 0) {
            uint32_t length = size >= 16 ? imageCheckedLength(data) : 0;
            fuzzing::brokenIf(length < IMAGE_HEADER_SIZE || length > IMAGE_SIZE_MAX || length > size,
                              "a good check for a Size out of range or beyond the file");
        }

        loader.images.imageHeaderShow();
    });
    return 0;
}
