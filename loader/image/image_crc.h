// The image CRC-16: polynomial 0xA097, most significant bit first, initial
// value 0, no reflection, no final exclusive-or, each byte added at the
// bottom of the register. It is the remainder of the message itself (the
// common table form would append two zero bytes).
//
// crc16TableBuild and crc16Update are the byte-at-a-time form. Buffers and
// file pieces go through crc16Continue, which gives the same register on
// every input but takes sixteen bytes per step: by folding with carry-less
// multiplication where the processor has it, else with sliced tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

inline constexpr uint16_t IMAGE_CRC_POLYNOMIAL = 0xA097;

class ImageCrc {
public:
    // Fills the table; every computation starts with it.
    void crc16TableBuild();
    // Feeds one byte into the register.
    void crc16Update(uint8_t byte, uint16_t& crc) const {
        crc = static_cast<uint16_t>((crc << 8) ^ table_[crc >> 8] ^ byte);
    }
    // Builds the table and returns the CRC of the bytes.
    uint16_t compute(const uint8_t* data, size_t length);

private:
    uint16_t table_[256] = {};
};

// The register after feeding the bytes into it, as crc16Update would leave
// it, by the fastest form this processor offers.
uint16_t crc16Continue(uint16_t crc, const uint8_t* data, size_t length);
// The same with sliced tables only: portable, sixteen bytes per step.
uint16_t crc16Sliced(uint16_t crc, const uint8_t* data, size_t length);
// Whether this processor can fold with carry-less multiplication.
bool crc16FoldingAvailable();
// The same by folding; only to be called when crc16FoldingAvailable().
uint16_t crc16Folded(uint16_t crc, const uint8_t* data, size_t length);

}  // namespace swboot
