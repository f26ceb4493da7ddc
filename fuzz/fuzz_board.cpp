#include "fuzz_board.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/board_events.h"
#include "platform/files.h"
#include "platform/status.h"
#include "platform/volume.h"

namespace fuzzing {

FuzzBoard& FuzzBoard::instance() {
    static FuzzBoard board;
    return board;
}

FuzzBoard::FuzzBoard() {
    // The volume's files are created, written and deleted for every input:
    // on a memory file system that costs no disk work.
    char pattern[] = "/dev/shm/swboot-fuzz-XXXXXX";
    char fallback[] = "/tmp/swboot-fuzz-XXXXXX";
    char* made = mkdtemp(pattern);
    if (made == nullptr) {
        made = mkdtemp(fallback);
    }
    if (made == nullptr) {
        throw std::runtime_error("cannot make a state directory for the fuzz board");
    }
    state_ = made;
    sim::BoardOptions options;
    options.stateDir = state_;
    options.flashInMemory = true;
    diagnostics_.setQuiet(true);
    board_ = std::make_unique<sim::SimBoard>(std::move(options), clock_, line_, diagnostics_);

    sim::HostVolume& volume = board_->volume();
    swboot::TffsFormatParams params;
    if (volume.tffsDevFormat(0, params) != swboot::OK || volume.usrTffsConfig(0, 0, "/DskVol/") != swboot::OK ||
        volume.mkdir("/DskVol/files") != swboot::OK || volume.chdir("/DskVol/files") != swboot::OK) {
        throw std::runtime_error("cannot prepare the fuzz board's volume");
    }
}

FuzzBoard::~FuzzBoard() {
    board_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(state_, ignored);
}

void FuzzBoard::plant(const char* name, const uint8_t* data, size_t size) {
    std::ofstream out(board_->volume().hostRoot() / "files" / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        propertyBroken("cannot plant a file on the fuzz board's volume");
    }
}

void FuzzBoard::clearFiles() {
    // Through the volume, so that its usage stays counted right.
    sim::HostVolume& volume = board_->volume();
    std::vector<std::string> names;
    int dir = volume.opendir("/DskVol/files");
    swboot::DirectoryEntry entry;
    while (dir >= 0 && volume.readdir(dir, entry) == swboot::OK) {
        names.emplace_back(entry.name);
    }
    if (dir >= 0) {
        volume.closedir(dir);
    }
    for (const std::string& name : names) {
        volume.remove(("/DskVol/files/" + name).c_str());
    }
}

void FuzzBoard::quietConsole() {
    uint8_t discard[4096];
    for (;;) {
        long n = line_.receive(discard, sizeof discard);
        if (n < 0) {
            break;
        }
        if (n == 0) {
            line_.waitInput(clock_.nowMicros(), true);
        }
    }
    board_->tty().powerUp();
    line_.clearOutput();
}

void FuzzBoard::run(const std::function<void()>& routine) {
    try {
        routine();
    } catch (const sim::BoardReset&) {
    } catch (const sim::BoardPowerOff&) {
    } catch (const sim::BoardMachineCheck& check) {
        // The loader's handler reports it and resets the board.
        try {
            board_->machineCheck(check);
        } catch (const sim::BoardReset&) {
        } catch (const sim::BoardPowerOff&) {
        }
    }
    quietConsole();
}

void propertyBroken(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzzing
