// The receiving side of the xmodem command against scripted senders on
// virtual time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/test_images.h"
#include "support/xmodem_peer.h"

namespace {

using namespace testing_support;
using Protocol = XmodemSenderPeer::Protocol;
using Step = ScriptPeer::Step;

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

class XmodemReceiveTest : public testing_support::OnBoardTest {
protected:
    std::vector<uint8_t> block(int number, const std::vector<uint8_t>& data, bool crc = true) {
        return xmodemBlock(number, padded(data, data.size() > 128 ? 1024 : 128, PEER_SUB), crc);
    }
};

TEST_F(XmodemReceiveTest, CrcWithOneKRequestsTakesOneKBlocks) {
    std::vector<uint8_t> data = patternBytes(5000);
    XmodemSenderPeer peer(board.line(), Protocol::Xmodem, {PeerFile{"", data, ""}}, 1024);
    EXPECT_EQ(xmodem("-cbrke code.bin"), 0);
    EXPECT_EQ(board.readFile("code.bin"), padded(data, 5120, PEER_SUB));
    EXPECT_EQ(peer.heard(), (std::vector<uint8_t>{'C', 'K', PEER_ACK, PEER_ACK, PEER_ACK, PEER_ACK, PEER_ACK, PEER_ACK}));
}

TEST_F(XmodemReceiveTest, SilentSenderIsGivenUpAfterTenTimeoutsOfGrowingLength) {
    ScriptPeer peer(board.line(), {});
    EXPECT_EQ(xmodem("-cbrk x.bin"), -1);
    std::vector<int64_t> requests = peer.timesOf('C');
    ASSERT_EQ(requests.size(), 10u);
    for (size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i] - requests[i - 1], static_cast<int64_t>(i) * MICROS_PER_SECOND) << "request " << i;
    }
    EXPECT_TRUE(outputHas(cookedText("\r\nABORTED -- Remote system is not sending file\n\r")));
    const std::string heard(peer.heard().begin(), peer.heard().end());
    EXPECT_EQ(peer.heardAt().at(heard.find("ABORTED")), requests.front() + 55 * MICROS_PER_SECOND);
    EXPECT_FALSE(board.fileExists("x.bin"));
}

TEST_F(XmodemReceiveTest, ARepeatedBlockIsWrittenOnceBadBlocksAreRefusedUntilGoodAndTenInARowAbort) {
    std::vector<uint8_t> data = patternBytes(3 * 128);
    {
        XmodemSenderPeer peer(board.line(), Protocol::Xmodem, {PeerFile{"", data, ""}});
        peer.duplicateBlocks = {2};
        peer.corruptOnce = {3};
        EXPECT_EQ(xmodem("-cbrke once.bin"), 0);
        EXPECT_TRUE(peer.finished());
        EXPECT_EQ(peer.countOf(PEER_NAK), 1u);
        EXPECT_EQ(board.readFile("once.bin"), data);
        EXPECT_EQ(peer.countOf(PEER_ACK), 5u);  // three blocks, the repeat, the EOT
    }
    std::vector<uint8_t> bad = block(2, patternBytes(128, 9));
    bad.back() ^= 1;
    std::vector<Step> steps{{'C', block(1, data)}, {PEER_ACK, bad}};
    for (int i = 0; i < 9; ++i) {
        steps.push_back({PEER_NAK, bad});
    }
    ScriptPeer peer(board.line(), steps);
    board.line().clearOutput();
    EXPECT_EQ(xmodem("-cbrke ten.bin"), -1);
    EXPECT_EQ(peer.countOf(PEER_NAK), 9u);
    EXPECT_EQ(peer.countOf(PEER_CAN), 5u);
    EXPECT_TRUE(outputHas(cookedText("\r\nABORTED -- Too Many Errors -- Deleting File\n\r")));
    EXPECT_FALSE(board.fileExists("ten.bin"));
}

TEST_F(XmodemReceiveTest, PhaseErrorAbortsAndDeletesThePartialFile) {
    std::vector<uint8_t> first = patternBytes(128);
    ScriptPeer peer(board.line(), {{'C', block(1, first)}, {PEER_ACK, block(3, first)}});
    EXPECT_EQ(xmodem("-cbrkep phase.bin"), -1);
    // It aborts at once, without a retry; the abort is the one of too many errors (above).
    EXPECT_TRUE(outputHas("Phase Error - Expected packet is 2\n"));
    EXPECT_EQ(peer.countOf(PEER_NAK), 0u);
    EXPECT_FALSE(board.fileExists("phase.bin"));
}

TEST_F(XmodemReceiveTest, CanCanCancelsBeforeTheFirstBlockAndInsideOnlyWhereAllowed) {
    {
        ScriptPeer peer(board.line(), {{'C', {PEER_CAN, PEER_CAN}}});
        EXPECT_EQ(xmodem("-cbrke can.bin"), -1);
        EXPECT_TRUE(outputHas(cookedText("\r\nReception Canceled by CAN-CAN\n\r")));
        EXPECT_FALSE(board.fileExists("can.bin"));
    }
    std::vector<uint8_t> data = patternBytes(256);
    std::vector<uint8_t> canThenTwo = block(2, std::vector<uint8_t>(data.begin() + 128, data.end()));
    canThenTwo.insert(canThenTwo.begin(), {PEER_CAN, PEER_CAN});
    std::vector<Step> steps{{'C', block(1, std::vector<uint8_t>(data.begin(), data.begin() + 128))},
                            {PEER_ACK, canThenTwo},
                            {PEER_ACK, {PEER_EOT}}};
    {
        ScriptPeer peer(board.line(), steps);
        EXPECT_EQ(xmodem("-cbrke noise.bin"), 0);
        EXPECT_EQ(board.readFile("noise.bin"), data);
    }
    ScriptPeer peer(board.line(), steps);
    board.line().clearOutput();
    EXPECT_EQ(xmodem("-cbrken cancel.bin"), -1);
    EXPECT_TRUE(outputHas(cookedText("\r\nReception Canceled by CAN-CAN; partial file deleted\n\r")));
    EXPECT_FALSE(board.fileExists("cancel.bin"));
}

TEST_F(XmodemReceiveTest, LoneEotFollowedBySilenceIsNotTheEnd) {
    std::vector<uint8_t> data = patternBytes(128);
    ScriptPeer peer(board.line(), {{'C', block(1, data)}, {PEER_ACK, {PEER_EOT}}});
    EXPECT_EQ(xmodem("-cbrkp lone.bin"), -1);
    EXPECT_TRUE(outputHas("Spurious EOT detected; ignored\n"));
    EXPECT_TRUE(outputHas("Timeout on Sector 2\n"));
    EXPECT_TRUE(outputHas(cookedText("\r\nABORTED -- Remote system is not sending file\n\r")));
}

TEST_F(XmodemReceiveTest, TextModeDropsCarriageReturnsAndEverythingFromSub) {
    std::vector<uint8_t> first = bytesOf("line one\r\nline two\r\n\xC1\x1A" "junk");
    std::vector<uint8_t> second = bytesOf("more\r\n");
    ScriptPeer peer(board.line(), {{PEER_NAK, block(1, first, false)},
                                   {PEER_ACK, block(2, second, false)},
                                   {PEER_ACK, {PEER_EOT}},
                                   {PEER_NAK, {PEER_EOT}}});
    EXPECT_EQ(xmodem("rt notes.txt"), 0);
    EXPECT_EQ(board.readText("notes.txt"), "line one\nline two\nAmore\n");
}

TEST_F(XmodemReceiveTest, YmodemBatchTakesEveryFileAndEndsOnTheEmptyName) {
    std::vector<uint8_t> one = patternBytes(700, 3);
    std::vector<uint8_t> two = patternBytes(2100, 4);
    XmodemSenderPeer peer(board.line(), Protocol::Ymodem,
                          {PeerFile{"ONE.BIN", one, ""}, PeerFile{"two.bin.", two, ""}}, 1024);
    EXPECT_EQ(xmodem("rbk"), 0);
    EXPECT_TRUE(peer.finished());
    // Names come small, without a final dot; the header's length trims the last block.
    EXPECT_EQ(board.readFile("one.bin"), one);
    EXPECT_EQ(board.readFile("two.bin"), two);
    EXPECT_FALSE(board.fileExists("xmodem.in"));
}

// The length trims the last block only when it is a number that can be a
// length; anything else is no length, and the padded blocks are kept.
TEST_F(XmodemReceiveTest, AHeaderLengthThatIsNotANonNegativeNumberIsNoLength) {
    const std::vector<uint8_t> data = patternBytes(1000);
    const std::vector<uint8_t> whole = padded(data, 1024, PEER_SUB);
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"1000 0 100644", data}, {"-5", whole}, {"-5 0 100644", whole}, {"+1000", data},
        {"size", whole}, {"1000x", data}, {"99999999999999999999", whole}, {"-0", whole},
    };
    for (const auto& [text, stored] : cases) {
        XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{"x.bin", data, text}});
        EXPECT_EQ(xmodem("-cbrke xcode.bin"), 0) << text;
        EXPECT_TRUE(peer.finished()) << text;
        EXPECT_EQ(board.readFile("xcode.bin"), stored) << text;
    }
}

TEST_F(XmodemReceiveTest, YmodemGStreamsWithoutAcknowledgements) {
    std::vector<uint8_t> data = patternBytes(3000);
    XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{"stream.bin", data, ""}}, 1024);
    EXPECT_EQ(xmodem("rbg"), 0);
    EXPECT_TRUE(peer.finished());
    EXPECT_EQ(peer.heard().front(), 'G');
    EXPECT_EQ(board.readFile("stream.bin"), data);
    // Only the confirmed EOT and the closing header were acknowledged.
    EXPECT_EQ(peer.countOf(PEER_ACK), 2u);
}

TEST_F(XmodemReceiveTest, OneKRequestIsNotRepeatedWhereAHeaderIsDue) {
    // A sender that takes the "K" behind "C" for garbage where it waits for
    // the header's ACK, and the "C" after the ACK for a NAK, sends the
    // header again; the repeats must not get a "K" of their own, or the
    // same thing happens for ever.
    std::vector<uint8_t> data = patternBytes(128);
    std::vector<uint8_t> header = xmodemBlock(0, ymodemHeaderData("sent.bin", "128", 128), true);
    ScriptPeer peer(board.line(), {{'C', header},
                                   {'C', header},
                                   {'C', header},
                                   {'C', block(1, data)},
                                   {PEER_ACK, {PEER_EOT}},
                                   // The batch's closing header comes only after the one-second retry.
                                   {'C', xmodemBlock(0, std::vector<uint8_t>(128, 0), true), 1200000}});
    EXPECT_EQ(xmodem("-cbrke xcode.bin"), 0);
    EXPECT_TRUE(peer.done());
    // The batch goes on with a header, not data: its next opening, and the
    // retry when that goes unanswered, ask without "K" as well.
    const std::vector<uint8_t> answers{'C', 'K', PEER_ACK, 'C', 'K', PEER_ACK, 'C', PEER_ACK, 'C',
                                       PEER_ACK, PEER_ACK, 'C', 'C', PEER_ACK};
    EXPECT_EQ(peer.heard(), answers);
    EXPECT_EQ(board.readFile("xcode.bin"), data);
}

TEST_F(XmodemReceiveTest, NamedReceiveKeepsItsTargetWhateverTheSenderCallsTheFile) {
    board.writeFile("boot.dim", "directory");
    std::vector<uint8_t> data = patternBytes(500);
    XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{"boot.dim", data, ""}});
    EXPECT_EQ(xmodem("-cbrkep xcode.bin"), 0);
    EXPECT_TRUE(peer.finished());
    EXPECT_EQ(board.readText("boot.dim"), "directory");
    EXPECT_EQ(board.readFile("xcode.bin"), data);
    // The sender's name is still reported.
    EXPECT_TRUE(outputHas("YMODEM file name: boot.dim\n"));
    // A second file of the batch would replace the first: it is refused.
    XmodemSenderPeer batch(board.line(), Protocol::Ymodem, {PeerFile{"a", data, ""}, PeerFile{"b", {1, 2}, ""}});
    EXPECT_EQ(xmodem("-cbrke xcode.bin"), -1);
    EXPECT_TRUE(outputHas("Only one file can be received into a named file"));
    EXPECT_EQ(board.readFile("xcode.bin"), data);
}

TEST_F(XmodemReceiveTest, BatchNamesStayInTheCurrentDirectory) {
    board.writeFile("vpd.bin", "vital");
    {
        // "/" turns into ":", which no file name on the volume can hold.
        XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{"../files/vpd.bin", {1, 2, 3}, ""}});
        EXPECT_EQ(xmodem("rb"), -1);
        EXPECT_TRUE(outputHas(cookedText("\r\nCan't create file for receive\n\r")));
        EXPECT_EQ(peer.countOf(PEER_CAN), 3u);
    }
    for (const char* name : {".", ".."}) {
        XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{name, {1, 2, 3}, ""}});
        board.line().clearOutput();
        EXPECT_EQ(xmodem("rb"), -1) << name;
        EXPECT_TRUE(outputHas("Refused file name from sender")) << name;
    }
    EXPECT_EQ(board.readText("vpd.bin"), "vital");
}

TEST_F(XmodemReceiveTest, HeaderNamesAreCutToTheNameBuffer) {
    std::vector<uint8_t> data = patternBytes(128);
    // No 0 byte in the whole header; a 1024-byte header with a far longer name.
    for (auto [header, name] : {std::pair{std::vector<uint8_t>(128, 'n'), std::string(127, 'n')},
                                std::pair{ymodemHeaderData(std::string(300, 'q'), "128", 1024), std::string(127, 'q')}}) {
        XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{"", data, ""}});
        peer.rawHeader = header;
        EXPECT_EQ(xmodem("rb"), 0);
        EXPECT_EQ(board.readFile(name), data);
    }
}

// The name is asked for with NAK, in CRC mode too, and so is it again when
// the first request goes unanswered; the data are asked for in the mode chosen.
TEST_F(XmodemReceiveTest, Modem7NameIsTakenCharacterByCharacter) {
    for (bool crc : {false, true}) {
        SCOPED_TRACE(crc);
        uint8_t sum = 0;
        std::vector<Step> steps = modem7NameSteps("FOO     TXT", sum);
        steps.insert(steps.begin(), Step{PEER_NAK, {}});
        std::vector<uint8_t> data = patternBytes(128);
        steps.push_back({crc ? uint8_t{'C'} : PEER_NAK, block(1, data, crc)});
        steps.push_back({PEER_ACK, {PEER_EOT}});
        steps.push_back({PEER_NAK, {PEER_EOT}});
        // The next file's request: the batch ends instead of a name.
        steps.push_back({PEER_ACK, {}});
        steps.push_back({PEER_NAK, {PEER_ACK, PEER_EOT}});
        ScriptPeer peer(board.line(), steps);
        board.line().clearOutput();
        EXPECT_EQ(xmodem(crc ? "rbmcp" : "rbmp"), 0);
        EXPECT_TRUE(peer.done());
        const std::vector<int64_t> naks = peer.timesOf(PEER_NAK);
        ASSERT_GE(naks.size(), 2u);
        EXPECT_EQ(naks[1] - naks[0], MICROS_PER_SECOND);
        EXPECT_TRUE(outputHas("MODEM7 file name: foo.txt\n"));
        EXPECT_TRUE(outputHas("MODEM7 Batch Receive Complete\n"));
        EXPECT_EQ(board.readFile("foo.txt"), data);
    }
}

TEST_F(XmodemReceiveTest, SenderDeafToCrcGetsChecksumRequestsFromTheThirtiethAttempt) {
    // Each request is answered with a lone CAN: an error that is no
    // timeout, so the opening goes on until the requests change.
    std::vector<Step> steps;
    for (int i = 0; i < 30; ++i) {
        steps.push_back({'C', {PEER_CAN}});
    }
    std::vector<uint8_t> data = patternBytes(128);
    steps.push_back({PEER_NAK, block(1, data, false)});
    steps.push_back({PEER_ACK, {PEER_EOT}});
    ScriptPeer peer(board.line(), steps);
    EXPECT_EQ(xmodem("-cbrkep swap.bin"), 0);
    EXPECT_TRUE(peer.done());
    EXPECT_TRUE(outputHas("Received single CAN character\n"));
    EXPECT_TRUE(outputHas("Sender not accepting CRC request, changing to checksum\n"));
    EXPECT_EQ(board.readFile("swap.bin"), data);
}

}  // namespace
