// The Boot Menu as an operator sees it: boots of the test board driven
// through the console, the exact texts of each option, and what the
// options leave on the volume.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <tuple>
#include <string>

#include "support/menu_board.h"

namespace {

using namespace swboot;
using namespace testing_support::boot;
using testing_support::countOf;
using testing_support::TestBoard;
using testing_support::plainText;

const std::string NOT_VALID_1 = "ERROR: Operational code CRC is not valid, you must load new code.\n\n";
const std::string NOT_VALID_5 = "\nERROR: Operational code CRC is not valid.\n";
const std::string SHOWN = "The following image is in the Flash File System:";

// Control-X is text here: startup took the console's monitor trap away.
TEST(BootMenu, TheListIsShownAtEntryAndForQuestionMarkAnd99AndOtherNumbersPromptAgain) {
    MenuBoard menu(MenuBoard::Code::Good);
    EXPECT_EQ(menu.run({"?", "99", "?anything", "0", "16", "255", "", "256", "abc", "\x18"}), 0);
    EXPECT_EQ(menu.menuText(), OPTION_LIST + PROMPT + "?\n" + OPTION_LIST + PROMPT + "99\n" + OPTION_LIST + PROMPT +
                                   "?anything\n" + OPTION_LIST + PROMPT + "0\n" + PROMPT + "16\n" + PROMPT + "255\n" +
                                   PROMPT + "\n" + PROMPT + "256\n" + PROMPT + "abc\n" + PROMPT + "\x18\n" + PROMPT);
}

// Option 7 right after the start finds no boot code (startup removed what
// an earlier load left); option 10 prints nothing.
TEST(BootMenu, OptionFiveShowsTheStoredHeaderSevenFindsNoBootCodeAndTenDeletesConfigurationFilesOnly) {
    MenuBoard menu(MenuBoard::Code::Good);
    TestBoard& b = menu.board;
    b.writeFile("bootcode.bin", "left over from an earlier load");
    for (const char* name : {"startup-config", "stack.cfg", "old-startup-config.txt", "a.cfg.bak", "notes.txt",
                             "cfg.txt", "config", "startupconfig"}) {
        b.writeFile(name, "x");
    }
    std::filesystem::create_directory(b.filePath("saved.cfg"));
    std::filesystem::create_directory(b.filePath("configs"));
    std::filesystem::create_directory(b.filePath("startup-configs"));
    b.writeFile("configs/startup-config", "not in the current directory");
    EXPECT_EQ(menu.run({"5", "7", "10"}), 0);
    std::string text = menu.afterList();
    EXPECT_EQ(text.find(PROMPT + "5\n\n\n\n" + SHOWN + "\n\nFile Name......................................image1\n"),
              0u)
        << text;
    EXPECT_TRUE(text.ends_with("      Timestamp - Fri Oct 13 10:00:00 2006\n      File - test operational code\n" +
                               PROMPT + "7\n\nERROR: Could not open file bootcode.bin\n" + PROMPT + "10\n" + PROMPT))
        << text;
    EXPECT_FALSE(b.fileExists("bootcode.bin"));
    for (const char* gone : {"startup-config", "stack.cfg", "old-startup-config.txt", "a.cfg.bak"}) {
        EXPECT_FALSE(b.fileExists(gone)) << gone;
    }
    for (const char* kept : {"notes.txt", "cfg.txt", "config", "startupconfig", "saved.cfg", "configs/startup-config",
                             "startup-configs", "image1", "boot.dim"}) {
        EXPECT_TRUE(b.fileExists(kept)) << kept;
    }
}

// Only an answer starting with y deletes the code; then options 1 and 5
// refuse. Otherwise option 1 starts the code in the normal mode. The
// directory is not changed either way.
TEST(BootMenu, OptionEightDeletesTheCodeOnlyOnYesAndOptionOneStartsWhatIsLeft) {
    const std::string question = "\nAre you SURE you want to delete operational code : image1 ? (y/n):";
    const std::pair<const char*, bool> answers[] = {{"n", false}, {"", false}, {"no thanks", false},
                                                    {"Y", true},  {"y", true}, {"yes", true}};
    for (const auto& [answer, deleted] : answers) {
        MenuBoard menu(MenuBoard::Code::Good);
        EXPECT_EQ(menu.run({"8", answer, "1", "5"}), 0);
        const std::string shown = menu.afterList();
        const std::string expected =
            PROMPT + "8\n" + question + answer +
            (deleted ? "\nOperational code deleted...\n" + PROMPT + "1\n" + NOT_VALID_1 + PROMPT + "5\n" + NOT_VALID_5 +
                           PROMPT
                     : "\nCode not deleted.\n" + PROMPT + "1\n\n\nOperational Code Date: Fri Oct 13 10:00:00 2006\n");
        EXPECT_EQ(deleted ? shown : shown.substr(0, expected.size()), expected) << answer;
        EXPECT_EQ(menu.board.fileExists("image1"), !deleted) << answer;
        EXPECT_EQ(menu.board.readText("boot.dim"), DEFAULT_DIM);
        EXPECT_EQ(menu.handedOver(), !deleted) << answer;
        if (!deleted) {
            EXPECT_EQ(menu.board.board().core().lastHandover().startMode, 1u);
        }
    }
}

TEST(BootMenu, OptionNineResetsOnlyOnYes) {
    const std::string question = "\nAre you SURE you want to reset the system? (y/n):";
    {
        MenuBoard menu(MenuBoard::Code::None);
        EXPECT_EQ(menu.run({"9", "n", "9", ""}), 0);
        EXPECT_EQ(menu.afterList(), PROMPT + "9\n" + question + "n\n" + PROMPT + "9\n" + question + "\n" + PROMPT);
    }
    {
        MenuBoard menu(MenuBoard::Code::None);
        EXPECT_EQ(menu.run({"9", "y"}), 0);
        std::string text = plainText(menu.board.output());
        EXPECT_EQ(countOf(text, "Boot Menu Version 01.00.45 10-13-2006\n"), 2u);
        EXPECT_EQ(menu.board.board().powerOnCount(), 2);
        EXPECT_EQ(menu.board.board().lastResetCause(), "CPLD reset request");
        EXPECT_NE(text.find(question + "y\n"), std::string::npos);
        // The second boot found the directory the first one wrote.
        EXPECT_EQ(countOf(text, "dimInitialize returned"), 1u);
    }
}

TEST(BootMenu, OptionElevenActivatesAGoodBackupButOptionOneStillRefuses) {
    MenuBoard menu(MenuBoard::Code::GoodWithBackup);
    EXPECT_EQ(menu.run({"8", "y", "11", "1", "5"}), 0);
    std::string text = menu.afterList();
    EXPECT_NE(text.find(PROMPT + "11\nBackup image - image2 activated.\n" + PROMPT + "1\n" + NOT_VALID_1 + PROMPT +
                        "5\n" + NOT_VALID_5 + PROMPT),
              std::string::npos)
        << text;
    EXPECT_EQ(menu.board.readText("boot.dim"), SWAPPED_IMAGES);
    EXPECT_FALSE(menu.handedOver());
}

TEST(BootMenu, OptionElevenMakesTheBackupTheImageOfLaterOptions) {
    MenuBoard menu(MenuBoard::Code::GoodWithBackup);
    EXPECT_EQ(menu.run({"11", "5", "8", "n", "1"}), 0);
    std::string text = menu.afterList();
    EXPECT_NE(text.find("File Name......................................image2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("delete operational code : image2 ? (y/n):"), std::string::npos) << text;
    EXPECT_NE(text.find("Operational Code Date: backup\n"), std::string::npos) << text;
    EXPECT_TRUE(menu.handedOver());
}

// The menu keeps image1 as its image either way; a bad backup keeps the
// roles it was switched to in boot.dim.
TEST(BootMenu, OptionElevenFailures) {
    for (auto [code, why, directory] :
         {std::tuple{MenuBoard::Code::Good, "No Backup Image available.\n", DEFAULT_DIM},
          std::tuple{MenuBoard::Code::GoodWithBadBackup, "Backup Image failed crc check. \n", SWAPPED_IMAGES}}) {
        MenuBoard menu(code);
        EXPECT_EQ(menu.run({"11", "8", "n"}), 0);
        EXPECT_EQ(menu.afterList(), PROMPT + "11\n" + why + "Failed to activate Backup Image.\n" + PROMPT + "8\n" +
                                        "\nAre you SURE you want to delete operational code : image1 ? (y/n):n\n" +
                                        "Code not deleted.\n" + PROMPT);
        EXPECT_EQ(menu.board.readText("boot.dim"), directory);
    }
}

TEST(BootMenu, OptionTwelveCreatesATestFileOrSaysItCouldNotAndThirteenPrintsTheCurrentDirectory) {
    for (bool createFails : {false, true}) {
        MenuBoard menu(MenuBoard::Code::Good);
        // Fail only the menu's own create, not startup's rewrite of boot.dim.
        testing_support::OnSent failCreate(menu.board, [&](sim::ScriptedLine&, std::string_view text) {
            if (createFails && text.find("Attempting to create test file") != std::string_view::npos) {
                menu.board.volume().injectFailure(sim::HostVolume::Operation::Create);
            }
        });
        EXPECT_EQ(menu.run({"12", "13"}), 0);
        EXPECT_EQ(menu.afterList(), PROMPT + "12\n/DskVol/files\nAttempting to create test file...\n" +
                                        (createFails ? "creat returned ERROR.\n" : "") + "/DskVol/files\n" + PROMPT +
                                        "13\n/DskVol/files\n" + PROMPT);
        EXPECT_EQ(menu.board.fileExists("testfile"), !createFails);
    }
}

TEST(BootMenu, OptionFourteenListsTheVolumeAndStaysAtItsRoot) {
    MenuBoard menu(MenuBoard::Code::Good);
    EXPECT_EQ(menu.run({"14", "15", "13"}), 0);
    std::string text = menu.afterList();
    EXPECT_EQ(text.find(PROMPT + "14\n/DskVol/files\n/DskVol/\n"), 0u) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("\ndrwxrwxrwx .* files/\n"))) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("\n-rwxrwxrwx .* boot\\.dim\n"))) << text;
    // Later file names are taken from the volume's root.
    EXPECT_NE(text.find(PROMPT + "15\n boot.dim doesn't exist on the disk \n" + PROMPT + "13\n/DskVol/\n" + PROMPT),
              std::string::npos)
        << text;
}

TEST(BootMenu, BaudRateOptionChangesTheLineUntilTheNextReset) {
    MenuBoard menu(MenuBoard::Code::None);
    EXPECT_EQ(menu.run({"2", "8", "9", "y"}), 0);
    std::string text = menu.afterList();
    EXPECT_NE(text.find("\nSetting baud rate to 115200, you must change your terminal baud rate.\n" + PROMPT + "9\n"),
              std::string::npos)
        << text;
    // The second boot is back at 9600.
    EXPECT_EQ(menu.board.board().powerOnCount(), 2);
    EXPECT_EQ(menu.board.board().tty().speed(), 9600u);
}

}  // namespace
