// The sending side of the xmodem command against a scripted receiver on
// virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <tuple>
#include <string>
#include <vector>

#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/test_images.h"
#include "support/xmodem_peer.h"
#include "transfer/xmodem.h"

namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

using namespace testing_support;
using Request = XmodemReceiverPeer::Request;

constexpr int64_t FIRST_REQUEST_AT = MICROS_PER_SECOND;

class XmodemSendTest : public testing_support::OnBoardTest {
protected:
    std::vector<uint8_t> plant(const std::string& name, size_t size, uint32_t seed = 1) {
        std::vector<uint8_t> data = patternBytes(size, seed);
        board.writeFile(name, data);
        return data;
    }
    // A new receiver (replacing the last) that asks a second from now, and
    // an empty record of the console.
    XmodemReceiverPeer& receiver(Request request, bool ymodem = false, bool modem7 = false) {
        peer_.reset();
        peer_.emplace(board.line(), request, ymodem, modem7);
        peer_->start(board.clock().nowMicros() + FIRST_REQUEST_AT);
        board.line().clearOutput();
        return *peer_;
    }

    std::optional<XmodemReceiverPeer> peer_;
};

TEST_F(XmodemSendTest, TheReceiversRequestChoosesChecksumCrcOrStreaming) {
    // G: the peer acknowledges no block; a sender that waited would send
    // each block again after its timeout.
    for (auto [request, check] : {std::pair{Request::Checksum, 1u}, std::pair{Request::Crc, 2u}, std::pair{Request::G, 2u}}) {
        SCOPED_TRACE(static_cast<int>(request));
        std::vector<uint8_t> data = plant("data.bin", 300);
        XmodemReceiverPeer& peer = receiver(request);
        EXPECT_EQ(xmodem("sb data.bin"), 0);
        ASSERT_EQ(peer.blocks().size(), 3u);
        for (const auto& block : peer.blocks()) {
            EXPECT_EQ(block.start, PEER_SOH);
            EXPECT_EQ(block.checkLength, check);
            EXPECT_TRUE(block.checkValid);
        }
        EXPECT_EQ(peer.eotsHeard(), 1u);
        ASSERT_EQ(peer.files().size(), 1u);
        EXPECT_EQ(peer.files()[0].data, padded(data, 384, PEER_SUB));
    }
}

TEST_F(XmodemSendTest, YmodemSendsOneKBlocksOnlyToAReceiverAskingForThem) {
    for (auto [request, blocks, start] : {std::tuple{Request::Crc1K, 5u, PEER_STX}, std::tuple{Request::Crc, 40u, PEER_SOH}}) {
        std::vector<uint8_t> data = plant("big.bin", 5000);
        XmodemReceiverPeer& peer = receiver(request, true);
        EXPECT_EQ(xmodem("sby big.bin"), 0);
        ASSERT_EQ(peer.blocks().size(), 1u + blocks + 1u);  // header, data, closing header
        EXPECT_EQ(peer.blocks()[0].start, PEER_SOH);
        for (size_t i = 1; i <= blocks; ++i) {
            EXPECT_EQ(peer.blocks()[i].start, start) << i;
        }
        ASSERT_EQ(peer.files().size(), 1u);
        EXPECT_EQ(peer.files()[0].name, "big.bin");
        EXPECT_THAT(peer.files()[0].headerText, StartsWith("5000 "));
        EXPECT_EQ(padded(peer.files()[0].data, 5000, 0), data);
        EXPECT_TRUE(peer.batchClosed());
    }
}

TEST_F(XmodemSendTest, OneKBlocksFallBackTo128AfterExcessiveErrors) {
    std::vector<uint8_t> data = plant("big.bin", 8192);
    XmodemReceiverPeer& peer = receiver(Request::Crc);
    peer.nakTransmissions = {0, 1, 2, 3, 4, 5};
    EXPECT_EQ(xmodem("sbkp big.bin"), 0);
    EXPECT_TRUE(outputHas("Reducing packet size to 128 due to excessive errors\n"));
    ASSERT_EQ(peer.blocks().size(), 7u + 56u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(peer.blocks()[i].start, PEER_STX);
        EXPECT_EQ(peer.blocks()[i].number, 1);
    }
    EXPECT_EQ(peer.blocks()[7].start, PEER_SOH);
    EXPECT_EQ(peer.blocks()[7].number, 2);
    EXPECT_EQ(peer.files().at(0).data, data);
}

TEST_F(XmodemSendTest, RefusedBlocksAreSentAgainUpToTenTimes) {
    std::vector<uint8_t> data = plant("data.bin", 200);
    {
        XmodemReceiverPeer& peer = receiver(Request::Crc);
        peer.nakTransmissions = {0, 1};
        EXPECT_EQ(xmodem("sb data.bin"), 0);
        EXPECT_EQ(peer.blocks().size(), 4u);
        EXPECT_EQ(peer.files().at(0).data, padded(data, 256, PEER_SUB));
    }
    XmodemReceiverPeer& peer = receiver(Request::Crc);
    peer.nakTransmissions = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(xmodem("sb data.bin"), -1);
    EXPECT_EQ(peer.blocks().size(), 10u);
    EXPECT_TRUE(outputHas(std::string(5, PEER_CAN) + cookedText("\r\nToo many errors in transmission\n\r")));
}

TEST_F(XmodemSendTest, EndOfFileCountsOnlyWhenOneOfTheFirstFiveEotsIsAcknowledged) {
    plant("data.bin", 100);
    const std::string complete = "Send Complete\n1 Sectors Transfered in 0 seconds\n\r";
    // 0: a receiver that asks for the EOT again, as most do.
    for (auto [acknowledged, result, said] :
         {std::tuple{6, -1, cookedText("\r\nRemote System Not Responding on Completion\n\r")},
          std::tuple{0, 0, complete}, std::tuple{5, 0, complete}}) {
        XmodemReceiverPeer& peer = receiver(Request::Crc);
        peer.eotAcknowledged = acknowledged;
        EXPECT_EQ(xmodem("sbp data.bin"), result) << acknowledged;
        EXPECT_EQ(peer.eotsHeard(), acknowledged == 0 ? 2u : static_cast<size_t>(acknowledged)) << acknowledged;
        EXPECT_TRUE(outputHas(said)) << acknowledged;
    }
    EXPECT_TRUE(outputHas("EOT not ACKed, try 4\n"));
    EXPECT_FALSE(outputHas("EOT not ACKed, try 5\n"));
}

TEST(YmodemHeaderTest, NameAndTextBeyondByte125TakeAOneKBlock) {
    uint8_t data[1024];
    const std::string name(100, 'N');
    // The text's last byte at 124: it still fits.
    EXPECT_EQ(swboot::ymodemHeaderBuild(data, ("dir/" + name).c_str(), std::string(24, '7').c_str(), 300), 128);
    EXPECT_EQ(data[125], 0);
    EXPECT_EQ(data[126], 300 & 0xFF);
    EXPECT_EQ(data[127], 300 >> 8);

    EXPECT_EQ(swboot::ymodemHeaderBuild(data, ("dir/" + name).c_str(), std::string(25, '7').c_str(), 300), 1024);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data)), std::string(100, 'n'));
    EXPECT_EQ(data[100], 0);
    EXPECT_EQ(data[125], '7');
    EXPECT_EQ(data[126], 0);
    EXPECT_EQ(data[1022], 300 & 0xFF);
    EXPECT_EQ(data[1023], 300 >> 8);

    // The name: the part after the last slash, small, with colons as slashes.
    EXPECT_EQ(swboot::ymodemHeaderBuild(data, "/DskVol/files/Log:Old.TXT", "12 0", 1), 128);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data)), "log/old.txt");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 12)), "12 0");
    // The closing header: all zeros.
    EXPECT_EQ(swboot::ymodemHeaderBuild(data, "", "", 0), 128);
    EXPECT_EQ(std::vector<uint8_t>(data, data + 128), std::vector<uint8_t>(128, 0));
}

TEST_F(XmodemSendTest, YmodemHeadersCountTheBatchDown) {
    std::vector<uint8_t> a = plant("A.Bin", 300, 1);
    std::vector<uint8_t> b = plant("b.bin", 500, 2);
    XmodemReceiverPeer& peer = receiver(Request::Crc, true);
    EXPECT_EQ(xmodem("sbyp A.Bin gone.bin b.bin"), 0);
    EXPECT_EQ(board.output().find(cookedText("Ready to YMODEM xbatch SEND in binary mode\n\r")), 0u);
    EXPECT_TRUE(outputHas("\nFile gone.bin not found\n"));
    EXPECT_TRUE(outputHas(cookedText("Batch Send Complete\n")));
    ASSERT_EQ(peer.files().size(), 2u);
    EXPECT_TRUE(peer.batchClosed());

    // Names go small; the header's last two bytes hold the record count.
    EXPECT_EQ(peer.files()[0].name, "a.bin");
    EXPECT_EQ(peer.blocks()[0].data[126], 3);
    EXPECT_EQ(peer.blocks()[0].data[127], 0);
    swboot::FileStatus status;
    ASSERT_EQ(loader->p.files.stat("A.Bin", status), swboot::OK);
    char header[64];
    std::snprintf(header, sizeof header, "300 %lo %o 0 2 800 0", static_cast<unsigned long>(status.mtime), status.mode);
    EXPECT_EQ(peer.files()[0].headerText, header);
    EXPECT_THAT(peer.files()[1].headerText, EndsWith(" 0 1 500 0"));
    EXPECT_EQ(padded(peer.files()[0].data, 300, 0), a);
    EXPECT_EQ(padded(peer.files()[1].data, 500, 0), b);
}

TEST_F(XmodemSendTest, Modem7NamesGoFirstAndAnEotClosesTheBatch) {
    std::vector<uint8_t> one = plant("verylongname.c", 100, 1);
    std::vector<uint8_t> two = plant(".hidden.tar.gz", 200, 2);
    XmodemReceiverPeer& peer = receiver(Request::Checksum, false, true);
    EXPECT_EQ(xmodem("sbm verylongname.c .hidden.tar.gz"), 0);
    EXPECT_EQ(board.output().find(cookedText("Ready to MODEM7 xbatch SEND in binary mode\n\r")), 0u);
    ASSERT_EQ(peer.files().size(), 2u);
    EXPECT_EQ(peer.files()[0].name, "VERYLONGC  ");
    EXPECT_EQ(peer.files()[1].name, "HIDDEN  TAR");
    EXPECT_EQ(peer.files()[0].data, padded(one, 128, PEER_SUB));
    EXPECT_EQ(peer.files()[1].data, padded(two, 256, PEER_SUB));
    EXPECT_TRUE(peer.batchClosed());
}

TEST_F(XmodemSendTest, TextModeSplitsCrLfAtTheBlockEnd) {
    board.writeFile("text.txt", std::string(127, 'x') + "\n");
    XmodemReceiverPeer& peer = receiver(Request::Crc);
    EXPECT_EQ(xmodem("st text.txt"), 0);
    const std::string sent = std::string(127, 'x') + "\r\n";
    ASSERT_EQ(peer.files().size(), 1u);
    EXPECT_EQ(peer.files()[0].data, padded(std::vector<uint8_t>(sent.begin(), sent.end()), 256, PEER_SUB));
    EXPECT_TRUE(outputHas(cookedText("File text.txt Ready to SEND in text mode\n\r")));
}

TEST_F(XmodemSendTest, TextModeYmodemSizeCountsTheAddedCarriageReturns) {
    board.writeFile("t.txt", std::string("a\nb\nc\n"));
    XmodemReceiverPeer& peer = receiver(Request::Crc, true);
    EXPECT_EQ(xmodem("sty t.txt"), 0);
    ASSERT_EQ(peer.files().size(), 1u);
    EXPECT_THAT(peer.files()[0].headerText, StartsWith("9 "));
    EXPECT_THAT(peer.files()[0].headerText, EndsWith(" 0 1 9 0"));
    const std::vector<uint8_t> expected{'a', '\r', '\n', 'b', '\r', '\n', 'c', '\r', '\n'};
    EXPECT_EQ(padded(peer.files()[0].data, 9, 0), expected);
}

TEST_F(XmodemSendTest, SingleSendAnnouncesTheFileAndItsEstimate) {
    plant("data.bin", 12700);
    receiver(Request::Crc);
    EXPECT_EQ(xmodem("sb data.bin"), 0);
    EXPECT_EQ(board.output().find(cookedText("File data.bin Ready to SEND in binary mode\n\r"
                                             "Estimated File Size 13K, 100 Sectors, 12700 Bytes\n\r"
                                             "Estimated transmission time 15 seconds \n\r"
                                             "Send several Control-X characters to cancel before transfer starts.\n\r")),
              0u);
}

}  // namespace
