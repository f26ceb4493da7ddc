// Startup and the boot decision, as whole boots of the test board.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "board_support/cpld_registers.h"
#include "support/menu_board.h"
#include "support/status_volume.h"

namespace {

using ::testing::HasSubstr;

using namespace swboot;
using namespace testing_support::boot;
using testing_support::fromMark;
using testing_support::BootEnd;
using testing_support::bootOnPlatform;
using testing_support::plainText;
using testing_support::TestBoard;

const std::string CHOICE =
    "Select an option. If no selection in 2 seconds then\n"
    "operational code will start.\n\n"
    "1 - Start operational code.\n"
    "2 - Start Boot Menu.\n"
    "Select (1, 2):";

// The console text with the mount's status number blanked, as the format
// prints whatever the flash translation layer answered.
std::string console(TestBoard& board) {
    return std::regex_replace(plainText(board.output()), std::regex("returned 0x[0-9a-f]+"), "returned 0x?");
}

// Plants the code, types the lines and boots until the console runs out.
void boot(TestBoard& board, Code code, const std::vector<std::string>& typed = {}) {
    plantCode(board, code);
    board.typeLines(typed);
    EXPECT_EQ(board.run(), 0);
}

TEST(Startup, AFreshBoardIsFormattedAndEntersTheMenuWithoutCode) {
    TestBoard board;
    board.typeVpdAnswers();
    EXPECT_EQ(board.run(), 0);  // the console ran out in the menu
    const std::string expected = std::string(25, '\n') +
                                 "usrTffsConfig returned 0x?, formatting...\n"
                                 "\n\nTFFS Formatted....Device details...\n"
                                 "Could not open VPD file:  vpd.bin\n" +
                                 VPD_DIALOGUE +
                                 "dimInitialize returned 3 \n"
                                 "adding the default image - image1 to the list\n" +
                                 BANNER +
                                 " active image failed crc check. activating backup image \n"
                                 " Backup Image doesn't exist \n"
                                 "Operational code CRC is invalid.\n" +
                                 OPTION_LIST + "[Boot Menu] ";
    EXPECT_EQ(console(board), expected);
    EXPECT_EQ(board.readText("boot.dim"), DEFAULT_DIM);
    EXPECT_EQ(board.board().cpld().reg(1), LED_PATTERN_FAULT);
}

TEST(Startup, LampTestWritesItsSequenceWithItsPauses) {
    TestBoard board;
    boot(board, Code::Good, {"2"});
    std::vector<std::pair<int, int>> expected = {{0x0, 0x00}};
    for (int high : {0x10, 0x20}) {
        for (int reg : {1, 2}) {
            for (int value : {high, 0, high >> 4, 0}) {
                expected.emplace_back(reg, value);
            }
        }
    }
    for (int reg : {0xE, 0xF}) {
        for (int digit = 0; digit <= 15; ++digit) {
            expected.emplace_back(reg, 0x10 + digit);
        }
    }
    expected.insert(expected.end(), {{0x1, 0x50}, {0xE, 0x10}, {0xF, 0x10}, {0x3, 0x44}});
    // With good code nothing else touches the CPLD before the menu but the
    // I2C transfers to the real-time clock, which select its channel.
    std::vector<std::pair<int, int>> written;
    std::vector<int64_t> at;
    for (const sim::Cpld::Write& w : board.board().cpld().writes()) {
        if (w.reg == sim::Cpld::REG_I2C_MUX) {
            EXPECT_EQ(w.value, 0);
        } else {
            written.emplace_back(w.reg, w.value);
            at.push_back(w.micros);
        }
    }
    ASSERT_EQ(written, expected);

    // Five ticks after each lamp write, three after each display write.
    for (size_t i = 1; i < 17; ++i) {
        EXPECT_EQ(at[i + 1] - at[i], 50000) << "after write " << i;
    }
    for (size_t i = 17; i < 49; ++i) {
        EXPECT_EQ(at[i + 1] - at[i], 30000) << "after write " << i;
    }
    EXPECT_EQ(at[1], at[0]);
    EXPECT_EQ(at[52], at[49]);
}

// The number of switch chips that startup's scan counts on a board with
// the given PCI functions.
int switchChipsOn(const std::string& pciProfile) {
    sim::BoardOptions options;
    options.profile = sim::BoardProfile::parse("[board]\nname = \"test\"\n" + pciProfile, "test profile");
    TestBoard board(options);
    Loader loader(board.board().platform());
    loader.startup.switchChipScan();
    return loader.switchChipCount;
}

std::string chipAt(int bus, int device, int vendor, int deviceId, int function = 0) {
    char text[160];
    std::snprintf(text, sizeof text, "[[pci]]\nbus = %d\ndevice = %d\nfunction = %d\nvendor = 0x%x\ndevice_id = 0x%x\n",
                  bus, device, function, vendor, deviceId);
    return text;
}

TEST(SwitchChipScan, CountsTheBroadcomSwitchChipsOnFunctionZeroOfDevicesUpTo30AndFindsTwoBuiltIn) {
    const std::string bridge = chipAt(0, 0, 0x1057, 0x000c);
    EXPECT_EQ(switchChipsOn(bridge), 0);
    EXPECT_EQ(switchChipsOn(bridge + chipAt(0, 2, 0x14e4, 0xb504) + chipAt(0, 3, 0x14e4, 0xb504)), 2);
    EXPECT_EQ(switchChipsOn(chipAt(0, 1, 0x14e4, 0xb304) + chipAt(1, 5, 0x14e4, 0xb404) +
                            chipAt(255, 30, 0x14e4, 0xb504) + chipAt(7, 0, 0x14e4, 0xb800)),
              4);
    // Device 31 is never probed.
    EXPECT_EQ(switchChipsOn(chipAt(0, 31, 0x14e4, 0xb504) + chipAt(3, 31, 0x14e4, 0xb800) +
                            chipAt(0, 4, 0x14e4, 0xb800)),
              1);
    // Other parts of the same vendor, the same part numbers of another
    // vendor, and chips on other functions do not count.
    EXPECT_EQ(switchChipsOn(chipAt(0, 2, 0x14e4, 0xb305) + chipAt(0, 3, 0x14e4, 0x5695)), 0);
    EXPECT_EQ(switchChipsOn(chipAt(0, 2, 0x14e5, 0xb504) + chipAt(0, 3, 0x1057, 0xb800)), 0);
    EXPECT_EQ(switchChipsOn(chipAt(0, 2, 0x14e4, 0xb504, 1)), 0);
    TestBoard builtIn;
    Loader loader(builtIn.board().platform());
    loader.startup.switchChipScan();
    EXPECT_EQ(loader.switchChipCount, 2);
}

// An existing "image1" is kept and "code.bin" then left alone.
TEST(Startup, CodeBinBecomesImage1WhenTheDirectoryIsMissingEmptyOrUnreadableUnlessThereIsOne) {
    struct Case {
        const char* what;
        std::optional<std::string> directory;
        bool readFails;
        std::string reported;
        bool image1There;
    };
    for (const Case& c : {Case{"missing", std::nullopt, false, "3", false}, Case{"empty", "", false, "3", false},
                          Case{"unreadable", TWO_IMAGES, true, "1", false},
                          Case{"missing, image1 there", std::nullopt, false, "3", true}}) {
        SCOPED_TRACE(c.what);
        TestBoard board;
        board.formatVolume();
        const std::vector<uint8_t> code = goodImage({.timestamp = "code.bin"});
        const std::vector<uint8_t> kept = goodImage({.timestamp = "kept"});
        board.writeFile("code.bin", code);
        if (c.image1There) {
            board.writeFile("image1", kept);
        }
        if (c.directory) {
            board.writeFile("boot.dim", *c.directory);
        }
        if (c.readFails) {
            // The event log is read first, then the directory.
            board.volume().injectFailure(sim::HostVolume::Operation::Read, 2);
        }
        board.type("2");
        EXPECT_EQ(board.run(), 0);
        const std::string text = console(board);
        EXPECT_THAT(text, HasSubstr("dimInitialize returned " + c.reported +
                                    " \nadding the default image - image1 to the list\n" + BANNER + CHOICE));
        EXPECT_EQ(board.fileExists("code.bin"), c.image1There);
        EXPECT_EQ(board.readFile("image1"), c.image1There ? kept : code);
        EXPECT_EQ(board.readText("boot.dim"), DEFAULT_DIM);
    }
}

// An install moves the old image aside as "<name>.prev" before the new one
// takes its name; a cut between the two leaves the aside file alone, a cut
// after the second leaves both.
TEST(Startup, AnInstallCutShortIsFinishedBeforeTheDirectoryIsRead) {
    const struct {
        const char* what;
        bool newInPlace;
        const char* started;
    } cases[] = {
        {"only the old image, moved aside", false, "old code"},
        {"the new image in place, the old one aside", true, "new code"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestBoard board;
        board.formatVolume();
        board.writeFile("boot.dim", TWO_IMAGES);
        board.writeFile("image2", goodImage({.timestamp = "backup code"}));
        board.writeFile("image1.prev", goodImage({.timestamp = "old code"}));
        if (c.newInPlace) {
            board.writeFile("image1", goodImage({.timestamp = "new code"}));
        }
        EXPECT_EQ(board.run(), 0);
        EXPECT_THAT(console(board), HasSubstr(std::string("Operational Code Date: ") + c.started + "\n"));
        EXPECT_FALSE(board.fileExists("image1.prev"));
        EXPECT_TRUE(board.fileExists("image2"));
        EXPECT_EQ(board.readText("boot.dim"), TWO_IMAGES);
    }
}

// ------------------------------------------------------- the two-second choice

TEST(AutoBoot, TwoEntersTheMenuAndAnyOtherAnswerAsksAgain) {
    for (const std::vector<std::string>& typed :
         {std::vector<std::string>{"2"}, {"22"}, {"2x"}, {"x", "3", "2"}}) {
        TestBoard board;
        std::string shown = BANNER;
        for (const std::string& line : typed) {
            shown += CHOICE + line + "\n\n";
        }
        boot(board, Code::Good, typed);
        EXPECT_EQ(fromMark(console(board), BANNER), shown + OPTION_LIST + "[Boot Menu] ") << typed[0];
    }
}

void expectCodeStarted(TestBoard& board) {
    EXPECT_EQ(board.board().core().handoverCount(), 1);
    const sim::E500Core::Handover& h = board.board().core().lastHandover();
    EXPECT_EQ(h.entry, testing_support::boot::TEST_LOAD_ADDRESS);
    EXPECT_EQ(h.startMode, 1u);
}

TEST(AutoBoot, OneAnEmptyLineOrNothingStartsTheCode) {
    for (std::optional<std::string> typed : {std::optional<std::string>{"1"}, {""}, {"1abc"}, {}}) {
        TestBoard board;
        boot(board, Code::Good, typed ? std::vector<std::string>{*typed} : std::vector<std::string>{});
        const std::string shown = typed ? *typed + "\n\n\n\nOperational Code Date: Fri Oct 13 10:00:00 2006\n"
                                        : "\n\n\nOperational Code Date:";
        EXPECT_THAT(console(board), HasSubstr(CHOICE + shown));
        expectCodeStarted(board);
    }
}

// Answers each choice prompt with the next line, the given time after it.
testing_support::OnSent::Callback answersAfter(int64_t delayMicros, std::vector<std::string> lines) {
    return [=, next = size_t{0}](sim::ScriptedLine& line, std::string_view text) mutable {
        if (text.find("Select (1, 2):") != std::string_view::npos && next < lines.size()) {
            line.deliverAt(line.clock().nowMicros() + delayMicros, lines[next++] + "\r");
        }
    };
}

TEST(AutoBoot, EachAskingWaitsAFreshTwoSecondsAndAnAnswerAfterThemIsTooLate) {
    TestBoard board;
    // Each answer comes 1.9 s after its prompt: within a fresh wait, but
    // the second comes 3.8 s after the first prompt.
    testing_support::OnSent typist(board, answersAfter(1900000, {"x", "2"}));
    boot(board, Code::Good);
    EXPECT_EQ(fromMark(console(board), BANNER),
              BANNER + CHOICE + "x\n\n" + CHOICE + "2\n\n" + OPTION_LIST + "[Boot Menu] ");
    TestBoard late;
    testing_support::OnSent lateTypist(late, answersAfter(2100000, {"2"}));
    boot(late, Code::Good);
    expectCodeStarted(late);
}

// ------------------------------------------------------- the boot decision

TEST(BootDecision, ABadActiveImageFallsBackToAGoodBackup) {
    TestBoard board;
    boot(board, Code::BadWithGoodBackup, {"2", "5", "8", "y"});
    std::string text = console(board);
    EXPECT_THAT(text, HasSubstr(BANNER + " active image failed crc check. activating backup image \n" + CHOICE +
                                "2\n\n" + OPTION_LIST));
    EXPECT_EQ(board.readText("boot.dim"), SWAPPED_IMAGES);
    // The menu works with the backup as the active image: shows it, and deletes it by name.
    EXPECT_THAT(text, HasSubstr("File Name......................................image2\n"));
    EXPECT_THAT(text, HasSubstr("Timestamp - backup code\n"));
    EXPECT_THAT(text, HasSubstr("delete operational code : image2 ? (y/n):y\nOperational code deleted...\n"));
    EXPECT_FALSE(board.fileExists("image2"));
    EXPECT_TRUE(board.fileExists("image1"));
    EXPECT_EQ(board.board().cpld().reg(1), LED_PATTERN_RUNNING);
}

TEST(BootDecision, BothImagesBadEnterTheMenuWithoutCode) {
    TestBoard board;
    board.formatVolume();
    board.writeFile("boot.dim", TWO_IMAGES);
    board.writeFile("image1", "damaged");
    board.writeFile("image2", "damaged too");
    board.type("1");
    EXPECT_EQ(board.run(), 0);
    EXPECT_EQ(fromMark(console(board), BANNER),
              BANNER + " active image failed crc check. activating backup image \n" +
                  " backup image failed crc check. \n" + "Operational code CRC is invalid.\n" + OPTION_LIST +
                  "[Boot Menu] 1\nERROR: Operational code CRC is not valid, you must load new code.\n\n[Boot Menu] ");
    // The former backup stays the active image.
    EXPECT_EQ(board.readText("boot.dim"), SWAPPED_IMAGES);
    EXPECT_EQ(board.board().cpld().reg(1), LED_PATTERN_FAULT);
}

// ---------------------------------------------------------------- failures

TEST(Startup, AFailedSpeedRequestIsReportedAndStartupGoesOn) {
    TestBoard failing;
    failing.board().tty().setSpeedSetFault(true);
    boot(failing, Code::Good, {"2"});
    std::string text = console(failing);
    EXPECT_TRUE(std::regex_search(
        text, std::regex("^bootConfig:[0-9]+: Attempt to set baudrate to 9600 failed\n\n{25}Boot Menu Version")))
        << text;
    EXPECT_THAT(text, HasSubstr(CHOICE));
}

TEST(Startup, AFailedMountAfterFormattingOrAFailedFormatHalts) {
    const struct {
        std::optional<int> formatStatus;  // the board's when none
        const char* lastLine;
        int mounts;
    } cases[] = {{std::nullopt, "usrTffsConfig returned 0x1234\n", 2}, {0x5678, "tffsDevFormat returned 0x5678\n", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastLine);
        TestBoard board;
        testing_support::StatusVolume volume(board.volume());
        volume.mountStatus = 0x1234;
        volume.formatStatus = c.formatStatus;
        const Platform& p = board.board().platform();
        BootEnd end =
            bootOnPlatform(Platform{p.console, p.clock, p.tasks, p.files, volume, p.bus, p.cpu, p.pci, p.memory});
        EXPECT_EQ(end.exitStatus, sim::EXIT_HALTED);
        EXPECT_EQ(plainText(board.output()),
                  std::string(25, '\n') + "usrTffsConfig returned 0x1234, formatting...\n" + c.lastLine);
        EXPECT_EQ(volume.mounts, c.mounts);
        EXPECT_EQ(volume.formats, 1);
        // The standard format parameters.
        const TffsFormatParams& f = volume.lastFormat;
        EXPECT_EQ(std::vector<uint32_t>({f.bootImageLength, f.percentUse, f.noOfSpareUnits, f.vmAddressingLimit,
                                         f.noOfFatCopies, f.embeddedCisLength, f.formatFlags}),
                  std::vector<uint32_t>({0, 99, 1, 0x10000, 2, 0, 1}));
    }
}

// An active entry that names no file is a failed active image: the backup
// takes over, whatever file "image1" holds.
TEST(BootDecision, AnActiveEntryWithoutAFileNameFallsBackToTheBackup) {
    TestBoard board;
    board.formatVolume();
    board.writeFile("boot.dim", "---IMAGE---\nactive\nactive\n\n0\ndefault image\n" + BACKUP_ENTRY);
    board.writeFile("image1", goodImage({.timestamp = "stray image1"}));
    board.writeFile("image2", goodImage({.timestamp = "backup code"}));
    EXPECT_EQ(board.run(), 0);
    std::string text = console(board);
    EXPECT_THAT(text, HasSubstr(" active image failed crc check. activating backup image \n" + CHOICE));
    EXPECT_THAT(text, HasSubstr("Operational Code Date: backup code\n"));
    // The directory now lists the backup as the active image, so a later
    // load replaces it in place instead of falling back to "image1".
    EXPECT_EQ(board.readText("boot.dim"), "---IMAGE---\nactive\nactive\nimage2\n0\n\n");
}

}  // namespace
