// The xmodem command itself: arguments, usage and fatal errors, the console
// modes and line speed, and the small reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "string_sink.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/test_images.h"
#include "support/xmodem_peer.h"
#include "transfer/xmodem.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

using namespace testing_support;
using swboot::OPT_TERMINAL;
using swboot::tool::StringSink;

const std::string USAGE =
    "Usage:  \txmodem  -[rb!rt!ra!sb!st!sa][options] filename... 0\n\r"
    "Major Commands --"
    "\n\r\trb <-- Receive Binary"
    "\n\r\trt <-- Receive Text"
    "\n\r\tra <-- Receive Apple macintosh text"
    "\n\r\tsb <-- Send Binary"
    "\n\r\tst <-- Send Text"
    "\n\r\tsa <-- Send Apple macintosh text"
    "\n\rOptions --"
    "\n\r\ty  <-- Use YMODEM Batch Mode on transmit"
    "\n\r\tg  <-- Select YMODEM-G Mode on receive"
    "\n\r\tm  <-- Use MODEM7 Batch Mode on transmit"
    "\n\r\tk  <-- Use 1K packets on transmit"
    "\n\r\tc  <-- Select CRC mode on receive"
    "\n\r\tt  <-- Indicate a TOO BUSY Unix system"
    "\n\r\td  <-- Delete xmodem.log file before starting"
    "\n\r\tl  <-- (ell) Turn OFF Log File Entries"
    "\n\r\tx  <-- Include copious debugging information in log file"
    "\n\r\tp  <-- Use with SunOS tip ~C command"
    "\n\r\tw  <-- Wait before initial handshake"
    "\n\r\te  <-- Supress EOT confirmation"
    "\n\r\tn  <-- Allow mid-transfer CAN-CAN aborts"
    "\n\r";

// Calls back when the board first sends once the transfer runs.
class OnFirstByte : public LinePeer {
public:
    OnFirstByte(TestBoard& board, std::function<void()> then) : LinePeer(board.line(), false), then_(std::move(then)) {}

protected:
    void onByte(uint8_t) override {
        if (heard().size() == 1) {
            then_();
        }
    }

private:
    std::function<void()> then_;
};

class XmodemCommandTest : public testing_support::OnBoardTest {
protected:
    uint32_t consoleOptions() { return board.board().tty().optionsGet(); }
};

// The usage, strings refused whole, the fatal errors of the letters in
// their order and files that cannot be sent; the console is left as it was
// (at the limits the string gets as far as the checks of the letters).
TEST_F(XmodemCommandTest, UsageAndArgumentErrorsComeInTheirOrderAndLeaveTheConsoleAlone) {
    board.writeFile("empty.bin", std::string());
    auto words = [](const char* first, const char* stem, int count) {
        std::string text = first;
        for (int i = 2; i <= count; ++i) {
            text += " " + std::string(stem) + std::to_string(i);
        }
        return text;
    };
    auto fatal = [](const char* message) { return std::string("\r\nXMODEM Fatal Error") + message + "\n\r"; };
    const std::string both = fatal("- Both Send and Receive Functions Specified");
    const std::string batches = fatal(" - Both YMODEM and MODEM7 Batch Protocols Specified");
    const std::string neither = fatal(" - Either Send or Receive Function must be chosen!");
    const std::string noFile = fatal(" - No file specified to send");
    const std::pair<std::string, std::string> cases[] = {
        {"", USAGE},
        {"     ", USAGE},
        {"rb " + std::string(77, 'n'), "ERROR: xmodem argument string of 80 characters refused (at most 79).\n"},
        {words("rb", "f", 19), "ERROR: xmodem argument string of 19 words refused (at most 18).\n"},
        {std::string(79, 'b'), neither},
        {words("b", "w", 18), neither},
        {"rs", both},
        {"-rsmg x", both},
        {"mg", batches},
        {"rmy", batches},
        {"b", neither},
        {"mb", neither},
        {"sb", noFile},
        {"-sby", noFile},
        {"sb missing.bin", "\r\nCan't find requested file\n\r"},
        {"sb empty.bin", "\r\nRequested file size is 0\n\r"},
    };
    for (const auto& [arguments, message] : cases) {
        board.line().clearOutput();
        EXPECT_EQ(xmodem(arguments), -1) << '"' << arguments << '"';
        EXPECT_EQ(board.output(), cookedText(message)) << '"' << arguments << '"';
        EXPECT_EQ(consoleOptions(), OPT_TERMINAL) << '"' << arguments << '"';
        EXPECT_EQ(board.board().tasks().terminationHandler(), nullptr) << '"' << arguments << '"';
    }
}

TEST_F(XmodemCommandTest, UnknownLettersAreReportedAndIgnored) {
    // "a" (Apple text) is not a letter of this system: reported, and the
    // receive goes on in text mode. The sender never answers.
    EXPECT_EQ(xmodem("ra notes.txt"), -1);
    EXPECT_THAT(board.output(), StartsWith(cookedText("Invalid Flag a ignored\n\r")));
    EXPECT_THAT(board.output(), HasSubstr(cookedText("Ready to RECEIVE File notes.txt in text mode\n\r")));

    board.line().clearOutput();
    EXPECT_EQ(xmodem("-RBzQ x"), -1);
    EXPECT_THAT(board.output(), HasSubstr(cookedText("Invalid Flag z ignored\n\rInvalid Flag Q ignored\n\r")));
    EXPECT_THAT(board.output(), HasSubstr(cookedText("Ready to RECEIVE File x in binary mode\n\r")));
}

TEST_F(XmodemCommandTest, OptionLettersSetTheirSettings) {
    EXPECT_EQ(xmodem("-cbrkenpwxxltd x"), -1);
    const swboot::XmodemSettings& s = loader->xmodem.settings();
    EXPECT_TRUE(s.crc && s.oneK && s.acceptFirstEot && s.cancan && s.tip && s.wait);
    EXPECT_EQ(s.debugLevel, 2);
    EXPECT_FALSE(s.log);
    EXPECT_FALSE(s.ymodem || s.ymodemG || s.modem7 || s.batch || s.send);

    // g brings YMODEM, CAN-CAN aborts and CRC along; settings start afresh.
    EXPECT_EQ(xmodem("rg x"), -1);
    const swboot::XmodemSettings& g = loader->xmodem.settings();
    EXPECT_TRUE(g.ymodemG && g.ymodem && g.cancan && g.crc);
    EXPECT_FALSE(g.oneK || g.tip || g.wait || g.acceptFirstEot);
    EXPECT_EQ(g.mode, 't');
}

TEST_F(XmodemCommandTest, ReceiveWithoutNameAsksForCrcAndWritesXmodemIn) {
    std::vector<uint8_t> data = patternBytes(200);
    XmodemSenderPeer peer(board.line(), XmodemSenderPeer::Protocol::Xmodem, {PeerFile{"", data, ""}});
    EXPECT_EQ(xmodem("rb"), 0);
    EXPECT_EQ(peer.heard().front(), 'C');
    EXPECT_EQ(board.readFile("xmodem.in"), padded(data, 256, PEER_SUB));
    EXPECT_EQ(board.output().find(cookedText("Ready for xbatch RECEIVE in binary mode\n\r"
                                             "Send several Control-X characters to cancel before transfer starts.\n\r")),
              0u)
        << board.output();
}

TEST_F(XmodemCommandTest, ExistingTargetIsAnnouncedAsOverwritten) {
    board.writeFile("old.bin", "old");
    XmodemSenderPeer peer(board.line(), XmodemSenderPeer::Protocol::Xmodem, {PeerFile{"", {1, 2, 3}, ""}});
    EXPECT_EQ(xmodem("rbe old.bin"), 0);
    EXPECT_EQ(board.output().find(cookedText("Warning -- Target File Exists and is Being Overwritten\n\r"
                                             "Ready to RECEIVE File old.bin in binary mode\n\r")),
              0u);
    EXPECT_EQ(board.readFile("old.bin").size(), 128u);
}

TEST_F(XmodemCommandTest, TransferRunsRawWithTheMonitorTrapOffAndGivesTheConsoleBack) {
    uint32_t optionsSeen = 0;
    swboot::TerminationHandler* handlerSeen = nullptr;
    OnFirstByte watcher(board, [&] {
        optionsSeen = consoleOptions();
        handlerSeen = board.board().tasks().terminationHandler();
    });
    EXPECT_EQ(xmodem("rbc x"), -1);  // nobody sends
    EXPECT_EQ(optionsSeen, swboot::OPT_RAW);
    EXPECT_EQ(handlerSeen, &loader->xmodem);
    EXPECT_EQ(consoleOptions(), OPT_TERMINAL);
    EXPECT_EQ(board.board().tasks().terminationHandler(), nullptr);
}

TEST_F(XmodemCommandTest, SavedOptionsAreRestoredAsTheyWere) {
    const uint32_t custom = swboot::OPT_ECHO | swboot::OPT_CRMOD | swboot::OPT_MON_TRAP;
    board.board().tty().optionsSet(custom);
    EXPECT_EQ(xmodem("mb"), -1);  // a fatal error after the monitor trap went off
    EXPECT_EQ(consoleOptions(), custom);
}

TEST_F(XmodemCommandTest, TerminationSignalReportsAndRestoresTheConsole) {
    OnFirstByte watcher(board, [this] { board.board().requestTermination(); });
    std::string ended = loader.run([this] { xmodem("-cbrke x"); });
    EXPECT_EQ(ended.rfind("power off", 0), 0u) << ended;
    EXPECT_THAT(board.output(), HasSubstr(cookedText("\r\nKill signal; bailing out\n\r")));
    EXPECT_EQ(consoleOptions(), OPT_TERMINAL);
    EXPECT_EQ(board.board().tasks().terminationHandler(), nullptr);
}

TEST_F(XmodemCommandTest, LineSpeedComesFromTheDriverOrIsTakenAs9600AndTheWaitOptionAddsFifteenSeconds) {
    // The pause before raw mode is 2048000 / speed milliseconds, so the
    // first request shows which speed the command went by.
    struct Case {
        bool queryFails;
        uint32_t reported;
        uint32_t expected;
        const char* arguments;
        int64_t waitSeconds;
    };
    for (Case c : {Case{false, 0, 9600, "-cbrke x", 0}, Case{true, 0, 9600, "-cbrke x", 0},
                   Case{false, 115200, 115200, "-cbrke x", 0}, Case{false, 0, 9600, "-cbrkew x", 15}}) {
        TestBoard fresh;
        LoaderOnBoard freshLoader(fresh);
        fresh.board().tty().setSpeedQueryFault(c.queryFails, c.reported);
        ScriptPeer watcher(fresh.line(), {});
        EXPECT_EQ(freshLoader->xmodem.xmodem(c.arguments), -1);
        EXPECT_EQ(freshLoader->consoleBaudRate, c.expected);
        ASSERT_FALSE(watcher.heardAt().empty());
        // The pause, then a second of quiet line before the request.
        EXPECT_EQ(watcher.heardAt().front(),
                  (c.waitSeconds + 1) * MICROS_PER_SECOND + static_cast<int64_t>(2048000 / c.expected) * 1000);
    }
}

TEST(XmodemReportTest, SectorLabelsEstimatesAndRates) {
    auto label = [](int sector, int size, bool afterBlock) {
        char text[48];
        swboot::xmodemSectorLabel(text, sizeof text, sector, size, afterBlock);
        return std::string(text);
    };
    EXPECT_EQ(label(16, 1024, true), "17-24");
    EXPECT_EQ(label(16, 128, true), "17");
    EXPECT_EQ(label(24, 1024, false), "17-24");
    EXPECT_EQ(label(0, 1024, false), "0");

    // What a report routine printed for the two numbers.
    auto printed = [](auto report, long first, long second) {
        StringSink sink;
        report(first, second, sink);
        return sink.text();
    };
    const auto estimate = swboot::xmodemEstimatedTime;
    const auto rate = swboot::xmodemTransferRate;
    // 24700 * 1422 / 9600 + 1 = 3659 s: singular units get a blank for the
    // "s", and whole days are dropped.
    EXPECT_EQ(printed(estimate, 24700, 9600), "Estimated transmission time 1 hour  59 seconds \n\r");
    EXPECT_EQ(printed(estimate, 1, 1200), "Estimated transmission time 2 seconds \n\r");
    EXPECT_EQ(printed(estimate, 0, 9600), "");
    EXPECT_EQ(printed(rate, 0, 0), "");
    EXPECT_EQ(printed(rate, 10, 0), "10 Sectors Transfered in 0 seconds\n\r");
    EXPECT_EQ(printed(rate, 100, 61),
              "100 Sectors Transfered in 1 minute  1 second  \n\rTransfer Rate = 209 Characters per Second\n\r");
    EXPECT_EQ(printed(rate, 5, -3), "5 Sectors Transfered in 0 seconds\n\r");
}

}  // namespace
