#include "board/strataflash.h"

#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace sim {

namespace {

constexpr uint32_t WORD_BYTES = 4;
constexpr uint32_t QUERY_WORDS = 0x31;
constexpr int64_t NEVER = std::numeric_limits<int64_t>::max();

// The CFI query table of a 28F128J3 in x16 mode, by word offset.
constexpr std::array<uint8_t, QUERY_WORDS> QUERY_TABLE = [] {
    std::array<uint8_t, QUERY_WORDS> q{};
    q[0x10] = 'Q';
    q[0x11] = 'R';
    q[0x12] = 'Y';
    q[0x13] = 0x01;  // primary command set: Intel/Sharp extended
    q[0x15] = 0x31;  // primary extended table address
    q[0x1B] = 0x27;  // Vcc 2.7 V min
    q[0x1C] = 0x36;  // Vcc 3.6 V max
    q[0x1F] = 0x08;  // typical word program 2^8 us
    q[0x20] = 0x08;  // typical buffer program 2^8 us
    q[0x21] = 0x0A;  // typical block erase 2^10 ms
    q[0x23] = 0x04;  // maximum word program: 2^4 times typical
    q[0x24] = 0x04;
    q[0x25] = 0x04;
    q[0x27] = 0x18;  // device size 2^24 bytes
    q[0x28] = 0x02;  // x8/x16 interface
    q[0x2A] = 0x05;  // write buffer 2^5 bytes
    q[0x2C] = 0x01;  // one erase block region
    q[0x2D] = 0x7F;  // 128 blocks
    q[0x30] = 0x02;  // of 0x0200 x 256 bytes = 128 KiB
    return q;
}();

constexpr uint32_t unitOf(uint32_t offset) { return offset / FlashArray::UNIT_SIZE; }

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

}  // namespace

const char* StrataFlash::stateName(State state) {
    switch (state) {
        case State::ReadArray: return "Read Array";
        case State::ReadStatus: return "Read Status";
        case State::ReadIdentifier: return "Read Identifier";
        case State::ReadQuery: return "CFI Query";
        case State::EraseSetup: return "Erase Setup";
        case State::ProgramSetup: return "Program Setup";
        case State::BufferCount: return "Buffer Count";
        case State::BufferData: return "Buffer Data";
        case State::BufferConfirm: return "Buffer Confirm";
        case State::LockSetup: return "Lock Setup";
    }
    return "?";
}

StrataFlash::StrataFlash(FlashArray& cells, StrataFlashConfig config, std::function<int64_t()> nowMicros)
    : cells_(cells), config_(std::move(config)), now_(std::move(nowMicros)) {
    for (const auto& stuck : config_.stuckBits) {
        if (stuck.address < BASE || stuck.address % WORD_BYTES != 0) {
            throw std::invalid_argument("stuck flash bits at " + hex32(stuck.address) +
                                        ": not an aligned word of the flash");
        }
    }
    for (auto& device : blocks_) {
        for (unsigned unit = 0; unit < BLOCKS; ++unit) {
            device[unit].locked = config_.factoryLocked.test(unit);
        }
    }
}

void StrataFlash::powerUp() {
    for (Device& device : devices_) {
        device = Device{};
    }
    for (auto& device : blocks_) {
        for (Block& block : device) {
            block.programmed.clear();
            block.programmedCount = 0;
        }
    }
}

bool StrataFlash::busy(const Device& device) const {
    return device.busyUntil != 0 && (device.busyUntil == NEVER || now_() < device.busyUntil);
}

void StrataFlash::busyFor(Device& device, uint32_t unit, int64_t micros) {
    if (config_.neverReadyUnits.count(unit) != 0) {
        device.busyUntil = NEVER;
    } else {
        device.busyUntil = timed_ ? now_() + micros : 0;
    }
}

uint8_t StrataFlash::statusRegister(unsigned device) const {
    const Device& d = devices_[device];
    return static_cast<uint8_t>((d.status & ~SR_READY) | (busy(d) ? 0 : SR_READY));
}

std::pair<uint16_t, uint16_t> StrataFlash::stuck(unsigned index, uint32_t wordOffset) const {
    uint16_t mask = 0;
    uint16_t value = 0;
    for (const auto& s : config_.stuckBits) {
        if (s.address - BASE != wordOffset) {
            continue;
        }
        auto half = static_cast<uint16_t>(index == 0 ? s.mask >> 16 : s.mask);
        mask |= half;
        if (s.value) {
            value |= half;
        }
    }
    return {mask, value};
}

uint16_t StrataFlash::arrayHalf(unsigned index, uint32_t wordOffset) const {
    uint16_t cells = cells_.readHalf(wordOffset, index);
    if (config_.stuckBits.empty()) {
        return cells;
    }
    auto [mask, value] = stuck(index, wordOffset);
    return static_cast<uint16_t>((cells & ~mask) | value);
}

uint16_t StrataFlash::queryWord(uint32_t index) const { return index < QUERY_WORDS ? QUERY_TABLE[index] : 0; }

uint16_t StrataFlash::deviceRead(unsigned index, uint32_t wordOffset) {
    Device& d = devices_[index];
    const uint32_t deviceWord = wordOffset / WORD_BYTES;
    const uint32_t blockWord = deviceWord % (UNIT_SIZE / WORD_BYTES);
    uint8_t byte = 0;
    switch (d.state) {
        case State::ReadArray:
            return arrayHalf(index, wordOffset);
        case State::ReadIdentifier:
            if (deviceWord == ID_MANUFACTURER_WORD) {
                byte = static_cast<uint8_t>(MANUFACTURER_CODE);
            } else if (deviceWord == ID_DEVICE_WORD) {
                byte = static_cast<uint8_t>(DEVICE_CODE);
            } else if (blockWord == ID_LOCK_WORD) {
                byte = blocks_[index][unitOf(wordOffset)].locked ? 0x01 : 0x00;
            }
            break;
        case State::ReadQuery:
            byte = static_cast<uint8_t>(queryWord(deviceWord));
            break;
        case State::BufferCount:
            byte = busy(d) ? 0 : XSR_BUFFER_AVAILABLE;
            break;
        default:
            byte = statusRegister(index);
            break;
    }
    return static_cast<uint16_t>(byte << 8);
}

uint32_t StrataFlash::read(uint32_t offset, unsigned width) {
    const uint32_t wordOffset = offset & ~(WORD_BYTES - 1);
    uint32_t word;
    if (devices_[0].state == State::ReadArray && devices_[1].state == State::ReadArray &&
        config_.stuckBits.empty()) {
        auto bytes = cells_.view(wordOffset, WORD_BYTES);
        word = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    } else {
        word = (uint32_t{deviceRead(0, wordOffset)} << 16) | deviceRead(1, wordOffset);
    }
    const unsigned shift = 8 * (WORD_BYTES - width - (offset - wordOffset));
    return width == WORD_BYTES ? word : (word >> shift) & ((1u << (8 * width)) - 1);
}

void StrataFlash::write32(uint32_t offset, uint32_t value) {
    std::string events[DEVICES];
    for (unsigned index = 0; index < DEVICES; ++index) {
        auto half = static_cast<uint16_t>(index == 0 ? value >> 16 : value);
        events[index] = deviceWrite(index, offset, half);
    }
    if (trace_ && (!events[0].empty() || !events[1].empty())) {
        std::string line = "flash: " + hex32(BASE + offset) + " <- " + hex32(value) + "  ";
        if (events[0] == events[1]) {
            line += "both: " + events[0];
        } else {
            line += "dev0: " + (events[0].empty() ? std::string("-") : events[0]) +
                    "; dev1: " + (events[1].empty() ? std::string("-") : events[1]);
        }
        trace_(line);
    }
}

std::string StrataFlash::invalidSequence(Device& device, const char* what) {
    device.status |= SR_ERASE_ERROR | SR_PROGRAM_ERROR;
    device.state = State::ReadStatus;
    device.buffer.clear();
    return std::string("invalid command sequence (") + what + "), SR4 and SR5 set";
}

std::string StrataFlash::deviceWrite(unsigned index, uint32_t wordOffset, uint16_t half) {
    Device& d = devices_[index];
    const auto code = static_cast<uint8_t>(half >> 8);
    const uint32_t unit = unitOf(wordOffset);
    const State before = d.state;
    // Texts only for the trace: flash diagnostics send millions of commands.
    auto moved = [&](const std::string& what) {
        return trace_ ? what + " (" + stateName(before) + " -> " + stateName(d.state) + ")" : std::string();
    };
    if (busy(d)) {
        if (code == CMD_READ_STATUS) {
            d.state = State::ReadStatus;
            return moved("Read Status while busy");
        }
        return "ignored while busy";
    }
    switch (d.state) {
        case State::EraseSetup:
            if (code != CMD_CONFIRM) {
                return moved(invalidSequence(d, "erase not confirmed"));
            }
            return moved(blockErase(index, unit));
        case State::ProgramSetup:
            d.state = State::ReadStatus;
            return moved(programWords(index, unit, {{wordOffset, half}}, WORD_PROGRAM_MICROS));
        case State::BufferCount:
            if (unit != d.bufferUnit) {
                return moved(invalidSequence(d, "count outside the block"));
            }
            if (code >= BUFFER_WORDS) {
                return moved(invalidSequence(d, "count above the buffer"));
            }
            d.bufferCount = code + 1u;
            d.buffer.clear();
            d.state = State::BufferData;
            return trace_ ? moved("Buffer Count " + std::to_string(d.bufferCount) + " words") : std::string();
        case State::BufferData:
            if (unit != d.bufferUnit) {
                return moved(invalidSequence(d, "data outside the block"));
            }
            d.buffer.emplace_back(wordOffset, half);
            if (d.buffer.size() == d.bufferCount) {
                d.state = State::BufferConfirm;
            }
            return {};  // data, not a command
        case State::BufferConfirm:
            if (code != CMD_CONFIRM) {
                return moved(invalidSequence(d, "buffer not confirmed"));
            }
            d.state = State::ReadStatus;
            return moved(programWords(index, d.bufferUnit, std::move(d.buffer), BUFFER_PROGRAM_MICROS));
        case State::LockSetup:
            if (code == CMD_LOCK_SET) {
                return moved(lockSet(index, unit));
            }
            if (code == CMD_CONFIRM) {
                return moved(lockClear(index));
            }
            return moved(invalidSequence(d, "lock-bit command not confirmed"));
        default: {
            const char* what = command(index, wordOffset, code);
            return trace_ ? moved(what) : std::string();
        }
    }
}

const char* StrataFlash::command(unsigned index, uint32_t wordOffset, uint8_t code) {
    Device& d = devices_[index];
    switch (code) {
        case CMD_READ_ARRAY:
            d.state = State::ReadArray;
            return "Read Array";
        case CMD_READ_STATUS:
            d.state = State::ReadStatus;
            return "Read Status";
        case CMD_CLEAR_STATUS:
            d.status = 0;
            return "Clear Status";
        case CMD_READ_IDENTIFIER:
            d.state = State::ReadIdentifier;
            return "Read Identifier";
        case CMD_READ_QUERY:
            d.state = State::ReadQuery;
            return "CFI Query";
        case CMD_BLOCK_ERASE:
            d.state = State::EraseSetup;
            d.setupUnit = unitOf(wordOffset);
            return "Block Erase setup";
        case CMD_WORD_PROGRAM:
        case CMD_WORD_PROGRAM_ALTERNATE:
            d.state = State::ProgramSetup;
            return "Word Program setup";
        case CMD_WRITE_TO_BUFFER:
            d.state = State::BufferCount;
            d.bufferUnit = unitOf(wordOffset);
            return "Write to Buffer";
        case CMD_LOCK_SETUP:
            d.state = State::LockSetup;
            return "Set/Clear Block Lock-Bits setup";
        case CMD_SUSPEND:
        case CMD_CONFIRM:
            return "Suspend/Resume with nothing to suspend";
        default:
            return "unknown command ignored";
    }
}

std::string StrataFlash::blockErase(unsigned index, uint32_t unit) {
    Device& d = devices_[index];
    d.state = State::ReadStatus;
    const std::string which = "block " + std::to_string(unit);
    if (blocks_[index][unit].locked) {
        d.status |= SR_BLOCK_LOCKED | SR_ERASE_ERROR;
        busyFor(d, unit, REFUSAL_MICROS);
        return "Confirm: erase of locked " + which + " refused, SR1 and SR5 set";
    }
    if (config_.vppLow) {
        d.status |= SR_VPP_LOW | SR_ERASE_ERROR;
        busyFor(d, unit, REFUSAL_MICROS);
        return "Confirm: erase of " + which + " with VPP low, SR3 and SR5 set";
    }
    busyFor(d, unit, BLOCK_ERASE_MICROS);
    if (config_.neverReadyUnits.count(unit) != 0) {
        return "Confirm: erase of " + which + " started and never finishes (injected)";
    }
    if (config_.eraseFailUnits.count(unit) != 0) {
        d.status |= SR_ERASE_ERROR;
        return "Confirm: erase of " + which + " failed (injected), SR5 set";
    }
    // Kept before the cells change, so that an erase cut short, however it
    // ends, leaves a block that is known to be torn.
    Block& block = blocks_[index][unit];
    ++block.erases;
    block.torn = true;
    block.programmed.clear();
    block.programmedCount = 0;
    blockStateSave();
    CellWork work;
    work.kind = CellWork::Kind::Erase;
    work.device = index;
    work.unit = unit;
    apply(work);
    block.programmed.assign(BLOCK_WORDS, false);
    std::string result = "Confirm: erase " + which + ", erase count " + std::to_string(blocks_[index][unit].erases);
    for (const auto& s : config_.stuckBits) {
        if (unitOf(s.address - BASE) == unit && !s.value && stuck(index, s.address - BASE).first != 0) {
            d.status |= SR_ERASE_ERROR;
            result += ", a bit stuck at 0 failed its erase verify, SR5 set";
            break;
        }
    }
    return result;
}

std::string StrataFlash::programWords(unsigned index, uint32_t unit, std::vector<std::pair<uint32_t, uint16_t>> words,
                                      int64_t micros) {
    Device& d = devices_[index];
    const std::string what = !trace_ ? std::string()
                                     : "program " + std::to_string(words.size()) + " words at " +
                                           hex32(words.empty() ? 0 : BASE + words.front().first);
    if (blocks_[index][unit].locked) {
        d.status |= SR_BLOCK_LOCKED | SR_PROGRAM_ERROR;
        busyFor(d, unit, REFUSAL_MICROS);
        return "Confirm: " + what + " in locked block " + std::to_string(unit) + " refused, SR1 and SR4 set";
    }
    if (config_.vppLow) {
        d.status |= SR_VPP_LOW | SR_PROGRAM_ERROR;
        busyFor(d, unit, REFUSAL_MICROS);
        return "Confirm: " + what + " with VPP low, SR3 and SR4 set";
    }
    busyFor(d, unit, micros);
    if (config_.neverReadyUnits.count(unit) != 0) {
        return "Confirm: " + what + " started and never finishes (injected)";
    }
    CellWork work;
    work.kind = CellWork::Kind::Program;
    work.device = index;
    work.unit = unit;
    work.words = std::move(words);
    apply(work);
    for (const auto& [offset, value] : work.words) {
        if ((arrayHalf(index, offset) & ~value & 0xFFFF) != 0) {
            d.status |= SR_PROGRAM_ERROR;
            return "Confirm: " + what + ", a word failed its program verify, SR4 set";
        }
    }
    noteProgrammed(index, unit, work.words);
    return trace_ ? "Confirm: " + what : std::string();
}

void StrataFlash::noteProgrammed(unsigned index, uint32_t unit,
                                  const std::vector<std::pair<uint32_t, uint16_t>>& words) {
    Block& block = blocks_[index][unit];
    if (!block.torn || block.programmed.empty()) {
        return;
    }
    for (const auto& [offset, value] : words) {
        const uint32_t word = (offset % UNIT_SIZE) / WORD_BYTES;
        if (!block.programmed[word]) {
            block.programmed[word] = true;
            ++block.programmedCount;
        }
    }
    if (block.programmedCount == BLOCK_WORDS) {
        block.torn = false;
        block.programmed.clear();
        block.programmedCount = 0;
        blockStateSave();
    }
}

std::string StrataFlash::lockSet(unsigned index, uint32_t unit) {
    Device& d = devices_[index];
    d.state = State::ReadStatus;
    busyFor(d, unit, LOCK_SET_MICROS);
    if (config_.vppLow) {
        d.status |= SR_VPP_LOW | SR_PROGRAM_ERROR;
        return "Set Block Lock-Bit with VPP low, SR3 and SR4 set";
    }
    blocks_[index][unit].locked = true;
    blockStateSave();
    return "Set Block Lock-Bit of block " + std::to_string(unit);
}

std::string StrataFlash::lockClear(unsigned index) {
    Device& d = devices_[index];
    d.state = State::ReadStatus;
    d.busyUntil = timed_ ? now_() + LOCK_CLEAR_MICROS : 0;
    if (config_.vppLow) {
        d.status |= SR_VPP_LOW | SR_ERASE_ERROR;
        return "Clear Block Lock-Bits with VPP low, SR3 and SR5 set";
    }
    for (Block& block : blocks_[index]) {
        block.locked = false;
    }
    blockStateSave();
    return "Clear Block Lock-Bits";
}

void StrataFlash::apply(const CellWork& work) {
    if (cellHook_) {
        cellHook_(work);
    }
    if (work.kind == CellWork::Kind::Erase) {
        cells_.eraseUnitHalf(work.unit, work.device);
        return;
    }
    for (const auto& [offset, value] : work.words) {
        cells_.programHalf(offset, work.device, value);
    }
}

void StrataFlash::setBlockStateFile(const std::filesystem::path& file) {
    blockStateFile_ = file;
    if (cells_.created()) {
        // A new flash image is a new board; a file left by an earlier one
        // would lock, count or tear blocks the factory has just made.
        if (std::filesystem::exists(file)) {
            blockStateSave();
        }
        return;
    }
    std::ifstream in(file);
    if (!in) {
        return;  // fresh from the factory: lock bits as the profile says
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        unsigned device = 0;
        unsigned block = 0;
        uint32_t erases = 0;
        unsigned locked = 0;
        std::string torn;  // absent from a line written before blocks had the mark
        std::string extra;
        const bool read = static_cast<bool>(fields >> device >> block >> erases >> locked);
        fields >> torn >> extra;
        if (!read || device >= DEVICES || block >= BLOCKS || locked > 1 ||
            !(torn.empty() || torn == "0" || torn == "1") || !extra.empty()) {
            throw std::runtime_error(file.string() + ":" + std::to_string(number) +
                                     ": expected 'device block erases locked [torn]' (device 0-1, block 0-127, "
                                     "locked and torn 0-1)");
        }
        blocks_[device][block] = Block{erases, locked == 1, torn == "1", {}, 0};
    }
}

void StrataFlash::blockStateSave() {
    if (blockStateFile_.empty()) {
        return;
    }
    std::filesystem::path temporary = blockStateFile_;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "# Boot flash blocks: device, block (256 KiB unit of the bus), erase count, lock bit,\n"
               "# torn (erased and not programmed whole since)\n";
        for (unsigned device = 0; device < DEVICES; ++device) {
            for (unsigned block = 0; block < BLOCKS; ++block) {
                const Block& b = blocks_[device][block];
                out << device << ' ' << block << ' ' << b.erases << ' ' << (b.locked ? 1 : 0) << ' '
                    << (b.torn ? 1 : 0) << '\n';
            }
        }
        if (!out) {
            throw std::runtime_error("cannot write " + temporary.string());
        }
    }
    std::filesystem::rename(temporary, blockStateFile_);
}

}  // namespace sim
