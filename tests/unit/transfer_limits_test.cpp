// Counts and timeouts of the transfer, each at its limit and one past it,
// on virtual time: the sender's EOT sends and the time it waits for each
// answer, its unanswered handshake reads, and the receiver's wait for the
// fields of a block.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/test_images.h"
#include "support/xmodem_peer.h"

namespace {

using namespace testing_support;
using Request = XmodemReceiverPeer::Request;

// The sender gives up on the end of the file after eleven unanswered EOTs,
// fifteen seconds apart.
TEST(TransferLimits, TheSenderSendsElevenEotsFifteenSecondsApart) {
    TestBoard board;
    LoaderOnBoard loader(board);
    board.writeFile("data.bin", patternBytes(100));
    XmodemReceiverPeer peer(board.line(), Request::Crc);
    peer.start(board.clock().nowMicros() + MICROS_PER_SECOND);
    peer.eotAcknowledged = 1000;  // never
    EXPECT_EQ(loader->xmodem.xmodem("sb data.bin"), -1);
    EXPECT_EQ(peer.eotsHeard(), 11u);
    const std::vector<int64_t> at = peer.timesOf(PEER_EOT);
    ASSERT_EQ(at.size(), 11u);
    for (size_t i = 1; i < at.size(); ++i) {
        EXPECT_EQ(at[i] - at[i - 1], 15 * MICROS_PER_SECOND) << "EOT " << i + 1;
    }
}

// The sender reads for a receiver's request one second at a time and gives
// up after 120 reads without one: a request in the 121st second of waiting
// still starts the transfer, one in the 122nd is too late.
TEST(TransferLimits, TheSenderWaitsHundredAndTwentyUnansweredReadsForARequest) {
    const struct {
        double requestAtSeconds;
        int result;
    } cases[] = {{120.9, 0}, {121.9, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requestAtSeconds);
        TestBoard board;
        LoaderOnBoard loader(board);
        board.writeFile("data.bin", patternBytes(100));
        XmodemReceiverPeer peer(board.line(), Request::Crc);
        peer.start(board.clock().nowMicros() + static_cast<int64_t>(c.requestAtSeconds * MICROS_PER_SECOND));
        EXPECT_EQ(loader->xmodem.xmodem("sb data.bin"), c.result);
        EXPECT_EQ(peer.blocks().size(), c.result == 0 ? 1u : 0u);
    }
}

// The receiver waits three seconds for each field of a block after its
// start byte: a block number 2.9 s late is taken, 3.1 s late is not.
TEST(TransferLimits, TheReceiverWaitsThreeSecondsForTheFieldsOfABlock) {
    const struct {
        int64_t gapMillis;
        bool taken;
    } cases[] = {{2900, true}, {3100, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gapMillis);
        TestBoard board;
        LoaderOnBoard loader(board);
        const std::vector<uint8_t> block = xmodemBlock(1, std::vector<uint8_t>(128, 'A'), true);
        const int64_t start = board.clock().nowMicros() + MICROS_PER_SECOND;
        board.line().deliverAt(start, std::vector<uint8_t>(block.begin(), block.begin() + 1));
        board.line().deliverAt(start + c.gapMillis * 1000, std::vector<uint8_t>(block.begin() + 1, block.end()));
        board.line().deliverAt(start + 20 * MICROS_PER_SECOND, std::vector<uint8_t>{PEER_EOT});
        loader->xmodem.xmodem("-rcbe x.bin");
        EXPECT_EQ(board.fileExists("x.bin"), c.taken);
        if (c.taken) {
            EXPECT_EQ(board.readFile("x.bin"), std::vector<uint8_t>(128, 'A'));
        }
    }
}

}  // namespace
