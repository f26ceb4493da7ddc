// Factory provisioning: the VPD record's bytes, the description the board
// gets, and that a provisioned board boots its demo code.
#include <gtest/gtest.h>

#include <cstring>

#include "host/diagnostics.h"
#include "host/provision.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "support/test_board.h"

using namespace testing_support;

namespace {

std::string field(const std::array<uint8_t, sim::VPD_RECORD_SIZE>& record, size_t offset) {
    return std::string(reinterpret_cast<const char*>(record.data() + offset));
}

}  // namespace

TEST(Provision, VpdRecordLaysOutTheProfileValuesAtTheirOffsets) {
    sim::BoardProfile profile = sim::BoardProfile::builtin();
    profile.vpd.macAddress = "00:a0:c9:ff:ee:01";
    profile.vpd.serialNumber = "ABCDEFGHIJ0123456789";  // 20 characters, the most the field takes
    profile.vpd.dateCode = "102006";
    profile.vpd.partNumber = "AB-12";
    profile.vpd.revision = "B1";
    auto record = sim::vpdRecord(profile);

    const uint8_t mac[] = {0x00, 0xA0, 0xC9, 0xFF, 0xEE, 0x01};
    EXPECT_EQ(std::memcmp(record.data(), mac, sizeof mac), 0);
    EXPECT_EQ(record[6], 0);
    EXPECT_EQ(field(record, 7), "ABCDEFGHIJ0123456789");
    EXPECT_EQ(record[27], 0);
    EXPECT_EQ(field(record, 28), "Kestrix Q48 Zevirera Stackable Non-POE Switch");
    EXPECT_EQ(field(record, 109), "102006");
    EXPECT_EQ(field(record, 116), "AB-12");
    EXPECT_EQ(field(record, 129), "B1");
    for (size_t i = 133; i < sim::VPD_RECORD_SIZE; ++i) {
        ASSERT_EQ(record[i], 0) << "byte " << i;
    }
}

TEST(Provision, RefusesValuesTheRecordCannotHold) {
    // A 21-character serial number, one with a dash, a five-byte MAC address.
    for (auto [serial, mac] : {std::pair{"ABCDEFGHIJ01234567890", ""}, {"AB-12", ""}, {"", "00:06:29:32:81"}}) {
        sim::BoardProfile profile = sim::BoardProfile::builtin();
        profile.vpd.serialNumber = *serial ? serial : profile.vpd.serialNumber;
        profile.vpd.macAddress = *mac ? mac : profile.vpd.macAddress;
        EXPECT_THROW(sim::vpdRecord(profile), std::invalid_argument) << serial << mac;
    }
}

TEST(Provision, DescriptionFollowsTheBoardKindAndVariant) {
    // 48-port board (two chips): bits 5:4 of the board-type register; bit 7 ignored.
    sim::BoardProfile profile = sim::BoardProfile::builtin();
    profile.cpld.boardType = 0xA0;  // bit 7 set, bits 5:4 = 2
    EXPECT_EQ(sim::productDescription(profile), "Kestrix Q48 DC Zevirera Stackable POE Switch");
    profile.cpld.boardType = 0x30;
    EXPECT_EQ(sim::productDescription(profile), "Kestrix Q48 Zevirera Stackable POE Switch");

    // Fiber board: exactly one chip; bit 7 only.
    sim::BoardProfile fiber = sim::BoardProfile::parse(R"(
[[pci]]
bus = 0
device = 2
vendor = 0x14e4
device_id = 0xb504
[[pci]]
bus = 0
device = 31
vendor = 0x14e4
device_id = 0xb504
)",
                                                       "fiber");
    EXPECT_EQ(sim::switchChipCount(fiber), 1);  // device 31 is never counted
    fiber.cpld.boardType = 0x30;
    EXPECT_EQ(sim::productDescription(fiber), "Kestrix Q24 Zevirera Fiber Switch");
    fiber.cpld.boardType = 0x80;
    EXPECT_EQ(sim::productDescription(fiber), "Kestrix Q24 DC Zevirera Fiber Switch");
}

TEST(Provision, AProvisionedBoardBootsItsDemoCode) {
    TempDir dir;
    auto state = dir.path() / "board";
    // Block state left from a board whose flash.bin was deleted: a new flash is a new board.
    const std::string stale = "0 125 3 1 1\n";
    std::filesystem::create_directories(state);
    interop::writeHostFile(state / sim::FLASH_BLOCKS_FILE, std::vector<uint8_t>(stale.begin(), stale.end()));
    sim::provisionBoard(state, sim::BoardProfile::builtin(), false);
    EXPECT_THROW(sim::provisionBoard(state, sim::BoardProfile::builtin(), false), std::runtime_error);

    std::vector<uint8_t> record = interop::readHostFile(state / "volume" / "files" / "vpd.bin");
    auto expected = sim::vpdRecord(sim::BoardProfile::builtin());
    EXPECT_EQ(record, std::vector<uint8_t>(expected.begin(), expected.end()));

    sim::VirtualClock clock;
    sim::ScriptedLine line(clock);
    sim::Diagnostics diagnostics;
    diagnostics.setQuiet(true);
    diagnostics.setCapture(true);
    sim::BoardOptions options;
    options.stateDir = state;
    options.onHandover = sim::OnHandover::Exit;
    sim::SimBoard board(options, clock, line, diagnostics);
    EXPECT_EQ(board.run(), 0);

    // The first power-on is the normal road: no format, no directory repair.
    EXPECT_EQ(line.output().find("formatting"), std::string::npos);
    EXPECT_EQ(line.output().find("dimInitialize returned"), std::string::npos);
    EXPECT_NE(line.output().find("Select (1, 2):"), std::string::npos);
    EXPECT_EQ(board.core().lastHandover().entry, sim::DEMO_CODE_LOAD_ADDRESS);
    auto code = sim::demoOperationalCode();
    auto ram = board.ram().view(sim::DEMO_CODE_LOAD_ADDRESS, code.size());
    EXPECT_TRUE(std::equal(code.begin(), code.end(), ram.begin()));
}
