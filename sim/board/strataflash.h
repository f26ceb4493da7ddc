// The board's boot flash: two 28F128J3 StrataFlash parts (16 MiB each, x16
// mode) side by side on the 32-bit bus at 0xFE000000. The upper half of
// every bus word belongs to device 0, the lower half to device 1; the board
// wires each device so that it takes its command byte from the upper byte
// of its half and returns status, identifier and query bytes there.
//
// Modelled per device: the command state machine (read array, read status,
// clear status, read identifier, CFI query, block erase setup and confirm,
// word program, write to buffer with its word count and confirm, set block
// lock-bit, clear block lock-bits), the status register (SR7 ready, SR5
// erase error, SR4 program error, SR3 VPP low, SR1 block locked), 128
// blocks of 128 KiB (one 256 KiB unit on the bus erases one block of each
// device), the non-volatile lock bits, busy times at the datasheet's
// typical figures (or none), and per-block erase counts. Programming only
// clears bits; erase sets a whole block to 1s. Invalid command sequences
// set SR4 and SR5 as the datasheet says.
//
// Each block also carries what happened to it as a whole: it is "torn" from
// the moment an erase of it starts until every one of its words has been
// programmed through the commands since that erase, within one power-on.
// An erase or a programming cut short, or an erase followed by only part of
// a programming, leaves the block torn; a block nobody ever erased here is
// not torn. The board reads the mark of the blocks it starts from.
//
// Faults from the board profile: bits stuck at 0 or 1, blocks that fail to
// erase, blocks whose operations never finish, and VPP low.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "board/flash_array.h"

namespace sim {

struct StrataFlashConfig {
    static constexpr unsigned UNITS = FlashArray::UNIT_COUNT;

    struct StuckBits {
        uint32_t address = 0;  // bus address of the 32-bit word
        uint32_t mask = 0;     // the stuck bits of that word
        bool value = false;    // what they read as
    };

    // Units whose lock bits are set when the board leaves the factory.
    std::bitset<UNITS> factoryLocked = std::bitset<UNITS>().set();
    std::vector<StuckBits> stuckBits;
    std::set<uint32_t> eraseFailUnits;  // erase ends with SR5 and changes nothing
    std::set<uint32_t> neverReadyUnits;  // erase or program there never finishes
    bool vppLow = false;                 // every program, erase and lock-bit change fails with SR3
};

class StrataFlash {
public:
    static constexpr uint32_t BASE = FlashArray::BASE;
    static constexpr uint32_t SIZE = FlashArray::SIZE;
    static constexpr uint32_t UNIT_SIZE = FlashArray::UNIT_SIZE;
    static constexpr unsigned DEVICES = 2;
    static constexpr unsigned BLOCKS = FlashArray::UNIT_COUNT;
    static constexpr unsigned BUFFER_WORDS = 16;  // 32-byte write buffer, x16

    // Command bytes.
    static constexpr uint8_t CMD_READ_ARRAY = 0xFF;
    static constexpr uint8_t CMD_READ_IDENTIFIER = 0x90;
    static constexpr uint8_t CMD_READ_QUERY = 0x98;
    static constexpr uint8_t CMD_READ_STATUS = 0x70;
    static constexpr uint8_t CMD_CLEAR_STATUS = 0x50;
    static constexpr uint8_t CMD_BLOCK_ERASE = 0x20;
    static constexpr uint8_t CMD_WORD_PROGRAM = 0x40;
    static constexpr uint8_t CMD_WORD_PROGRAM_ALTERNATE = 0x10;
    static constexpr uint8_t CMD_WRITE_TO_BUFFER = 0xE8;
    static constexpr uint8_t CMD_CONFIRM = 0xD0;  // also resume
    static constexpr uint8_t CMD_SUSPEND = 0xB0;
    static constexpr uint8_t CMD_LOCK_SETUP = 0x60;
    static constexpr uint8_t CMD_LOCK_SET = 0x01;

    // Status register bits.
    static constexpr uint8_t SR_READY = 0x80;
    static constexpr uint8_t SR_ERASE_SUSPENDED = 0x40;
    static constexpr uint8_t SR_ERASE_ERROR = 0x20;
    static constexpr uint8_t SR_PROGRAM_ERROR = 0x10;
    static constexpr uint8_t SR_VPP_LOW = 0x08;
    static constexpr uint8_t SR_PROGRAM_SUSPENDED = 0x04;
    static constexpr uint8_t SR_BLOCK_LOCKED = 0x02;
    // Extended status (after Write to Buffer): the buffer is available.
    static constexpr uint8_t XSR_BUFFER_AVAILABLE = 0x80;

    // Identifier codes and where they are (device word offsets).
    static constexpr uint16_t MANUFACTURER_CODE = 0x0089;
    static constexpr uint16_t DEVICE_CODE = 0x0018;  // 128 Mbit J3
    static constexpr uint32_t ID_MANUFACTURER_WORD = 0;
    static constexpr uint32_t ID_DEVICE_WORD = 1;
    static constexpr uint32_t ID_LOCK_WORD = 2;  // within each block

    // Typical times of the datasheet, in microseconds.
    static constexpr int64_t BLOCK_ERASE_MICROS = 1000000;
    static constexpr int64_t BUFFER_PROGRAM_MICROS = 218;
    static constexpr int64_t WORD_PROGRAM_MICROS = 210;
    static constexpr int64_t LOCK_SET_MICROS = 64;
    static constexpr int64_t LOCK_CLEAR_MICROS = 500000;
    static constexpr int64_t REFUSAL_MICROS = 1;

    enum class State {
        ReadArray,
        ReadStatus,
        ReadIdentifier,
        ReadQuery,
        EraseSetup,
        ProgramSetup,
        BufferCount,
        BufferData,
        BufferConfirm,
        LockSetup,
    };
    static const char* stateName(State state);

    // A change of the cells. Every program and erase of the model goes
    // through apply(), one call per device operation, so that the board can
    // watch, count or interrupt flash work at that one place.
    struct CellWork {
        enum class Kind { Program, Erase };
        Kind kind = Kind::Program;
        unsigned device = 0;
        uint32_t unit = 0;
        // Program: (bus word offset, 16-bit value) for this device's half.
        std::vector<std::pair<uint32_t, uint16_t>> words;
    };
    using CellHook = std::function<void(const CellWork&)>;

    StrataFlash(FlashArray& cells, StrataFlashConfig config, std::function<int64_t()> nowMicros);
    StrataFlash(const StrataFlash&) = delete;
    StrataFlash& operator=(const StrataFlash&) = delete;

    // Hardware face: offsets from BASE. Reads of 1, 2 or 4 bytes; writes are
    // 32-bit (both devices at once).
    uint32_t read(uint32_t offset, unsigned width);
    void write32(uint32_t offset, uint32_t value);

    // Both devices back in read array mode with a clear status register, as
    // after power-on or a reset. A torn block stays torn until erased again:
    // what was programmed into it before is not known to be whole.
    void powerUp();

    // Control face.
    // Busy times as the datasheet's typical figures (real time), or none.
    void setTimed(bool timed) { timed_ = timed; }
    void setTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }
    void setCellHook(CellHook hook) { cellHook_ = std::move(hook); }
    // Keeps lock bits, erase counts and torn marks in this file (read now,
    // rewritten at every change, a new file renamed over the old); a missing
    // file means a board fresh from the factory, a line without its torn
    // mark (written before blocks had one) a block that is not torn. A flash
    // array that was just created is a new board: whatever the file says of
    // an earlier one is dropped. Throws std::runtime_error for a file it
    // cannot read.
    void setBlockStateFile(const std::filesystem::path& file);
    FlashArray& cells() { return cells_; }
    uint32_t eraseCount(unsigned device, unsigned block) const { return blocks_[device][block].erases; }
    bool blockLocked(unsigned device, unsigned block) const { return blocks_[device][block].locked; }
    bool blockTorn(unsigned device, unsigned block) const { return blocks_[device][block].torn; }
    State state(unsigned device) const { return devices_[device].state; }
    uint8_t statusRegister(unsigned device) const;
    const StrataFlashConfig& config() const { return config_; }

    // The one place where cells change.
    void apply(const CellWork& work);

private:
    struct Device {
        State state = State::ReadArray;
        uint8_t status = 0;  // error bits; ready is computed from busyUntil
        int64_t busyUntil = 0;
        uint32_t setupUnit = 0;
        uint32_t bufferUnit = 0;
        unsigned bufferCount = 0;
        std::vector<std::pair<uint32_t, uint16_t>> buffer;
    };
    // Words of one device in one block.
    static constexpr uint32_t BLOCK_WORDS = UNIT_SIZE / 4;

    struct Block {
        uint32_t erases = 0;
        bool locked = false;
        bool torn = false;
        // While torn, from a completed erase on: which words have been
        // programmed since (empty when not watched, e.g. after a power-up).
        std::vector<bool> programmed;
        uint32_t programmedCount = 0;
    };

    bool busy(const Device& device) const;
    void busyFor(Device& device, uint32_t unit, int64_t micros);
    uint16_t deviceRead(unsigned index, uint32_t wordOffset);
    uint16_t arrayHalf(unsigned index, uint32_t wordOffset) const;
    std::string deviceWrite(unsigned index, uint32_t wordOffset, uint16_t half);
    const char* command(unsigned index, uint32_t wordOffset, uint8_t code);
    std::string invalidSequence(Device& device, const char* what);
    std::string blockErase(unsigned index, uint32_t unit);
    std::string programWords(unsigned index, uint32_t unit, std::vector<std::pair<uint32_t, uint16_t>> words,
                             int64_t micros);
    std::string lockSet(unsigned index, uint32_t unit);
    std::string lockClear(unsigned index);
    uint16_t queryWord(uint32_t index) const;
    // Stuck bits of one device's half of a bus word: (mask, value).
    std::pair<uint16_t, uint16_t> stuck(unsigned index, uint32_t wordOffset) const;
    void blockStateSave();
    void noteProgrammed(unsigned index, uint32_t unit, const std::vector<std::pair<uint32_t, uint16_t>>& words);

    FlashArray& cells_;
    StrataFlashConfig config_;
    std::function<int64_t()> now_;
    bool timed_ = false;
    std::function<void(const std::string&)> trace_;
    CellHook cellHook_;
    std::filesystem::path blockStateFile_;
    std::array<Device, DEVICES> devices_;
    std::array<std::array<Block, BLOCKS>, DEVICES> blocks_;
};

}  // namespace sim
