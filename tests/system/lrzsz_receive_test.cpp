// The loader's xmodem command receiving from lrzsz's sx and sb over the pty
// console, in real time. lrzsz runs on pipes behind a relay (see
// harness/line_peer.h), started when the loader's Control-X hint appears, as
// a person at picocom would start it. Every case checks the bytes that
// arrived on the board's volume.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/files.h"
#include "harness/line_peer.h"
#include "harness/pty_board.h"
#include "lrzsz_checks.h"

namespace {

using namespace interop;

class LoaderReceives : public ::testing::Test {
protected:
    // Runs the loader's command while the sender runs on the terminal; both
    // must succeed. The sender's result stays in `sender`.
    ::testing::AssertionResult received(const std::string& arguments, std::vector<std::string> senderArgv) {
        PeerOptions options;
        options.argv = std::move(senderArgv);
        options.workDir = host.path();
        options.startAfter = CONTROL_X_HINT;
        options.observer = [this](Flow flow, const uint8_t*, size_t length, Steady::time_point) {
            (flow == Flow::FromPeer ? fromSender : toSender) += length;
        };
        LinePeer peer(board.terminalPath(), options);
        int result = board.xmodem(arguments);
        sender = peer.finish();
        if (result != 0 || sender.exitStatus != 0) {
            return ::testing::AssertionFailure()
                   << "xmodem " << arguments << ": " << result << "; " << sender.summary();
        }
        return ::testing::AssertionSuccess();
    }
    std::vector<uint8_t> hostFile(const std::string& name, size_t length, uint32_t seed) {
        std::vector<uint8_t> bytes = testPattern(length, seed);
        writeHostFile(host.path() / name, bytes);
        return bytes;
    }

    ScratchDir host{"swboot-lrzsz"};
    PtyBoard board;
    PeerResult sender;
    size_t fromSender = 0;
    size_t toSender = 0;
};

// 128-byte blocks cost 5 bytes each on the line (3.9 %), 1024-byte blocks
// 5 bytes per 1024 (0.5 %): the line count tells which were used.
constexpr double SMALL_BLOCK_OVERHEAD = 1.03;
constexpr double LARGE_BLOCK_OVERHEAD = 1.01;

TEST_F(LoaderReceives, XmodemChecksumFromSx) {
    SKIP_WITHOUT("sx");
    auto data = hostFile("data.bin", 20000, 1);
    ASSERT_TRUE(received("rb data.bin", {"sx", "data.bin"}));
    expectPaddedCopy(board.readFile("data.bin"), data, RECORD);
    EXPECT_GT(double(fromSender), data.size() * SMALL_BLOCK_OVERHEAD);
}

TEST_F(LoaderReceives, XmodemCrcFromSx) {
    SKIP_WITHOUT("sx");
    auto data = hostFile("data.bin", 20000, 2);
    ASSERT_TRUE(received("rbc data.bin", {"sx", "data.bin"}));
    expectPaddedCopy(board.readFile("data.bin"), data, RECORD);
}

TEST_F(LoaderReceives, Xmodem1kFromSx) {
    SKIP_WITHOUT("sx");
    auto data = hostFile("data.bin", 100000, 3);
    ASSERT_TRUE(received("rbc data.bin", {"sx", "-k", "data.bin"}));
    expectPaddedCopy(board.readFile("data.bin"), data, 1024);
    EXPECT_LT(double(fromSender), data.size() * LARGE_BLOCK_OVERHEAD) << "1024-byte blocks";
}

// The code load's own letters: CRC with a 1K request after it ("CK"), and
// the first EOT taken. sx reads the "K" as line noise and then ignores the
// ACK of block 1 until the loader's 5-second timeout and NAK make it send
// the block again; the file still arrives whole.
TEST_F(LoaderReceives, CodeLoadLettersFromSx1k) {
    SKIP_WITHOUT("sx");
    auto data = hostFile("image.bin", 150000, 4);
    ASSERT_TRUE(received("-cbrke xcode.bin", {"sx", "-k", "image.bin"}));
    expectPaddedCopy(board.readFile("xcode.bin"), data, 1024);
}

TEST_F(LoaderReceives, YmodemBatchFromSbKeepsNamesAndExactLengths) {
    SKIP_WITHOUT("sb");
    auto first = hostFile("first.bin", 5000, 5);
    auto second = hostFile("second.txt", 129, 6);
    ASSERT_TRUE(received("rb", {"sb", "first.bin", "second.txt"}));
    expectExactCopy(board.readFile("first.bin"), first);
    expectExactCopy(board.readFile("second.txt"), second);
    EXPECT_FALSE(board.fileExists("xmodem.in"));
}

TEST_F(LoaderReceives, Ymodem1kFromSb) {
    SKIP_WITHOUT("sb");
    auto data = hostFile("data.bin", 100001, 7);
    ASSERT_TRUE(received("rb", {"sb", "-k", "data.bin"}));
    expectExactCopy(board.readFile("data.bin"), data);
    EXPECT_LT(double(fromSender), data.size() * LARGE_BLOCK_OVERHEAD) << "1024-byte blocks";
}

// sb answers the receiver's "G" with 1024-byte blocks and streams them
// without waiting for acknowledgements.
TEST_F(LoaderReceives, YmodemGFromSb) {
    SKIP_WITHOUT("sb");
    auto first = hostFile("stream.bin", 300000, 8);
    auto second = hostFile("tail.bin", 1000, 9);
    ASSERT_TRUE(received("rbg", {"sb", "stream.bin", "tail.bin"}));
    expectExactCopy(board.readFile("stream.bin"), first);
    expectExactCopy(board.readFile("tail.bin"), second);
    EXPECT_LT(toSender, size_t(16)) << "G mode: no acknowledgement per block";
}

// Code load letters with sb: the data land in the file the command names,
// whatever the YMODEM header calls them, and carry their exact length.
TEST_F(LoaderReceives, CodeLoadLettersFromSb) {
    SKIP_WITHOUT("sb");
    auto data = hostFile("image.bin", 70000, 10);
    ASSERT_TRUE(received("-cbrke xcode.bin", {"sb", "image.bin"}));
    expectExactCopy(board.readFile("xcode.bin"), data);
    EXPECT_FALSE(board.fileExists("image.bin"));
}

}  // namespace
