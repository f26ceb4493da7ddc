#include "transfer/xmodem_crc.h"

namespace swboot {

XmodemCrc::XmodemCrc() {
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ XMODEM_CRC_POLYNOMIAL)
                                 : static_cast<uint16_t>(crc << 1);
        }
        table_[i] = crc;
    }
}

uint16_t XmodemCrc::compute(const uint8_t* data, size_t length) const {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = update(crc, data[i]);
    }
    return crc;
}

}  // namespace swboot
