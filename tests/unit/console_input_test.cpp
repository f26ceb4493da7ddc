// Console prompts and input: menu numbers, line cleaning, long lines,
// yes/no answers and the baud-rate dialogue, typed on the scripted console.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using testing_support::LoaderOnBoard;
using testing_support::TestBoard;
using MenuNumberRead = testing_support::OnBoardTest;
using MenuAnswerRead = testing_support::OnBoardTest;
using BaudRateMenu = testing_support::OnBoardTest;

// What the read gives on a fresh board after the operator typed the line.
int readAfter(const std::string& typed, const std::function<int(swboot::ConsoleInput&)>& read) {
    TestBoard board;
    LoaderOnBoard fixture(board);
    board.type(typed);
    int value = -1;
    EXPECT_EQ(fixture.run([&] { value = read(fixture->input); }), "") << "typed \"" << typed << "\"";
    return value;
}

std::string cleaned(const std::string& raw) {
    char rawLine[swboot::CONSOLE_LINE_SIZE] = {};
    char clean[swboot::CONSOLE_LINE_SIZE];
    std::memset(clean, 0x7E, sizeof clean);
    std::memcpy(rawLine, raw.data(), raw.size() < sizeof rawLine - 1 ? raw.size() : sizeof rawLine - 1);
    swboot::ConsoleInput::consoleLineClean(rawLine, clean);
    EXPECT_NE(std::memchr(clean, '\0', sizeof clean), nullptr) << "the cleaned line is not terminated";
    return std::string(clean);
}

TEST_F(MenuNumberRead, NumbersAreTheLowEightBitsOfTheCleanedDecimalValueAndAQuestionMarkIs99) {
    const struct {
        const char* typed;
        int number;
    } cases[] = {
        {"7", 7}, {"256", 0}, {"263", 7}, {"-1", 255}, {"300", 44}, {"255", 255}, {"abc", 0}, {"", 0},
        {"12abc", 12}, {"  15", 15}, {"+3", 3}, {"99", 99}, {"-256", 0}, {"1e3", 1}, {"0x10", 0},
        {"?", 99}, {"?5", 99}, {"?abc", 99},
        // Backspaces typed as data are applied; one with nothing before it
        // stays and is not a digit.
        {"1\b2", 2}, {"12\b", 1}, {"15\b\b9", 9}, {"1\b\b3", 0}, {"\b5", 0},
        // Only the raw line's first character counts as the question mark.
        {"x\b?", 0}, {"?\b7", 99}, {" ?", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readAfter(c.typed, [](swboot::ConsoleInput& input) { return input.menuNumberRead(); }), c.number)
            << "typed \"" << c.typed << "\"";
    }
}

TEST(MenuCountRead, ACountIsTheMenuNumberOfALineThatIsADecimalNumberAndNothingElse) {
    const struct {
        const char* typed;
        int count;  // -1: refused
    } cases[] = {
        {"0", 0}, {"7", 7}, {"263", 7}, {"-1", 255}, {"+3", 3}, {" 12 ", 12}, {"1\b2", 2},
        {"lots", -1}, {"", -1}, {" ", -1}, {"?", -1}, {"5x", -1}, {"1 2", -1}, {"-", -1}, {"\b5", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readAfter(c.typed,
                            [](swboot::ConsoleInput& input) {
                                uint8_t read = 0;
                                return input.menuCountRead(read) ? int{read} : -1;
                            }),
                  c.count)
            << "typed \"" << c.typed << "\"";
    }
}

TEST(ConsoleLineClean, ABackspaceRemovesTheCharacterBeforeItOrStaysWhenThereIsNone) {
    const std::pair<std::string, std::string> cases[] = {
        {"1\b2", "2"}, {"abc\b\bd", "ad"}, {"12\b", "1"}, {"ab\b\b", ""}, {"", ""}, {"\b", "\b"}, {"\b5", "\b5"},
        {"a\b\bx", "\bx"},
        // A kept backspace counts as a character: the next one removes it.
        {"\b\b", ""}, {"\bz\b\b", ""},
        // A full raw line stays inside the cleaned line.
        {std::string(swboot::CONSOLE_LINE_SIZE - 1, '7'), std::string(swboot::CONSOLE_LINE_SIZE - 1, '7')},
        {std::string(swboot::CONSOLE_LINE_SIZE - 1, '\b'), "\b"},
    };
    for (const auto& [raw, clean] : cases) {
        EXPECT_EQ(cleaned(raw), clean) << "raw \"" << raw << "\"";
    }
}

TEST_F(MenuNumberRead, ALineKeepsItsFirstSeventyNineCharactersAndTheExcessIsNeverAnAnswer) {
    // 100 characters: "15", blanks up to 79 characters, then "99" and
    // blanks; the "99" would list the options if it were read as a line.
    board.typeLines({"15" + std::string(77, ' ') + "99" + std::string(19, ' '), "2"});
    board.type(std::string(78, ' ') + "12");  // 80 characters: the "2" is the 80th
    board.type(std::string(77, ' ') + "34");  // 79 characters: all kept
    std::vector<int> numbers;
    std::string ended = loader.run([&] {
        for (;;) {
            numbers.push_back(loader->input.menuNumberRead());
        }
    });
    EXPECT_EQ(numbers, (std::vector<int>{15, 2, 1, 34}));
    EXPECT_EQ(ended, "power off: end of console input");
}

TEST_F(MenuAnswerRead, TheFirstCharacterOfTheCleanedAnswer) {
    const struct {
        const char* typed;
        char answer;
    } cases[] = {
        {"y", 'y'}, {"Yes", 'Y'}, {"n", 'n'}, {"", '\0'}, {"n\by", 'y'}, {"\by", '\b'}, {" y", ' '},
    };
    for (const auto& c : cases) {
        board.type(c.typed);
    }
    for (const auto& c : cases) {
        char answer = 'X';
        std::string ended = loader.run([&] { answer = loader->input.menuAnswerRead(); });
        EXPECT_EQ(ended, "");
        EXPECT_EQ(answer, c.answer) << "typed \"" << c.typed << "\"";
    }
}

const char BAUD_MENU[] =
    "\n\nSelect baud rate:\n"
    "1 - 1200\n2 - 2400\n3 - 4800\n4 - 9600\n5 - 19200\n6 - 38400\n7 - 57600\n8 - 115200\n"
    "0 - no change\n"
    "-> ";

TEST_F(BaudRateMenu, ANumberAboveEightIsRefusedAndTextReadsAsNoChange) {
    board.typeLines({"9", "fast"});
    EXPECT_EQ(loader.run([&] { loader->input.baudRateMenu(); }), "");
    EXPECT_EQ(loader.takeOutput(), std::string(BAUD_MENU) + "9\n" + "\nERROR: Invalid Option:\n\n" + BAUD_MENU +
                                         "fast\n" + "\nBaud rate is not changed\n");
    EXPECT_EQ(loader->consoleBaudRate, 9600u);
    EXPECT_EQ(board.board().tty().speed(), 9600u);
}

TEST_F(BaudRateMenu, EightSwitchesTo115200AfterTheNoticeAndOneSecond) {
    uint32_t speedAtNotice = 0;
    int64_t noticeAt = -1;
    testing_support::OnSent watcher(board, [&](sim::ScriptedLine& line, std::string_view text) {
        if (text.find("Setting baud rate to 115200") != std::string_view::npos) {
            speedAtNotice = board.board().tty().speed();
            noticeAt = line.clock().nowMicros();
        }
    });
    board.type("8");
    EXPECT_EQ(loader.run([&] { loader->input.baudRateMenu(); }), "");
    EXPECT_EQ(loader.takeOutput(), std::string(BAUD_MENU) + "8\n" +
                                         "\nSetting baud rate to 115200, you must change your terminal baud rate.\n");
    // The notice goes out at the old speed; the line changes a second of
    // board time later.
    ASSERT_GE(noticeAt, 0);
    EXPECT_EQ(speedAtNotice, 9600u);
    EXPECT_GE(board.clock().nowMicros() - noticeAt, 1000000);
}

TEST_F(BaudRateMenu, EveryListedEntrySetsItsSpeed) {
    const uint32_t speeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int n = 1; n <= 8; ++n) {
        board.type(std::to_string(n));
        EXPECT_EQ(loader.run([&] { loader->input.baudRateMenu(); }), "");
        EXPECT_EQ(board.board().tty().speed(), speeds[n - 1]) << "entry " << n;
        EXPECT_EQ(loader->consoleBaudRate, speeds[n - 1]) << "entry " << n;
    }
}

TEST_F(BaudRateMenu, AFailedSpeedRequestIsReportedAndTheLineKeepsItsSpeed) {
    board.board().tty().setSpeedSetFault(true);
    board.type("5");
    EXPECT_EQ(loader.run([&] { loader->input.baudRateMenu(); }), "");
    std::string text = loader.takeOutput();
    EXPECT_TRUE(std::regex_search(
        text, std::regex("\nSetting baud rate to 19200, you must change your terminal baud rate.\n"
                         "bootConfig:[0-9]+: Attempt to set baudrate to 19200 failed\n$")))
        << text;
    EXPECT_EQ(loader->consoleBaudRate, 19200u);
    EXPECT_EQ(board.board().tty().speed(), 9600u);
}

}  // namespace
