#include "fuzz_board.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/board_events.h"
#include "loader.h"
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
    // in memory that costs no host system call. The state directory only
    // holds what the board keeps besides (its sensor and clock files).
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
    options.volumeInMemory = true;
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
    try {
        board_->volume().filePlant(std::string(FILES_DIRECTORY) + name,
                                   std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const std::exception&) {
        propertyBroken("cannot plant a file on the fuzz board's volume");
    }
}

std::string FuzzBoard::fileBytes(const char* name) {
    return board_->volume().fileContent(std::string(FILES_DIRECTORY) + name).value_or(std::string());
}

bool FuzzBoard::fileExists(const char* name) { return board_->volume().entryExists(std::string(FILES_DIRECTORY) + name); }

void FuzzBoard::clearFiles() {
    // Through the volume, so that its usage stays counted right.
    sim::HostVolume& volume = board_->volume();
    std::vector<std::string> names;
    int dir = volume.opendir(std::string(FILES_DIRECTORY).c_str());
    swboot::DirectoryEntry entry;
    while (dir >= 0 && volume.readdir(dir, entry) == swboot::OK) {
        // The listing holds "." and "..": removing "." would take the
        // (empty) directory itself, and every later input would find no
        // "files/" to work in.
        if (std::strcmp(entry.name, ".") != 0 && std::strcmp(entry.name, "..") != 0) {
            names.emplace_back(entry.name);
        }
    }
    if (dir >= 0) {
        volume.closedir(dir);
    }
    for (const std::string& name : names) {
        volume.remove((std::string(FILES_DIRECTORY) + name).c_str());
    }
}

void FuzzBoard::quietConsole() {
    // Typing not taken and bytes still due are dropped, not waited for: a
    // routine that gave up early may leave deliveries far in the future.
    line_.clearPending();
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

void FuzzBoard::runLoader(const std::function<void(swboot::Loader&)>& routine) {
    run([&] {
        swboot::Loader loader(board_->platform());
        routine(loader);
        loader.io.flush();
    });
}

std::vector<std::string_view> inputPieces(const uint8_t* data, size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> pieces;
    for (;;) {
        const size_t at = rest.find(INPUT_SEPARATOR);
        pieces.push_back(rest.substr(0, at));
        if (at == std::string_view::npos) {
            return pieces;
        }
        rest.remove_prefix(at + INPUT_SEPARATOR.size());
    }
}

int runSelected(const uint8_t* data, size_t size, const SelectedTarget& target) {
    if (size > 0) {
        target(FuzzBoard::instance(), data[0], std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    }
    return 0;
}

void propertyBroken(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzzing
