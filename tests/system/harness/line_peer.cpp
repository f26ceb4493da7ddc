#include "harness/line_peer.h"

#include <errno.h>
#include <stdlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace interop {

namespace {

constexpr size_t RELAY_CHUNK = 65536;
// How often the relay looks at the clock while nothing moves.
constexpr int RELAY_TICK_MS = 50;
// How much of what the board sent the program is kept for failure reports.
constexpr size_t TAIL_KEPT = 512;

void keepTail(std::string& tail, const char* data, size_t length) {
    tail.append(data, length);
    if (tail.size() > TAIL_KEPT) {
        tail.erase(0, tail.size() - TAIL_KEPT);
    }
}

// Control bytes as \xNN, so that a failure report can be read.
std::string visible(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\n' || (c >= 0x20 && c < 0x7F)) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

void makeRaw(int fd) {
    struct termios settings {};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
}

void closeFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Writes what it can without waiting; drops what was written from the
// front of the buffer. False when the descriptor is gone for good.
bool writeSome(int fd, std::string& pending) {
    while (!pending.empty()) {
        ssize_t n = write(fd, pending.data(), pending.size());
        if (n > 0) {
            pending.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        }
        return false;
    }
    return true;
}

}  // namespace

std::string PeerResult::summary() const {
    std::ostringstream text;
    text << (started ? "ran" : "never started") << ", exit status " << exitStatus << (timedOut ? " (killed at the limit)" : "")
         << ", " << bytesToPeer << " bytes to it, " << bytesFromPeer << " bytes from it";
    if (!errorText.empty()) {
        text << "; its standard error:\n" << errorText;
    }
    if (!lastToPeer.empty()) {
        text << "\nthe last bytes the board sent it:\n" << visible(lastToPeer);
    }
    return text.str();
}

bool programAvailable(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    std::istringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::filesystem::path candidate = std::filesystem::path(dir.empty() ? "." : dir) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

PtyPair openPtyPair() {
    PtyPair pair;
    pair.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (pair.master < 0 || grantpt(pair.master) != 0 || unlockpt(pair.master) != 0 ||
        ptsname_r(pair.master, name, sizeof name) != 0) {
        std::string reason = strerror(errno);
        if (pair.master >= 0) {
            close(pair.master);
        }
        throw std::runtime_error("cannot open a pseudo-terminal: " + reason);
    }
    pair.slavePath = name;
    makeRaw(pair.master);
    return pair;
}

LinePeer::LinePeer(const std::string& terminalPath, PeerOptions options) : options_(std::move(options)) {
    terminal_ = open(terminalPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (terminal_ < 0) {
        throw std::runtime_error("cannot open " + terminalPath + ": " + strerror(errno));
    }
    start();
}

LinePeer::LinePeer(int terminalFd, PeerOptions options) : options_(std::move(options)), terminal_(terminalFd) {
    fcntl(terminal_, F_SETFL, fcntl(terminal_, F_GETFL) | O_NONBLOCK);
    start();
}

void LinePeer::start() {
    // A program that exits while the relay still has bytes for it must not
    // take the test process down with it.
    signal(SIGPIPE, SIG_IGN);
    makeRaw(terminal_);
    thread_ = std::thread([this] { relay(); });
}

LinePeer::~LinePeer() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    closeFd(terminal_);
}

PeerResult LinePeer::finish() {
    finishing_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return result_;
}

bool LinePeer::spawn() {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (!options_.workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options_.workDir.c_str());
    }
    std::vector<char*> argv;
    for (std::string& word : options_.argv) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (failed != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        std::lock_guard<std::mutex> lock(mutex_);
        result_.errorText = "cannot start " + options_.argv[0] + ": " + strerror(failed);
        return false;
    }
    pid_ = pid;
    childIn_ = in[1];
    childOut_ = out[0];
    childErr_ = err[0];
    fcntl(childIn_, F_SETFL, O_NONBLOCK);
    fcntl(childOut_, F_SETFL, O_NONBLOCK);
    fcntl(childErr_, F_SETFL, O_NONBLOCK);
    return true;
}

void LinePeer::relay() {
    const Steady::time_point deadline = Steady::now() + options_.limit;
    PeerResult r;  // spawn() may note its failure in result_ meanwhile
    std::string& seen = r.seenBeforeStart;
    bool& started = r.started;
    bool& timedOut = r.timedOut;
    std::string toPeer;
    std::string toTerminal;
    std::vector<uint8_t> buffer(RELAY_CHUNK);
    started = options_.startAfter.empty();
    // Bytes from the board on their way to the program, as the observer sees them.
    const auto passToPeer = [&](const char* data, size_t length, Steady::time_point now) {
        if (options_.observer) {
            options_.observer(Flow::ToPeer, reinterpret_cast<const uint8_t*>(data), length, now);
        }
        r.bytesToPeer += length;
        keepTail(r.lastToPeer, data, length);
        if (childIn_ >= 0) {
            toPeer.append(data, length);
        }
    };

    if (started && !spawn()) {
        closeFd(terminal_);
        return;
    }
    r.spawned = Steady::now();

    for (;;) {
        if (Steady::now() >= deadline || stop_) {
            timedOut = true;
            break;
        }
        if (!started && finishing_) {
            break;
        }
        if (started && childOut_ < 0 && childErr_ < 0 && toTerminal.empty()) {
            break;  // the program is done and everything it said has been passed on
        }
        struct pollfd p[4];
        nfds_t count = 0;
        int terminalSlot = -1, inSlot = -1, outSlot = -1, errSlot = -1;
        if (terminal_ >= 0) {
            terminalSlot = static_cast<int>(count);
            p[count++] = {terminal_, static_cast<short>(POLLIN | (toTerminal.empty() ? 0 : POLLOUT)), 0};
        }
        if (childIn_ >= 0 && !toPeer.empty()) {
            inSlot = static_cast<int>(count);
            p[count++] = {childIn_, POLLOUT, 0};
        }
        if (childOut_ >= 0) {
            outSlot = static_cast<int>(count);
            p[count++] = {childOut_, POLLIN, 0};
        }
        if (childErr_ >= 0) {
            errSlot = static_cast<int>(count);
            p[count++] = {childErr_, POLLIN, 0};
        }
        if (poll(p, count, RELAY_TICK_MS) <= 0) {
            continue;
        }
        Steady::time_point now = Steady::now();
        if (terminalSlot >= 0 && (p[terminalSlot].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ssize_t n = read(terminal_, buffer.data(), buffer.size());
            if (n > 0) {
                if (!started) {
                    seen.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
                    size_t at = seen.find(options_.startAfter);
                    if (at != std::string::npos) {
                        // What follows the prompt in the same read belongs to the program.
                        std::string rest = seen.substr(at + options_.startAfter.size());
                        seen.resize(at + options_.startAfter.size());
                        if (!spawn()) {
                            break;
                        }
                        started = true;
                        r.spawned = Steady::now();
                        if (!rest.empty()) {
                            passToPeer(rest.data(), rest.size(), now);
                        }
                    }
                } else {
                    passToPeer(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n), now);
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                closeFd(terminal_);  // the board side went away
                if (!started) {
                    break;
                }
            }
        }
        if (terminal_ >= 0 && !toTerminal.empty() && !writeSome(terminal_, toTerminal)) {
            closeFd(terminal_);
            toTerminal.clear();
        }
        if (terminal_ < 0) {
            toTerminal.clear();
        }
        if (inSlot >= 0 && !writeSome(childIn_, toPeer)) {
            closeFd(childIn_);  // the program stopped reading (it exited)
            toPeer.clear();
        }
        if (outSlot >= 0 && (p[outSlot].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ssize_t n = read(childOut_, buffer.data(), buffer.size());
            if (n > 0) {
                if (options_.observer) {
                    options_.observer(Flow::FromPeer, buffer.data(), static_cast<size_t>(n), now);
                }
                r.bytesFromPeer += static_cast<size_t>(n);
                toTerminal.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
                if (terminal_ >= 0 && !writeSome(terminal_, toTerminal)) {
                    closeFd(terminal_);
                    toTerminal.clear();
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                closeFd(childOut_);
                closeFd(childIn_);
            }
        }
        if (errSlot >= 0 && (p[errSlot].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ssize_t n = read(childErr_, buffer.data(), buffer.size());
            if (n > 0) {
                r.errorText.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                closeFd(childErr_);
            }
        }
    }

    r.exited = Steady::now();
    if (pid_ > 0) {
        if (timedOut) {
            kill(pid_, SIGKILL);
        }
        int status = 0;
        pid_t reaped = -1;
        // Its output is closed; give it a moment to be gone, then insist.
        for (int tries = 0; tries < 100; ++tries) {
            reaped = waitpid(pid_, &status, WNOHANG);
            if (reaped != 0) {
                break;
            }
            usleep(20000);
        }
        if (reaped == 0) {
            kill(pid_, SIGKILL);
            reaped = waitpid(pid_, &status, 0);
            timedOut = true;
        }
        if (reaped == pid_ && WIFEXITED(status)) {
            r.exitStatus = WEXITSTATUS(status);
        }
        pid_ = -1;
    }
    closeFd(childIn_);
    closeFd(childOut_);
    closeFd(childErr_);
    closeFd(terminal_);  // pull the cable

    std::lock_guard<std::mutex> lock(mutex_);
    r.errorText = result_.errorText + r.errorText;
    result_ = r;
}

}  // namespace interop
