// Event log files for tests, laid out by hand (independently of the
// loader's entry builder): tables of 52-byte big-endian entries as
// "log2.bin" holds them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace testing_support::eventlog {

inline constexpr size_t ENTRY = 52;
inline constexpr size_t ENTRIES = 5041;
inline constexpr size_t FILE_BYTES = ENTRIES * ENTRY;  // 262132

inline void putWord(std::vector<uint8_t>& log, size_t at, uint32_t value) { swboot::putBe32(log.data() + at, value); }

// An erased log of the loader's size.
inline std::vector<uint8_t> erasedLog(size_t entries = ENTRIES) { return std::vector<uint8_t>(entries * ENTRY, 0xFF); }

// An event (type 1) or error (type 2) entry at the index.
inline void putEvent(std::vector<uint8_t>& log, size_t index, uint32_t type, const std::string& name, int32_t line,
                     uint32_t task, uint32_t code, uint32_t seconds) {
    size_t at = index * ENTRY;
    putWord(log, at, type);
    for (size_t i = 0; i < 32; ++i) {
        log[at + 4 + i] = i < name.size() ? static_cast<uint8_t>(name[i]) : ' ';
    }
    putWord(log, at + 36, static_cast<uint32_t>(line));
    putWord(log, at + 40, task);
    putWord(log, at + 44, code);
    putWord(log, at + 48, seconds);
}

// Any entry given by its thirteen words.
inline void putWords(std::vector<uint8_t>& log, size_t index, const std::vector<uint32_t>& words) {
    for (size_t i = 0; i < words.size() && i < 13; ++i) {
        putWord(log, index * ENTRY + i * 4, words[i]);
    }
}

// Entries 0..count-1 used with simple events, the rest erased.
inline std::vector<uint8_t> logWithEvents(size_t count) {
    std::vector<uint8_t> log = erasedLog();
    for (size_t i = 0; i < count; ++i) {
        putEvent(log, i, 1, "event.c", static_cast<int32_t>(i), 0x100, static_cast<uint32_t>(i), 60 * static_cast<uint32_t>(i));
    }
    return log;
}

}  // namespace testing_support::eventlog
