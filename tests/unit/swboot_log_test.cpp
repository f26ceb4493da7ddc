// swboot-log against the loader: what it shows, adds and collects from a
// board's log files, and the damaged files it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_tool.h"
#include "support/event_log_files.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using ::testing::HasSubstr;

using namespace swboot;
using namespace testing_support::eventlog;
using swboot::tool::LogAddEntry;

class SwbootLogTest : public testing_support::OnBoardTest {
protected:
    // The file with the entries added by the tool, one after the other.
    static std::vector<uint8_t> added(std::vector<uint8_t> file, const std::vector<LogAddEntry>& entries) {
        for (const LogAddEntry& entry : entries) {
            auto result = tool::logAdd(file, entry);
            EXPECT_TRUE(result) << result.error();
            file = *result;
        }
        return file;
    }
    // "asciilog.bin" as the loader renders it from the board's log2.bin.
    std::string boardRendering() {
        loader->eventLog.log_init(LOG_SIZE_BYTES, LOG_INIT_FIRST, LOG_INIT_LEVEL, LOG_INIT_FURTHER_1,
                                  LOG_INIT_FURTHER_2);
        EXPECT_EQ(loader->eventLog.log_render_file(), 0);
        return board.readText("asciilog.bin");
    }
};

LogAddEntry event(uint32_t type, const std::string& source, int32_t line, uint32_t code, uint32_t seconds) {
    return {.type = type, .source = source, .line = line, .task = 0x00FFE000, .code = code, .seconds = seconds};
}

LogAddEntry exception(uint32_t type, uint32_t srr0, uint32_t seconds) {
    return {.type = type, .registers = {srr0, 0x00029000, 0x00021000, 0x00800000, 0xE0000000}, .seconds = seconds};
}

TEST_F(SwbootLogTest, ShowPrintsWhatTheBoardRendersWithoutThePadding) {
    const std::vector<LogAddEntry> entries = {
        event(LOG_TYPE_EVENT, "boot_menu.cpp", 12, 1, 59),
        event(LOG_TYPE_ERROR, "a_source_file_name_of_forty_chars.cpp", -5, 0xFFFFFFFF, 90061),
        exception(LOG_TYPE_MACHINE_CHECK, 0x0FF01234, 86399),
        exception(LOG_TYPE_WATCHDOG, 1, 0),
        exception(LOG_TYPE_EXCEPTION_0300, 0xA, 3600),
        exception(LOG_TYPE_EXCEPTION_1100, 0, 60),
        event(LOG_TYPE_EVENT, "abc", 2000000000, 7, 1167609600),
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    for (const Case& c : {Case{"an empty log", erasedLog()}, Case{"every entry type", added({}, entries)},
                          Case{"a full log", logWithEvents(ENTRIES)}}) {
        SCOPED_TRACE(c.what);
        auto shown = tool::logShow(c.file);
        ASSERT_TRUE(shown) << shown.error();
        board.writeFile("log2.bin", c.file);
        std::string onBoard = boardRendering();
        if (c.file == logWithEvents(ENTRIES)) {
            // The board erases a full log at its start; the tool shows it
            // whole and says so.
            EXPECT_EQ(testing_support::countOf(shown->text, "EVENT> event.c"), ENTRIES);
            EXPECT_EQ(shown->warnings,
                      std::vector<std::string>{"all 5041 entries are used: the loader erases this log at its next start"});
            continue;
        }
        EXPECT_TRUE(shown->warnings.empty());
        ASSERT_EQ(onBoard.size() % 1024, 0u);
        EXPECT_EQ(shown->text + std::string(onBoard.size() - shown->text.size(), ' '), onBoard);
        EXPECT_LT(onBoard.size() - shown->text.size(), 1024u);
    }
}

TEST_F(SwbootLogTest, AddedEntriesReadBackThroughTheLoader) {
    std::vector<uint8_t> file = added({}, {event(LOG_TYPE_EVENT, "a_source_file_name_of_forty_chars.cpp", -17,
                                                 0xDEADBEEF, 5),
                                           exception(LOG_TYPE_EXCEPTION_1100, 0x1234, 6)});
    std::vector<uint8_t> expected = erasedLog();
    putEvent(expected, 0, 1, "a_source_file_name_of_forty_char", -17, 0x00FFE000, 0xDEADBEEF, 5);
    putWords(expected, 1, {0x1100, 0x1234, 0x00029000, 0x00021000, 0x00800000, 0xE0000000, 6, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(file, expected);
    board.writeFile("log2.bin", file);
    boardRendering();
    EXPECT_EQ(loader->eventLog.next(), 2u) << "the loader keeps the log and records after it";
}

TEST_F(SwbootLogTest, DamagedOrUnkeptLogsAreRefusedWithTheirReason) {
    std::vector<uint8_t> holed = logWithEvents(10);
    std::fill(holed.begin() + 5 * ENTRY, holed.begin() + 6 * ENTRY, 0xFF);
    std::vector<uint8_t> ragged = logWithEvents(3);
    ragged.pop_back();
    std::vector<uint8_t> oversized = erasedLog(ENTRIES + 1);
    std::vector<uint8_t> partial = logWithEvents(3);
    partial.resize(10 * ENTRY);
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        const char* showError;  // nullptr: shown, with `reason` as its warning
        const char* reason;     // why add refuses it
    };
    const Case cases[] = {
        {"one byte short", ragged, "262131 bytes is not a whole number of 52-byte entries", nullptr},
        {"one entry too many", oversized, "262184 bytes is more than an event log's 262132 bytes", nullptr},
        {"a hole", holed, nullptr, "entry 6 is used after the empty entry 5: the loader erases this log"},
        {"ten entries", partial, nullptr, "the file holds 10 of the 5041 entries: the loader erases this log"},
        {"full", logWithEvents(ENTRIES), nullptr, "all 5041 entries are used: the loader erases this log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto shown = tool::logShow(c.file);
        if (c.showError != nullptr) {
            ASSERT_FALSE(shown);
            EXPECT_EQ(shown.error().rfind(c.showError, 0), 0u) << shown.error();
        } else {
            ASSERT_TRUE(shown);
            ASSERT_EQ(shown->warnings.size(), 1u);
            EXPECT_EQ(shown->warnings[0].rfind(c.reason, 0), 0u) << shown->warnings[0];
        }
        auto result = tool::logAdd(c.file, event(LOG_TYPE_EVENT, "x.c", 1, 1, 1));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().rfind(c.reason != nullptr ? c.reason : c.showError, 0), 0u) << result.error();
    }
    EXPECT_EQ(tool::logShow({}).error(), "empty file: an event log holds 262132 bytes");
    EXPECT_FALSE(tool::logTypeParse("exception"));
    EXPECT_EQ(*tool::logTypeParse("exc-0300"), LOG_TYPE_EXCEPTION_0300);
}

// A holed file walks as the renderer walks any table: from the entry before
// the first empty one, backwards, wrapping to the end, up to N lines.
TEST_F(SwbootLogTest, ACorruptEntryMidWalkIsShownAndTheWalkGoesOn) {
    std::vector<uint8_t> file = logWithEvents(3);
    putWords(file, 1, {5, 1, 2, 3, 4, 5});
    auto shown = tool::logShow(file);
    ASSERT_TRUE(shown);
    EXPECT_NE(shown->text.find("EVENT> event.c                             2 00000100 00000002         0  0  2  0\r\n"
                               "CORRUPT ENTRY >>>>>>>00000005 00000001 00000002 00000003 00000004 00000005\r\n"
                               "EVENT> event.c                             0 "),
              std::string::npos)
        << shown->text;
}

TEST_F(SwbootLogTest, CollectPrintsTheVolumesTextLogsAsTheLoaderCollectsThem) {
    ASSERT_EQ(loader->textLog.log_text_rotate(), 0);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(loader->textLog.log_text_line(1, 6, "fan.c", i, ("line " + std::to_string(i)).c_str()), 0);
    }
    board.writeFile("slog2.txt", std::string("<2> a line without its slot's end"));
    std::filesystem::create_directory(board.filePath("olog2.txt"));  // cannot be read
    ASSERT_EQ(loader->textLog.log_text_collect("collected.txt"), 0);
    auto collected = tool::logCollect(board.filePath(""));
    ASSERT_TRUE(collected) << collected.error();
    // The board leaves a directory it cannot read out the same way.
    EXPECT_EQ(collected->text, board.readText("collected.txt"));
    ASSERT_EQ(collected->warnings.size(), 1u);
    EXPECT_THAT(collected->warnings[0], HasSubstr("olog2.txt: not a regular file, left out"));
    EXPECT_FALSE(tool::logCollect(board.filePath("slog0.txt")));
}

}  // namespace
