// Loads and stores at board addresses.
//
// The board decodes each address to RAM or to a device. An access that no
// device answers, or one of a width the device does not take, is a bus
// error, which the board reports as a machine check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace swboot {

class Bus {
public:
    virtual ~Bus() = default;

    virtual uint8_t read8(uint32_t address) = 0;
    virtual uint16_t read16(uint32_t address) = 0;
    virtual uint32_t read32(uint32_t address) = 0;
    virtual void write8(uint32_t address, uint8_t value) = 0;
    virtual void write16(uint32_t address, uint16_t value) = 0;
    virtual void write32(uint32_t address, uint32_t value) = 0;

    // Direct view of RAM for bulk work; empty when any part of the range
    // lies outside RAM.
    virtual std::span<uint8_t> ramView(uint32_t address, size_t length) = 0;
};

}  // namespace swboot
