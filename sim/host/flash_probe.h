// A service probe on the board's boot flash, as a JTAG flash programmer
// would drive it with the board held in reset: clears the lock bits, erases
// the boot code region and programs a boot code file into it through the
// parts' own command interface, then reads it back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "board/board_profile.h"
#include "board/strataflash.h"

namespace sim {

// Writes the boot code at the start of the boot code region of the state
// directory's flash. Throws std::runtime_error saying what went wrong (no
// board there, a file of the wrong size, a status error of the parts, a
// read-back that differs). Returns why the board still cannot start, or an
// empty text when it can.
std::string flashBootWrite(const std::filesystem::path& stateDir, const BoardProfile& profile,
                           std::span<const uint8_t> code);
// The same on the parts of a board held in reset (a board in process).
std::string flashBootProbe(StrataFlash& flash, std::span<const uint8_t> code);

}  // namespace sim
