#include "board/mpc85xx_pci.h"

namespace sim {

namespace {

constexpr uint32_t ALL_ONES = 0xFFFFFFFF;

// The word as the processor's byte lanes carry it: byte 0 (the least
// significant of a little-endian word) in the most significant lane.
uint32_t laneOrder(uint32_t word) {
    return (word >> 24) | ((word >> 8) & 0x0000FF00) | ((word << 8) & 0x00FF0000) | (word << 24);
}

}  // namespace

uint32_t Mpc85xxPci::read32(uint32_t offset) {
    if (offset == REG_CFG_ADDR) {
        return cfgAddr_;
    }
    if ((cfgAddr_ & CFG_ADDR_ENABLE) == 0) {
        return ALL_ONES;
    }
    const uint32_t word = space_.configRead32(static_cast<int>((cfgAddr_ >> CFG_ADDR_BUS_SHIFT) & CFG_ADDR_BUS_MASK),
                                              static_cast<int>((cfgAddr_ >> CFG_ADDR_DEVICE_SHIFT) & CFG_ADDR_DEVICE_MASK),
                                              static_cast<int>((cfgAddr_ >> CFG_ADDR_FUNCTION_SHIFT) & CFG_ADDR_FUNCTION_MASK),
                                              static_cast<int>(cfgAddr_ & CFG_ADDR_REGISTER_MASK));
    return laneOrder(word);
}

void Mpc85xxPci::write32(uint32_t offset, uint32_t value) {
    if (offset == REG_CFG_ADDR) {
        cfgAddr_ = value;
    }
}

}  // namespace sim
