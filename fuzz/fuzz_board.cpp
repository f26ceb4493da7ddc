#include "fuzz_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    filesDir_ = (volume.hostRoot() / "files").string() + "/";
}

FuzzBoard::~FuzzBoard() {
    board_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(state_, ignored);
}

void FuzzBoard::plant(const char* name, const uint8_t* data, size_t size) {
    // Plain system calls: a stream would allocate (and with the sanitizers
    // clear) a fresh buffer for every input.
    const std::string path = filesDir_ + name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    for (size_t done = 0; written && done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        written = n > 0;
        done += written ? static_cast<size_t>(n) : 0;
    }
    if (fd < 0 || ::close(fd) != 0 || !written) {
        propertyBroken("cannot plant a file on the fuzz board's volume");
    }
}

std::string FuzzBoard::fileBytes(const char* name) {
    std::string bytes;
    const std::string path = filesDir_ + name;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return bytes;
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

bool FuzzBoard::fileExists(const char* name) {
    const std::string path = filesDir_ + name;
    return ::access(path.c_str(), F_OK) == 0;
}

void FuzzBoard::clearFiles() {
    // Through the volume, so that its usage stays counted right.
    sim::HostVolume& volume = board_->volume();
    std::vector<std::string> names;
    int dir = volume.opendir("/DskVol/files");
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
        volume.remove(("/DskVol/files/" + name).c_str());
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

void propertyBroken(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzzing
