// The PCI and processor displays of the utilities menu on boards whose
// profile sets the PCI functions, the PLL ratios and the core's registers,
// and the profile keys that set them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/board_events.h"
#include "board/board_profile.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using namespace swboot;
using testing_support::LoaderOnBoard;
using testing_support::TestBoard;

sim::PciSpace::Function function(int bus, int device, uint16_t vendor, uint16_t deviceId) {
    return {.bus = bus, .device = device, .vendorId = vendor, .deviceId = deviceId, .classCode = 0x020000};
}

std::string pciList(const std::vector<sim::PciSpace::Function>& functions, bool details) {
    sim::BoardOptions options;
    options.profile.pci = functions;
    TestBoard board(std::move(options));
    LoaderOnBoard l(board);
    EXPECT_EQ(l.run([&] { l->pciInfo.pciDeviceList(details); }), "");
    return l.takeOutput();
}

TEST(PciList, NamesEveryVendorAndDeviceTheTablesKnowAndNeverProbesDeviceThirtyOne) {
    std::vector<sim::PciSpace::Function> functions = {
        function(0, 0, 0x1057, 0x0003),  function(0, 1, 0x1057, 0x0006),  function(0, 2, 0x1057, 0x000C),
        function(0, 3, 0x1057, 0x0004),  function(0, 4, 0x14E4, 0xB404),  function(0, 5, 0x14E4, 0x164D),
        function(0, 6, 0x14E4, 0x1234),  function(0, 7, 0x10B7, 0x9200),  function(0, 8, 0x0E11, 0x00AB),
        function(0, 9, 0x1028, 0x0001),  function(0, 10, 0x8086, 0x1229), function(0, 31, 0x14E4, 0xB504),
        function(7, 30, 0x14E4, 0xB800), function(255, 0, 0x14E4, 0x5695),
    };
    functions.push_back({.bus = 0, .device = 2, .function = 1, .vendorId = 0x14E4, .deviceId = 0xB504});  // not listed
    EXPECT_EQ(pciList(functions, false),
              "Motorola MPC8240\nMotorola MPC8245\nMotorola MPC8541\nMotorola \nBroadcom BCM56304\n"
              "Broadcom BCM5702FE\nBroadcom \n3Com Device 0x9200\nCompaq Device 0x00ab\nKestrix Device 0x0001\n"
              "\nUnknown device found. VendorId=0x8086 DeviceId=0x1229 \nBroadcom BCM56800\nBroadcom BCM5695\n");
    EXPECT_EQ(pciList({}, false), "");
}

TEST(PciList, DetailsPrecedeEachNameWithItsHexLineAndFollowItWithTheHeader) {
    std::string text = pciList({{.device = 2, .vendorId = 0x14E4, .deviceId = 0xB504, .classCode = 0x020000,
                                 .revision = 0x12, .bars = {0x80000000, 0xC000000C, 0x00000001, 0x0000E001, 0, 0},
                                 .subsystemVendorId = 0x14E4, .subsystemId = 0xB504, .interruptLine = 2,
                                 .interruptPin = 1}},
                               true);
    const std::string head =
        "\n\nbus       device    function  vendorID  deviceID  class\n"
        "00000000  00000002  00000000  000014e4  0000b504  00020000\n\n"
        "Broadcom BCM56504\n"
        "  00:02.0  14e4:b504  rev 12  class 020000  Ethernet controller\n"
        "  Configuration header, type 0 (device):\n";
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    for (const char* line : {
             "    04  command           0x0006  I/O off, memory on, bus master on, parity off, SERR off, INTx enabled\n",
             "    06  status            0x0200  DEVSEL medium, 66 MHz no, capabilities none, errors none\n",
             "    10  BAR0              0x80000000  memory at 0x80000000, 32-bit, non-prefetchable\n",
             "    14  BAR1              0xc000000c  memory at 0x00000001c0000000, 64-bit, prefetchable\n",
             "    18  BAR2              0x00000001  upper half of BAR1\n",
             "    1c  BAR3              0x0000e001  I/O at 0x0000e000\n",
             "    20  BAR4              0x00000000  unused\n",
             "    2c  subsystem vendor  0x14e4\n",
             "    3c  interrupt         INTA, line 2\n",
             "  Raw header:\n    00: e4 14 04 b5 06 00 00 02 12 00 00 02 08 40 00 00\n",
             "    30: 00 00 00 00 00 00 00 00 00 00 00 00 02 01 00 00\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
    }
}

TEST(PciList, TheBuiltInBoardShowsItsHostBridgeAndTwoSwitchChips) {
    sim::BoardProfile profile = sim::BoardProfile::builtin();
    EXPECT_EQ(pciList(profile.pci, false), "Motorola MPC8541\nBroadcom BCM56504\nBroadcom BCM56504\n");
    std::string text = pciList(profile.pci, true);
    EXPECT_NE(text.find("  00:03.0  14e4:b504  rev 12  class 020000  Ethernet controller\n"), std::string::npos);
    EXPECT_NE(text.find("    10  BAR0              0x80010000  memory at 0x80010000, 32-bit, non-prefetchable\n"),
              std::string::npos);
    EXPECT_NE(text.find("    3c  interrupt         INTA, line 3\n"), std::string::npos);
    EXPECT_NE(text.find("  00:00.0  1057:000c  rev 11  class 0b2000  PowerPC processor\n"), std::string::npos);
}

struct ClockCase {
    uint32_t platformRatio;
    uint32_t coreRatio;
    uint32_t ccb;
    uint32_t core;  // after the computation; 12345678 (the earlier value) when unchanged
};

TEST(CoreClocks, RatiosGiveTheFrequenciesAndInvalidPlatformRatiosAllOnes) {
    const ClockCase cases[] = {
        {5, 5, 333333330, 833333325},    {2, 4, 133333332, 266666664},   {4, 6, 266666664, 799999992},
        {3, 7, 199999998, 699999993},    {10, 4, 666666660, 1333333320}, {12, 4, 799999992, 1599999984},
        {16, 4, 1066666656, 2133333312}, {8, 8, 533333328, 0},           {6, 3, 399999996, 0},
        {11, 5, 0xFFFFFFFF, 12345678},   {1, 5, 0xFFFFFFFF, 12345678},   {0, 5, 0xFFFFFFFF, 12345678},
        {13, 5, 0xFFFFFFFF, 12345678},   {31, 5, 0xFFFFFFFF, 12345678},
    };
    TestBoard board;
    LoaderOnBoard l(board);
    for (const ClockCase& c : cases) {
        board.board().ccsr().setPowerOnValues({.platformRatio = c.platformRatio, .coreRatio = c.coreRatio});
        l->coreInfo.sysCoreFreq = 12345678;
        EXPECT_EQ(l->coreInfo.ccbFrequencyGet(), c.ccb) << c.platformRatio << "/" << c.coreRatio;
        EXPECT_EQ(l->coreInfo.sysCoreFreq, c.core) << c.platformRatio << "/" << c.coreRatio;
    }
}

TEST(CoreInfo, TheBuiltInBoardAsStartupLeavesIt) {
    TestBoard board;
    LoaderOnBoard l(board);
    l->coreInfo.ccbFrequencyGet();  // as the board support did before the loader ran
    EXPECT_EQ(l.run([&] { l->coreInfo.coreInfoShow(); }), "");
    EXPECT_EQ(l.takeOutput(),
              "MSR - 0x29000\n"
              "      UCLE-0 SPE-0 WE-0 CE-1 EE-1 PR-0 ME-1\n"
              "      UBLE-0 DE-0 IS-0 DS-0 PMM-0\n"
              "HID0 = 0x4000, HID1 = 0x0\n"
              "L1CSR0: cache is ON - 0x1\n"
              "L1CSR1: Icache is ON - 0x1\n"
              "L1CFG0 = 0x8382020, L1CFG1 = 0x382020\n"
              "L2CTL - 0xa8000000\n"
              "        l2 is ON\n"
              "        l2siz-2 l2blksz-2 l2do-0 l2io-0\n"
              "        l2pmextdis-0 l2intdis-0 l2sram-0\n"
              "L2SRBAR0 - 0x0\n"
              "L2SRBAR1 - 0x0\n"
              "Core Freq =  833.333325 MHz\n"
              "CCB Freq  =  333.333330 MHz\n"
              "PCI Freq  =  66.666666 MHz\n"
              "CPM Freq  =  333.333330 MHz\n");
}

TEST(CoreInfo, EveryRegisterBitLandsInItsField) {
    sim::BoardOptions options;
    options.profile.cpu.msr = (1u << 26) | (1u << 14) | (1u << 10) | (1u << 4);
    options.profile.cpu.spr[SPR_L1CSR0] = 0x00000002;
    options.profile.cpu.spr[SPR_HID1] = 0x80000000;
    options.profile.soc.l2ctl = 0x50740000;  // l2 off, siz 1, blksz 0, do, pmextdis, sram 4
    options.profile.soc.l2srbar0 = 0xF8F00000;
    options.profile.soc.l2srbar1 = 0x12345678;
    options.profile.soc.platformRatio = 11;
    TestBoard board(std::move(options));
    LoaderOnBoard l(board);
    l->coreInfo.sysCoreFreq = 799999992;
    EXPECT_EQ(l.run([&] { l->coreInfo.coreInfoShow(); }), "");
    EXPECT_EQ(l.takeOutput(),
              "MSR - 0x4004410\n"
              "      UCLE-1 SPE-0 WE-0 CE-0 EE-0 PR-1 ME-0\n"
              "      UBLE-1 DE-0 IS-0 DS-1 PMM-0\n"
              "HID0 = 0x4000, HID1 = 0x80000000\n"
              "L1CSR0: cache is OFF - 0x2\n"
              "L1CSR1: Icache is ON - 0x1\n"
              "L1CFG0 = 0x8382020, L1CFG1 = 0x382020\n"
              "L2CTL - 0x50740000\n"
              "        l2 is OFF\n"
              "        l2siz-1 l2blksz-0 l2do-1 l2io-1\n"
              "        l2pmextdis-1 l2intdis-0 l2sram-4\n"
              "L2SRBAR0 - 0xf8f00000\n"
              "L2SRBAR1 - 0x12345678\n"
              "Core Freq =  799.999992 MHz\n"
              "CCB Freq  =  4294.967295 MHz\n"
              "PCI Freq  =  66.666666 MHz\n"
              "CPM Freq  =  4294.967295 MHz\n");
}

TEST(CoreInfo, ThePllStatusRegisterIsReadOnlyAndTheL2RegistersKeepWrites) {
    TestBoard board;
    swboot::Bus& bus = board.board().platform().bus;
    const uint32_t pll = bus.read32(CCSR_PORPLLSR);
    EXPECT_EQ(pll, (5u << 16) | (5u << 1));
    bus.write32(CCSR_PORPLLSR, 0);
    EXPECT_EQ(bus.read32(CCSR_PORPLLSR), pll);
    bus.write32(CCSR_L2SRBAR1, 0xFFF00000);
    EXPECT_EQ(bus.read32(CCSR_L2SRBAR1), 0xFFF00000u);
    EXPECT_THROW(bus.read8(CCSR_PORPLLSR), sim::BoardMachineCheck);
    EXPECT_THROW(bus.read32(CCSR_BASE + 0xE0004), sim::BoardMachineCheck);
}

TEST(BoardProfile, ClockRatiosPciHeadersAndRamFaultsAreRead) {
    sim::BoardProfile p = sim::BoardProfile::parse(R"(
[cpu]
ccb_ratio = 6
core_ratio = 4
l2ctl = 0x80000000
[[pci]]
device = 4
vendor = 0x14e4
device_id = 0xb800
bars = [0x80000000, 0x0000e001]
subsystem_vendor = 0x1028
subsystem_id = 0x0101
interrupt_line = 5
interrupt_pin = 2
[[ram.fault]]
kind = "stuck_bit"
address = 0x04000100
bit = 5
level = 0
[[ram.fault]]
kind = "address_line_open"
line = 20
[[ram.fault]]
kind = "address_line_shorted"
line = 21
to = 3
)",
                                                   "test");
    EXPECT_EQ(p.soc.pllStatus(), (4u << 16) | (6u << 1));
    EXPECT_EQ(p.soc.l2ctl, 0x80000000u);
    ASSERT_EQ(p.pci.size(), 1u);
    EXPECT_EQ(p.pci[0].bars[1], 0x0000E001u);
    EXPECT_EQ(p.pci[0].subsystemVendorId, 0x1028);
    EXPECT_EQ(p.pci[0].interruptLine, 5);
    EXPECT_EQ(p.pci[0].interruptPin, 2);
    ASSERT_EQ(p.ramFaults.size(), 3u);
    EXPECT_EQ(sim::Ram::describe(p.ramFaults[0]), "data bit 5 of the word at 0x04000100 stuck at 0");
    EXPECT_EQ(sim::Ram::describe(p.ramFaults[1]), "address line A20 open");
    EXPECT_EQ(sim::Ram::describe(p.ramFaults[2]), "address line A21 shorted to A3");

    for (const char* bad : {
             "[cpu]\nccb_ratio = 32\n",
             "[cpu]\ncore_ratio = 64\n",
             "[[pci]]\nvendor = 1\ndevice_id = 2\nbars = [1, 2, 3, 4, 5, 6, 7]\n",
             "[[pci]]\nvendor = 1\ndevice_id = 2\ninterrupt_pin = 5\n",
             "[[ram.fault]]\nkind = \"stuck_bit\"\naddress = 0x04000102\n",
             "[[ram.fault]]\nkind = \"stuck_bit\"\naddress = 0x10000000\n",
             "[[ram.fault]]\nkind = \"stuck_bit\"\nbit = 32\n",
             "[[ram.fault]]\nkind = \"address_line_open\"\nline = 28\n",
             "[[ram.fault]]\nkind = \"address_line_open\"\nline = 1\n",
             "[[ram.fault]]\nkind = \"address_line_open\"\n",
             "[[ram.fault]]\nkind = \"address_line_shorted\"\nline = 5\nto = 5\n",
             "[[ram.fault]]\nkind = \"cosmic_ray\"\n",
             // Floats where integers belong, beyond any integer's range,
             // and a temperature that is not a number.
             "[[pci]]\nvendor = 8.9e126\ndevice_id = 2\n",
             "[[pci]]\nvendor = 1\ndevice_id = 2\nbars = [1.5e300]\n",
             "[flash]\nerase_fails = [9e99]\n",
             "[[i2c.sensor]]\nname = \"LM75\"\ncelsius = nan\n",
         }) {
        EXPECT_THROW(sim::BoardProfile::parse(bad, "test"), std::runtime_error) << bad;
    }
}

TEST(BoardProfile, TheReadyMadeProfilesLoadAndDescribeTheirBoards) {
    const std::filesystem::path dir = SWBOOT_PROFILES_DIR;
    sim::BoardProfile fiber = sim::BoardProfile::load(dir / "fiber.toml");
    EXPECT_EQ(std::count_if(fiber.pci.begin(), fiber.pci.end(), [](const auto& f) { return f.vendorId == 0x14E4; }), 1)
        << "exactly one switch chip makes the fiber board";
    EXPECT_EQ(fiber.soc.pllStatus(), (6u << 16) | (4u << 1));
    sim::BoardProfile bad = sim::BoardProfile::load(dir / "bad-ram.toml");
    ASSERT_EQ(bad.ramFaults.size(), 1u);
    EXPECT_EQ(sim::Ram::describe(bad.ramFaults[0]), "data bit 4 of the word at 0x08000000 stuck at 1");
}

}  // namespace
