// The stored images: file CRCs, reading an image header out of an OPR
// image or an STK container, the active image's CRC check and its header
// display.
#pragma once

#include <cstdint>

#include "image/image_crc.h"
#include "image/image_format.h"

namespace swboot {

class Loader;

// Results of imageHeaderRead.
inline constexpr int IMAGE_HEADER_OPEN_ERROR = -1;
inline constexpr int IMAGE_HEADER_INCOMPLETE = -2;
inline constexpr int IMAGE_HEADER_EMPTY_STK = -3;
inline constexpr int IMAGE_HEADER_NO_MATCH = -4;

inline constexpr int IMAGE_CRC_GOOD = 0;
inline constexpr int IMAGE_CRC_BAD = 1;

inline constexpr uint32_t FILE_CRC_READ_SIZE = 128;
inline constexpr uint32_t FILE_CRC_READS_PER_YIELD = 1000;

class ImageStore {
public:
    explicit ImageStore(Loader& loader) : loader_(loader) {}

    ImageCrc& crc() { return crc_; }
    // CRC of the file's bytes 2 up to length-1 (or its end); 1 when the file
    // cannot be opened.
    uint16_t fileCrc16(const char* name, uint32_t length);
    // 0 with the header of the file's OPR image (the matching one inside a
    // container) and its component offsets rebased to the file; an error
    // result after a message, the header left as it was.
    int imageHeaderRead(const char* name, ImageHeader& header);
    // 0 when the active image's CRC is good, 1 otherwise.
    int activeImageCrcCheck();
    void imageHeaderShow();

private:
    // The active image's name, or "image1" after saying none was found.
    void activeImageNameGet(char* name);

    Loader& loader_;
    ImageCrc crc_;
};

}  // namespace swboot
