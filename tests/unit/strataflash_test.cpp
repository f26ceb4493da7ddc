// The boot flash pair as the datasheet describes it, driven through its
// bus face: command state machines per device, status bits of refused and
// invalid sequences, lock bits that outlive the model, busy time on a real
// clock, injected faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "board/flash_array.h"
#include "board/strataflash.h"
#include "support/test_board.h"

namespace {

using sim::FlashArray;
using sim::StrataFlash;
using sim::StrataFlashConfig;

constexpr uint32_t UNIT = 0x40000;
constexpr uint32_t both(uint8_t command) { return (uint32_t{command} << 24) | (uint32_t{command} << 8); }

class Flash {
public:
    explicit Flash(StrataFlashConfig config = unlocked()) : model(cells, std::move(config), [this] { return now; }) {}
    static StrataFlashConfig unlocked() {
        StrataFlashConfig config;
        config.factoryLocked.reset();
        return config;
    }
    void write(uint32_t offset, uint32_t value) { model.write32(offset, value); }
    uint32_t read(uint32_t offset) { return model.read(offset, 4); }
    uint32_t status(uint32_t offset = 0) {
        write(offset, both(StrataFlash::CMD_READ_STATUS));
        return read(offset);
    }
    void erase(uint32_t offset) {
        write(offset, both(StrataFlash::CMD_BLOCK_ERASE));
        write(offset, both(StrataFlash::CMD_CONFIRM));
    }
    void program(uint32_t offset, const std::vector<uint32_t>& words) {
        write(offset, both(StrataFlash::CMD_WRITE_TO_BUFFER));
        const auto count = static_cast<uint8_t>(words.size() - 1);
        write(offset, both(count));
        for (size_t i = 0; i < words.size(); ++i) {
            write(offset + 4 * static_cast<uint32_t>(i), words[i]);
        }
        write(offset, both(StrataFlash::CMD_CONFIRM));
    }
    uint32_t arrayRead(uint32_t offset) {
        write(offset, both(StrataFlash::CMD_READ_ARRAY));
        return read(offset);
    }

    int64_t now = 0;
    FlashArray cells;
    StrataFlash model;
};

TEST(StrataFlash, ProgrammingClearsBitsAndOnlyEraseSetsThem) {
    Flash flash;
    flash.program(0x100, {0x12345678, 0xF0F0F0F0});
    EXPECT_EQ(flash.status(0x100), 0x80008000u);
    EXPECT_EQ(flash.arrayRead(0x100), 0x12345678u);
    flash.write(0x100, both(StrataFlash::CMD_CLEAR_STATUS));
    flash.program(0x100, {0xFFFF0000});  // 1s cannot come back
    EXPECT_EQ(flash.arrayRead(0x100), 0x12340000u);
    EXPECT_EQ(flash.arrayRead(0x104), 0xF0F0F0F0u);
    flash.erase(0x100);  // any address in the unit erases all of it
    EXPECT_EQ(flash.status(), 0x80008000u);
    EXPECT_EQ(flash.arrayRead(0x104), 0xFFFFFFFFu);
}

TEST(StrataFlash, EachDeviceHasItsOwnStateMachine) {
    Flash flash;
    // Only the upper device is told to read status.
    flash.write(UNIT, (uint32_t{StrataFlash::CMD_READ_STATUS} << 24) | 0x0000FF00);
    EXPECT_EQ(flash.model.state(0), StrataFlash::State::ReadStatus);
    EXPECT_EQ(flash.model.state(1), StrataFlash::State::ReadArray);
    EXPECT_EQ(flash.read(UNIT), 0x8000FFFFu);
    // An erase of the lower device alone.
    flash.program(UNIT, {0x00000000});
    flash.write(UNIT, 0xFF002000);
    flash.write(UNIT, 0xFF00D000);
    EXPECT_EQ(flash.arrayRead(UNIT), 0x0000FFFFu);
}

// Sequences the datasheet calls invalid set SR4 and SR5, and leave the
// array as it was.
TEST(StrataFlash, InvalidSequencesSetTheProgramAndEraseErrorBits) {
    struct Case {
        const char* name;
        std::vector<uint32_t> writes;  // at offset 0
    };
    const std::vector<Case> cases = {
        {"erase setup not confirmed", {both(0x20), both(0xFF)}},
        {"buffer count above 16 words", {both(0xE8), both(16)}},
        {"buffer not confirmed", {both(0xE8), both(0), 0x00000000, both(0xFF)}},
        {"lock setup not confirmed", {both(0x60), both(0xFF)}},
    };
    for (const Case& c : cases) {
        Flash flash;
        for (uint32_t value : c.writes) {
            flash.write(0, value);
        }
        EXPECT_EQ(flash.read(0), 0xB000B000u) << c.name;
        EXPECT_EQ(flash.arrayRead(0), 0xFFFFFFFFu) << c.name;
        flash.write(0, both(StrataFlash::CMD_CLEAR_STATUS));
        EXPECT_EQ(flash.status(), 0x80008000u) << c.name;
    }
    // Buffer data must stay in the block the buffer was opened for.
    Flash flash;
    flash.write(UNIT - 4, both(0xE8));
    flash.write(UNIT - 4, both(1));
    flash.write(UNIT - 4, 0);
    flash.write(UNIT, 0);
    EXPECT_EQ(flash.status(UNIT - 4), 0xB000B000u);
}

TEST(StrataFlash, LockedBlocksRefuseEraseAndProgramUntilTheBitsAreCleared) {
    StrataFlashConfig config = Flash::unlocked();
    config.factoryLocked.set(2);
    Flash flash(config);
    flash.erase(2 * UNIT);
    EXPECT_EQ(flash.status(2 * UNIT), 0xA200A200u);  // SR5 and SR1
    flash.write(0, both(StrataFlash::CMD_CLEAR_STATUS));
    flash.program(2 * UNIT, {0});
    EXPECT_EQ(flash.status(2 * UNIT), 0x92009200u);  // SR4 and SR1
    EXPECT_EQ(flash.arrayRead(2 * UNIT), 0xFFFFFFFFu);
    flash.write(0, both(StrataFlash::CMD_CLEAR_STATUS));
    flash.program(UNIT, {0});  // its neighbour is open
    EXPECT_EQ(flash.status(UNIT), 0x80008000u);
    // The lock bit shows in the identifier space, beside the part's codes.
    flash.write(0, both(StrataFlash::CMD_READ_IDENTIFIER));
    EXPECT_EQ(flash.read(0), 0x89008900u);
    EXPECT_EQ(flash.read(4), 0x18001800u);
    EXPECT_EQ(flash.read(2 * UNIT + 8), 0x01000100u);
    EXPECT_EQ(flash.read(UNIT + 8), 0u);
    flash.write(0, both(StrataFlash::CMD_LOCK_SETUP));
    flash.write(0, both(StrataFlash::CMD_CONFIRM));
    EXPECT_EQ(flash.status(), 0x80008000u);
    EXPECT_FALSE(flash.model.blockLocked(0, 2));
    flash.erase(2 * UNIT);
    EXPECT_EQ(flash.status(2 * UNIT), 0x80008000u);
    // And set again, one block.
    flash.write(3 * UNIT, both(StrataFlash::CMD_LOCK_SETUP));
    flash.write(3 * UNIT, both(StrataFlash::CMD_LOCK_SET));
    EXPECT_TRUE(flash.model.blockLocked(1, 3));
    EXPECT_FALSE(flash.model.blockLocked(1, 4));
}

TEST(StrataFlash, TheQueryAnswersQryAndTheGeometry) {
    Flash flash;
    flash.write(0, both(StrataFlash::CMD_READ_QUERY));
    EXPECT_EQ(flash.read(0x10 * 4), both('Q'));
    EXPECT_EQ(flash.read(0x11 * 4), both('R'));
    EXPECT_EQ(flash.read(0x12 * 4), both('Y'));
    EXPECT_EQ(flash.read(0x27 * 4), both(24));    // 2^24 bytes per device
    EXPECT_EQ(flash.read(0x2A * 4), both(5));     // 32-byte write buffer
    EXPECT_EQ(flash.read(0x2D * 4), both(0x7F));  // 128 blocks
    EXPECT_EQ(flash.arrayRead(0x10 * 4), 0xFFFFFFFFu);
}

TEST(StrataFlash, OnARealClockTheDeviceIsBusyForTheTypicalTime) {
    Flash flash;
    flash.model.setTimed(true);
    flash.erase(0);
    EXPECT_EQ(flash.read(0), 0u);  // status mode, not ready
    flash.write(0, both(StrataFlash::CMD_READ_ARRAY));  // ignored while busy
    EXPECT_EQ(flash.read(0), 0u);
    flash.now = StrataFlash::BLOCK_ERASE_MICROS - 1;
    EXPECT_EQ(flash.status(), 0u);
    flash.now = StrataFlash::BLOCK_ERASE_MICROS;
    EXPECT_EQ(flash.status(), 0x80008000u);
    flash.program(0, {0});
    flash.now += StrataFlash::BUFFER_PROGRAM_MICROS - 1;
    EXPECT_EQ(flash.status(), 0u);
    flash.now += 1;
    EXPECT_EQ(flash.status(), 0x80008000u);
}

TEST(StrataFlash, InjectedFaults) {
    StrataFlashConfig config = Flash::unlocked();
    config.stuckBits.push_back({StrataFlash::BASE + 0x14, 0x00010000, true});
    config.stuckBits.push_back({StrataFlash::BASE + 3 * UNIT, 0x00000001, false});
    Flash flash(config);
    // A bit stuck at 1: the program fails its verify on that device only.
    flash.program(0x14, {0x00000000});
    EXPECT_EQ(flash.status(0x14), 0x90008000u);
    EXPECT_EQ(flash.arrayRead(0x14), 0x00010000u);
    // A bit stuck at 0: the erase fails its verify.
    flash.write(0, both(StrataFlash::CMD_CLEAR_STATUS));
    flash.erase(3 * UNIT);
    EXPECT_EQ(flash.status(3 * UNIT), 0x8000A000u);
    EXPECT_EQ(flash.arrayRead(3 * UNIT), 0xFFFFFFFEu);

    StrataFlashConfig vpp = Flash::unlocked();
    vpp.vppLow = true;
    Flash low(vpp);
    low.erase(0);
    EXPECT_EQ(low.status(), 0xA800A800u);
    low.write(0, both(StrataFlash::CMD_CLEAR_STATUS));
    low.program(0, {0});
    EXPECT_EQ(low.status(), 0x98009800u);
    EXPECT_EQ(low.arrayRead(0), 0xFFFFFFFFu);
}

TEST(StrataFlash, LockBitsEraseCountsAndTornMarksOutliveTheModel) {
    testing_support::TempDir dir;
    const auto file = dir.path() / "flash-blocks.txt";
    {
        Flash flash(StrataFlashConfig{});  // factory: every block locked
        flash.model.setBlockStateFile(file);
        EXPECT_TRUE(flash.model.blockLocked(1, 127));
        flash.write(0, both(StrataFlash::CMD_LOCK_SETUP));
        flash.write(0, both(StrataFlash::CMD_CONFIRM));
        flash.erase(7 * UNIT);
        flash.erase(7 * UNIT);
        // Unit 8 erased and programmed whole, unit 9 all but its last word.
        for (uint32_t unit : {8u, 9u}) {
            flash.erase(unit * UNIT);
            for (uint32_t at = 0; at < UNIT - (unit == 9 ? 64 : 0); at += 64) {
                flash.program(unit * UNIT + at, std::vector<uint32_t>(16, at));
            }
        }
        flash.program(10 * UNIT - 64, std::vector<uint32_t>(15, 0));
    }
    Flash again(StrataFlashConfig{});
    again.model.setBlockStateFile(file);
    EXPECT_FALSE(again.model.blockLocked(0, 0));
    EXPECT_FALSE(again.model.blockLocked(1, 127));
    EXPECT_EQ(again.model.eraseCount(0, 7), 2u);
    EXPECT_EQ(again.model.eraseCount(1, 7), 2u);
    EXPECT_EQ(again.model.eraseCount(0, 6), 0u);
    for (unsigned device : {0u, 1u}) {
        EXPECT_TRUE(again.model.blockTorn(device, 7));
        EXPECT_FALSE(again.model.blockTorn(device, 8));
        EXPECT_TRUE(again.model.blockTorn(device, 9));
        EXPECT_FALSE(again.model.blockTorn(device, 6));
    }
    // Its last word programmed after a power-up: the block stays torn.
    again.program(10 * UNIT - 4, {0});
    EXPECT_TRUE(again.model.blockTorn(0, 9));

    // Lines of a file kept before blocks had the mark are not torn; a mark
    // other than 0 or 1, or more on the line, is refused.
    struct Line {
        const char* text;
        bool read;
        bool torn;
    };
    for (const Line& line : {Line{"0 9 3 0\n", true, false}, Line{"0 9 3 0 1\n", true, true},
                             Line{"0 9 3 0 2\n", false, false}, Line{"0 9 3 0 1 1\n", false, false}}) {
        interop::writeHostFile(file, std::vector<uint8_t>(line.text, line.text + std::strlen(line.text)));
        Flash kept(StrataFlashConfig{});
        if (!line.read) {
            EXPECT_THROW(kept.model.setBlockStateFile(file), std::runtime_error) << line.text;
            continue;
        }
        kept.model.setBlockStateFile(file);
        EXPECT_EQ(kept.model.eraseCount(0, 9), 3u) << line.text;
        EXPECT_EQ(kept.model.blockTorn(0, 9), line.torn) << line.text;
        EXPECT_FALSE(kept.model.blockLocked(0, 9)) << line.text;
    }

    // A flash image made new is a new board: the file of an earlier one is
    // dropped, and rewritten as the factory leaves the blocks (as the image
    // opened again finds it).
    for (const char* image : {"new", "reopened"}) {
        FlashArray cells(dir.path() / "flash.bin");
        StrataFlash model(cells, StrataFlashConfig{}, [] { return int64_t{0}; });
        model.setBlockStateFile(file);
        EXPECT_FALSE(model.blockTorn(0, 9)) << image;
        EXPECT_TRUE(model.blockLocked(0, 9)) << image;
        EXPECT_EQ(model.eraseCount(0, 9), 0u) << image;
    }
}

TEST(StrataFlash, EveryChangeOfTheCellsPassesTheHook) {
    Flash flash;
    std::vector<std::string> seen;
    flash.model.setCellHook([&](const StrataFlash::CellWork& work) {
        seen.push_back((work.kind == StrataFlash::CellWork::Kind::Erase ? "erase " : "program ") +
                       std::to_string(work.device) + " " + std::to_string(work.unit) + " " +
                       std::to_string(work.words.size()));
    });
    flash.erase(UNIT);
    flash.program(UNIT, {1, 2, 3});
    flash.write(8, both(StrataFlash::CMD_WORD_PROGRAM));
    flash.write(8, 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"erase 0 1 0", "erase 1 1 0", "program 0 1 3", "program 1 1 3",
                                              "program 0 0 1", "program 1 0 1"}));
}

}  // namespace
