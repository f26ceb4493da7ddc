// Starting the operational code: the road from the stored image to the
// hand-over, the progress bar, and every way the inflation can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "boot/code_start.h"
#include "board/cpld.h"
#include "support/boot_spine_images.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/test_images.h"

using namespace testing_support;

namespace {

constexpr const char* DECOMPRESSION_FAILURE =
    "\r\n\r\nThere was an error during decompression... resetting the switch\r\n";
constexpr const char* SCALE_LINE = "                       50%                     100%\r\n";

// The marks of the progress bar: the text between the scale line and the
// line end that closes the bar.
std::string progressBar(const std::string& output) {
    size_t start = output.find(SCALE_LINE);
    if (start == std::string::npos) {
        return "(no scale line)";
    }
    start += std::strlen(SCALE_LINE);
    return output.substr(start, output.find("\r\n", start) - start);
}

std::vector<uint8_t> ramBytes(TestBoard& board, uint32_t address, size_t length) {
    auto view = board.board().ram().view(address, length);
    return std::vector<uint8_t>(view.begin(), view.end());
}

}  // namespace

TEST(CodeStart, BootsAGoodImageToTheHandOverWithTheCodeAtItsLoadAddress) {
    TestBoard board(sim::OnHandover::Exit);
    board.formatVolume();
    std::vector<uint8_t> code = patternBytes(300000, 7);
    board.writeFile("image1", oprImage({.component0 = zlibStream(code), .bootCode = patternBytes(5000, 8),
                                        .loadAddress = 0x00100000, .timestamp = "Wed Jun 20 14:03:09 2007"}));

    EXPECT_EQ(board.run(), 0);

    const std::string& out = board.output();
    EXPECT_NE(out.find("\r\n\r\nOperational Code Date: Wed Jun 20 14:03:09 2007\r\nUncompressing.....\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(ramBytes(board, 0x00100000, code.size()), code);

    // The record of the hand-over: entry, normal start, interrupts off.
    EXPECT_TRUE(board.board().core().lastHandover().icacheInvalidated);
    EXPECT_NE(board.diagnosticsText().find("handover: entry=0x00100000 mode=1 msr=0x00001000 hid0=0x00000000"),
              std::string::npos);
    // The leftovers of code loading are gone before the code starts.
    EXPECT_FALSE(board.fileExists("xcode.bin"));
}

// The image that matches the board is the second; the first entry's target
// is another board's.
TEST(CodeStart, ImageInsideAContainerAtAnOffsetBoots) {
    TestBoard board(sim::OnHandover::Exit);
    board.formatVolume();
    std::vector<uint8_t> code = patternBytes(70000, 3);
    std::vector<uint8_t> container = boot::stkFront({{400, 0x00508555}, {8192, swboot::DEVICE_TARGET_ID}});
    boot::placeAt(container, 8192, oprImage({.component0 = zlibStream(code), .loadAddress = 0x00300000}));
    boot::stkFinish(container);
    board.writeFile("image1", container);

    EXPECT_EQ(board.run(), 0);
    EXPECT_EQ(board.board().core().lastHandover().entry, 0x00300000u);
    EXPECT_EQ(ramBytes(board, 0x00300000, code.size()), code);
}

TEST(CodeStart, ProgressBarMarksFollowTheEvenPercentagesReached) {
    struct Case {
        size_t streamSize;
        size_t marks;
    };
    // 102400 bytes: 100 steps of 1024 reach 1..100 %, every even one marked.
    // Larger: the first step is at 0 %, which is marked too.
    // Under 1024: one step straight to 100 %.
    for (Case c : {Case{102400, 50}, Case{204800, 51}, Case{500, 1}}) {
        TestBoard board(sim::OnHandover::Exit);
        board.formatVolume();
        ImageSpec layout;
        layout.component0 = storedZlibStreamOf(c.streamSize);
        board.writeFile("image1", oprImage(layout));
        EXPECT_EQ(board.run(), 0);
        EXPECT_EQ(progressBar(board.output()), std::string(c.marks, '|')) << c.streamSize << " bytes";
    }
}

// A good image is started (its file lands in the staging area), then
// deleted: inflating it again fails rather than reuse the bytes in RAM.
TEST(CodeStart, StartModesReachTheCodeAndStagingAreaLeftoversAreNotStartedAgain) {
    TestBoard board(sim::OnHandover::Return);
    LoaderOnBoard loader(board);
    ImageSpec layout;
    layout.component0 = zlibStream(patternBytes(4000, 5));
    board.writeFile("image1", oprImage(layout));

    for (uint32_t mode : {swboot::START_MODE_NORMAL, swboot::START_MODE_SWITCH_DIAGNOSTICS}) {
        int result = -1;
        EXPECT_EQ(loader.run([&] { result = loader->codeStart.opCodeStart(mode); }), "");
        EXPECT_EQ(result, static_cast<int>(mode));
        EXPECT_EQ(board.board().core().lastHandover().startMode, mode);
    }
    std::filesystem::remove(board.filePath("image1"));
    EXPECT_EQ(loader->codeStart.opCodeInflate("image1", 0), 1);
}

// Never code entered; a missing or short file never inflates what the
// staging area still holds.
TEST(CodeStart, EveryFailureShowsTheFaultAndResetsAfterTwoSeconds) {
    ImageSpec layout;
    layout.component0 = zlibStream(patternBytes(50000, 2));
    const std::vector<uint8_t> good = oprImage(layout);
    std::vector<uint8_t> beyond = good;  // claims more compressed data than the file holds
    swboot::putBe32(beyond.data() + swboot::IMAGE_COMPONENT_TABLE_OFFSET + swboot::COMPONENT_SIZE_OFFSET,
                    static_cast<uint32_t>(layout.component0.size() + 4096));
    fixCrc(beyond);
    ImageSpec corrupt = layout;
    for (size_t i = 100; i < 140; ++i) {
        corrupt.component0[i] ^= 0x5A;
    }
    auto loadedAt = [](std::vector<uint8_t> code, uint32_t address) {
        return oprImage({.component0 = zlibStream(code), .loadAddress = address});
    };
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"missing file", {}},
        {"header only", {good.begin(), good.begin() + swboot::IMAGE_HEADER_SIZE}},
        {"short header", {good.begin(), good.begin() + 60}},
        {"size 0", oprImage({})},
        {"corrupt stream", oprImage(corrupt)},
        {"component beyond the file", beyond},
        {"load address in the staging area", loadedAt(patternBytes(4000, 2), 0x02000100)},
        {"load address above RAM", loadedAt(patternBytes(4000, 2), 0x10000000)},
        {"code running into the staging area", loadedAt(std::vector<uint8_t>(0x3000, 0xAB), 0x02000000 - 0x1000)},
    };
    for (const auto& [why, image] : cases) {
        SCOPED_TRACE(why);
        TestBoard board(sim::OnHandover::Exit);
        LoaderOnBoard loader(board);
        if (!image.empty()) {
            board.writeFile("image1", image);
        }
        int64_t before = board.clock().nowMicros();
        EXPECT_EQ(loader.run([&] { loader->codeStart.opCodeStart(1); }), "reset: CPLD reset request");
        EXPECT_NE(board.output().find(DECOMPRESSION_FAILURE), std::string::npos);
        const auto& writes = board.board().cpld().writes();
        EXPECT_TRUE(std::any_of(writes.begin(), writes.end(),
                                [](const auto& w) { return w.reg == sim::Cpld::REG_LED1 && w.value == 0x60; }));
        EXPECT_GE(board.clock().nowMicros() - before, 2000000);
        EXPECT_EQ(board.board().core().handoverCount(), 0);
    }
}
