// Factory provisioning: the VPD record's bytes, the description the board
// gets, and that a provisioned board boots its demo code.
#include <gtest/gtest.h>

#include "host/provision.h"
#include "support/state_dir_board.h"
#include "support/vpd_record.h"

using namespace testing_support;

TEST(Provision, VpdRecordLaysOutTheProfileValuesAtTheirOffsets) {
    sim::BoardProfile profile = sim::BoardProfile::builtin();
    profile.vpd.macAddress = "00:a0:c9:ff:ee:01";
    profile.vpd.serialNumber = "ABCDEFGHIJ0123456789";  // 20 characters, the most the field takes
    profile.vpd.dateCode = "102006";
    profile.vpd.partNumber = "AB-12";
    profile.vpd.revision = "B1";
    const auto record = sim::vpdRecord(profile);
    EXPECT_EQ(std::vector<uint8_t>(record.begin(), record.end()),
              vpdRecordOf({0x00, 0xA0, 0xC9, 0xFF, 0xEE, 0x01}, "ABCDEFGHIJ0123456789",
                          "Kestrix Q48 Zevirera Stackable Non-POE Switch", "102006", "AB-12", "B1"));
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
    StateDirBoard dir(false);
    const auto& state = dir.state;
    // Block state left from a board whose flash.bin was deleted: a new flash is a new board.
    const std::string stale = "0 125 3 1 1\n";
    interop::writeHostFile(state / sim::FLASH_BLOCKS_FILE, std::vector<uint8_t>(stale.begin(), stale.end()));
    sim::provisionBoard(state, sim::BoardProfile::builtin(), false);
    EXPECT_THROW(sim::provisionBoard(state, sim::BoardProfile::builtin(), false), std::runtime_error);

    std::vector<uint8_t> record = interop::readHostFile(state / "volume" / "files" / "vpd.bin");
    auto expected = sim::vpdRecord(sim::BoardProfile::builtin());
    EXPECT_EQ(record, std::vector<uint8_t>(expected.begin(), expected.end()));

    sim::SimBoard board(dir.options, dir.clock, dir.line, dir.diagnostics);
    EXPECT_EQ(board.run(), 0);
    const std::string& output = dir.line.output();

    // The first power-on is the normal road: no format, no directory repair.
    EXPECT_EQ(output.find("formatting"), std::string::npos);
    EXPECT_EQ(output.find("dimInitialize returned"), std::string::npos);
    EXPECT_NE(output.find("Select (1, 2):"), std::string::npos);
    EXPECT_EQ(board.core().lastHandover().entry, sim::DEMO_CODE_LOAD_ADDRESS);
    auto code = sim::demoOperationalCode();
    auto ram = board.ram().view(sim::DEMO_CODE_LOAD_ADDRESS, code.size());
    EXPECT_TRUE(std::equal(code.begin(), code.end(), ram.begin()));
}
