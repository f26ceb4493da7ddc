// A board's state directory ("board" in a fresh temporary directory),
// provisioned as the factory leaves it unless told otherwise, with the
// clock, line and diagnostics a simulator on it starts with.
#pragma once

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness/files.h"
#include "host/diagnostics.h"
#include "host/provision.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "support/test_board.h"

namespace testing_support {

struct StateDirBoard {
    explicit StateDirBoard(bool provisioned = true) {
        std::filesystem::create_directories(state);
        if (provisioned) {
            sim::provisionBoard(state, sim::BoardProfile::builtin(), false);
        }
        diagnostics.setQuiet(true);
    }
    // Each file of the directory with its bytes (the lock left out).
    std::map<std::filesystem::path, std::vector<uint8_t>> files() const {
        std::map<std::filesystem::path, std::vector<uint8_t>> all;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(state)) {
            if (entry.is_regular_file() && entry.path().filename() != sim::StateLock::FILE_NAME) {
                all[entry.path()] = interop::readHostFile(entry.path());
            }
        }
        return all;
    }
    // The message the board's start was refused with; empty when it started.
    std::string startRefusal() {
        try {
            sim::SimBoard board(options, clock, line, diagnostics);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }

    TempDir dir;
    std::filesystem::path state = dir.path() / "board";
    // A board on the directory that exits at the hand-over.
    sim::BoardOptions options{.stateDir = state, .onHandover = sim::OnHandover::Exit};
    sim::VirtualClock clock;
    sim::ScriptedLine line{clock};
    sim::Diagnostics diagnostics;
};

}  // namespace testing_support
