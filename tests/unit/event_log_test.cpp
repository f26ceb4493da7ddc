// The persistent event log: what startup makes of "log2.bin" as it finds
// it, how entries are recorded into the table and the file, and the text
// the renderer writes into "asciilog.bin".
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/boot_texts.h"
#include "support/event_log_files.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/xmodem_peer.h"

namespace {

using namespace swboot;
using namespace testing_support::eventlog;
using testing_support::TestBoard;

constexpr uint32_t TASK = 0x00FFE000;          // the loader's task on the simulated board
constexpr uint32_t CALENDAR_START = 1167609600;  // the test board's clock at power-on

const std::string HEADER = "                                                  Time\r\n"
                           "         File   Line  TaskID    Code           d  h  m  s\r\n";

std::string padTo1024(std::string text) {
    text.append((1024 - text.size() % 1024) % 1024, ' ');
    return text;
}

class EventLogTest : public testing_support::OnBoardTest {
protected:
    void init(int level = LOG_INIT_LEVEL) {
        loader->eventLog.log_init(LOG_SIZE_BYTES, LOG_INIT_FIRST, level, LOG_INIT_FURTHER_1, LOG_INIT_FURTHER_2);
    }
    std::vector<uint8_t> logFile() { return board.readFile("log2.bin"); }
    std::string rendered() {
        EXPECT_EQ(loader->eventLog.log_render_file(), 0);
        return board.readText("asciilog.bin");
    }
};

TEST_F(EventLogTest, AMissingFileIsCreatedErasedAndRendersAsOneMessagePadded) {
    init();
    EXPECT_EQ(logFile(), erasedLog());
    EXPECT_EQ(loader->eventLog.next(), 0u);
    EXPECT_EQ(loader->eventLog.entries(), 5041u);
    EXPECT_EQ(loader.takeOutput(), "");
    EXPECT_EQ(rendered(), "\r\nMessage Log Empty" + std::string(1005, ' '));
}

TEST_F(EventLogTest, InconsistentFilesAreErasedAtStartup) {
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    std::vector<uint8_t> holed = logWithEvents(10);
    std::fill(holed.begin() + 5 * ENTRY, holed.begin() + 6 * ENTRY, 0xFF);
    std::vector<uint8_t> full = logWithEvents(ENTRIES);
    std::vector<uint8_t> shortFile = logWithEvents(10);
    shortFile.resize(FILE_BYTES - ENTRY);  // the last entry is missing: it counts as used
    std::vector<uint8_t> cutEntry = erasedLog();
    cutEntry.resize(FILE_BYTES - 1);
    for (const Case& c : {Case{"empty entry 5, used entry 6", holed}, Case{"all 5041 used", full},
                          Case{"one entry short", shortFile}, Case{"last entry cut", cutEntry},
                          Case{"empty file", {}}}) {
        SCOPED_TRACE(c.what);
        board.writeFile("log2.bin", c.file);
        init();
        EXPECT_EQ(logFile(), erasedLog());
        EXPECT_EQ(loader->eventLog.next(), 0u);
    }
}

TEST_F(EventLogTest, EntriesCarryTypeNameLineTaskCodeAndTime) {
    init();
    board.clock().advance(int64_t(90061) * 1000000);
    loader->eventLog.log_event("a_source_file_name_of_forty_chars.cpp", -17, 0xDEADBEEF);
    loader->eventLog.log_event_unchecked("abc", 2000000000, 7);
    // The name cut to 32 characters, or padded with blanks.
    std::vector<uint8_t> expected = erasedLog();
    putEvent(expected, 0, 1, "a_source_file_name_of_forty_char", -17, TASK, 0xDEADBEEF, CALENDAR_START + 90061);
    putEvent(expected, 1, 1, "abc", 2000000000, TASK, 7, CALENDAR_START + 90061);
    EXPECT_EQ(logFile(), expected);
    EXPECT_EQ(loader->eventLog.next(), 2u);
}

TEST_F(EventLogTest, AFullLogRendersEachEntryOnceSkipsAnErrorEntryAndIsErasedByTheNextEvent) {
    board.writeFile("log2.bin", logWithEvents(ENTRIES - 1));
    init();
    ASSERT_EQ(loader->eventLog.next(), ENTRIES - 1);
    loader->eventLog.log_event("last.c", 1, 1);
    EXPECT_EQ(loader->eventLog.next(), ENTRIES);
    EXPECT_EQ(getBe32(logFile().data() + (ENTRIES - 1) * ENTRY), 1u);
    std::string text = rendered();
    EXPECT_EQ(testing_support::countOf(text, "EVENT> "), ENTRIES);
    EXPECT_EQ(text.find("EVENT> last.c"), HEADER.size());
    EXPECT_EQ(text.size() % 1024, 0u);
    // An error entry with code 0 still resets the board, but skips the full log.
    const std::vector<uint8_t> full = logFile();
    EXPECT_EQ(loader.run([&] { loader->eventLog.log_fatal_error("fatal.c", 34, 0); }), "reset: CPLD reset request");
    EXPECT_EQ(logFile(), full);
    loader->eventLog.log_event("first.c", 2, 2);
    std::vector<uint8_t> expected = erasedLog();
    putEvent(expected, 0, 1, "first.c", 2, TASK, 2, CALENDAR_START);
    EXPECT_EQ(logFile(), expected);
    EXPECT_EQ(loader->eventLog.next(), 1u);
}

TEST_F(EventLogTest, LevelSixLeavesTheFileAloneAndRecordsAndRendersNothing) {
    std::vector<uint8_t> holed = logWithEvents(10);
    std::fill(holed.begin() + 5 * ENTRY, holed.begin() + 6 * ENTRY, 0xFF);
    board.writeFile("log2.bin", holed);
    init(LOG_LEVEL_OFF);
    loader->eventLog.log_event("x.c", 1, 1);
    EXPECT_EQ(logFile(), holed);
    char text[LOG_RENDER_TEXT_SIZE] = {};
    EXPECT_EQ(loader->eventLog.log_render_entry(nullptr, -1, text), -1);
    EXPECT_EQ(rendered().substr(0, 20), "\r\nMessage Log Empty ");
}

TEST_F(EventLogTest, WithoutMemoryForTheTableTheLogIsInert) {
    board.board().heap().setAllocationLimit(1000);
    board.writeFile("log2.bin", logWithEvents(3));
    init();
    EXPECT_EQ(loader.takeOutput(), "Cannot malloc enough memory to create log!\n");
    loader->eventLog.log_event("x.c", 1, 1);
    EXPECT_EQ(logFile(), logWithEvents(3));
    EXPECT_EQ(rendered().substr(0, 20), "\r\nMessage Log Empty ");
}

TEST_F(EventLogTest, AFileThatCannotBeCreatedIsReportedAndTheLogRunsInMemory) {
    std::filesystem::create_directory(board.filePath("log2.bin"));
    init();
    EXPECT_EQ(loader.takeOutput(),
              "Could not create log2.bin in file system on DiskOnChip\n\nDiskOnChip may be corrupted\n\n");
    loader->eventLog.log_event("kept.c", 5, 9);
    EXPECT_EQ(loader->eventLog.next(), 1u);
    EXPECT_NE(rendered().find("EVENT> kept.c"), std::string::npos);
}

TEST_F(EventLogTest, AnErrorEntryWithCodeZeroIsRecordedAndResetsTheBoard) {
    board.writeFile("log2.bin", logWithEvents(3));
    init();
    EXPECT_EQ(loader.run([&] { loader->eventLog.log_fatal_error("fatal.c", 33, 0); }), "reset: CPLD reset request");
    std::vector<uint8_t> expected = logWithEvents(3);
    putEvent(expected, 3, 2, "fatal.c", 33, TASK, 0, CALENDAR_START);
    EXPECT_EQ(logFile(), expected);
}

TEST_F(EventLogTest, EventsRenderNewestFirstWithTheTimeSplit) {
    std::vector<uint8_t> log = erasedLog();
    putEvent(log, 0, 1, "boot_menu.cpp", 12, 0x00FFE000, 0x1, 59);
    putEvent(log, 1, 2, "a_source_file_name_of_exactly_32", -5, 0xABC, 0xFFFFFFFF, 90061);
    putEvent(log, 2, 1, "x", 123456, 0x12345678, 0x0, 4294967295u);
    board.writeFile("log2.bin", log);
    init();
    const std::string text = rendered();
    EXPECT_EQ(text, padTo1024(HEADER +
                              "EVENT> x                                123456 12345678 00000000      49710  6 28 15\r\n"
                              "ERROR> a_source_file_name_of_exactly_32   -5 00000ABC FFFFFFFF         1  1  1  1\r\n"
                              "EVENT> boot_menu.cpp                      12 00FFE000 00000001         0  0  0 59\r\n"));
}

TEST_F(EventLogTest, ExceptionAndCorruptEntriesRenderAndDoNotStopTheWalk) {
    std::vector<uint8_t> log = erasedLog();
    putWords(log, 0, {3, 0x0FF01234, 0x00029000, 0x00021000, 0x00800000, 0xE0000000, 86399});
    putWords(log, 1, {4, 1, 2, 3, 4, 5, 0});
    putWords(log, 2, {5, 0x11111111, 0x22222222, 0x33333333, 0x44444444, 0x55555555, 0x66666666, 0x77});
    putWords(log, 3, {0x300, 0xA, 0xB, 0xC, 0xD, 0xE, 3600});
    putWords(log, 4, {0x1100, 0, 0, 0, 0, 0, 60});
    board.writeFile("log2.bin", log);
    init();
    EXPECT_EQ(rendered(),
              padTo1024(HEADER +
                        "Exc 0x1100    > srr0:00000000 srr1: 00000000 msr:00000000 dsisr:00000000 dar:00000000     0  0  1  0\r\n"
                        "Exc 0x0300    > srr0:0000000A srr1: 0000000B msr:0000000C dsisr:0000000D dar:0000000E     0  1  0  0\r\n"
                        "CORRUPT ENTRY >>>>>>>00000005 11111111 22222222 33333333 44444444 55555555\r\n"
                        "Watchdog      > srr0:00000001 srr1: 00000002 msr:00000003 dsisr:00000004 dar:00000005     0  0  0  0\r\n"
                        "Machine Check > srr0:0FF01234 srr1: 00029000 msr:00021000 dsisr:00800000 dar:E0000000     0 23 59 59\r\n"));
}

// A table the loader did not check (a caller's own, or one changed behind
// the check) may be full or hold anything: the walk still ends after N
// lines and every line stays within its text.
TEST_F(EventLogTest, TheWalkStopsAfterTheTablesEntriesWhateverItHolds) {
    init();
    std::vector<uint8_t> bytes(7 * ENTRY);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 37 + 1);  // corrupt types, names without a 0 byte
    }
    putEvent(bytes, 2, 1, std::string(32, '\0'), 1, 1, 1, 1);
    LogTable table{bytes.data(), 7};
    char text[LOG_RENDER_TEXT_SIZE];
    long entry = -1;
    int lines = 0;
    for (int i = 0; i < 20; ++i) {
        std::fill(std::begin(text), std::end(text), 'x');
        entry = loader->eventLog.log_render_entry(&table, entry, text);
        ASSERT_LT(strnlen(text, sizeof text), sizeof text);
        if (i == 4) {
            EXPECT_EQ(std::string(text).substr(0, 40), "EVENT> " + std::string(32, ' ') + " ");
        }
        ++lines;
        if (entry < 0) {
            break;
        }
        EXPECT_LT(entry, 7);
    }
    EXPECT_EQ(lines, 20) << "a table without an empty entry wraps round";

    struct TableRenderer : LogEntryRenderer {
        EventLog& log;
        LogTable table;
        TableRenderer(EventLog& l, LogTable t) : log(l), table(t) {}
        long renderEntry(long entry, char* text) override { return log.log_render_entry(&table, entry, text); }
    } renderer(loader->eventLog, table);
    struct Counter : LogWriter {
        std::string text;
        bool write(const char* data, size_t length) override {
            text.append(data, length);
            return true;
        }
    } out;
    long written = logRenderedTextWrite(renderer, 7, out);
    EXPECT_EQ(written, static_cast<long>(out.text.size()));
    EXPECT_EQ(testing_support::countOf(out.text, "\r\n"), 2u + 7u);
}

// The renderer reads each entry under the flash access lock: it gives the
// lock back after every entry, and waits for it while another holds it
// (the test board's only task would wait forever, which it reports).
TEST_F(EventLogTest, RenderingTakesTheFlashAccessLockForEachEntry) {
    board.writeFile("log2.bin", logWithEvents(2));
    init();
    char text[LOG_RENDER_TEXT_SIZE] = {};
    EXPECT_EQ(loader->eventLog.log_render_entry(nullptr, -1, text), 0);
    EXPECT_EQ(loader->eventLog.log_render_entry(nullptr, 0, text), long(ENTRIES) - 1);
    EXPECT_EQ(loader.run([&] { loader->flash.flashAccessTake(); }), "");
    EXPECT_EQ(loader.run([&] { loader->eventLog.log_render_entry(nullptr, 1, text); }),
              "power off: semaphore taken twice by the only task");
}

TEST_F(EventLogTest, ARenderingThatCannotBeWrittenFails) {
    init();
    std::filesystem::create_directory(board.filePath("asciilog.bin"));
    EXPECT_EQ(loader->eventLog.log_render_file(), 1);
    loader->eventLog.log_retrieve();
    EXPECT_EQ(loader.takeOutput(), "ERROR: Event Log conversion failed. XMODEM transfer failed.\n");
}

TEST_F(EventLogTest, RetrievalSendsTheRenderedLogAndDeletesIt) {
    board.writeFile("log2.bin", logWithEvents(40));
    init();
    std::string text = rendered();
    ASSERT_EQ(text.size(), 4096u);
    testing_support::XmodemReceiverPeer peer(board.line(), testing_support::XmodemReceiverPeer::Request::Crc1K);
    peer.start(board.clock().nowMicros() + 1000000);
    loader->eventLog.log_retrieve();
    ASSERT_EQ(peer.files().size(), 1u);
    EXPECT_EQ(std::string(peer.files()[0].data.begin(), peer.files()[0].data.end()), text);
    for (const auto& block : peer.blocks()) {
        EXPECT_EQ(block.data.size(), 1024u);
    }
    EXPECT_FALSE(board.fileExists("asciilog.bin"));
    std::string said = loader.takeOutput();
    EXPECT_EQ(said.substr(said.size() - 23), "Event log transmitted.\n");
}

TEST(EventLogBoot, StartupMakesTheEventLogAndOptionThreeReportsAFailedTransfer) {
    TestBoard board;
    board.formatVolume();
    board.type("3");
    EXPECT_EQ(board.run(), 0);
    EXPECT_EQ(board.readFile("log2.bin"), erasedLog());
    EXPECT_FALSE(board.fileExists("asciilog.bin"));
    std::string text = testing_support::plainText(board.output());
    size_t announced = text.find(testing_support::boot::PROMPT + "3\nSending event log, start XMODEM receive.....\n");
    ASSERT_NE(announced, std::string::npos) << text;
    EXPECT_NE(text.find("ERROR: XMODEM transfer failed.\n" + testing_support::boot::PROMPT, announced),
              std::string::npos)
        << text;
}

}  // namespace
