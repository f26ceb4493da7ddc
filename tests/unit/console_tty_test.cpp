// The simulated console driver: line mode, echo, carriage return handling,
// raw mode, the input flush, the option bits and the speeds, driven from a
// scripted line on virtual time.
#include <gtest/gtest.h>

#include <string>

#include "board/board_events.h"
#include "host/console_tty.h"
#include "host/scripted_line.h"
#include "host/sim_clock.h"
#include "platform/status.h"

namespace {

using namespace swboot;

class ConsoleTtyTest : public ::testing::Test {
protected:
    ConsoleTtyTest() { tty.powerUp(); }

    // Bytes that have arrived on the line (not typing that waits to be
    // asked for).
    void arrive(const std::string& bytes) { line.deliver(std::vector<uint8_t>(bytes.begin(), bytes.end())); }
    // One read of at most the given count.
    std::string readOnce(size_t length = 4096) {
        std::vector<uint8_t> buffer(length);
        long n = tty.read(buffer.data(), buffer.size());
        EXPECT_GE(n, 0);
        return std::string(buffer.begin(), buffer.begin() + (n > 0 ? n : 0));
    }
    bool readableNow() { return tty.waitReadable(0) == 1; }
    std::string sent() { return line.output(); }
    void send(const std::string& text) {
        tty.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    sim::VirtualClock clock;
    sim::ScriptedLine line{clock};
    sim::ConsoleTty tty{line, clock};
};

TEST_F(ConsoleTtyTest, LineModeDeliversWholeSevenBitLinesAndEchoes) {
    arrive("ab");
    EXPECT_FALSE(readableNow());  // no line end yet
    EXPECT_EQ(sent(), "ab");
    arrive("c\rde\r");
    EXPECT_TRUE(readableNow());
    EXPECT_EQ(readOnce(), "abc\n");  // one line per read, CR delivered as LF
    EXPECT_EQ(readOnce(), "de\n");
    EXPECT_FALSE(readableNow());
    EXPECT_EQ(sent(), "abc\r\nde\r\n");
    // The eighth bit is dropped, XON and XOFF are flow control.
    arrive("\xB1" "a\x11" "b\x13\r");
    EXPECT_EQ(readOnce(), "1ab\n");
    // Line feeds go out as CR LF.
    line.clearOutput();
    send("one\ntwo\n\n");
    EXPECT_EQ(sent(), "one\r\ntwo\r\n\r\n");
}

TEST_F(ConsoleTtyTest, AShortReadLeavesTheRestOfTheLineOrOfTheRawBytes) {
    arrive("hello\r");
    EXPECT_EQ(readOnce(3), "hel");
    EXPECT_TRUE(readableNow());
    EXPECT_EQ(readOnce(), "lo\n");
    EXPECT_FALSE(readableNow());
    tty.optionsSet(OPT_RAW);
    arrive("abc\nde");
    EXPECT_EQ(readOnce(2), "ab");
    EXPECT_EQ(readOnce(), "c\nde");  // a line end does not end a raw read
    EXPECT_FALSE(readableNow());
}

TEST_F(ConsoleTtyTest, TheLineBeingTypedIsLimited) {
    arrive(std::string(sim::ConsoleTty::EDIT_LINE_MAX + 100, 'a') + "\r");
    std::string all;
    while (all.empty() || all.back() != '\n') {
        all += readOnce();
    }
    EXPECT_EQ(all, std::string(sim::ConsoleTty::EDIT_LINE_MAX, 'a') + "\n");
    // What was dropped was not echoed either.
    EXPECT_EQ(sent(), std::string(sim::ConsoleTty::EDIT_LINE_MAX, 'a') + "\r\n");
}

TEST_F(ConsoleTtyTest, RawModePassesBytesUnchanged) {
    tty.optionsSet(OPT_RAW);
    const std::string bytes("\r\n\x18\x11\x13\xB1\x08z", 8);
    arrive(bytes);
    EXPECT_TRUE(readableNow());
    EXPECT_EQ(readOnce(), bytes);
    EXPECT_EQ(sent(), "");  // no echo
    send("x\ny");
    EXPECT_EQ(sent(), "x\ny");
}

TEST_F(ConsoleTtyTest, EachOptionAloneActsOnItsBytes) {
    // The same arrival under one option at a time: what the reader gets and
    // what goes back as echo.
    const std::string bytes("\xB1\r\x11z", 4);
    struct Case {
        uint32_t options;
        std::string read;
        std::string echoed;
    };
    const Case cases[] = {
        {OPT_ECHO, bytes, bytes},
        {OPT_CRMOD, std::string("\xB1\n\x11z", 4), ""},
        {OPT_TANDEM, std::string("\xB1\rz", 3), ""},
        {OPT_7_BIT, std::string("1\r\x11z", 4), ""},
        {OPT_ABORT, bytes, ""},
        {OPT_LINE, "", ""},  // no line end: nothing for the reader yet
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        tty.powerUp();
        tty.optionsSet(c.options);
        line.clearOutput();
        arrive(bytes);
        EXPECT_EQ(readableNow() ? readOnce() : "", c.read);
        EXPECT_EQ(sent(), c.echoed);
    }
    // Control-X resets only with the monitor trap.
    tty.powerUp();
    tty.optionsSet(OPT_MON_TRAP);
    arrive("\x18");
    EXPECT_THROW(tty.waitReadable(0), sim::BoardReset);
    tty.powerUp();
    arrive("\x18");
    EXPECT_THROW(tty.waitReadable(0), sim::BoardReset);
    tty.powerUp();
    tty.optionsSet(OPT_TERMINAL & ~OPT_MON_TRAP);
    arrive("\x18\r");
    EXPECT_EQ(readOnce(), "\x18\n");
}

// Leaving line mode hands over the part line. A transfer in raw mode
// leaves bytes behind; back in line mode each of their line ends still
// ends a line, and nothing is lost.
TEST_F(ConsoleTtyTest, ModeChangesKeepWhatArrived) {
    arrive("par");
    EXPECT_FALSE(readableNow());
    tty.optionsSet(OPT_RAW);
    EXPECT_TRUE(readableNow());
    EXPECT_EQ(readOnce(), "par");
    arrive("ab\ncd");
    EXPECT_TRUE(readableNow());
    tty.optionsSet(OPT_TERMINAL);
    EXPECT_TRUE(readableNow());
    EXPECT_EQ(readOnce(), "ab\n");
    EXPECT_FALSE(readableNow());
    arrive("ef\r");
    EXPECT_EQ(readOnce(), "cdef\n");
    EXPECT_FALSE(readableNow());
}

TEST_F(ConsoleTtyTest, FlushInputDropsQueuedAndPartLines) {
    arrive("old line\rpart");
    EXPECT_TRUE(readableNow());
    EXPECT_EQ(tty.flushInput(), OK);
    EXPECT_FALSE(readableNow());
    arrive("new\r");
    EXPECT_EQ(readOnce(), "new\n");
}

TEST_F(ConsoleTtyTest, WaitsTimeOutTypingWaitsForAReaderAndTheEndOfInputPowersOff) {
    const int64_t before = clock.nowMicros();
    EXPECT_EQ(tty.waitReadable(2000000), 0);
    EXPECT_EQ(clock.nowMicros() - before, 2000000);
    line.type("typed\r");
    // Time passing in a delay does not make the operator type.
    tty.idleUntil(clock.nowMicros() + 1000000);
    EXPECT_EQ(sent(), "");
    EXPECT_EQ(readOnce(), "typed\n");
    EXPECT_THROW(tty.waitReadable(-1), sim::BoardPowerOff);
}

TEST_F(ConsoleTtyTest, OnlyTheTableSpeedsAreAccepted) {
    EXPECT_EQ(tty.baudRateSet(14400), ERROR);
    EXPECT_EQ(tty.speed(), 9600u);
    for (const BaudRateEntry& entry : BAUD_RATE_TABLE) {
        EXPECT_EQ(tty.baudRateSet(entry.speed), OK);
        uint32_t speed = 0;
        EXPECT_EQ(tty.baudRateGet(speed), OK);
        EXPECT_EQ(speed, entry.speed);
    }
    tty.setSpeedSetFault(true);
    EXPECT_EQ(tty.baudRateSet(9600), ERROR);
    EXPECT_EQ(tty.speed(), 115200u);
    tty.setSpeedQueryFault(true);
    uint32_t speed = 1;
    EXPECT_EQ(tty.baudRateGet(speed), ERROR);
}

TEST_F(ConsoleTtyTest, PowerUpRestoresTheTerminal) {
    tty.optionsSet(OPT_RAW);
    tty.baudRateSet(115200);
    arrive("left over");
    EXPECT_TRUE(readableNow());
    tty.powerUp();
    EXPECT_EQ(tty.optionsGet(), OPT_TERMINAL);
    EXPECT_EQ(tty.speed(), 9600u);
    EXPECT_FALSE(readableNow());
}

}  // namespace
