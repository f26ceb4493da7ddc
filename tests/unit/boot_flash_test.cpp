// The boot flash from the operator's side: Boot Menu option 7 writing the
// boot code carried by a loaded image, option 6's flash diagnostics and
// what they leave behind, and a board whose boot code region no longer
// holds a start at the reset vector.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_events.h"
#include "boot_code.h"
#include "common/bytes.h"
#include "host/flash_probe.h"
#include "image/flashacc.h"
#include "support/menu_board.h"
#include "support/operator_peer.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

using namespace testing_support;
using namespace testing_support::boot;

constexpr uint32_t REGION_OFFSET = swboot::BOOT_FLASH_BASE - swboot::FLASH_BASE;

// An image whose boot code component holds these bytes.
std::vector<uint8_t> imageWithBootCode(const std::vector<uint8_t>& bootCode) {
    swboot::tool::ImageBuildInput input;
    input.code = std::vector<uint8_t>(2000, 0x11);
    input.bootCode = bootCode;
    input.loadAddress = TEST_LOAD_ADDRESS;
    return swboot::tool::oprImageBuild(input).value();
}

// A board with good code, booted into the menu, where the operator loads
// an image with option 4 and then types the given lines.
std::string loadThen(TestBoard& board, const std::vector<uint8_t>& image, const std::vector<std::string>& then) {
    plantCode(board, Code::Good);
    board.typeLines({"2", "4"});
    OperatorAfterTransfer peer(board, image, then);
    peer.listenFrom(0);
    EXPECT_EQ(board.run(), 0) << board.diagnosticsText();
    return fromMark(plainText(board.output()), "[Boot Menu] 7\n");
}

TEST(BootCodeOption, WritesTheLoadedBootCodeByteForByteAndTheBoardStillStarts) {
    TestBoard board;  // the factory left every block locked
    // Any whole boot code with a branch at its reset vector, not only ours:
    // this one has no check word.
    auto bootCode = swboot::tool::bootCodeBuild(77);
    swboot::putBe32(bootCode.data() + swboot::tool::CHECK_WORD_OFFSET, 0);
    EXPECT_EQ(loadThen(board, imageWithBootCode(bootCode), {"7", "y"}),
              "[Boot Menu] 7\nDo you wish to update Boot Code? (y/n) y\nErasing Boot Flash.....Done.\n" +
                  bootCodeWriteProgress() + "Boot code updated\n" + PROMPT);
    EXPECT_TRUE(board.bootCodeRegion() == bootCode);
    // Power on again: the new boot code starts.
    board.type("2");
    EXPECT_EQ(board.run(), 0);
    const std::string text = plainText(board.output());
    EXPECT_EQ(countOf(text, "Boot Menu Version"), 2u);
    EXPECT_EQ(text.substr(text.size() - PROMPT.size()), PROMPT);  // the menu again
}

TEST(BootCodeOption, OnlyYesUpdatesAndARefusedFileLeavesTheRegionAsItWas) {
    struct Case {
        std::vector<std::string> typed;
        size_t bootCodeSize;
        std::string after;
    };
    const std::vector<Case> cases = {
        {{"7", "n"}, 4096, "n\n\n\nUpdate aborted.\n" + PROMPT},
        {{"7", ""}, 4096, "\n\n\nUpdate aborted.\n" + PROMPT},
        {{"7", "y"}, swboot::BOOT_FLASH_SIZE + 1,
         "y\nERROR: bootcode.bin is 1048577 bytes, more than the 1048576-byte boot code region; the boot flash was "
         "not changed.\n\nERROR: Could not update boot code\n" +
             PROMPT},
    };
    for (const Case& c : cases) {
        TestBoard board;
        const auto before = board.bootCodeRegion();
        const std::string text =
            loadThen(board, imageWithBootCode(std::vector<uint8_t>(c.bootCodeSize, 0x3C)), c.typed);
        EXPECT_EQ(text, "[Boot Menu] 7\nDo you wish to update Boot Code? (y/n) " + c.after) << c.typed[1];
        EXPECT_TRUE(board.bootCodeRegion() == before) << c.typed[1];
        // The lock bits are cleared only once the operator said yes.
        EXPECT_EQ(board.board().flash().blockLocked(0, 124), c.typed[1] != "y") << c.typed[1];
    }
}

// The probe writes a boot code whole; then the reset vector is changed in
// the cells, or the region's second block goes through more erase and
// program work. Only a branch at the reset vector over blocks left whole
// starts, whatever the region holds besides.
TEST(BrickedBoard, OnlyABranchAtTheResetVectorOverBlocksWrittenWholeStarts) {
    constexpr uint32_t VECTOR = swboot::tool::RESET_VECTOR - swboot::tool::BOOT_CODE_REGION_BASE;
    constexpr uint32_t BLOCK = 0x40000;  // in the region
    constexpr uint32_t HALF = BLOCK / 2;
    constexpr uint32_t BOTH_DEVICES = 0x01000100;  // a command byte to both devices' halves
    enum class After { Nothing, Erased, FirstHalf, SecondHalfThenFirst, PowerUpBetweenHalves };
    struct Case {
        uint32_t at;  // in the region
        uint32_t word;
        After after;  // what the block at BLOCK goes through
        bool starts;
    };
    const std::vector<Case> cases = {
        {VECTOR, 0x4BFFF004, After::Nothing, true},   // b back into the boot page
        {VECTOR, 0x48000001, After::Nothing, true},   // bl
        {VECTOR, 0x4800FFFE, After::Nothing, true},   // ba
        {VECTOR, 0x7C0802A6, After::Nothing, false},  // mflr: code, but not a branch
        {VECTOR, 0x40820008, After::Nothing, false},  // bne: conditional
        {VECTOR, 0x00000000, After::Nothing, false},
        {swboot::tool::CHECK_WORD_OFFSET, 0, After::Nothing, true},  // no check word needed
        {BLOCK, 0x12345678, After::Erased, false},
        {BLOCK, 0x12345678, After::FirstHalf, false},
        {BLOCK, 0x12345678, After::SecondHalfThenFirst, true},
        {BLOCK, 0x12345678, After::PowerUpBetweenHalves, false},
    };
    for (const Case& c : cases) {
        TestBoard board;
        board.formatVolume();
        std::vector<uint8_t> code = swboot::tool::bootCodeBuild(3);
        if (c.after == After::Nothing) {
            swboot::putBe32(code.data() + c.at, c.word);
        }
        sim::StrataFlash& flash = board.board().flash();
        sim::flashBootProbe(flash, code);
        swboot::putBe32(code.data() + c.at, c.word);
        const uint32_t block = REGION_OFFSET + BLOCK;
        auto program = [&](uint32_t from, uint32_t length) {
            for (uint32_t at = from; at < from + length; at += 4) {
                flash.write32(block + at, sim::StrataFlash::CMD_WORD_PROGRAM * BOTH_DEVICES);
                flash.write32(block + at, swboot::getBe32(code.data() + BLOCK + at));
            }
            flash.write32(block, swboot::FLASH_CMD_READ_ARRAY);
        };
        if (c.after != After::Nothing) {
            flash.write32(block, swboot::FLASH_CMD_BLOCK_ERASE);
            flash.write32(block, swboot::FLASH_CMD_CONFIRM);
            flash.write32(block, swboot::FLASH_CMD_READ_ARRAY);
        }
        if (c.after == After::SecondHalfThenFirst) {
            program(HALF, HALF);
        }
        if (c.after == After::FirstHalf || c.after == After::SecondHalfThenFirst ||
            c.after == After::PowerUpBetweenHalves) {
            program(0, HALF);
        }
        if (c.after == After::PowerUpBetweenHalves) {
            flash.powerUp();
            program(HALF, HALF);
        }
        SCOPED_TRACE(::testing::Message() << std::hex << c.at << " " << c.word << " " << static_cast<int>(c.after));
        // Torn, yet holding the code: the second half is filler, erased bytes.
        EXPECT_EQ(board.bootCodeRegion() == code, c.after != After::Erased);
        EXPECT_EQ(board.run(), c.starts ? 0 : sim::EXIT_BRICKED);
        EXPECT_EQ(board.output().empty(), !c.starts);
        if (c.after == After::FirstHalf) {
            EXPECT_EQ(board.diagnostics().back(),
                      "board: will not start: the boot code region is not one whole boot code: its block at "
                      "0xfff40000 (device 0) was erased and has not been programmed whole since (swboot-sim "
                      "flash-boot --state DIR FILE writes boot code as a probe would)");
        }
    }
}

std::string diagnosticsRun(TestBoard& board, const std::string& iterations) {
    board.formatVolume();
    board.typeLines({"6", "y", iterations});
    EXPECT_EQ(board.run(), 0) << board.diagnosticsText();
    return fromMark(plainText(board.output()), "[Boot Menu] 6\n");
}

TEST(FlashDiagnostics, OnePassTestsEverySectorBelowTheBootCodeAndTheVolumeIsFormattedNextTime) {
    TestBoard board;
    const auto bootRegion = board.bootCodeRegion();
    const std::string text = diagnosticsRun(board, "1");
    const std::string head =
        "[Boot Menu] 6\n\n\nDo you wish to run flash diagnostics? (Boot code region will not be tested.) (y/n): y\n"
        "\n\nInput number of diagnostic iterations -> 1\nTesting 2 x 28F128J3 base: 0xfe000000\n"
        "Iterations remaining = 1\n\nErasing sector 0\nVerify sector 0 erased\nWriting sector 0\nErasing sector 1\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_THAT(text, HasSubstr("Writing sector 123\nVerify sector 0\nErasing sector 0\nVerify sector 0 erased\n"
                                "Verify sector 1\n"));
    EXPECT_THAT(text, EndsWith("Verify sector 123\nErasing sector 123\nVerify sector 123 erased\n"
                               "Flash Diagnostics passed\n" + PROMPT));
    EXPECT_EQ(countOf(text, "Erasing sector "), 248u);
    EXPECT_EQ(countOf(text, "Writing sector "), 124u);
    EXPECT_EQ(board.board().flash().eraseCount(0, 123), 2u);
    EXPECT_TRUE(board.bootCodeRegion() == bootRegion);
    EXPECT_TRUE(board.board().flashCells().unitErased(0));

    board.type("");
    EXPECT_EQ(board.run(), 0);
    const std::string next = plainText(board.output()).substr(plainText(board.output()).rfind("Flash Diagnostics passed"));
    EXPECT_NE(next.find("\nusrTffsConfig returned 0x"), std::string::npos) << next;
    EXPECT_NE(next.find("\n\nTFFS Formatted....Device details...\n"), std::string::npos) << next;
}

TEST(FlashDiagnostics, AStuckBitEndsTheTestWithTheTwoLines) {
    sim::BoardOptions options;
    // Word 5 of sector 3 cannot be programmed: a bit that stays 1.
    options.profile.flash.stuckBits.push_back({0xFE0C0014, 0x00000002, true});
    TestBoard board(options);
    const std::string text = diagnosticsRun(board, "2");
    const std::string end = "Erasing sector 123\nVerify sector 123 erased\nWriting sector 123\nVerify sector 0\n"
                            "Erasing sector 0\nVerify sector 0 erased\nVerify sector 1\nErasing sector 1\n"
                            "Verify sector 1 erased\nVerify sector 2\nErasing sector 2\nVerify sector 2 erased\n"
                            "Verify sector 3\nVerify error, sector: 3, offset: 0x5\n"
                            "Expected 0x03000005, got 0x03000007\n" +
                            PROMPT;
    EXPECT_THAT(text, EndsWith(end));
    EXPECT_EQ(countOf(text, "Iterations remaining = 2\n"), 1u);
}

// A part that reports an erase as good yet leaves one word of the sector
// programmed: the erased check after that erase names the word, in the
// write phase with one comma, after the verify with two. A count of 0
// keeps passing, the remaining count going negative.
TEST(FlashDiagnostics, AWordLeftAfterAnEraseEndsTheTestWithTheTwoLines) {
    struct Case {
        const char* iterations;
        unsigned badErase;  // which erase of sector 2 leaves word 7 behind
        std::string end;
    };
    const std::string sector2 = "Erasing sector 2\nVerify sector 2 erased\n";
    const std::string expected = "Expected 0xFFFFFFFF, got 0x1234ffff\n" + PROMPT;
    const std::vector<Case> cases = {
        {"1", 1, "Writing sector 1\n" + sector2 + "Verify error, sector: 2, offset: 0x7\n" + expected},
        {"1", 2, "Verify sector 2\n" + sector2 + "Verify error,, sector: 2, offset: 0x7\n" + expected},
        {"0", 3, "Iterations remaining = -1\n\nErasing sector 0\nVerify sector 0 erased\nWriting sector 0\n"
                 "Erasing sector 1\nVerify sector 1 erased\nWriting sector 1\n" +
                     sector2 + "Verify error, sector: 2, offset: 0x7\n" + expected},
    };
    constexpr uint32_t unit = 2;
    for (const Case& c : cases) {
        TestBoard board;
        unsigned erases = 0;
        board.board().flash().setCellHook([&](const sim::StrataFlash::CellWork& work) {
            // The upper device's half is erased by now; write into it.
            if (work.kind == sim::StrataFlash::CellWork::Kind::Erase && work.unit == unit && work.device == 1 &&
                ++erases == c.badErase) {
                board.board().flashCells().programHalf(unit * sim::StrataFlash::UNIT_SIZE + 7 * 4, 0, 0x1234);
            }
        });
        const std::string text = diagnosticsRun(board, c.iterations);
        EXPECT_THAT(text, EndsWith(c.end)) << c.badErase;
        EXPECT_EQ(countOf(text, "Flash Diagnostics passed"), 0u) << c.badErase;
    }
}

// Anything but yes leaves the flash alone, locks and all. A count that is
// no number would read as 0, which passes until a reset: it is refused
// before anything is erased. (The power goes off at the first erase, should
// one come.)
TEST(FlashDiagnostics, AnythingButYesOrACountThatIsNotANumberErasesNothing) {
    const std::string count = "y\n\n\nInput number of diagnostic iterations -> ";
    const std::string refused = "\n\nERROR: The number of iterations must be a number. Test not run.\n" + PROMPT;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"6", "n"}, "n\n" + PROMPT},
        {{"6", "y", "lots"}, count + "lots" + refused},
        {{"6", "y", ""}, count + refused},
        {{"6", "y", "5 passes"}, count + "5 passes" + refused},
    };
    for (const auto& [typed, end] : cases) {
        TestBoard board;
        board.formatVolume();
        board.board().flash().setCellHook([](const sim::StrataFlash::CellWork& work) {
            if (work.kind == sim::StrataFlash::CellWork::Kind::Erase) {
                throw sim::BoardPowerOff{"erased", 0};
            }
        });
        board.typeLines(typed);
        EXPECT_EQ(board.run(), 0) << end;
        EXPECT_THAT(plainText(board.output()),
                    EndsWith("[Boot Menu] 6\n\n\nDo you wish to run flash diagnostics? (Boot code region will not be "
                             "tested.) (y/n): " + end));
        EXPECT_EQ(board.board().flash().blockLocked(0, 0), typed[1] == "n") << end;
        EXPECT_EQ(board.board().flash().eraseCount(0, 0), 0u) << end;
    }
}

}  // namespace
