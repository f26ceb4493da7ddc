// Loading new operational code over the console line; every failure leaves
// the volume byte for byte as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "image/code_load.h"
#include "support/menu_board.h"
#include "support/operator_peer.h"
#include "support/xmodem_peer.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using namespace testing_support;
using boot::goodImage;
using Protocol = XmodemSenderPeer::Protocol;

class CodeLoadTest : public testing_support::OnBoardTest {
protected:
    CodeLoadTest() {
        board.writeFile("image1", goodImage({.codeSeed = 1, .timestamp = "image one"}));
        board.writeFile("image2", goodImage({.codeSeed = 2, .timestamp = "image two"}));
        board.writeFile("boot.dim", "---IMAGE---\nbackup\nbackup\nimage1\n2\nold image\n"
                                    "---IMAGE---\nactive\nactive\nimage2\n3\ncurrent image\n");
        loader->dim.dimInitialize();
        before = board.imageFiles();
    }

    // Sends the file with XMODEM-1K, as "sx -k" does.
    int load(const std::vector<uint8_t>& file) {
        XmodemSenderPeer peer(board.line(), Protocol::Xmodem, {PeerFile{"", file, ""}}, 1024);
        return loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID);
    }
    std::string text() { return plainText(board.output()); }
    bool textHas(const std::string& part) { return text().find(part) != std::string::npos; }

    std::map<std::string, std::vector<uint8_t>> before;
};

TEST_F(CodeLoadTest, GoodImageReplacesTheActiveImageOnly) {
    EXPECT_EQ(load(goodImage({.codeSeed = 6})), 0);
    EXPECT_TRUE(textHas("Boot Code Version..............................0\n"
                        "Boot Code Size.................................0x0 (0)\n"
                        "Boot Code Offset...............................0x0 (0)\n"
                        "Boot Code FLASH flag...........................0\n"
                        "Boot Code CRC..................................0x0\n\n"));
    EXPECT_FALSE(textHas("Extracting boot code"));
    EXPECT_FALSE(board.fileExists("bootcode.bin"));
    board.line().clearOutput();
    std::vector<uint8_t> image = goodImage({.codeSeed = 3, .bootCode = true, .bootCodeBytes = 3000});
    EXPECT_EQ(load(image), 0);
    std::string shown = text();
    EXPECT_THAT(shown, StartsWith("Ready to receive the file with XMODEM/CRC....\n"
                                  "Ready to RECEIVE File xcode.bin in binary mode\n"
                                  "Send several Control-X characters to cancel before transfer starts.\n"));
    EXPECT_THAT(shown, HasSubstr("\n\nXMODEM transfer complete, checking CRC....\n"
                                 "Verified operational code CRC.\n"
                                 "\n\nThe following code has been uploaded:\n\n"
                                 "CRC............................................"));
    EXPECT_THAT(shown, HasSubstr("Target Device..................................0x00508541\n"));
    EXPECT_THAT(shown, HasSubstr("Boot Code Size.................................0xbb8 (3000)\n"));
    EXPECT_THAT(shown, HasSubstr("Extracting boot code from image...\n"
                                 "Storing Operational code in Flash. This may take several minutes...\n\n"));

    // The received bytes (padded to whole blocks) under the active name.
    std::vector<uint8_t> received = padded(image, (image.size() + 1023) / 1024 * 1024, PEER_SUB);
    EXPECT_EQ(board.readFile("image2"), received);
    EXPECT_EQ(board.readFile("image1"), before["image1"]);
    EXPECT_EQ(board.readFile("boot.dim"), before["boot.dim"]);
    EXPECT_FALSE(board.fileExists("xcode.bin"));
    EXPECT_FALSE(board.fileExists("image2.prev"));
    EXPECT_EQ(board.readFile("bootcode.bin"), std::vector<uint8_t>(3000, 0x5A));
    EXPECT_EQ(loader->images.activeImageCrcCheck(), 0);
    // The shorter boot code of a second load replaces the first.
    EXPECT_EQ(load(goodImage({.codeSeed = 8, .bootCode = true, .bootCodeBytes = 1000})), 0);
    EXPECT_EQ(board.readFile("bootcode.bin"), std::vector<uint8_t>(1000, 0x5A));
}

TEST_F(CodeLoadTest, ImagesTheLoaderWouldNotStartAreRefusedBeforeTheHeaderIsShown) {
    std::vector<uint8_t> badCrc = goodImage({.codeSeed = 3});
    badCrc[badCrc.size() / 2] ^= 0x01;
    std::vector<uint8_t> smallSize = goodImage({.codeSeed = 3});
    swboot::putBe32(smallSize.data() + swboot::IMAGE_SIZE_OFFSET, 1219);
    fixCrc(smallSize);
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {badCrc, "checking CRC....\nERROR: Operational code CRC is not valid.\n"},
        {smallSize, "Verified operational code CRC.\nERROR: Code image size of 1219 bytes is invalid.\n"},
        {goodImage({.target = 0x00508555}),
         "Verified operational code CRC.\nERROR: Operational code target 508555 does not match this device.\n"},
    };
    for (const auto& [image, message] : cases) {
        board.line().clearOutput();
        EXPECT_EQ(load(image), 1) << message;
        EXPECT_TRUE(textHas(message)) << text();
        EXPECT_FALSE(textHas("The following code has been uploaded"));
        EXPECT_FALSE(board.fileExists("xcode.bin"));
        EXPECT_EQ(board.imageFiles(), before);
    }
}

TEST_F(CodeLoadTest, ContainerWithAMatchingImageIsInstalledWhole) {
    std::vector<uint8_t> other = goodImage({.codeSeed = 4, .target = 0x00508555});
    std::vector<uint8_t> ours = goodImage({.codeSeed = 5, .bootCode = true, .bootCodeBytes = 500});
    const uint32_t otherAt = 400;
    const uint32_t oursAt = static_cast<uint32_t>((otherAt + other.size() + 3) / 4 * 4);
    std::vector<uint8_t> container =
        boot::stkFront({{otherAt, 0x00508555}, {oursAt, swboot::DEVICE_TARGET_ID}});
    boot::placeAt(container, otherAt, other);
    boot::placeAt(container, oursAt, ours);
    boot::stkFinish(container);

    EXPECT_EQ(load(container), 0);
    // The header shown is the matching image's, its offsets counted from
    // the start of the container.
    uint32_t codeOffset = swboot::getBe32(ours.data() + 32) + oursAt;
    char line[96];
    std::snprintf(line, sizeof line, "Operational Code Offset........................0x%x (%d)\n", codeOffset,
                  static_cast<int>(codeOffset));
    EXPECT_TRUE(textHas(line)) << text();
    EXPECT_EQ(board.readFile("bootcode.bin"), std::vector<uint8_t>(500, 0x5A));
    EXPECT_EQ(board.readFile("image2"), padded(container, (container.size() + 1023) / 1024 * 1024, PEER_SUB));
    EXPECT_EQ(board.readFile("boot.dim"), before["boot.dim"]);
}

TEST_F(CodeLoadTest, BootCodeTheVolumeCannotHoldWholeIsReportedAndTheCodeIsStillInstalled) {
    std::vector<uint8_t> image = goodImage({.codeSeed = 11, .bootCode = true, .bootCodeBytes = 3000});
    std::vector<uint8_t> received = padded(image, (image.size() + 1023) / 1024 * 1024, PEER_SUB);
    // Room for the received file and 1024 bytes more.
    sim::HostVolume& volume = board.volume();
    const uint64_t filler = volume.capacityBytes() - volume.usedBytes() - received.size() - 1024;
    const int fd = volume.creat("filler", swboot::OPEN_RDWR);
    const std::vector<uint8_t> zeros(filler, 0);
    ASSERT_EQ(volume.write(fd, zeros.data(), zeros.size()), static_cast<long>(filler));
    ASSERT_EQ(volume.close(fd), 0);

    EXPECT_EQ(load(image), 0);
    EXPECT_TRUE(textHas("Extracting boot code from image...\n"
                        "ERROR: only 1024 of the 3000 bytes of boot code could be stored in bootcode.bin; "
                        "the file was deleted.\n"
                        "Storing Operational code in Flash. This may take several minutes...\n\n"))
        << text();
    EXPECT_FALSE(board.fileExists("bootcode.bin"));
    EXPECT_EQ(board.readFile("image2"), received);
    EXPECT_FALSE(board.fileExists("xcode.bin"));
}

// A terminal program started as soon as the loader's first line shows, as
// "sx -k" invites: it takes every byte it reads from then on -- the "C"s
// of the loader's text included -- for an answer: ACK sends the next
// block, "C" or NAK the same block again, ten times at most, then it
// gives up with CANs; anything else it ignores.
class EarlySender : public LinePeer {
public:
    EarlySender(sim::ScriptedLine& line, std::vector<uint8_t> file) : LinePeer(line, false), file_(std::move(file)) {
        listenFrom(0);
    }
    bool gaveUp() const { return gaveUp_; }

protected:
    void onByte(uint8_t c) override {
        if (over_ || (c == PEER_ACK ? block_ == 0 : c != 'C' && c != PEER_NAK)) {
            return;
        }
        if (c == PEER_ACK) {
            retries_ = 0;
            if (static_cast<size_t>(block_) * 1024 >= file_.size()) {
                over_ = eotSent_;
                eotSent_ = true;
                reply({PEER_EOT});
                return;
            }
            ++block_;
        } else if (block_ == 0) {
            block_ = 1;
        } else if (++retries_ > 10) {
            gaveUp_ = over_ = true;
            reply(std::vector<uint8_t>(8, PEER_CAN));
            return;
        }
        const size_t from = static_cast<size_t>(block_ - 1) * 1024;
        std::vector<uint8_t> part(file_.begin() + static_cast<long>(from),
                                  file_.begin() + static_cast<long>(std::min(file_.size(), from + 1024)));
        reply(xmodemBlock(block_, padded(part, 1024, PEER_SUB), true));
    }

private:
    std::vector<uint8_t> file_;
    int block_ = 0;
    int retries_ = 0;
    bool eotSent_ = false;
    bool over_ = false;
    bool gaveUp_ = false;
};

// On a line held to 9600 or 115200 baud the sender starts while the loader
// still prints its "Ready" lines: its first blocks must neither come back
// to it as echo nor be taken apart for start bytes (the file holds every
// byte value, EOT, ACK, NAK and "C" among them); the receiver asks once
// the line is quiet and the file arrives whole.
TEST(CodeLoadEarlySender, ASenderStartedWhileTheLoaderPrintsStillGetsTheFileThrough) {
    std::vector<uint8_t> file(5000);
    for (size_t i = 0; i < file.size(); ++i) {
        file[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    for (uint32_t speed : {9600u, 115200u}) {
        sim::BoardOptions options;
        options.linePaced = true;
        TestBoard board(std::move(options));
        LoaderOnBoard loader(board);
        board.board().tty().baudRateSet(speed);
        EarlySender sender(board.line(), file);
        int result = -1;
        EXPECT_EQ(loader.run([&] {
            loader->io.printf("Ready to receive the file with XMODEM/CRC....\n");
            result = loader->xmodem.xmodem("-cbrke xcode.bin");
        }),
                  "");
        EXPECT_EQ(result, 0) << speed;
        EXPECT_FALSE(sender.gaveUp()) << speed;
        EXPECT_EQ(board.readFile("xcode.bin"), padded(file, 5120, PEER_SUB)) << speed;
    }
}

TEST_F(CodeLoadTest, FailedInstallKeepsTheStoredCode) {
    board.volume().injectFailure(sim::HostVolume::Operation::Rename);
    EXPECT_EQ(load(goodImage({.codeSeed = 9})), 1);
    EXPECT_TRUE(textHas("ERROR: Operational code update failed.\n"));
    EXPECT_FALSE(board.fileExists("xcode.bin"));
    EXPECT_EQ(board.imageFiles(), before);
    EXPECT_EQ(loader->images.activeImageCrcCheck(), 0);
}

TEST_F(CodeLoadTest, NoMemoryForTheBootCodeStopsBeforeTheInstall) {
    board.board().heap().setAllocationLimit(100);
    EXPECT_EQ(load(goodImage({.codeSeed = 10, .bootCode = true, .bootCodeBytes = 700})), 1);
    EXPECT_TRUE(textHas("Extracting boot code from image...\n"
                        "\nERROR!!\nCould not allocate temporary memory buffer for Boot Code copy.!\n"));
    EXPECT_FALSE(board.fileExists("xcode.bin"));
    EXPECT_FALSE(board.fileExists("bootcode.bin"));
    EXPECT_EQ(board.imageFiles(), before);
}

TEST_F(CodeLoadTest, InterruptedTransferLeavesWhatArrivedInTheReceiveFileOnly) {
    std::vector<uint8_t> image = goodImage({.codeSeed = 12});
    std::vector<uint8_t> first(image.begin(), image.begin() + 1024);
    // The sender gives up after one block: its cancel inside the transfer
    // is taken for noise, and the receive ends on the timeout limit.
    ScriptPeer peer(board.line(), {{'C', xmodemBlock(1, first, true)}, {PEER_ACK, {PEER_CAN, PEER_CAN}}});
    EXPECT_EQ(loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID), 1);
    EXPECT_TRUE(textHas("ABORTED -- Remote system is not sending file\n"));
    EXPECT_TRUE(textHas("Error while receiving file with XMODEM.\n"));
    EXPECT_EQ(board.readFile("xcode.bin"), first);
    EXPECT_EQ(board.imageFiles(), before);
}

TEST_F(CodeLoadTest, YmodemSenderCannotChooseWhereTheCodeGoes) {
    std::vector<uint8_t> image = goodImage({.codeSeed = 13});
    {
        // A damaged image announced as the active image's file.
        std::vector<uint8_t> damaged = image;
        damaged[2000] ^= 0xFF;
        XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{"image2", damaged, ""}}, 1024);
        EXPECT_EQ(loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID), 1);
        EXPECT_EQ(board.imageFiles(), before);
    }
    {
        // A good image announced as the image directory: installed as code.
        XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{"boot.dim", image, ""}}, 1024);
        EXPECT_EQ(loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID), 0);
        EXPECT_TRUE(peer.finished());
        EXPECT_EQ(board.readFile("boot.dim"), before["boot.dim"]);
        EXPECT_EQ(board.readFile("image2"), image);  // trimmed to the announced length
        EXPECT_EQ(board.readFile("image1"), before["image1"]);
    }
}

TEST_F(CodeLoadTest, TooShortToReadIsReportedAndKept) {
    XmodemSenderPeer peer(board.line(), Protocol::Ymodem, {PeerFile{"x", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, ""}});
    EXPECT_EQ(loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID), 2);
    EXPECT_TRUE(textHas("ERROR: Can't read file xcode.bin\n"));
    EXPECT_EQ(board.readFile("xcode.bin").size(), 10u);
    EXPECT_EQ(board.imageFiles(), before);
}

TEST(CodeLoadMenu, OptionFourLoadsGoodCodeAndTheMenuTakesItAsValid) {
    // No code yet: the menu starts with the code taken as invalid.
    boot::MenuBoard menu(boot::Code::None);
    std::vector<uint8_t> image = goodImage({.codeSeed = 14, .timestamp = "loaded"});
    OperatorAfterTransfer peer(menu.board, image, {"5"});
    peer.listenFrom(0);
    EXPECT_EQ(menu.run({"4"}), 0);
    std::string shown = plainText(menu.board.output());
    EXPECT_THAT(shown, HasSubstr("Operational code CRC is invalid.\n"));
    EXPECT_THAT(shown, Not(HasSubstr("Error loading code...\n")));
    EXPECT_THAT(shown, HasSubstr("The following image is in the Flash File System:"));
    EXPECT_THAT(shown, HasSubstr("Timestamp - loaded\n"));
    EXPECT_EQ(menu.board.readFile("image1"), padded(image, (image.size() + 1023) / 1024 * 1024, PEER_SUB));
}

TEST(CodeLoadMenu, OptionFourWithBadCodeMarksTheCodeInvalid) {
    boot::MenuBoard menu(boot::Code::Good);
    std::vector<uint8_t> image = goodImage({.codeSeed = 16});
    image[1500] ^= 0x10;
    OperatorAfterTransfer peer(menu.board, image, {"1"});
    peer.listenFrom(0);
    EXPECT_EQ(menu.run({"4"}), 0);
    std::string shown = menu.afterList();
    EXPECT_THAT(shown, HasSubstr("ERROR: Operational code CRC is not valid.\nError loading code...\n[Boot Menu] "));
    EXPECT_THAT(shown, HasSubstr("ERROR: Operational code CRC is not valid, you must load new code.\n\n"));
    EXPECT_FALSE(menu.handedOver());
}

}  // namespace
