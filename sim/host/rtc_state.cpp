#include "host/rtc_state.h"

#include <algorithm>
#include <cinttypes>
#include <iterator>
#include <limits>
#include <string>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <toml++/toml.h>

namespace sim {

namespace {

// "FILE:LINE: " of a value, as the board profile names its faults.
std::string where(const std::filesystem::path& file, const toml::node& node) {
    return file.string() + ":" + std::to_string(node.source().begin.line) + ": ";
}

// The integer of a key from min to max, the fallback when the key is
// missing. Only integer nodes count: 1.5 or "x" is refused, not read as 0.
int64_t integer(const std::filesystem::path& file, const toml::table& table, const char* key, int64_t min,
                int64_t max, int64_t fallback) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        return fallback;
    }
    const toml::value<int64_t>* value = node->as_integer();
    if (value == nullptr) {
        throw std::runtime_error(where(file, *node) + "'" + key + "' must be an integer");
    }
    if (value->get() < min || value->get() > max) {
        throw std::runtime_error(where(file, *node) + "'" + key + "' must be from " + std::to_string(min) + " to " +
                                 std::to_string(max));
    }
    return value->get();
}

bool flag(const std::filesystem::path& file, const toml::table& table, const char* key) {
    const toml::node* node = table.get(key);
    if (node == nullptr) {
        return false;
    }
    if (!node->is_boolean()) {
        throw std::runtime_error(where(file, *node) + "'" + key + "' must be true or false");
    }
    return *node->value<bool>();
}

constexpr const char* KEYS[] = {"offset_us", "oscillator_stopped", "frozen_us", "weekday_shift",
                                "century_enable", "control", "trickle", "flags"};
constexpr int64_t BYTE_MAX = 0xFF;
constexpr int64_t WEEKDAY_SHIFT_MAX = 6;

}  // namespace

std::optional<Ds1340::State> rtcStateLoad(const std::filesystem::path& file) {
    if (!std::filesystem::exists(file)) {
        return std::nullopt;
    }
    toml::table table;
    try {
        table = toml::parse_file(file.string());
    } catch (const toml::parse_error& e) {
        throw std::runtime_error(file.string() + ":" + std::to_string(e.source().begin.line) + ": " +
                                 std::string(e.description()));
    }
    for (const auto& [key, node] : table) {
        if (std::find(std::begin(KEYS), std::end(KEYS), key.str()) == std::end(KEYS)) {
            throw std::runtime_error(where(file, node) + "unknown key '" + std::string(key.str()) + "'");
        }
    }
    constexpr int64_t ANY_MIN = std::numeric_limits<int64_t>::min();
    constexpr int64_t ANY_MAX = std::numeric_limits<int64_t>::max();
    Ds1340::State state;
    state.offsetMicros = integer(file, table, "offset_us", ANY_MIN, ANY_MAX, 0);
    state.stopped = flag(file, table, "oscillator_stopped");
    state.frozenMicros = integer(file, table, "frozen_us", ANY_MIN, ANY_MAX, 0);
    state.weekdayShift = static_cast<int>(integer(file, table, "weekday_shift", 0, WEEKDAY_SHIFT_MAX, 0));
    state.centuryEnable = flag(file, table, "century_enable");
    state.control = static_cast<uint8_t>(integer(file, table, "control", 0, BYTE_MAX, Ds1340::CONTROL_RESET));
    state.trickle = static_cast<uint8_t>(integer(file, table, "trickle", 0, BYTE_MAX, 0));
    state.flags = static_cast<uint8_t>(integer(file, table, "flags", 0, BYTE_MAX, 0));
    return state;
}

bool rtcStateSave(const std::filesystem::path& file, const Ds1340::State& state) {
    std::filesystem::path fresh = file;
    fresh += ".new";
    {
        std::ofstream out(fresh, std::ios::trunc);
        char text[512];
        std::snprintf(text, sizeof text,
                      "# DS1340 real-time clock of this board: its time is the simulator's clock plus offset_us\n"
                      "offset_us = %" PRId64 "\n"
                      "oscillator_stopped = %s\n"
                      "frozen_us = %" PRId64 "\n"
                      "weekday_shift = %d\n"
                      "century_enable = %s\n"
                      "control = %u\n"
                      "trickle = %u\n"
                      "flags = %u\n",
                      state.offsetMicros, state.stopped ? "true" : "false", state.frozenMicros, state.weekdayShift,
                      state.centuryEnable ? "true" : "false", state.control, state.trickle, state.flags);
        out << text;
        if (!out) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(fresh, file, error);
    return !error;
}

}  // namespace sim
