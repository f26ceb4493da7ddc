// The board's address decoder: routes each load and store to RAM, the
// CPLD, the boot flash or the processor's configuration registers. Anything else, or an access of a width the device
// does not take, is a bus error, which the processor takes as a machine
// check.
#pragma once

#include <cstdint>

#include "board/cpld.h"
#include "board/flash_array.h"
#include "board/mpc85xx_ccsr.h"
#include "board/ram.h"
#include "platform/bus.h"

namespace sim {

class MemoryMap : public swboot::Bus {
public:
    MemoryMap(Ram& ram, Cpld& cpld, FlashArray& flash, Mpc85xxCcsr& ccsr)
        : ram_(ram), cpld_(cpld), flash_(flash), ccsr_(ccsr) {}

    uint8_t read8(uint32_t address) override;
    uint16_t read16(uint32_t address) override;
    uint32_t read32(uint32_t address) override;
    void write8(uint32_t address, uint8_t value) override;
    void write16(uint32_t address, uint16_t value) override;
    void write32(uint32_t address, uint32_t value) override;
    std::span<uint8_t> ramView(uint32_t address, size_t length) override;

private:
    enum class Region { Ram, Cpld, Flash, Ccsr, None };
    Region decode(uint32_t address, unsigned width) const;
    [[noreturn]] void busError(const char* access, uint32_t address, unsigned width) const;
    uint32_t readRam(uint32_t address, unsigned width);
    void writeRam(uint32_t address, unsigned width, uint32_t value);
    uint32_t readFlash(uint32_t address, unsigned width) const;

    Ram& ram_;
    Cpld& cpld_;
    FlashArray& flash_;
    Mpc85xxCcsr& ccsr_;
};

}  // namespace sim
