// The simulated board shared by every input of a fuzz target: virtual
// time, a scripted console, the flash and the volume's files in memory,
// the volume formatted and mounted once, with "/DskVol/files" as the
// current directory. Each input gets a fresh loader on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/diagnostics.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"

namespace swboot {
class Loader;
}

namespace fuzzing {

class FuzzBoard {
public:
    // The volume's directory the targets work in, with its slash.
    static constexpr std::string_view FILES_DIRECTORY = "/DskVol/files/";

    // The board of this process, made on first use.
    static FuzzBoard& instance();

    sim::SimBoard& board() { return *board_; }
    sim::ScriptedLine& line() { return line_; }
    const swboot::Platform& platform() { return board_->platform(); }

    // Replaces a file of "files/" on the volume with the bytes.
    void plant(const char* name, const uint8_t* data, size_t size);
    // Types the bytes on the console as they stand, as one piece.
    void type(std::string_view bytes) { line_.type(bytes); }

    // The bytes of a file of "files/"; empty when there is none.
    std::string fileBytes(const char* name);
    bool fileExists(const char* name);
    // The names of every file on the volume ("/DskVol/files/image1").
    std::vector<std::string> storedFiles() { return board_->volume().storedFiles(); }

    // Deletes every file of "files/".
    void clearFiles();

    // Runs the routine; a board event (reset, power-off, machine check)
    // ends it like a return. Afterwards the console is quiet again:
    // unread input is dropped and the line's record is emptied.
    void run(const std::function<void()>& routine);
    // As run, with a fresh loader on the board; what the loader holds
    // buffered is written out when the routine returns.
    void runLoader(const std::function<void(swboot::Loader&)>& routine);

private:
    FuzzBoard();
    ~FuzzBoard();
    void quietConsole();

    std::filesystem::path state_;
    sim::VirtualClock clock_;
    sim::ScriptedLine line_{clock_};
    sim::Diagnostics diagnostics_;
    std::unique_ptr<sim::SimBoard> board_;
};

// The input cut into pieces at each INPUT_SEPARATOR, for targets that
// take several files or answers from one input.
inline constexpr std::string_view INPUT_SEPARATOR = "#|";
std::vector<std::string_view> inputPieces(const uint8_t* data, size_t size);

// The entry point of a target whose input's first byte selects what it does
// with the rest: runs it on the board (an empty input selects nothing).
using SelectedTarget = std::function<void(FuzzBoard& fb, uint8_t selector, std::string_view rest)>;
int runSelected(const uint8_t* data, size_t size, const SelectedTarget& target);

// Stops the process loudly when a property a target checks does not hold.
[[noreturn]] void propertyBroken(const char* what);
// Stops the process loudly when the sign of a broken property shows.
inline void brokenIf(bool broken, const char* what) {
    if (broken) {
        propertyBroken(what);
    }
}

}  // namespace fuzzing
