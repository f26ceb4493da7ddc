// Boot flash programming against the flash pair model, through the bus:
// which units an erase covers, how programs are cut into buffered chunks,
// the lock-bit clear, the flash access lock, the boot code update and its
// refusals, and what happens when the part fails or never answers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "board/strataflash.h"
#include "boot_code.h"
#include "common/bytes.h"
#include "common/handles.h"
#include "image/flashacc.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/test_images.h"

namespace {

using namespace swboot;
using sim::StrataFlash;
using testing_support::LoaderOnBoard;
using testing_support::patternBytes;
using testing_support::TestBoard;

sim::BoardOptions flashOptions(bool unlocked, const std::function<void(sim::StrataFlashConfig&)>& faults = {}) {
    sim::BoardOptions options;
    if (unlocked) {
        options.profile.flash.factoryLocked.reset();
    }
    if (faults) {
        faults(options.profile.flash);
    }
    return options;
}

// A loader on a board whose flash records every change of its cells.
class FlashBench {
public:
    explicit FlashBench(sim::BoardOptions options = flashOptions(true)) : board(std::move(options)), loader(board) {
        board.board().flash().setCellHook([this](const StrataFlash::CellWork& work) {
            if (work.device != 0) {
                return;  // both devices always get the same work here
            }
            if (work.kind == StrataFlash::CellWork::Kind::Erase) {
                erased.push_back(StrataFlash::BASE + work.unit * StrataFlash::UNIT_SIZE);
            } else {
                programs.push_back({StrataFlash::BASE + work.words.front().first,
                                    static_cast<uint32_t>(work.words.size())});
            }
        });
    }
    FlashAccess& flash() { return loader->flash; }
    // The boot code update from "bootcode.bin" holding the file: its
    // result; what ended it and what it said go to `ended` and `said`.
    int update(const std::vector<uint8_t>& file) {
        board.writeFile("bootcode.bin", file);
        int result = -1;
        ended = loader.run([&] { result = flash().bootCodeUpdate("bootcode.bin"); });
        said = loader.takeOutput();
        return result;
    }
    // A block of board RAM holding the bytes.
    uint32_t inRam(const std::vector<uint8_t>& bytes) {
        blocks.push_back(std::make_unique<MemoryHandle>(loader->p.memory, bytes.size() + 4));
        std::copy(bytes.begin(), bytes.end(), blocks.back()->data());
        return blocks.back()->address();
    }

    struct Program {
        uint32_t address;
        uint32_t words;
        bool operator==(const Program&) const = default;
    };
    TestBoard board;
    LoaderOnBoard loader;
    std::vector<uint32_t> erased;
    std::vector<Program> programs;
    std::vector<std::unique_ptr<MemoryHandle>> blocks;
    std::string ended;
    std::string said;
};

TEST(FlashBlocksErase, ErasesTheUnitsCoveringTheRange) {
    struct Case {
        uint32_t first;
        uint32_t last;
        std::vector<uint32_t> units;
    };
    const std::vector<Case> cases = {
        {0xFFF00000, 0xFFF00000, {}},
        {0xFFF00000, 0xFFFFFFFF, {0xFFF00000, 0xFFF40000, 0xFFF80000, 0xFFFC0000}},
        {0xFE000000, 0xFE040000, {0xFE000000, 0xFE040000}},  // the utilities menu's format
        {0xFE07FFFC, 0xFE080000, {0xFE040000}},               // counted from first, not from its unit
        {0xFE03FFFF, 0xFE040000, {0xFE000000}},
        {0xFFFC0000, 0x00000000, {0xFFFC0000}},               // runs past the top: stops at the flash's end
    };
    for (const Case& c : cases) {
        FlashBench bench;
        EXPECT_EQ(bench.loader.run([&] { bench.flash().flashBlocksErase(c.first, c.last); }), "");
        EXPECT_EQ(bench.erased, c.units) << std::hex << c.first << ".." << c.last;
    }
}

TEST(FlashProgram, ChunksNeverCrossAUnitBoundary) {
    struct Case {
        uint32_t destination;
        uint32_t length;
        std::vector<FlashBench::Program> programs;
    };
    const std::vector<Case> cases = {
        {0xFE040000, 100, {{0xFE040000, 16}, {0xFE040040, 9}}},
        {0xFE07FFF8, 64, {{0xFE07FFF8, 2}, {0xFE080000, 14}}},
        {0xFE100010, 5, {{0xFE100010, 2}}},
        {0xFE100010, 64, {{0xFE100010, 16}}},
        {0xFE100000, 0, {}},
    };
    for (const Case& c : cases) {
        FlashBench bench;
        const auto data = patternBytes(c.length, 1);
        const uint32_t source = bench.inRam(data);
        EXPECT_EQ(bench.flash().flashProgram(source, c.destination, c.length), OK);
        EXPECT_EQ(bench.programs, c.programs) << std::hex << c.destination << "+" << c.length;
        auto cells = bench.board.board().flashCells().view(c.destination - FLASH_BASE, c.length);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), cells.begin())) << std::hex << c.destination;
    }
    FlashBench bench;
    EXPECT_EQ(bench.flash().flashProgram(bench.inRam({1, 2, 3, 4}), 0xFE000002, 4), ERROR);
    EXPECT_TRUE(bench.programs.empty());
}

TEST(FlashLockBitsClear, OpensEveryBlockAndLeavesTheFlashReadable) {
    FlashBench bench(flashOptions(false));
    EXPECT_TRUE(bench.board.board().flash().blockLocked(0, 0));
    const uint32_t before = bench.board.clock().tickGet();
    bench.flash().flashLockBitsClear();
    EXPECT_EQ(bench.loader.takeOutput(), "");
    EXPECT_EQ(bench.board.clock().tickGet(), before);  // ready at the first read
    for (unsigned block : {0u, 123u, 127u}) {
        EXPECT_FALSE(bench.board.board().flash().blockLocked(0, block));
        EXPECT_FALSE(bench.board.board().flash().blockLocked(1, block));
    }
    EXPECT_EQ(bench.loader->p.bus.read32(0xFFFFFFFC), tool::branchInstruction(0xFFFFFFFC, tool::BOOT_PAGE_BASE));
}

TEST(FlashLockBitsClear, GivesUpAfterTwelveReadsATenthOfASecondApart) {
    FlashBench bench(flashOptions(false, [](sim::StrataFlashConfig& f) { f.vppLow = true; }));
    const uint32_t before = bench.board.clock().tickGet();
    EXPECT_EQ(bench.loader.run([&] { bench.flash().flashLockBitsClear(); }), "");
    EXPECT_EQ(bench.loader.takeOutput(), "\n\nflashacc.c:122 - Clear Block Lock-Bits Time expired!\n\n");
    EXPECT_EQ(bench.board.clock().tickGet() - before, 120u);
    EXPECT_TRUE(bench.board.board().flash().blockLocked(0, 5));
}

TEST(FlashBlocksErase, AnEraseErrorResetsTheBoard) {
    struct Case {
        const char* name;
        sim::BoardOptions options;
        std::string output;
    };
    std::vector<Case> cases;
    cases.push_back({"locked block", flashOptions(false), ""});
    cases.push_back({"failing block", flashOptions(true, [](sim::StrataFlashConfig& f) { f.eraseFailUnits = {1}; }),
                     ""});
    cases.push_back({"block that never finishes",
                     flashOptions(true, [](sim::StrataFlashConfig& f) { f.neverReadyUnits = {1}; }),
                     "\nFlash erase at 0xfe040000 did not finish (status 0x00000000); resetting.\n"});
    for (Case& c : cases) {
        FlashBench bench(std::move(c.options));
        bench.board.board().flashCells().program(0x40000, std::vector<uint8_t>{0x12, 0x34});
        const uint32_t before = bench.board.clock().tickGet();
        EXPECT_EQ(bench.loader.run([&] { bench.flash().flashBlocksErase(0xFE040000, 0xFE07FFFF); }).rfind("reset", 0),
                  0u)
            << c.name;
        EXPECT_EQ(bench.loader.takeOutput(), c.output) << c.name;
        EXPECT_EQ(bench.board.board().flashCells().read8(0x40000), 0x12) << c.name;
        EXPECT_LE(bench.board.clock().tickGet() - before, 1000u + 1) << c.name;
    }
}

TEST(FlashProgram, AProgramThatNeverFinishesFailsWithinItsLimit) {
    FlashBench bench(flashOptions(true, [](sim::StrataFlashConfig& f) { f.neverReadyUnits = {2}; }));
    const uint32_t before = bench.board.clock().tickGet();
    EXPECT_EQ(bench.flash().flashProgram(bench.inRam(patternBytes(256, 3)), 0xFE080000, 256), ERROR);
    EXPECT_TRUE(bench.programs.empty());
    EXPECT_EQ(bench.board.clock().tickGet() - before, 100u);
}

// A whole boot code region whose reset vector branches back into it.
std::vector<uint8_t> startableBootCode(uint8_t seed) {
    auto code = patternBytes(BOOT_FLASH_SIZE, seed);
    putBe32(code.data() + RESET_VECTOR_OFFSET, 0x4BFFF004);
    return code;
}

TEST(BootCodeUpdate, RefusesAFileTheBoardCouldNotStartFromWithoutErasing) {
    FlashBench bench;
    const std::string unchanged = "the boot flash was not changed.\n";
    auto noBranch = startableBootCode(2);
    putBe32(noBranch.data() + RESET_VECTOR_OFFSET, 0x4C000020);  // "blr": a branch, but not the unconditional one
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
        {{}, "ERROR: bootcode.bin is empty; " + unchanged},
        {patternBytes(BOOT_FLASH_SIZE + 1, 0),
         "ERROR: bootcode.bin is 1048577 bytes, more than the 1048576-byte boot code region; " + unchanged},
        {patternBytes(BOOT_FLASH_SIZE - 1, 0),
         "ERROR: bootcode.bin is 1048575 bytes, less than the 1048576-byte boot code region: the reset vector at "
         "its end would be left erased and the board could not start; " + unchanged},
        {patternBytes(131072, 0),
         "ERROR: bootcode.bin is 131072 bytes, less than the 1048576-byte boot code region: the reset vector at "
         "its end would be left erased and the board could not start; " + unchanged},
        {noBranch, "ERROR: the reset vector at the end of bootcode.bin is 0x4c000020, not a branch: the board could "
                   "not start from it; " + unchanged},
    };
    const auto before = bench.board.bootCodeRegion();
    for (const auto& [file, message] : cases) {
        EXPECT_EQ(bench.update(file), BOOT_CODE_FILE_REFUSED) << message;
        EXPECT_EQ(bench.said, message);
        EXPECT_TRUE(bench.erased.empty());
        EXPECT_TRUE(bench.board.bootCodeRegion() == before);
    }
    EXPECT_EQ(bench.flash().bootCodeUpdate("nothing.bin"), BOOT_CODE_NO_FILE);
    // "b", "ba", "bl" and "bla" all start the board.
    for (uint32_t branch : {0x4BFFF004u, 0x4BFFF006u, 0x4BFFF005u, 0x48000003u}) {
        auto code = startableBootCode(3);
        putBe32(code.data() + RESET_VECTOR_OFFSET, branch);
        EXPECT_EQ(bench.update(code), BOOT_CODE_UPDATED) << std::hex << branch;
    }
}

TEST(BootCodeUpdate, AReadBackThatDiffersIsAFailure) {
    // A boot region that will not program: a bit stuck at 1 in its first word.
    FlashBench stuck(flashOptions(true, [](sim::StrataFlashConfig& f) {
        f.stuckBits.push_back({0xFFF00100, 0x00000080, true});
    }));
    auto zeros = std::vector<uint8_t>(BOOT_FLASH_SIZE, 0x00);
    putBe32(zeros.data() + RESET_VECTOR_OFFSET, 0x4BFFF004);
    EXPECT_EQ(stuck.update(zeros), BOOT_CODE_PROGRAM_FAILED);
    EXPECT_EQ(stuck.ended, "");
    const std::string& said = stuck.said;
    EXPECT_EQ(said.substr(said.find("Wrote 0x100000 bytes.\n")),
              "Wrote 0x100000 bytes.\n"
              "ERROR: the boot flash differs from bootcode.bin at offset 0x103 (0x80, expected 0x00).\n");
    // The lock was given back; giving it back again is misuse, which resets the board.
    EXPECT_EQ(stuck.loader.run([&] {
        stuck.flash().flashAccessTake();
        stuck.flash().flashAccessGive();
    }),
              "");
    EXPECT_EQ(stuck.loader.run([&] { stuck.flash().flashAccessGive(); }).rfind("reset", 0), 0u);
}

}  // namespace
