// The loader's bus on the board itself: every access is a real load or store
// at the board address, through a volatile pointer so that the compiler
// neither merges, reorders nor drops device accesses. The start-up maps
// every address the loader uses one to one, so a board address is a pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/bus.h"

namespace firmware {

// Device register helpers for the firmware's own drivers.
inline uint8_t load8(uint32_t address) { return *reinterpret_cast<volatile uint8_t*>(address); }
inline uint16_t load16(uint32_t address) { return *reinterpret_cast<volatile uint16_t*>(address); }
inline uint32_t load32(uint32_t address) { return *reinterpret_cast<volatile uint32_t*>(address); }
inline void store8(uint32_t address, uint8_t value) { *reinterpret_cast<volatile uint8_t*>(address) = value; }
inline void store16(uint32_t address, uint16_t value) { *reinterpret_cast<volatile uint16_t*>(address) = value; }
inline void store32(uint32_t address, uint32_t value) { *reinterpret_cast<volatile uint32_t*>(address) = value; }
// Orders device accesses: everything before reaches the device first.
inline void memoryBarrier() { asm volatile("msync" ::: "memory"); }

class BoardBus : public swboot::Bus {
public:
    uint8_t read8(uint32_t address) override { return load8(address); }
    uint16_t read16(uint32_t address) override { return load16(address); }
    uint32_t read32(uint32_t address) override { return load32(address); }
    void write8(uint32_t address, uint8_t value) override { store8(address, value); }
    void write16(uint32_t address, uint16_t value) override { store16(address, value); }
    void write32(uint32_t address, uint32_t value) override { store32(address, value); }
    std::span<uint8_t> ramView(uint32_t address, size_t length) override {
        return {reinterpret_cast<uint8_t*>(address), length};
    }
};

}  // namespace firmware
