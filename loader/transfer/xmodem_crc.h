// CRC-16/XMODEM of the block check: polynomial 0x1021, most significant bit
// first, initial value 0, no reflection, no final exclusive-or, computed a
// byte at a time through a 256-entry table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

inline constexpr uint16_t XMODEM_CRC_POLYNOMIAL = 0x1021;

class XmodemCrc {
public:
    XmodemCrc();

    // Feeds one byte into the register.
    uint16_t update(uint16_t crc, uint8_t byte) const {
        return static_cast<uint16_t>((crc << 8) ^ table_[(crc >> 8) ^ byte]);
    }
    // The CRC of the bytes, starting from 0.
    uint16_t compute(const uint8_t* data, size_t length) const;

private:
    uint16_t table_[256] = {};
};

}  // namespace swboot
