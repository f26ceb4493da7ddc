// The pseudo-terminal and TCP console lines, driven from the far end as a
// terminal program would: bytes unchanged both ways, the unplugged cable,
// the next program getting the line, the state-directory link, the speed,
// and the console driver's flushes on top of a real terminal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "harness/files.h"
#include "host/console_tty.h"
#include "host/diagnostics.h"
#include "host/pty_line.h"
#include "host/sim_clock.h"
#include "host/tcp_line.h"
#include "platform/console.h"
#include "platform/status.h"

namespace {

using interop::ScratchDir;

// A program's end of a pseudo-terminal or socket.
class FarEnd {
public:
    explicit FarEnd(int fd) : fd_(fd) {}
    ~FarEnd() { hangUp(); }
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    static FarEnd openTerminal(const std::string& path) {
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            struct termios settings {};
            tcgetattr(fd, &settings);
            cfmakeraw(&settings);
            tcsetattr(fd, TCSANOW, &settings);
        }
        return FarEnd(fd);
    }
    static FarEnd connectTcp(uint16_t port) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            fd = -1;
        }
        return FarEnd(fd);
    }
    FarEnd(FarEnd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    void send(const std::string& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // Everything that arrives until the line has been quiet for a while (or
    // the other side closed).
    std::string drain(int quietMs = 200) {
        std::string got;
        char buffer[4096];
        for (;;) {
            struct pollfd p {fd_, POLLIN, 0};
            if (poll(&p, 1, quietMs) <= 0) {
                return got;
            }
            ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                return got;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
    }
    void hangUp() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_;
};

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

// ---------------------------------------------------------------------------
// Pseudo-terminal

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

TEST_F(PtyLineTest, NamesTheTerminalAndLinksItInTheStateDirectoryUntilItCloses) {
    auto link = dir.path() / "console";
    std::filesystem::create_symlink("/dev/pts/nonexistent", link);  // left by a simulator that crashed
    std::string path;
    {
        sim::PtyLine line(clock, diagnostics, link);
        path = line.path();
        EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
        ASSERT_FALSE(diagnostics.captured().empty());
        EXPECT_EQ(diagnostics.captured().front(), "console: " + path);
        EXPECT_EQ(std::filesystem::read_symlink(link), path);
        EXPECT_TRUE(line.interactive());
    }
    EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status(link)));
}

TEST_F(PtyLineTest, RefusesToReplaceSomethingThatIsNotALink) {
    auto link = dir.path() / "console";
    interop::writeHostFile(link, {'k', 'e', 'e', 'p'});
    EXPECT_THROW(sim::PtyLine(clock, diagnostics, link), std::runtime_error);
    EXPECT_EQ(interop::readHostFile(link), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(PtyLineTest, PassesEveryByteUnchangedBothWaysWithoutEcho) {
    sim::PtyLine line(clock, diagnostics);
    FarEnd program = FarEnd::openTerminal(line.path());
    ASSERT_TRUE(program.isOpen());
    program.send(ALL_AWKWARD_BYTES);
    EXPECT_EQ(receiveFrom(line, ALL_AWKWARD_BYTES.size()), ALL_AWKWARD_BYTES);
    transmitText(line, ALL_AWKWARD_BYTES);
    EXPECT_EQ(program.drain(), ALL_AWKWARD_BYTES) << "no echo of the program's bytes, no CR/LF translation";
}

TEST_F(PtyLineTest, AProgramThatLeavesIsAnUnpluggedCableAndTheNextOneGetsTheLine) {
    sim::PtyLine line(clock, diagnostics);
    EXPECT_FALSE(line.connected());
    transmitText(line, "before anybody\r\n");  // nobody there: lost

    FarEnd first = FarEnd::openTerminal(line.path());
    EXPECT_TRUE(line.connected());
    transmitText(line, "one");
    EXPECT_EQ(first.drain(), "one");
    first.send("typed");
    EXPECT_EQ(receiveFrom(line, 5), "typed");
    first.hangUp();
    EXPECT_FALSE(line.connected());

    transmitText(line, "while unplugged");
    uint8_t buffer[16];
    EXPECT_EQ(line.receive(buffer, sizeof buffer), 0) << "no end of input: the board keeps running";

    FarEnd second = FarEnd::openTerminal(line.path());
    EXPECT_TRUE(line.connected());
    transmitText(line, "two");
    EXPECT_EQ(second.drain(), "two") << "nothing sent while unplugged reaches the next program";
    second.send("again");
    EXPECT_EQ(receiveFrom(line, 5), "again");
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
    FarEnd next(open(line.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
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

TEST_F(PtyLineTest, TheTerminalReportsTheSpeedTheBoardSetLast) {
    sim::PtyLine line(clock, diagnostics);
    FarEnd program = FarEnd::openTerminal(line.path());
    struct termios settings {};
    line.speedChanged(115200);
    tcgetattr(program.fd(), &settings);
    EXPECT_EQ(cfgetospeed(&settings), speed_t(B115200));
    line.speedChanged(9600);
    tcgetattr(program.fd(), &settings);
    EXPECT_EQ(cfgetospeed(&settings), speed_t(B9600));
}

TEST_F(PtyLineTest, UnderTheConsoleDriverFlushesDropWhatArrivedAndTheSpeedIsTheLastSet) {
    sim::PtyLine line(clock, diagnostics);
    sim::ConsoleTty tty(line, clock);
    tty.powerUp();
    tty.optionsSet(swboot::OPT_RAW);
    FarEnd program = FarEnd::openTerminal(line.path());

    program.send("stale bytes");
    usleep(50000);
    EXPECT_EQ(tty.flushInput(), swboot::OK);
    program.send("C");
    ASSERT_EQ(tty.waitReadable(2000000), 1);
    uint8_t byte = 0;
    ASSERT_EQ(tty.read(&byte, 1), 1);
    EXPECT_EQ(byte, 'C') << "what arrived before the flush is gone, what came after is kept";

    ASSERT_EQ(tty.baudRateSet(38400), swboot::OK);
    uint32_t speed = 0;
    ASSERT_EQ(tty.baudRateGet(speed), swboot::OK);
    EXPECT_EQ(speed, 38400u);
    struct termios settings {};
    tcgetattr(program.fd(), &settings);
    EXPECT_EQ(cfgetospeed(&settings), speed_t(B38400));

    const uint8_t block[] = {0x01, 0x01, 0xFE, '\n', '\r', 0x1A};
    EXPECT_EQ(tty.write(block, sizeof block), long(sizeof block));
    EXPECT_EQ(program.drain(), std::string(reinterpret_cast<const char*>(block), sizeof block))
        << "raw mode: bytes out unchanged";
}

// A driver that sends a block and flushes its input at once (the sender of a
// file transfer does) must find the far end's answer afterwards, even when
// the answer is already back on the host -- while what came before the block
// is flushed away.
template <typename Line>
void expectAnswerSurvivesFlushAfterSend(Line& line, sim::SimClock& clock, FarEnd& far) {
    sim::ConsoleTty tty(line, clock);
    tty.powerUp();
    tty.optionsSet(swboot::OPT_RAW);
    far.send("stale");
    usleep(50000);
    const uint8_t block[] = {0x02, 0x07, 0xF8, 'd', 'a', 't', 'a'};
    tty.write(block, sizeof block);
    EXPECT_EQ(far.drain(50), std::string(reinterpret_cast<const char*>(block), sizeof block));
    far.send("\x06");
    usleep(50000);
    EXPECT_EQ(tty.flushInput(), swboot::OK);
    ASSERT_EQ(tty.waitReadable(1000000), 1) << "the answer was flushed away";
    uint8_t got[8] = {};
    ASSERT_EQ(tty.read(got, sizeof got), 1) << "what came before the block is gone";
    EXPECT_EQ(got[0], 0x06);
}

TEST_F(PtyLineTest, AnAnswerIsNeverFlushedAwayWithTheInputThatCameBeforeTheBlock) {
    sim::PtyLine line(clock, diagnostics);
    FarEnd program = FarEnd::openTerminal(line.path());
    expectAnswerSurvivesFlushAfterSend(line, clock, program);
}

// ---------------------------------------------------------------------------
// TCP

class TcpLineTest : public ::testing::Test {
protected:
    TcpLineTest() {
        diagnostics.setQuiet(true);
        diagnostics.setCapture(true);
    }
    sim::RealClock clock;
    sim::Diagnostics diagnostics;
};

TEST_F(TcpLineTest, PortZeroPicksAFreePortAndNamesIt) {
    sim::TcpLine line(clock, diagnostics, 0);
    EXPECT_NE(line.port(), 0);
    ASSERT_FALSE(diagnostics.captured().empty());
    EXPECT_EQ(diagnostics.captured().front(), "console: tcp 127.0.0.1:" + std::to_string(line.port()));
    EXPECT_TRUE(line.interactive());
    FarEnd client = FarEnd::connectTcp(line.port());
    ASSERT_TRUE(client.isOpen());
    EXPECT_TRUE(line.connected());
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

TEST_F(TcpLineTest, PassesEveryByteUnchangedBothWays) {
    sim::TcpLine line(clock, diagnostics, 0);
    FarEnd client = FarEnd::connectTcp(line.port());
    ASSERT_TRUE(client.isOpen());
    client.send(ALL_AWKWARD_BYTES);
    EXPECT_EQ(receiveFrom(line, ALL_AWKWARD_BYTES.size()), ALL_AWKWARD_BYTES);
    transmitText(line, ALL_AWKWARD_BYTES);
    EXPECT_EQ(client.drain(), ALL_AWKWARD_BYTES);
}

TEST_F(TcpLineTest, ASecondClientIsRefusedWithOneLineAndTheFirstKeepsTheLine) {
    sim::TcpLine line(clock, diagnostics, 0);
    FarEnd first = FarEnd::connectTcp(line.port());
    ASSERT_TRUE(line.connected());
    FarEnd second = FarEnd::connectTcp(line.port());
    ASSERT_TRUE(second.isOpen());
    EXPECT_TRUE(line.connected());  // takes the second one in and turns it away
    EXPECT_EQ(second.drain(), sim::TcpLine::BUSY_TEXT);
    transmitText(line, "still yours");
    EXPECT_EQ(first.drain(), "still yours");
}

TEST_F(TcpLineTest, AClientThatLeavesIsAnUnpluggedCableAndTheNextOneGetsTheLine) {
    sim::TcpLine line(clock, diagnostics, 0);
    {
        FarEnd first = FarEnd::connectTcp(line.port());
        ASSERT_TRUE(line.connected());
        first.send("hi");
        EXPECT_EQ(receiveFrom(line, 2), "hi");
    }
    uint8_t buffer[16];
    EXPECT_EQ(line.receive(buffer, sizeof buffer), 0) << "no end of input: the board keeps running";
    EXPECT_FALSE(line.connected());
    transmitText(line, "while unplugged");

    FarEnd next = FarEnd::connectTcp(line.port());
    ASSERT_TRUE(line.connected());
    transmitText(line, "two");
    EXPECT_EQ(next.drain(), "two");
    next.send("back");
    EXPECT_EQ(receiveFrom(line, 4), "back");
}

TEST_F(TcpLineTest, AnAnswerIsNeverFlushedAwayWithTheInputThatCameBeforeTheBlock) {
    sim::TcpLine line(clock, diagnostics, 0);
    FarEnd client = FarEnd::connectTcp(line.port());
    ASSERT_TRUE(line.connected());
    expectAnswerSurvivesFlushAfterSend(line, clock, client);
}

}  // namespace
