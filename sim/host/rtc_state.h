// The real-time clock's battery-backed state, kept in the board's state
// directory ("rtc.toml") so that the clock's time survives the simulator.
#pragma once

#include <filesystem>
#include <optional>

#include "board/ds1340.h"

namespace sim {

// The kept state, or nothing when the file does not exist. Throws
// std::runtime_error, naming the file, the line and the reason, for a file
// that cannot be read or holds an unknown key or a value out of range.
std::optional<Ds1340::State> rtcStateLoad(const std::filesystem::path& file);
// Writes the state (to a new file renamed over the old one). False when it
// could not be written.
bool rtcStateSave(const std::filesystem::path& file, const Ds1340::State& state);

}  // namespace sim
