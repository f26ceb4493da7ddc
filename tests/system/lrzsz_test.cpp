// The loader's xmodem command against lrzsz over the pty console, in real
// time: receiving from sx and sb, and sending to rx and rb with the letters
// the loader's own callers use ("cbske" for the event log and the stored
// image) and a YMODEM batch ("sby"). lrzsz runs on pipes behind a relay
// (see harness/line_peer.h), so that its terminal flushes cannot throw its
// last acknowledgement away, started when the loader's Control-X hint
// appears, as a person at picocom would start it. Every case checks the
// bytes that arrived.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/files.h"
#include "harness/line_peer.h"
#include "harness/pty_board.h"
#include "lrzsz_checks.h"

namespace {

using namespace interop;

class LrzszTest : public ::testing::Test {
protected:
    // Runs the loader's command while the lrzsz program runs on the
    // terminal; both must succeed. The bytes each way are counted.
    ::testing::AssertionResult ran(const std::string& arguments, std::vector<std::string> argv) {
        LinePeer peer(board.terminalPath(),
                      {.argv = std::move(argv), .workDir = host.path(), .startAfter = CONTROL_X_HINT});
        int result = board.xmodem(arguments);
        program = peer.finish();
        if (result != 0 || program.exitStatus != 0) {
            return ::testing::AssertionFailure()
                   << "xmodem " << arguments << ": " << result << "; " << program.summary();
        }
        return ::testing::AssertionSuccess();
    }
    // Pattern bytes planted in the host's directory or on the board.
    std::vector<uint8_t> hostFile(const std::string& name, size_t length, uint32_t seed) {
        std::vector<uint8_t> bytes = testPattern(length, seed);
        writeHostFile(host.path() / name, bytes);
        return bytes;
    }
    std::vector<uint8_t> boardFile(const std::string& name, size_t length, uint32_t seed) {
        std::vector<uint8_t> bytes = testPattern(length, seed);
        board.writeFile(name, bytes);
        return bytes;
    }

    ScratchDir host{"swboot-lrzsz"};
    PtyBoard board;
    PeerResult program;
};

using LoaderReceives = LrzszTest;
using LoaderSends = LrzszTest;

// 128-byte blocks cost 5 bytes each on the line (3.9 %), 1024-byte blocks
// 5 bytes per 1024 (0.5 %): the line count tells which were used.
constexpr double SMALL_BLOCK_OVERHEAD = 1.03;
constexpr double LARGE_BLOCK_OVERHEAD = 1.01;

TEST_F(LoaderReceives, XmodemChecksumFromSx) {
    SKIP_WITHOUT("sx");
    auto data = hostFile("data.bin", 20000, 1);
    ASSERT_TRUE(ran("rb data.bin", {"sx", "data.bin"}));
    expectPaddedCopy(board.readFile("data.bin"), data, RECORD);
    EXPECT_GT(double(program.bytesFromPeer), data.size() * SMALL_BLOCK_OVERHEAD);
}

TEST_F(LoaderReceives, Xmodem1kFromSx) {
    SKIP_WITHOUT("sx");
    auto data = hostFile("data.bin", 100000, 3);
    ASSERT_TRUE(ran("rbc data.bin", {"sx", "-k", "data.bin"}));
    expectPaddedCopy(board.readFile("data.bin"), data, 1024);
    EXPECT_LT(double(program.bytesFromPeer), data.size() * LARGE_BLOCK_OVERHEAD) << "1024-byte blocks";
}

// The code load's own letters: CRC with a 1K request after it ("CK"), and
// the first EOT taken. sx reads the "K" as line noise and then ignores the
// ACK of block 1 until the loader's 5-second timeout and NAK make it send
// the block again; the file still arrives whole.
TEST_F(LoaderReceives, CodeLoadLettersFromSx1k) {
    SKIP_WITHOUT("sx");
    auto data = hostFile("image.bin", 150000, 4);
    ASSERT_TRUE(ran("-cbrke xcode.bin", {"sx", "-k", "image.bin"}));
    expectPaddedCopy(board.readFile("xcode.bin"), data, 1024);
}

TEST_F(LoaderReceives, YmodemBatchFromSbKeepsNamesAndExactLengths) {
    SKIP_WITHOUT("sb");
    auto first = hostFile("first.bin", 5000, 5);
    auto second = hostFile("second.txt", 129, 6);
    ASSERT_TRUE(ran("rb", {"sb", "first.bin", "second.txt"}));
    expectExactCopy(board.readFile("first.bin"), first);
    expectExactCopy(board.readFile("second.txt"), second);
    EXPECT_FALSE(board.fileExists("xmodem.in"));
}

// sb answers the receiver's "G" with 1024-byte blocks and streams them
// without waiting for acknowledgements.
TEST_F(LoaderReceives, YmodemGFromSb) {
    SKIP_WITHOUT("sb");
    auto first = hostFile("stream.bin", 300000, 8);
    auto second = hostFile("tail.bin", 1000, 9);
    ASSERT_TRUE(ran("rbg", {"sb", "stream.bin", "tail.bin"}));
    expectExactCopy(board.readFile("stream.bin"), first);
    expectExactCopy(board.readFile("tail.bin"), second);
    EXPECT_LT(program.bytesToPeer, size_t(16)) << "G mode: no acknowledgement per block";
}

// Code load letters with sb: the data land in the file the command names,
// whatever the YMODEM header calls them, and carry their exact length.
TEST_F(LoaderReceives, CodeLoadLettersFromSb) {
    SKIP_WITHOUT("sb");
    auto data = hostFile("image.bin", 70000, 10);
    ASSERT_TRUE(ran("-cbrke xcode.bin", {"sb", "image.bin"}));
    expectExactCopy(board.readFile("xcode.bin"), data);
    EXPECT_FALSE(board.fileExists("image.bin"));
}

TEST_F(LoaderSends, XmodemCrc1kToRx) {
    SKIP_WITHOUT("rx");
    auto data = boardFile("asciilog.bin", 50000, 21);
    ASSERT_TRUE(ran("cbske asciilog.bin", {"rx", "-c", "log.bin"}));
    // The tail goes in 128-byte blocks, so less than one of them is padding.
    expectPaddedCopy(readHostFile(host.path() / "log.bin"), data, RECORD);
}

TEST_F(LoaderSends, YmodemBatchToRbKeepsNamesAndExactLengths) {
    SKIP_WITHOUT("rb");
    auto first = boardFile("first.bin", 40000, 23);
    auto second = boardFile("notes.txt", 1000, 24);
    ASSERT_TRUE(ran("sby first.bin notes.txt", {"rb"}));
    expectExactCopy(readHostFile(host.path() / "first.bin"), first);
    expectExactCopy(readHostFile(host.path() / "notes.txt"), second);
}

}  // namespace
