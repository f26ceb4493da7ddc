// The processor core and bus speed display: the machine state, the core's
// special registers, the L1 and L2 cache set-up and the clock frequencies
// derived from the power-on PLL status register.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

// The processor's configuration register block and the registers read here.
inline constexpr uint32_t CCSR_BASE = 0xF0000000;
inline constexpr uint32_t CCSR_L2CTL = CCSR_BASE + 0x20000;
inline constexpr uint32_t CCSR_L2SRBAR0 = CCSR_BASE + 0x20100;
inline constexpr uint32_t CCSR_L2SRBAR1 = CCSR_BASE + 0x20108;
inline constexpr uint32_t CCSR_PORPLLSR = CCSR_BASE + 0xE0000;

// The board's input clock, and the PCI clock shown as a fixed value.
inline constexpr uint32_t SYS_CLOCK_IN_HZ = 66666666;
inline constexpr uint32_t PCI_FREQ_MHZ = 66;
inline constexpr uint32_t PCI_FREQ_FRACTION = 666666;
// The CCB frequency when the PLL status holds a ratio the part does not have.
inline constexpr uint32_t FREQ_INVALID = 0xFFFFFFFF;

class CoreInfo {
public:
    explicit CoreInfo(Loader& loader) : loader_(loader) {}

    // The platform (CCB) frequency in Hz from the PLL status register;
    // FREQ_INVALID for a ratio the part does not have. A valid ratio also
    // stores the core frequency in sysCoreFreq (0 for an unknown core ratio).
    uint32_t ccbFrequencyGet();
    // Prints the display.
    void coreInfoShow();

    // The core frequency in Hz, filled at startup and by each CCB computation.
    uint32_t sysCoreFreq = 0;

private:
    Loader& loader_;
};

}  // namespace swboot
