// The processor's PCI controller, as far as configuration access goes: the
// configuration address register (CFG_ADDR, CCSR offset 0x8000) selects a
// bus, device, function and register word, and the configuration data
// register (CFG_DATA, 0x8004) reads that word of the PCI configuration
// space behind it.
//
// PCI is little-endian: the word's byte 0 arrives on the processor's bus in
// its most significant byte lane, so a 32-bit load of CFG_DATA gives the
// configuration word byte-swapped. With CFG_ADDR's enable bit clear, or
// where no function answers, the data reads all ones. Modelled: 32-bit
// accesses; configuration writes are taken and change nothing (the space
// behind is read-only in this board model).
#pragma once

#include <cstdint>
#include <optional>

#include "platform/pci.h"

namespace sim {

class Mpc85xxPci {
public:
    static constexpr uint32_t REG_CFG_ADDR = 0x8000;  // offsets in the configuration register block
    static constexpr uint32_t REG_CFG_DATA = 0x8004;

    static constexpr uint32_t CFG_ADDR_ENABLE = 0x80000000;
    static constexpr int CFG_ADDR_BUS_SHIFT = 16;
    static constexpr int CFG_ADDR_DEVICE_SHIFT = 11;
    static constexpr int CFG_ADDR_FUNCTION_SHIFT = 8;
    static constexpr uint32_t CFG_ADDR_BUS_MASK = 0xFF;
    static constexpr uint32_t CFG_ADDR_DEVICE_MASK = 0x1F;
    static constexpr uint32_t CFG_ADDR_FUNCTION_MASK = 0x7;
    static constexpr uint32_t CFG_ADDR_REGISTER_MASK = 0xFC;

    explicit Mpc85xxPci(swboot::Pci& space) : space_(space) {}

    void powerUp() { cfgAddr_ = 0; }
    static bool decodes(uint32_t offset) { return offset == REG_CFG_ADDR || offset == REG_CFG_DATA; }
    uint32_t read32(uint32_t offset);
    void write32(uint32_t offset, uint32_t value);

private:
    swboot::Pci& space_;
    uint32_t cfgAddr_ = 0;
};

}  // namespace sim
