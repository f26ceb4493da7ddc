// Edge cases of the simulated board's simple devices: the CPLD's registers
// and reset request, PCI configuration space where nothing answers, and the
// memory pool's view of RAM and test limit (its addresses, bounds and
// merging are held against the firmware's pool in fw_runtime_test).
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "board/board_events.h"
#include "board/cpld.h"
#include "board/pci_space.h"
#include "board/ram.h"
#include "host/sim_heap.h"
#include "platform/status.h"

namespace {

TEST(Cpld, ResetRequestIsTheOnlyValueThatResets) {
    sim::Cpld cpld(sim::Cpld::Identity{});
    for (int value = 0; value < 256; ++value) {
        if (value == sim::Cpld::RESET_REQUEST) {
            continue;
        }
        cpld.write(sim::Cpld::REG_RESET_CONTROL, static_cast<uint8_t>(value));
    }
    EXPECT_THROW(cpld.write(sim::Cpld::REG_RESET_CONTROL, sim::Cpld::RESET_REQUEST), sim::BoardReset);
    EXPECT_EQ(cpld.writes().size(), 256u);  // the reset request is recorded too
    EXPECT_EQ(cpld.writes().back().value, sim::Cpld::RESET_REQUEST);
}

TEST(Cpld, StrapsAndSensorsIgnoreWritesAndSurvivePowerUp) {
    sim::Cpld cpld({.fanStatus = 0x2A, .boardRevision = 0x07});
    cpld.write(sim::Cpld::REG_FAN_STATUS, 0xFF);
    cpld.write(sim::Cpld::REG_BOARD_REVISION, 0x00);
    cpld.write(sim::Cpld::REG_LED1, 0x50);
    cpld.write(sim::Cpld::REG_UNIT_DISPLAY2 | 0xF0, 0x1F);  // only the low four address bits decode
    EXPECT_EQ(cpld.read(sim::Cpld::REG_FAN_STATUS), 0x2A);
    EXPECT_EQ(cpld.read(sim::Cpld::REG_BOARD_REVISION), 0x07);
    EXPECT_EQ(cpld.read(sim::Cpld::REG_LED1), 0x50);
    EXPECT_EQ(cpld.read(sim::Cpld::REG_UNIT_DISPLAY2), 0x1F);
    cpld.powerUp();
    EXPECT_EQ(cpld.read(sim::Cpld::REG_LED1), 0x00);
    EXPECT_EQ(cpld.read(sim::Cpld::REG_FAN_STATUS), 0x2A);
}

TEST(PciSpace, WhereNothingAnswersEveryBitReadsOne) {
    sim::PciSpace pci({{.bus = 3, .device = 31, .function = 7, .vendorId = 0x14E4, .deviceId = 0xB504}});
    EXPECT_EQ(pci.configRead16(3, 31, 7, 0), 0x14E4);
    EXPECT_EQ(pci.configRead16(3, 31, 7, 2), 0xB504);
    EXPECT_EQ(pci.configRead32(3, 31, 7, 0), 0xB50414E4u);
    EXPECT_EQ(pci.configRead16(3, 31, 6, 0), 0xFFFF);
    EXPECT_EQ(pci.configRead16(3, 30, 7, 0), 0xFFFF);
    EXPECT_EQ(pci.configRead32(255, 0, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(pci.configRead16(-1, 0, 0, 0), 0xFFFF);
    // Reads past the end of the configuration header.
    EXPECT_EQ(pci.configRead16(3, 31, 7, 255), 0xFF00);
    EXPECT_EQ(pci.configRead8(3, 31, 7, 256), 0xFF);
    EXPECT_EQ(pci.configRead8(3, 31, 7, -1), 0xFF);
}

TEST(PciSpace, ImpossibleFunctionsAreConfigurationErrors) {
    using Functions = std::vector<sim::PciSpace::Function>;
    EXPECT_THROW(sim::PciSpace(Functions{{.vendorId = 0x1057}, {.vendorId = 0x1057}}), std::invalid_argument);
    EXPECT_THROW(sim::PciSpace(Functions{{.device = 32, .vendorId = 0x1057}}), std::invalid_argument);
    EXPECT_THROW(sim::PciSpace(Functions{{.vendorId = 0xFFFF}}), std::invalid_argument);
}

TEST(SimHeap, BlocksAreTheBoardsRamInThePoolGivenWithinTheTestLimit) {
    sim::Ram ram;
    sim::SimHeap heap{ram, 0x00100000, 0x00010000};  // 64 KiB at 1 MiB
    EXPECT_EQ(heap.allocate(0).address, 0x00100000u);
    swboot::MemoryBlock b = heap.allocate(17);
    ASSERT_TRUE(b);
    EXPECT_EQ(b.bytes.size(), 17u);
    b.bytes[16] = 0x5A;
    EXPECT_EQ(ram.view(b.address + 16, 1)[0], 0x5A);
    EXPECT_EQ(heap.free(b.address), swboot::OK);
    heap.setAllocationLimit(100);
    EXPECT_FALSE(heap.allocate(101));
    EXPECT_TRUE(heap.allocate(100));
    EXPECT_EQ(heap.largestFreeBlock(), 100u);
    heap.powerUp();
    EXPECT_EQ(heap.blocksInUse(), 0u);
}

}  // namespace
