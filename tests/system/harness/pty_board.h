// A simulated board in this process with its console on a pseudo-terminal
// and board time in real time, for running loader routines against real
// peers: the flash in memory, a freshly formatted volume in a temporary
// directory (removed afterwards), the current directory "/DskVol/files" as
// startup leaves it, and one loader instance.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "harness/files.h"
#include "host/diagnostics.h"
#include "host/pty_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "loader.h"

namespace interop {

class PtyBoard {
public:
    // A line held to the UART's speed when paced, at the given speed.
    explicit PtyBoard(bool paced = false, uint32_t speed = 9600);
    ~PtyBoard();

    // The terminal for the program at the other end.
    const std::string& terminalPath() const { return line_->path(); }
    swboot::Loader& loader() { return *loader_; }

    // Runs the xmodem command with the argument string; its result. What
    // the loader buffered for the console is sent before it returns.
    int xmodem(const std::string& arguments);

    // Files in "files/" on the volume, by their host path.
    std::filesystem::path filePath(const std::string& name) const;
    std::vector<uint8_t> readFile(const std::string& name) const;

private:
    ScratchDir state_;
    sim::RealClock clock_;
    sim::Diagnostics diagnostics_;
    std::unique_ptr<sim::PtyLine> line_;
    std::unique_ptr<sim::SimBoard> board_;
    std::unique_ptr<swboot::Loader> loader_;
};

}  // namespace interop
