#include "image/image_crc.h"

namespace swboot {

void ImageCrc::crc16TableBuild() {
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        unsigned c = i;
        for (int bit = 0; bit < 8; ++bit) {
            if (((r >> 15) & 1) != ((c >> 7) & 1)) {
                r = ((r << 1) & 0xFFFF) ^ IMAGE_CRC_POLYNOMIAL;
            } else {
                r = (r << 1) & 0xFFFF;
            }
            c = (c << 1) & 0xFF;
        }
        table_[i] = static_cast<uint16_t>(r);
    }
}

uint16_t ImageCrc::compute(const uint8_t* data, size_t length) {
    crc16TableBuild();
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc16Update(data[i], crc);
    }
    return crc;
}

}  // namespace swboot
