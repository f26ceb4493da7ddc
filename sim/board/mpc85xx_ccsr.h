// The processor's configuration register block at 0xF0000000, as far as the
// boot code reads it: the power-on PLL status register of the global
// utilities (offset 0xE0000), which carries the platform (CCB) and core
// clock ratios the board's straps selected, and the L2 cache controller's
// control and SRAM base address registers (offset 0x20000).
//
// Modelled: the PLL status register is read-only and holds the profile's
// ratios; the L2 registers read back what was last written (power-on values
// from the profile). Only 32-bit accesses are decoded; other offsets of the
// block belong to other models or to nothing.
#pragma once

#include <cstdint>
#include <optional>

namespace sim {

class Mpc85xxCcsr {
public:
    static constexpr uint32_t BASE = 0xF0000000;
    static constexpr uint32_t SIZE = 0x00100000;

    static constexpr uint32_t REG_L2CTL = 0x20000;
    static constexpr uint32_t REG_L2SRBAR0 = 0x20100;
    static constexpr uint32_t REG_L2SRBAR1 = 0x20108;
    static constexpr uint32_t REG_PORPLLSR = 0xE0000;

    // PORPLLSR fields.
    static constexpr int PLAT_RATIO_SHIFT = 1;
    static constexpr uint32_t PLAT_RATIO_MASK = 0x1F;
    static constexpr int CORE_RATIO_SHIFT = 16;
    static constexpr uint32_t CORE_RATIO_MASK = 0x3F;

    struct Values {
        uint32_t platformRatio = 5;    // CCB = 5 x 66.666666 MHz
        uint32_t coreRatio = 5;        // core : CCB = 5 : 2
        uint32_t l2ctl = 0xA8000000;   // enabled, 256 KiB, 256 KiB blocks
        uint32_t l2srbar0 = 0;
        uint32_t l2srbar1 = 0;

        uint32_t pllStatus() const {
            return ((coreRatio & CORE_RATIO_MASK) << CORE_RATIO_SHIFT) |
                   ((platformRatio & PLAT_RATIO_MASK) << PLAT_RATIO_SHIFT);
        }
    };

    explicit Mpc85xxCcsr(const Values& powerOn) : powerOn_(powerOn) { powerUp(); }

    void powerUp() { regs_ = powerOn_; }

    // True when an offset of the block is one of these registers.
    static bool decodes(uint32_t offset) {
        return offset == REG_PORPLLSR || offset == REG_L2CTL || offset == REG_L2SRBAR0 || offset == REG_L2SRBAR1;
    }
    // 32-bit register access; std::nullopt (a bus error) for other offsets.
    std::optional<uint32_t> read32(uint32_t offset) const;
    bool write32(uint32_t offset, uint32_t value);

    // Control face: the registers now, and other straps (as if the board
    // were built with them and powered up).
    const Values& values() const { return regs_; }
    void setPowerOnValues(const Values& values) {
        powerOn_ = values;
        powerUp();
    }

private:
    Values powerOn_;
    Values regs_;
};

}  // namespace sim
