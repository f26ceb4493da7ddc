// Vital product data: the generator's dialogue and the record it stores,
// the display of a full record and of an empty file, and the failures that
// halt.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/vpd_record.h"
#include "vpd/vpd.h"

namespace {

using namespace swboot;
using testing_support::countOf;
using testing_support::LoaderOnBoard;
using testing_support::TestBoard;
using testing_support::vpdRecordOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class VpdShow : public testing_support::OnBoardTest {
protected:
    std::string shown() {
        loader->vpd.vpdShow();
        loader->io.flush();
        return loader.takeOutput();
    }
};

std::string field(const std::vector<uint8_t>& record, size_t offset) {
    return std::string(reinterpret_cast<const char*>(record.data() + offset));
}

struct Generated {
    std::string output;
    std::vector<uint8_t> record;
    std::string ended;
};

Generated generate(const std::vector<std::string>& lines, int switchChips = 2, uint8_t boardType = 0) {
    sim::BoardOptions options;
    options.profile.cpld.boardType = boardType;
    TestBoard board(options);
    LoaderOnBoard on(board);
    on->switchChipCount = switchChips;
    board.typeLines(lines);
    Generated g;
    g.ended = on.run([&] { on->vpd.vpdGenerate(); });
    g.output = on.takeOutput();
    if (board.fileExists("vpd.bin")) {
        g.record = board.readFile("vpd.bin");
    }
    return g;
}

TEST(VpdGenerate, StoresTheAnswersAndTheBoardsDescriptionAtTheirOffsets) {
    Generated g = generate({"00a0c9ffee01", "ABCDEFGHIJ0123456789", "13ABCD", "AB-12 .#/xyz", "B1"});
    EXPECT_EQ(g.ended, "");
    EXPECT_EQ(g.output, "\n\nEnter the six byte starting MAC address (example: 000629328140)\n-> 00a0c9ffee01\n"
                        "Entered MAC: 00:A0:C9:FF:EE:01 \n"
                        "\nEnter a serial number (no greater than 20 chars) -> ABCDEFGHIJ0123456789\n"
                        "\nEnter a date code in the form MMYYYY -> 13ABCD\n"
                        "\nEnter a Part Number -> AB-12 .#/xyz\n"
                        "\nEnter a Revision -> B1\n");
    EXPECT_EQ(g.record, vpdRecordOf({0x00, 0xA0, 0xC9, 0xFF, 0xEE, 0x01}, "ABCDEFGHIJ0123456789",
                                    "Kestrix Q48 Zevirera Stackable Non-POE Switch", "13ABCD", "AB-12 .#/xyz", "B1"));
}

TEST(VpdGenerate, RefusedAnswersAreAskedAgain) {
    const struct {
        std::vector<std::string> lines;
        std::string messages;  // the refusals, in order
    } cases[] = {
        {{"00A0C9FFEE0", "00A0C9FFEE01", "AB12", "122006", "P1", "C1"}, "ERROR: Invalid MAC address length.\n\n"},
        // 13 characters: refused once; the line end that did not fit is not an answer.
        {{"00A0C9FFEE01F", "00A0C9FFEE01", "AB12", "122006", "P1", "C1"}, "ERROR: Invalid MAC address length.\n\n"},
        // Far too long: the rest of the line is dropped, not read as the next answer.
        {{"00A0C9FFEE0100A0C9FFEE01", "00A0C9FFEE01", "AB12", "122006", "P1", "C1"}, "ERROR: Invalid MAC address length.\n\n"},
        {{"", "00A0C9FFEE01", "AB12", "122006", "P1", "C1"}, "ERROR: Invalid MAC address length.\n\n"},
        {{"00a0c9ffeeg1", "0:A0C9FFEE01", "00A0C9FFEE01", "AB12", "122006", "P1", "C1"},
         "ERROR: Invalid characters in the MAC address.\n\nERROR: Invalid characters in the MAC address.\n\n"},
        {{"00A0C9FFEE01", "AB-12", "ABCDEFGHIJ01234567890", "AB12", "122006", "P1", "C1"},
         "\nIllegal char - in input.\n\n\nLength must be no greater than 20 chars."},
        {{"00A0C9FFEE01", "AB12", "1220067", "12 006", "122006", "P1", "C1"},
         "\nLength must be no greater than 6 chars.\nIllegal char   in input.\n\n"},
        {{"00A0C9FFEE01", "AB12", "122006", "1234567890123", "AB-12", "C1"}, "\nLength must be no greater than 12 chars."},
        {{"00A0C9FFEE01", "AB12", "122006", "P1", "ABC", "A.", "C1"},
         "\nLength must be no greater than 2 chars.\nIllegal char . in input.\n\n"},
    };
    for (const auto& c : cases) {
        Generated g = generate(c.lines);
        static const std::regex refusal(
            "ERROR: Invalid [^\n]*\n\n|\nIllegal char . in input[.]\n\n|\nLength must be no greater than [0-9]+ chars[.]");
        std::string collected;
        for (auto it = std::sregex_iterator(g.output.begin(), g.output.end(), refusal); it != std::sregex_iterator();
             ++it) {
            collected += it->str();
        }
        EXPECT_EQ(collected, c.messages) << c.lines[0] << " / " << c.lines.back();
        ASSERT_EQ(g.record.size(), VPD_RECORD_SIZE) << c.lines.back();
        EXPECT_EQ(field(g.record, 129), "C1") << c.lines.back();  // the revision is the one typed last
    }
}

TEST(VpdGenerate, ADescriptionForEveryBoard) {
    const struct {
        int chips;
        uint8_t boardType;
        const char* description;
    } cases[] = {
        {1, 0x00, "Kestrix Q24 Zevirera Fiber Switch"},
        {1, 0x30, "Kestrix Q24 Zevirera Fiber Switch"},
        {1, 0x80, "Kestrix Q24 DC Zevirera Fiber Switch"},
        {0, 0x00, "Kestrix Q48 Zevirera Stackable Non-POE Switch"},
        {2, 0x90, "Kestrix Q48 DC Zevirera Stackable Non-POE Switch"},
        {2, 0x20, "Kestrix Q48 DC Zevirera Stackable POE Switch"},
        {3, 0x3F, "Kestrix Q48 Zevirera Stackable POE Switch"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(vpdDescription(c.chips, c.boardType), c.description) << c.chips << " " << int(c.boardType);
    }
    // The generator reads the board-type register itself; empty answers are stored empty.
    Generated g = generate({"000629328140", "", "", "", ""}, 1, 0x80);
    EXPECT_EQ(g.record, vpdRecordOf({0x00, 0x06, 0x29, 0x32, 0x81, 0x40}, "", "Kestrix Q24 DC Zevirera Fiber Switch",
                                    "", "", ""));
}

TEST(VpdGenerate, AFileThatCannotBeWrittenHaltsAndKeepsTheOldRecord) {
    const std::vector<std::string> answers = {"000629328140", "S1", "122006", "P1", "R1"};
    const struct {
        sim::HostVolume::Operation op;
        const char* message;
    } cases[] = {
        {sim::HostVolume::Operation::Create, "Error - could not open VPD!\nSystem halting!\n\n"},
        {sim::HostVolume::Operation::Write, "Error - could not write VPD to file system!\nSystem halting!\n\n"},
        {sim::HostVolume::Operation::Rename, "Error - could not write VPD to file system!\nSystem halting!\n\n"},
    };
    for (const auto& c : cases) {
        TestBoard board;
        LoaderOnBoard on(board);
        board.writeFile("vpd.bin", std::string(256, 'x'));
        board.typeLines(answers);
        board.volume().injectFailure(c.op);
        EXPECT_EQ(on.run([&] { on->vpd.vpdGenerate(); }), "power off: the loader halted");
        EXPECT_THAT(on.takeOutput(), EndsWith(c.message));
        EXPECT_EQ(board.readText("vpd.bin"), std::string(256, 'x'));
        EXPECT_FALSE(board.fileExists("vpd.new"));
    }
}

TEST_F(VpdShow, AFullRecordShowsItsDumpAndFields) {
    std::vector<uint8_t> record = vpdRecordOf({0x00, 0x06, 0x29, 0x32, 0x81, 0x40}, "ABCDEFGHIJ0123456789",
                                              "Kestrix Q48 Zevirera Stackable POE Switch", "102006", "10K7901", "A");
    std::copy_n("\x7F\x20\x80\x1F\x7E", 5, record.begin() + 0xF0);
    board.writeFile("vpd.bin", record);
    std::string out = shown();
    EXPECT_THAT(out, StartsWith("\n\n00 00 06 29 32 81 40 00 41 42 43 44 45 46 47 48 49 --)2-@-ABCDEFGHI"));
    EXPECT_THAT(out, HasSubstr("\n10 4a 30 31 32 33 34 35 36 37 38 39 00 4b 65 73 74 J0123456789-Kest"));
    EXPECT_THAT(out, HasSubstr("\nf0 7f 20 80 1f 7e 00 00 00 00 00 00 00 00 00 00 00 - --~-----------\n"));
    EXPECT_THAT(out, EndsWith("\n     MAC Addr: 00-06-29-32-81-40\nSerial Number: ABCDEFGHIJ0123456789\n"
                              "  Description: Kestrix Q48 Zevirera Stackable POE Switch\n       Date: 102006\n"
                              "  Part Number: 10K7901\n     Revision: A\n\n"));
}

TEST_F(VpdShow, AMissingFileShowsZerosAndIsLeftEmpty) {
    std::filesystem::remove(board.filePath("vpd.bin"));
    const std::string out = shown();
    std::string expected = "\n";
    for (int row = 0; row < 256; row += 16) {
        char line[80];
        std::snprintf(line, sizeof line, "\n%02x 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ----------------", row);
        expected += line;
    }
    expected += "\n     MAC Addr: 00-00-00-00-00-00\nSerial Number: \n  Description: \n       Date: \n"
                "  Part Number: \n     Revision: \n\n";
    EXPECT_EQ(out, expected);
    ASSERT_TRUE(board.fileExists("vpd.bin"));
    EXPECT_TRUE(board.readFile("vpd.bin").empty());
}

TEST_F(VpdShow, OpenAndReadFailuresPrintTheirMessageAndNothingElse) {
    const struct {
        sim::HostVolume::Operation op;
        const char* message;
    } cases[] = {
        {sim::HostVolume::Operation::Create, "Error - could not open VPD file!\n"},
        {sim::HostVolume::Operation::Read, "Error - could not read VPD from file system!\n"},
    };
    for (const auto& c : cases) {
        board.volume().injectFailure(c.op);
        EXPECT_EQ(shown(), c.message);
    }
}

TEST_F(VpdShow, FieldsWithoutTheirEndStopAtTheirSlot) {
    board.writeFile("vpd.bin", std::string(256, 'Z'));
    std::string out = shown();
    EXPECT_THAT(out, HasSubstr("Serial Number: " + std::string(21, 'Z') + "\n"));
    EXPECT_THAT(out, HasSubstr("     Revision: ZZZZ\n\n"));
}

TEST(VpdStartup, ARecordThatStillCannotBeOpenedHalts) {
    TestBoard board;
    board.typeVpdAnswers();
    board.volume().injectFailure(sim::HostVolume::Operation::Open, 2);
    EXPECT_EQ(board.run(), sim::EXIT_HALTED);
    std::string out = testing_support::plainText(board.output());
    EXPECT_THAT(out, EndsWith("\nEnter a Revision -> A\nCould not open VPD file:  vpd.bin\nSystem halting...\n"));
    EXPECT_EQ(countOf(out, "Could not open VPD file:  vpd.bin\n"), 2u);
}

}  // namespace
