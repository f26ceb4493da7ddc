// Code loads through a noisy console line: each installs the image byte for
// byte or leaves "image1", "image2" and "boot.dim" exactly as they were.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/code_load.h"
#include "support/menu_board.h"
#include "support/xmodem_peer.h"

namespace {

using namespace testing_support;
using boot::goodImage;

constexpr double NOISE_RATE = 1e-4;
constexpr int LOADS = 100;

TEST(CodeLoadNoise, EveryLoadInstallsExactlyOrChangesNothing) {
    // Large enough that most loads meet some noise.
    const std::vector<uint8_t> image = goodImage({.codeBytes = 12000, .codeSeed = 9, .timestamp = "new code"});
    int installed = 0;
    int hit = 0;
    for (int seed = 1; seed <= LOADS; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TestBoard board;
        boot::plantCode(board, boot::Code::GoodWithBackup);
        LoaderOnBoard loader(board, false);
        loader.run([&] { loader->dim.dimInitialize(); });
        const auto before = board.imageFiles();

        sim::LineNoise toBoard(NOISE_RATE, static_cast<uint64_t>(seed));
        sim::LineNoise fromBoard(NOISE_RATE, static_cast<uint64_t>(seed) ^ sim::LineNoise::OTHER_DIRECTION);
        board.line().setNoise(toBoard, fromBoard);
        int result = -1;
        std::string ended;
        {
            XmodemSenderPeer peer(board.line(), XmodemSenderPeer::Protocol::Xmodem, {PeerFile{"", image, ""}},
                                  1024);
            ended = loader.run([&] { result = loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID); });
        }
        hit += board.line().noiseHits() > 0 ? 1 : 0;
        board.line().setNoise({}, {});
        EXPECT_EQ(ended, "");
        auto after = board.imageFiles();
        if (result == 0) {
            ++installed;
            // XMODEM carries no length: the last 1K block's padding stays.
            EXPECT_EQ(after["image1"], padded(image, (image.size() + 1023) / 1024 * 1024, PEER_SUB));
            EXPECT_EQ(after["image2"], before.at("image2"));
            EXPECT_EQ(after["boot.dim"], before.at("boot.dim"));
        } else {
            EXPECT_EQ(after, before);
        }
    }
    std::printf("%d noisy code loads: %d installed, %d refused; noise hit %d of them\n", LOADS, installed,
                LOADS - installed, hit);
    // Most loads get through: the transfer repairs what the noise breaks.
    EXPECT_GT(installed, LOADS / 2);
    EXPECT_GT(hit, LOADS / 4);
}

}  // namespace
