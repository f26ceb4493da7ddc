// The pseudo-terminal and TCP console lines, driven from the far end as a
// terminal program would: bytes unchanged both ways, the unplugged cable,
// the next program getting the line, the state-directory link, the speed,
// and the console driver's flushes on top of a real terminal.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "harness/files.h"
#include "harness/terminal.h"
#include "host/console_tty.h"
#include "host/diagnostics.h"
#include "host/pty_line.h"
#include "host/sim_clock.h"
#include "host/tcp_line.h"
#include "platform/console.h"
#include "platform/status.h"

namespace {

using interop::Conversation;
using interop::ScratchDir;
using interop::TcpClient;
using interop::Terminal;

// What the line has received, waiting up to two seconds for the count.
template <typename Line>
std::string receiveFrom(Line& line, size_t count) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        uint8_t buffer[256];
        long n = line.receive(buffer, sizeof buffer);
        EXPECT_GE(n, 0) << "an interactive line never reports the end of input";
        if (n > 0) {
            got.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
        } else {
            usleep(1000);
        }
    }
    return got;
}

void transmitText(sim::SerialLine& line, const std::string& text) {
    line.transmit(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const std::string ALL_AWKWARD_BYTES = std::string("a\r\nb\n\r\x00\x03\x04\x11\x13\x18\x1a\x7f\xff", 15);

// Bytes pass unchanged both ways, without echo or line-end translation; a
// far end that leaves is an unplugged cable (no end of input, the board
// keeps running), and the next one gets the line without what was sent
// while nobody was there, and its answers survive the driver's flushes.
template <typename Line, typename Connect>
void expectAPlainCableThatCanBeUnplugged(Line& line, sim::SimClock& clock, Connect connect) {
    EXPECT_FALSE(line.connected());
    transmitText(line, "before anybody\r\n");
    {
        auto first = connect();
        EXPECT_TRUE(line.connected());
        first.type(ALL_AWKWARD_BYTES);
        EXPECT_EQ(receiveFrom(line, ALL_AWKWARD_BYTES.size()), ALL_AWKWARD_BYTES);
        transmitText(line, ALL_AWKWARD_BYTES);
        EXPECT_EQ(first.drain(), ALL_AWKWARD_BYTES);
        first.type("bye");
        EXPECT_EQ(receiveFrom(line, 3), "bye");
    }
    uint8_t buffer[16];
    EXPECT_EQ(line.receive(buffer, sizeof buffer), 0);
    EXPECT_FALSE(line.connected());
    transmitText(line, "while unplugged");
    auto next = connect();
    EXPECT_TRUE(line.connected());
    transmitText(line, "two");
    EXPECT_EQ(next.drain(), "two");
    next.type("again");
    EXPECT_EQ(receiveFrom(line, 5), "again");

    // A block's answer survives the input flush its sender does right after
    // it, even when already back on the host; what came before is dropped.
    sim::ConsoleTty tty(line, clock);
    tty.powerUp();
    tty.optionsSet(swboot::OPT_RAW);
    next.type("stale");
    usleep(50000);
    const uint8_t block[] = {0x02, 0x07, 0xF8, 'd', 'a', 't', 'a'};
    tty.write(block, sizeof block);
    EXPECT_EQ(next.drain(std::chrono::milliseconds(50)),
              std::string(reinterpret_cast<const char*>(block), sizeof block));
    next.type("\x06");
    usleep(50000);
    EXPECT_EQ(tty.flushInput(), swboot::OK);
    ASSERT_EQ(tty.waitReadable(1000000), 1) << "the answer was flushed away";
    uint8_t got[8] = {};
    ASSERT_EQ(tty.read(got, sizeof got), 1) << "what came before the block is gone";
    EXPECT_EQ(got[0], 0x06);
}

class PtyLineTest : public ::testing::Test {
protected:
    PtyLineTest() {
        diagnostics.setQuiet(true);
        diagnostics.setCapture(true);
    }
    sim::RealClock clock;
    sim::Diagnostics diagnostics;
    ScratchDir dir;
};
class TcpLineTest : public PtyLineTest {};

speed_t terminalSpeed(int fd) {
    struct termios settings {};
    tcgetattr(fd, &settings);
    return cfgetospeed(&settings);
}

// The terminal is announced, linked in the state directory until it
// closes (over a link a crashed simulator left, never over anything else),
// and set to the speed the board set last.
TEST_F(PtyLineTest, IsNamedLinkedAndSetToTheBoardsSpeed) {
    auto link = dir.path() / "console";
    std::filesystem::create_symlink("/dev/pts/nonexistent", link);
    {
        sim::PtyLine line(clock, diagnostics, link);
        const std::string path = line.path();
        ASSERT_FALSE(diagnostics.captured().empty());
        EXPECT_EQ(diagnostics.captured().front(), "console: " + path);
        EXPECT_EQ(std::filesystem::read_symlink(link), path);
        EXPECT_TRUE(line.interactive());
        Terminal program(path);
        line.speedChanged(115200);
        EXPECT_EQ(terminalSpeed(program.fd()), speed_t(B115200));
        line.speedChanged(9600);
        EXPECT_EQ(terminalSpeed(program.fd()), speed_t(B9600));
    }
    EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status(link)));
    interop::writeHostFile(link, {'k', 'e', 'e', 'p'});
    EXPECT_THROW(sim::PtyLine(clock, diagnostics, link), std::runtime_error);
    EXPECT_EQ(interop::readHostFile(link), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(PtyLineTest, IsAPlainCableThatCanBeUnplugged) {
    sim::PtyLine line(clock, diagnostics);
    expectAPlainCableThatCanBeUnplugged(line, clock, [&] { return Terminal(line.path()); });
}

TEST_F(PtyLineTest, TheNextProgramFindsARawLineWhateverTheLastOneLeft) {
    sim::PtyLine line(clock, diagnostics);
    {
        int fd = open(line.path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        struct termios cooked {};
        tcgetattr(fd, &cooked);
        cooked.c_lflag |= ECHO | ICANON;
        cooked.c_oflag |= OPOST | ONLCR;
        tcsetattr(fd, TCSANOW, &cooked);
        EXPECT_TRUE(line.connected());
        close(fd);
    }
    EXPECT_FALSE(line.connected());
    // Opened as it is, not made raw as a Terminal would.
    struct AsItIs : Conversation {
        explicit AsItIs(int fd) : Conversation(fd) {}
    } next(open(line.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    struct termios settings {};
    ASSERT_EQ(tcgetattr(next.fd(), &settings), 0);
    EXPECT_EQ(settings.c_lflag & (ECHO | ICANON), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    transmitText(line, "x\n");
    EXPECT_EQ(next.drain(), "x\n");
}

TEST_F(PtyLineTest, WaitingWithNobodyThereSleepsInsteadOfSpinning) {
    sim::PtyLine line(clock, diagnostics);
    // With no program on the terminal the master reports a hang-up at once;
    // a wait that passed that on would come back immediately, thousands of
    // times in a quarter second.
    int64_t deadline = clock.nowMicros() + 250000;
    int waits = 0;
    while (clock.nowMicros() < deadline) {
        line.waitInput(deadline, true);
        ++waits;
    }
    EXPECT_LT(waits, 1000);
}

TEST_F(TcpLineTest, APortAlreadyTakenIsAClearError) {
    sim::TcpLine first(clock, diagnostics, 0);
    try {
        sim::TcpLine second(clock, diagnostics, first.port());
        FAIL() << "a second listener on the same port";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(std::to_string(first.port())), std::string::npos) << e.what();
    }
}

TEST_F(TcpLineTest, IsAPlainCableThatCanBeUnplugged) {
    sim::TcpLine line(clock, diagnostics, 0);
    expectAPlainCableThatCanBeUnplugged(line, clock, [&] { return TcpClient(line.port()); });
}

}  // namespace
