#include "hw/core_info.h"

#include "loader.h"

namespace swboot {

namespace {

constexpr int PLAT_RATIO_SHIFT = 1;
constexpr uint32_t PLAT_RATIO_MASK = 0x1F;
constexpr int CORE_RATIO_SHIFT = 16;
constexpr uint32_t CORE_RATIO_MASK = 0x3F;
constexpr uint32_t VALID_PLAT_RATIOS[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 16};
constexpr uint32_t HZ_PER_MHZ = 1000000;

constexpr uint32_t L1CSR_ENABLE = 0x1;
constexpr int L2CTL_ENABLE_BIT = 31;

uint32_t bit(uint32_t value, int n) { return (value >> n) & 1u; }
uint32_t bits(uint32_t value, int high, int low) { return (value >> low) & ((1u << (high - low + 1)) - 1u); }

}  // namespace

uint32_t CoreInfo::ccbFrequencyGet() {
    const uint32_t pll = loader_.p.bus.read32(CCSR_PORPLLSR);
    const uint32_t platRatio = (pll >> PLAT_RATIO_SHIFT) & PLAT_RATIO_MASK;
    const uint32_t coreRatio = (pll >> CORE_RATIO_SHIFT) & CORE_RATIO_MASK;
    bool valid = false;
    for (uint32_t r : VALID_PLAT_RATIOS) {
        valid = valid || r == platRatio;
    }
    if (!valid) {
        return FREQ_INVALID;
    }
    const uint32_t ccb = SYS_CLOCK_IN_HZ * platRatio;
    switch (coreRatio) {
        case 4:
            sysCoreFreq = ccb * 2;
            break;
        case 5:
            sysCoreFreq = (ccb * 5) >> 1;
            break;
        case 6:
            sysCoreFreq = ccb * 3;
            break;
        case 7:
            sysCoreFreq = (ccb * 7) >> 1;
            break;
        default:
            sysCoreFreq = 0;
            break;
    }
    return ccb;
}

void CoreInfo::coreInfoShow() {
    Stdio& io = loader_.io;
    Cpu& cpu = loader_.p.cpu;
    Bus& bus = loader_.p.bus;

    const uint32_t msr = cpu.msrGet();
    io.printf("MSR - 0x%x\n", msr);
    io.printf("      UCLE-%x SPE-%x WE-%x CE-%x EE-%x PR-%x ME-%x\n", bit(msr, 26), bit(msr, 25), bit(msr, 18),
              bit(msr, 17), bit(msr, 15), bit(msr, 14), bit(msr, 12));
    io.printf("      UBLE-%x DE-%x IS-%x DS-%x PMM-%x\n", bit(msr, 10), bit(msr, 9), bit(msr, 5), bit(msr, 4),
              bit(msr, 2));
    io.printf("HID0 = 0x%x, HID1 = 0x%x\n", cpu.sprRead(SPR_HID0), cpu.sprRead(SPR_HID1));
    const uint32_t l1csr0 = cpu.sprRead(SPR_L1CSR0);
    const uint32_t l1csr1 = cpu.sprRead(SPR_L1CSR1);
    io.printf("L1CSR0: cache is %s - 0x%x\n", (l1csr0 & L1CSR_ENABLE) ? "ON" : "OFF", l1csr0);
    io.printf("L1CSR1: Icache is %s - 0x%x\n", (l1csr1 & L1CSR_ENABLE) ? "ON" : "OFF", l1csr1);
    io.printf("L1CFG0 = 0x%x, L1CFG1 = 0x%x\n", cpu.sprRead(SPR_L1CFG0), cpu.sprRead(SPR_L1CFG1));

    const uint32_t l2ctl = bus.read32(CCSR_L2CTL);
    io.printf("L2CTL - 0x%x\n", l2ctl);
    io.printf("        l2 is %s\n", bit(l2ctl, L2CTL_ENABLE_BIT) ? "ON" : "OFF");
    io.printf("        l2siz-%x l2blksz-%x l2do-%x l2io-%x\n", bits(l2ctl, 29, 28), bits(l2ctl, 27, 26),
              bit(l2ctl, 22), bit(l2ctl, 21));
    io.printf("        l2pmextdis-%x l2intdis-%x l2sram-%x\n", bit(l2ctl, 20), bit(l2ctl, 19), bits(l2ctl, 18, 16));
    io.printf("L2SRBAR0 - 0x%x\n", bus.read32(CCSR_L2SRBAR0));
    io.printf("L2SRBAR1 - 0x%x\n", bus.read32(CCSR_L2SRBAR1));

    io.printf("Core Freq = % 3d.%06d MHz\n", static_cast<int>(sysCoreFreq / HZ_PER_MHZ),
              static_cast<int>(sysCoreFreq % HZ_PER_MHZ));
    uint32_t ccb = ccbFrequencyGet();
    io.printf("CCB Freq  = % 3d.%06d MHz\n", static_cast<int>(ccb / HZ_PER_MHZ), static_cast<int>(ccb % HZ_PER_MHZ));
    io.printf("PCI Freq  = % 3d.%06d MHz\n", static_cast<int>(PCI_FREQ_MHZ), static_cast<int>(PCI_FREQ_FRACTION));
    uint32_t cpm = ccbFrequencyGet();
    io.printf("CPM Freq  = % 3d.%06d MHz\n", static_cast<int>(cpm / HZ_PER_MHZ), static_cast<int>(cpm % HZ_PER_MHZ));
}

}  // namespace swboot
