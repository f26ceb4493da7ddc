// Edge cases of the simulated board's simple devices: the CPLD's registers
// and reset request, PCI configuration space where nothing answers, and the
// memory pool's bounds, limits and merging.
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
    sim::Cpld::Identity identity;
    identity.fanStatus = 0x2A;
    identity.boardRevision = 0x07;
    sim::Cpld cpld(identity);
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
    sim::PciSpace::Function chip;
    chip.bus = 3;
    chip.device = 31;
    chip.function = 7;
    chip.vendorId = 0x14E4;
    chip.deviceId = 0xB504;
    sim::PciSpace pci({chip});
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
    sim::PciSpace::Function f;
    f.vendorId = 0x1057;
    std::vector<sim::PciSpace::Function> twice = {f, f};
    EXPECT_THROW(sim::PciSpace{twice}, std::invalid_argument);
    sim::PciSpace::Function outside = f;
    outside.device = 32;
    EXPECT_THROW(sim::PciSpace({outside}), std::invalid_argument);
    sim::PciSpace::Function none = f;
    none.vendorId = 0xFFFF;
    EXPECT_THROW(sim::PciSpace({none}), std::invalid_argument);
}

class SimHeapTest : public ::testing::Test {
protected:
    sim::Ram ram;
    sim::SimHeap heap{ram, 0x00100000, 0x00010000};  // 64 KiB at 1 MiB
};

TEST_F(SimHeapTest, BlocksAreAlignedInsideThePoolAndDistinct) {
    swboot::MemoryBlock a = heap.allocate(1);
    swboot::MemoryBlock b = heap.allocate(17);
    swboot::MemoryBlock c = heap.allocate(0);
    ASSERT_TRUE(a && b && c);
    for (const auto* block : {&a, &b, &c}) {
        EXPECT_EQ(block->address % sim::SimHeap::ALIGNMENT, 0u);
        EXPECT_GE(block->address, 0x00100000u);
        EXPECT_LE(block->address + block->bytes.size(), 0x00110000u);
        // The view is the board's RAM at the block's address.
        block->bytes[0] = 0x5A;
        EXPECT_EQ(ram.view(block->address, 1)[0], 0x5A);
    }
    EXPECT_EQ(b.bytes.size(), 17u);
    EXPECT_GE(b.address, a.address + 16);
    EXPECT_GE(c.address, b.address + 32);
}

TEST_F(SimHeapTest, ThePoolIsNeverOverrun) {
    EXPECT_FALSE(heap.allocate(0x00010001));
    swboot::MemoryBlock all = heap.allocate(0x00010000);
    ASSERT_TRUE(all);
    EXPECT_FALSE(heap.allocate(1));
    EXPECT_EQ(heap.largestFreeBlock(), 0u);
    EXPECT_EQ(heap.free(all.address), swboot::OK);
    EXPECT_EQ(heap.largestFreeBlock(), 0x00010000u);
}

TEST_F(SimHeapTest, FreedNeighboursMergeInAnyOrder) {
    std::vector<swboot::MemoryBlock> blocks;
    for (int i = 0; i < 16; ++i) {
        blocks.push_back(heap.allocate(0x1000));
        ASSERT_TRUE(blocks.back());
    }
    EXPECT_FALSE(heap.allocate(1));
    for (int i : {5, 3, 4, 0, 15, 1, 2, 14, 6, 8, 7, 10, 9, 12, 11, 13}) {
        EXPECT_EQ(heap.free(blocks[static_cast<size_t>(i)].address), swboot::OK) << i;
    }
    EXPECT_EQ(heap.blocksInUse(), 0u);
    EXPECT_EQ(heap.largestFreeBlock(), 0x00010000u);
    EXPECT_TRUE(heap.allocate(0x00010000));
}

TEST_F(SimHeapTest, BadFreesAndTheTestLimit) {
    swboot::MemoryBlock a = heap.allocate(64);
    EXPECT_EQ(heap.free(a.address + 16), swboot::ERROR);
    EXPECT_EQ(heap.free(a.address), swboot::OK);
    EXPECT_EQ(heap.free(a.address), swboot::ERROR);  // twice
    heap.setAllocationLimit(100);
    EXPECT_FALSE(heap.allocate(101));
    EXPECT_TRUE(heap.allocate(100));
    EXPECT_EQ(heap.largestFreeBlock(), 100u);
    heap.powerUp();
    EXPECT_EQ(heap.blocksInUse(), 0u);
}

}  // namespace
