// The loader's xmodem command sending to lrzsz's rx and rb over the pty
// console, in real time, with the letters the loader's own callers use
// ("cbske" for the event log and the stored image) and a YMODEM batch
// ("sby"). rx and rb run on pipes behind a relay, so their terminal flushes
// cannot throw their last acknowledgement away. Every case checks the
// bytes that arrived in the receiver's directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/files.h"
#include "harness/line_peer.h"
#include "harness/pty_board.h"
#include "lrzsz_checks.h"

namespace {

using namespace interop;

class LoaderSends : public ::testing::Test {
protected:
    // Runs the loader's command while the receiver runs on the terminal;
    // both must succeed.
    ::testing::AssertionResult sent(const std::string& arguments, std::vector<std::string> receiverArgv) {
        PeerOptions options;
        options.argv = std::move(receiverArgv);
        options.workDir = host.path();
        options.startAfter = CONTROL_X_HINT;
        LinePeer peer(board.terminalPath(), options);
        int result = board.xmodem(arguments);
        PeerResult receiver = peer.finish();
        if (result != 0 || receiver.exitStatus != 0) {
            return ::testing::AssertionFailure()
                   << "xmodem " << arguments << ": " << result << "; " << receiver.summary();
        }
        return ::testing::AssertionSuccess();
    }
    std::vector<uint8_t> boardFile(const std::string& name, size_t length, uint32_t seed) {
        std::vector<uint8_t> bytes = testPattern(length, seed);
        board.writeFile(name, bytes);
        return bytes;
    }

    ScratchDir host{"swboot-lrzsz"};
    PtyBoard board;
};

TEST_F(LoaderSends, XmodemCrc1kToRx) {
    SKIP_WITHOUT("rx");
    auto data = boardFile("asciilog.bin", 50000, 21);
    ASSERT_TRUE(sent("cbske asciilog.bin", {"rx", "-c", "log.bin"}));
    // The tail goes in 128-byte blocks, so less than one of them is padding.
    expectPaddedCopy(readHostFile(host.path() / "log.bin"), data, RECORD);
}

TEST_F(LoaderSends, XmodemChecksumToRx) {
    SKIP_WITHOUT("rx");
    auto data = boardFile("image1", 30001, 22);
    ASSERT_TRUE(sent("cbske image1", {"rx", "image.bin"}));
    expectPaddedCopy(readHostFile(host.path() / "image.bin"), data, RECORD);
}

TEST_F(LoaderSends, YmodemBatchToRbKeepsNamesAndExactLengths) {
    SKIP_WITHOUT("rb");
    auto first = boardFile("first.bin", 40000, 23);
    auto second = boardFile("notes.txt", 1000, 24);
    ASSERT_TRUE(sent("sby first.bin notes.txt", {"rb"}));
    expectExactCopy(readHostFile(host.path() / "first.bin"), first);
    expectExactCopy(readHostFile(host.path() / "notes.txt"), second);
}

TEST_F(LoaderSends, Ymodem1kToRb) {
    SKIP_WITHOUT("rb");
    auto data = boardFile("big.bin", 200000, 25);
    ASSERT_TRUE(sent("sbyk big.bin", {"rb"}));
    expectExactCopy(readHostFile(host.path() / "big.bin"), data);
}

}  // namespace
