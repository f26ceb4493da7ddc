// The boot code utilities menu as an operator sees it: reached from the Boot
// Menu, its list and choices, the board identity read from the CPLD on both
// board kinds, and the clock-setting dialogue's refusals.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "board/board_profile.h"
#include "support/menu_board.h"
#include "support/status_volume.h"

namespace {

using namespace swboot;
using testing_support::LoaderOnBoard;
using testing_support::plainText;
using testing_support::TestBoard;

const std::string UTILITIES_LIST =
    "\nBoot code utilities menu\nOptions are:\n"
    "1  - Read/Write memory\n2  - Display PCI bus\n3  - Display PCI bus details\n"
    "4  - Display core info and bus speeds\n5  - Display file system details\n6  - RAM test\n"
    "7  - File system directory listing\n8  - Generate and store VPD info\n9  - CPLD diagnostics\n"
    "10 - Switch diagnostics\n11 - Format file system\n12 - File system test\n13 - Print VPD info\n"
    "14 - Check Filesystem\n15 - Upload Image in FFS\n16 - Read Temperature Monitor\n17 - Read I2C devices\n"
    "18 - HW modules\n19 - Read RTC\n20 - Set RTC\n0  - Return to main menu\nSelect option (0-20): ";

// A fresh board booted into the Boot Menu (no code), the lines typed.
std::string bootMenuSession(const std::vector<std::string>& lines, sim::BoardOptions options = {}) {
    TestBoard board(std::move(options));
    board.formatVolume();
    board.typeLines(lines);
    board.run();
    return testing_support::fromMark(plainText(board.output()), testing_support::boot::PROMPT);
}

// The board identity display: the fans ('w' working), the module table, the
// board type, the revision line and the PLD revision.
std::string identity(const char* fans, const std::string& modules, const std::string& type,
                     const std::string& revision, int pld) {
    std::string text = "\n";
    for (int n = 0; n < 6; ++n) {
        text += "Fan " + std::to_string(n) + " : " + (fans[n] == 'w' ? "working" : "stopped") + "\n";
    }
    return text + modules + "\nBoard type: Kestrix Zevirera " + type + "\n\n" + revision +
           "\n\nBoard PLD Revision: " + std::to_string(pld) + "\n\n";
}

const std::string NO_MODULES = "\nModule   Present   Type\n0        absent\n1        absent\n";

TEST(UtilitiesMenu, ChoiceThirtyShowsTheListNineTheBoardAboveTwentyRedisplaysAndZeroReturns) {
    const std::string PROMPT = testing_support::boot::PROMPT;
    EXPECT_EQ(bootMenuSession({"30", "9", "21", "255", "0", "?"}),
              PROMPT + "30\n" + UTILITIES_LIST + "9\n" +
                  identity("wwwwww", NO_MODULES, "Q48A-R", "Board Revision: Revision B", 3) + UTILITIES_LIST + "21\n" + UTILITIES_LIST + "255\n" + UTILITIES_LIST + "0\n" + PROMPT + "?\n" +
                  testing_support::boot::OPTION_LIST + PROMPT);
}

TEST(UtilitiesMenu, SwitchDiagnosticsStartsTheCodeInModeThree) {
    TestBoard again(sim::OnHandover::Return);
    plantCode(again, testing_support::boot::Code::Good);
    LoaderOnBoard l(again, false);
    EXPECT_EQ(l.run([&] { l->utilities.bootUtilitiesMenu(); }).rfind("power off", 0), 0u);
    EXPECT_EQ(again.board().core().handoverCount(), 0);
    again.typeLines({"10", "0"});
    EXPECT_EQ(l.run([&] { l->utilities.bootUtilitiesMenu(); }), "");
    ASSERT_EQ(again.board().core().handoverCount(), 1);
    EXPECT_EQ(again.board().core().lastHandover().startMode, 3u);
}

// The identity display on both board kinds.
TEST(BoardIdentity, ShowsFansModulesTypeAndRevisions) {
    const struct {
        const char* what;
        int switchChips;
        sim::Cpld::Identity cpld;
        std::string expected;
    } cases[] = {
        {"copper AC, revision B", 2, {0x3F, 0x77, 0x03, 0x00, 0x01, 3},
         identity("wwwwww", NO_MODULES, "Q48A-R", "Board Revision: Revision B", 3)},
        {"copper bits 5:4 = 1, bit 7 ignored", 2, {0x2A, 0x71, 0x00, 0x90, 0x00, 12},
         identity("swswsw", "\nModule   Present   Type\n0        present   Stacking 12G\n1        present   NC\n",
                  "Q48A-DC-R", "Board Revision: Revision A", 12)},
        {"copper bits 5:4 = 2, unknown revision", 0, {0x00, 0x35, 0x02, 0x20, 0x05, 0},
         identity("ssssss", "\nModule   Present   Type\n0        present   Read an unknown type of 05\n1        absent\n",
                  "Q48P-DC-R", "Read an unknown Board revision of 05", 0)},
        {"copper bits 5:4 = 3, pilot", 2, {0x3E, 0x20, 0x01, 0x30, 0x07, 1},
         identity("swwwww", "\nModule   Present   Type\n0        absent\n1        present   Stacking 24G\n", "Q48P-R",
                  "Board Revision: Revision Pilot", 1)},
        {"fiber, bits 5:4 set but ignored", 1, {0x3F, 0x03, 0x00, 0x30, 0x08, 2},
         identity("wwwwww", "\nModule   Present   Type\n0        present   CX4\n1        present   XFP\n", "Q24F",
                  "Board Revision: Revision MP", 2)},
        {"fiber DC, revision D", 1, {0x1F, 0x77, 0x03, 0x80, 0x03, 4},
         identity("wwwwws", NO_MODULES, "Q24F-DC", "Board Revision: Revision D", 4)},
        {"revision C", 2, {0x3F, 0x77, 0x03, 0x00, 0x02, 3},
         identity("wwwwww", NO_MODULES, "Q48A-R", "Board Revision: Revision C", 3)},
        {"revision code 9 is unknown", 2, {0x3F, 0x77, 0x03, 0x00, 0x09, 3},
         identity("wwwwww", NO_MODULES, "Q48A-R", "Read an unknown Board revision of 09", 3)},
    };
    TestBoard board;
    LoaderOnBoard l(board);
    for (const auto& c : cases) {
        board.board().cpld().setIdentity(c.cpld);
        l->switchChipCount = c.switchChips;
        EXPECT_EQ(l.run([&] { l->utilities.boardIdentityShow(); }), "") << c.what;
        EXPECT_EQ(l.takeOutput(), c.expected) << c.what;
    }
}

const std::string RTC_QUESTION = "Enter date and time as follows: mm-dd-yyyy h:m:s (24-hour format)\n";

TEST(RtcDialogue, RefusalsNameTheFieldAndSetNothing) {
    const std::pair<std::string, std::string> cases[] = {
        // What follows the question and the echoed line.
        {"13-01-2007 1:1:1", "\nMonth value of 13 is invalid\n\n"},
        {"0-01-2007 1:1:1", "\nMonth value of 0 is invalid\n\n"},
        {"01-32-2007 1:1:1", "\nDay value of 32 is invalid\n\n"},
        {"01-00-2007 1:1:1", "\nDay value of 0 is invalid\n\n"},
        {"02-31-2007 0:00:00", "\nDay value of 31 is invalid\n\n"},
        {"02-29-2007 0:00:00", "\nDay value of 29 is invalid\n\n"},
        {"02-29-1900 0:00:00", "\nDay value of 29 is invalid\n\n"},
        {"04-31-2008 0:00:00", "\nDay value of 31 is invalid\n\n"},
        {"01-01-2007 24:00:00", "\nHour value of 24 is invalid\n\n"},
        {"01-01-2007 -1:00:00", "\nHour value of -1 is invalid\n\n"},
        {"01-01-2007 23:60:00", "\nMinute value of 60 is invalid\n\n"},
        {"01-01-2007 23:59:60", "\nSecond value of 60 is invalid\n\n"},
        {"12-31-2007 10:",
         "\nDate and time incomplete: 4 of the 6 fields mm-dd-yyyy h:m:s given.\nReal Time Clock not set.\n\n"},
        {"", "\nDate and time incomplete: 0 of the 6 fields mm-dd-yyyy h:m:s given.\nReal Time Clock not set.\n\n"},
    };
    TestBoard board;
    LoaderOnBoard l(board);
    for (const auto& [typed, expected] : cases) {
        board.type(typed);
        const int64_t before = board.board().platform().clock.time();
        EXPECT_EQ(l.run([&] { l->utilities.rtcSetFromConsole(); }), "") << typed;
        EXPECT_EQ(l.takeOutput(), RTC_QUESTION + typed + "\n" + expected);
        EXPECT_EQ(board.board().platform().clock.time(), before) << typed;
    }
}

TEST(RtcDialogue, LeapDaysAndTheLastDayOfTheYearAreFields) {
    struct {
        const char* line;
        RtcEntry entry;
    } cases[] = {
        {"12-31-2007 0:00:00\n", {12, 31, 2007, 0, 0, 0, 6}},
        {"02-29-2008 23:59:59\n", {2, 29, 2008, 23, 59, 59, 6}},
        {"2-29-2000 1:2:3", {2, 29, 2000, 1, 2, 3, 6}},
    };
    const auto fields = [](const RtcEntry& e) {
        return std::tuple(e.month, e.day, e.year, e.hour, e.minute, e.second, e.fields);
    };
    for (auto& c : cases) {
        char line[80];
        snprintf(line, sizeof line, "%s", c.line);
        RtcEntry e = UtilitiesMenu::rtcEntryParse(line);
        EXPECT_EQ(fields(e), fields(c.entry)) << c.line;
        EXPECT_LE(e.day, UtilitiesMenu::daysInMonth(e.month, e.year)) << c.line;
    }
}

TEST(UtilitiesMenu, CheckFilesystemReportsEachStatusOfTheCheck) {
    struct {
        int status;
        std::string text;
    } cases[] = {
        {OK, "dosFsChkDsk successful.\n"},
        {ERROR, "dosFsChkDsk not supported in this build.\n"},
        {0x1c, "dosFsChkDsk returned 1c.\n"},
    };
    for (const auto& c : cases) {
        TestBoard board;
        board.formatVolume();
        const Platform& p = board.board().platform();
        testing_support::StatusVolume volume(p.volume);
        volume.checkStatus = c.status;
        Platform platform{p.console, p.clock, p.tasks, p.files, volume, p.bus, p.cpu, p.pci, p.memory};
        Loader loader(platform);
        board.typeLines({"14", "0"});
        loader.utilities.bootUtilitiesMenu();
        loader.io.flush();
        EXPECT_EQ(volume.checked, "/DskVol/ 514");
        EXPECT_NE(plainText(board.output()).find("14\n" + c.text + UTILITIES_LIST + "0\n"), std::string::npos)
            << plainText(board.output());
    }
}

TEST(UtilitiesMenu, UploadSendsImageOne) {
    TestBoard board;
    LoaderOnBoard l(board);
    board.writeFile("image1", std::vector<uint8_t>(1300, 0x5A));
    board.type("15");
    EXPECT_EQ(l.run([&] { l->utilities.bootUtilitiesMenu(); }).rfind("power off", 0), 0u);
    EXPECT_NE(l.takeOutput().find("15\nFile image1 Ready to SEND in binary mode\n"), std::string::npos);
}

}  // namespace

TEST(UtilitiesMenu, FormatLeavesAnEmptyVolumeOnABoardWithItsBlocksLocked) {
    TestBoard board;
    plantCode(board, testing_support::boot::Code::Good);
    LoaderOnBoard l(board, false);
    auto erases = [&](unsigned block) {
        return board.board().flash().eraseCount(0, block) + board.board().flash().eraseCount(1, block);
    };
    const std::vector<uint32_t> before = {erases(0), erases(1), erases(2)};
    board.typeLines({"11", "7", "0"});
    EXPECT_EQ(l.run([&] { l->utilities.bootUtilitiesMenu(); }), "");
    EXPECT_FALSE(board.fileExists("image1"));
    EXPECT_FALSE(board.fileExists("boot.dim"));
    // The volume's first two units, on both parts, and no more.
    EXPECT_EQ((std::vector<uint32_t>{erases(0), erases(1), erases(2)}),
              (std::vector<uint32_t>{before[0] + 2, before[1] + 2, before[2]}));
    const std::string text = l.takeOutput();
    EXPECT_NE(text.find("formatting"), std::string::npos);
    // "files/" is gone with the rest until the next startup makes it again.
    EXPECT_NE(text.find("7\nCould not open directory!\n\n"), std::string::npos) << text;
}

TEST(UtilitiesMenu, TheClockSetByChoiceTwentyIsReadBackByChoiceNineteen) {
    std::string text = bootMenuSession({"30", "20", "12-31-2007 23:59:58", "19", "0"});
    EXPECT_NE(text.find("12/31/2007 23:59:5"), std::string::npos) << text;
    EXPECT_EQ(text.find("ds1340_tod_set() failed"), std::string::npos) << text;
}
