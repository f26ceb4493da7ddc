// The text log: slots of the startup and operation logs, the rotation over
// three boots, and the collected file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using namespace swboot;
using testing_support::TestBoard;

constexpr size_t SLOT = 592;

// A slot as it is stored: the line, CR, LF, 0 and zeros to 592 bytes.
std::string slot(const std::string& line) {
    std::string s = line + "\r\n";
    s.resize(SLOT, '\0');
    return s;
}

class TextLogTest : public testing_support::OnBoardTest {
protected:
    TextLog& log() { return loader->textLog; }
    std::string file(const std::string& name) { return board.readText(name); }
    void store(const std::string& text) { EXPECT_EQ(log().log_text_store(text.c_str(), text.size()), 0); }
};

TEST_F(TextLogTest, NothingIsStoredBeforeTheRotationOrForAnEmptyText) {
    EXPECT_EQ(log().log_text_store("<1> early", 9), 2);
    EXPECT_EQ(log().log_text_line(1, 6, "x.c", 1, "early"), 2);
    EXPECT_FALSE(board.fileExists("slog0.txt"));
    ASSERT_EQ(log().log_text_rotate(), 0);
    EXPECT_EQ(log().log_text_store("", 0), 2);
    EXPECT_EQ(log().log_text_store("<1> x", 0), 2);
    EXPECT_EQ(log().log_text_seq(), 0u);
    EXPECT_EQ(file("slog0.txt"), "");
    EXPECT_EQ(file("olog0.txt"), "");
}

TEST_F(TextLogTest, ALineCarriesPriorityTimeTaskSourceAndSequence) {
    ASSERT_EQ(log().log_text_rotate(), 0);
    board.clock().advance(int64_t(3 * 86400 + 3723) * 1000000);  // 2007-01-04 01:02:03
    EXPECT_EQ(log().log_text_line(23, 4, "boot_menu.cpp", 321, "fan 2 stopped"), 0);
    EXPECT_EQ(log().log_text_line(0, 0, "a.c", -1, ""), 0);
    EXPECT_EQ(file("slog0.txt"), slot("<188> Jan  4 01:02:03 STK1 BOOT[0xffe000]: boot_menu.cpp(321) 0 %% fan 2 stopped") +
                                     slot("<0> Jan  4 01:02:03 STK1 BOOT[0xffe000]: a.c(-1) 1 %% "));
}

TEST_F(TextLogTest, The33rdLineGoesToTheOperationLogAndThe65thOverwritesIt) {
    ASSERT_EQ(log().log_text_rotate(), 0);
    for (int i = 0; i < 65; ++i) {
        store("<" + std::to_string(i) + ">");
    }
    std::string startup = file("slog0.txt");
    ASSERT_EQ(startup.size(), 32 * SLOT);
    EXPECT_EQ(startup.substr(0, SLOT), slot("<0>"));
    EXPECT_EQ(startup.substr(31 * SLOT), slot("<31>"));
    std::string operation = file("olog0.txt");
    ASSERT_EQ(operation.size(), 32 * SLOT);
    EXPECT_EQ(operation.substr(0, SLOT), slot("<64>"));
    EXPECT_EQ(operation.substr(SLOT, SLOT), slot("<33>"));
    EXPECT_EQ(operation.substr(31 * SLOT), slot("<63>"));
    uint32_t number = 0;
    EXPECT_EQ(log().log_text_seq_get(&number), 0);
    EXPECT_EQ(number, 65u);
    EXPECT_EQ(log().log_text_seq_get(nullptr), 2);
    log().log_text_seq_reset();
    store("<again>");
    EXPECT_EQ(file("slog0.txt").substr(0, SLOT), slot("<again>"));
}

TEST_F(TextLogTest, ALongLineIsCutTo589CharactersAndTheNextSlotStaysIntact) {
    ASSERT_EQ(log().log_text_rotate(), 0);
    store("<first>");
    store("<second>");
    log().log_text_seq_reset();
    std::string long590 = "<" + std::string(589, 'x');
    store(long590);
    std::string startup = file("slog0.txt");
    EXPECT_EQ(startup.substr(0, SLOT), long590.substr(0, 589) + "\r\n" + std::string(1, '\0'));
    EXPECT_EQ(startup.substr(SLOT, SLOT), slot("<second>"));
    // A length that claims more than the text holds reads no further.
    const char shortText[] = "<short>";
    EXPECT_EQ(log().log_text_store(shortText, 500), 0);
    EXPECT_EQ(file("slog0.txt").substr(SLOT, SLOT), slot("<short>"));
}

TEST_F(TextLogTest, RotationShiftsTheGenerationsOncePerBoot) {
    board.writeFile("slog0.txt", "s0");
    board.writeFile("olog0.txt", "o0");
    board.writeFile("slog1.txt", "s1");
    board.writeFile("slog2.txt", "s2");
    board.writeFile("olog2.txt", "o2");
    ASSERT_EQ(log().log_text_rotate(), 0);
    EXPECT_EQ(file("slog0.txt"), "");
    EXPECT_EQ(file("olog0.txt"), "");
    EXPECT_EQ(file("slog1.txt"), "s0");
    EXPECT_EQ(file("olog1.txt"), "o0");
    EXPECT_EQ(file("slog2.txt"), "s1");
    EXPECT_FALSE(board.fileExists("olog2.txt"));
    store("<a line>");
    ASSERT_EQ(log().log_text_rotate(), 0);
    EXPECT_EQ(file("slog0.txt"), slot("<a line>"));
    EXPECT_EQ(file("slog1.txt"), "s0");
    EXPECT_EQ(file("slog2.txt"), "s1");
}

TEST_F(TextLogTest, ARotationThatCannotCreateItsFilesSaysSo) {
    // Directories that cannot be removed or replaced stand where the
    // startup log of every generation would be.
    for (const char* name : {"slog0.txt", "slog1.txt", "slog2.txt"}) {
        std::filesystem::create_directory(board.filePath(name));
        board.writeFile(std::string(name) + "/keep", "x");
    }
    EXPECT_EQ(log().log_text_rotate(), 2);
}

TEST_F(TextLogTest, CollectingWritesTheGenerationsOldestFirst) {
    std::string s2 = slot("<2> old") + std::string(SLOT, '\0') + slot("<2> older slot 2");
    board.writeFile("slog2.txt", s2);
    board.writeFile("olog1.txt", slot("<1> op") + "<1> a partial slot without its end");
    board.writeFile("slog0.txt", slot("<0> now") + slot("not a line") + slot("<0> next"));
    EXPECT_EQ(log().log_text_collect("collected.txt"), 0);
    EXPECT_EQ(file("collected.txt"),
              "- Startup Log N-2 - slog2.txt\r\n<2> old\r\n<2> older slot 2\r\n\r\n\r\n"
              "- Operation Log N-2 - olog2.txt\r\n\r\n\r\n"
              "- Startup Log N-1 - slog1.txt\r\n\r\n\r\n"
              "- Operation Log N-1 - olog1.txt\r\n<1> op\r\n<1> a partial slot without its end\r\n\r\n"
              "- Startup Log N-0 - slog0.txt\r\n<0> now\r\n<0> next\r\n\r\n\r\n"
              "- Operation Log N-0 - olog0.txt\r\n\r\n\r\n");
    std::filesystem::create_directory(board.filePath("out"));
    EXPECT_EQ(log().log_text_collect("out"), 2);
}

TEST(TextLogBoots, EachBootShiftsTheGenerationsByOne) {
    TestBoard board;
    board.formatVolume();
    board.writeFile("slog0.txt", slot("<s1>"));
    board.writeFile("olog0.txt", slot("<o1>"));
    ASSERT_EQ(board.run(), 0);
    EXPECT_EQ(board.readText("slog0.txt"), "");
    EXPECT_EQ(board.readText("olog0.txt"), "");
    EXPECT_EQ(board.readText("slog1.txt"), slot("<s1>"));
    EXPECT_EQ(board.readText("olog1.txt"), slot("<o1>"));
    EXPECT_FALSE(board.fileExists("slog2.txt"));
}

}  // namespace
