#include "host/rtc_state.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <toml++/toml.h>

namespace sim {

std::optional<Ds1340::State> rtcStateLoad(const std::filesystem::path& file) {
    if (!std::filesystem::exists(file)) {
        return std::nullopt;
    }
    toml::table table;
    try {
        table = toml::parse_file(file.string());
    } catch (const toml::parse_error& e) {
        throw std::runtime_error(file.string() + ": " + std::string(e.description()));
    }
    Ds1340::State state;
    state.offsetMicros = table["offset_us"].value_or<int64_t>(0);
    state.stopped = table["oscillator_stopped"].value_or(false);
    state.frozenMicros = table["frozen_us"].value_or<int64_t>(0);
    state.weekdayShift = static_cast<int>(table["weekday_shift"].value_or<int64_t>(0) % 7);
    state.centuryEnable = table["century_enable"].value_or(false);
    state.control = static_cast<uint8_t>(table["control"].value_or<int64_t>(Ds1340::CONTROL_RESET));
    state.trickle = static_cast<uint8_t>(table["trickle"].value_or<int64_t>(0));
    state.flags = static_cast<uint8_t>(table["flags"].value_or<int64_t>(0));
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
