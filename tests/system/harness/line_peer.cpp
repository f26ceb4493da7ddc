#include "harness/line_peer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "harness/terminal.h"

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
    return std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) == 0;
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

LinePeer::LinePeer(const std::string& terminalPath, PeerOptions options)
    : LinePeer(openRawTerminal(terminalPath), std::move(options)) {}

LinePeer::LinePeer(int terminalFd, PeerOptions options) : options_(std::move(options)), terminal_(terminalFd) {
    fcntl(terminal_, F_SETFL, fcntl(terminal_, F_GETFL) | O_NONBLOCK);
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

void LinePeer::relay() {
    const Steady::time_point deadline = Steady::now() + options_.limit;
    PeerResult r;
    std::optional<ChildProcess> child;
    int childIn = -1;
    int childOut = -1;
    std::string seen;
    std::string toPeer;
    std::string toTerminal;
    std::vector<uint8_t> buffer(RELAY_CHUNK);
    const auto spawn = [&] {
        try {
            child.emplace(options_.argv[0], std::vector<std::string>(options_.argv.begin() + 1, options_.argv.end()),
                          options_.workDir, true);
        } catch (const std::exception& e) {
            r.errorText = e.what();
            return false;
        }
        childIn = child->input();
        childOut = child->output();
        return r.started = true;
    };
    // Bytes from the board on their way to the program, as the observer sees them.
    const auto passToPeer = [&](const char* data, size_t length, Steady::time_point now) {
        if (options_.observer) {
            options_.observer(Flow::ToPeer, reinterpret_cast<const uint8_t*>(data), length, now);
        }
        r.bytesToPeer += length;
        keepTail(r.lastToPeer, data, length);
        if (childIn >= 0) {
            toPeer.append(data, length);
        }
    };

    if (!options_.startAfter.empty() || spawn()) {
        for (;;) {
            if (Steady::now() >= deadline || stop_) {
                r.timedOut = true;
                break;
            }
            if (!r.started && finishing_) {
                break;
            }
            if (r.started && childOut < 0 && toTerminal.empty()) {
                break;  // the program is done and everything it said has been passed on
            }
            struct pollfd p[3];
            nfds_t count = 0;
            int terminalSlot = -1, inSlot = -1, outSlot = -1;
            if (terminal_ >= 0) {
                terminalSlot = static_cast<int>(count);
                p[count++] = {terminal_, static_cast<short>(POLLIN | (toTerminal.empty() ? 0 : POLLOUT)), 0};
            }
            if (childIn >= 0 && !toPeer.empty()) {
                inSlot = static_cast<int>(count);
                p[count++] = {childIn, POLLOUT, 0};
            }
            if (childOut >= 0) {
                outSlot = static_cast<int>(count);
                p[count++] = {childOut, POLLIN, 0};
            }
            if (poll(p, count, RELAY_TICK_MS) <= 0) {
                continue;
            }
            Steady::time_point now = Steady::now();
            if (terminalSlot >= 0 && (p[terminalSlot].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                ssize_t n = read(terminal_, buffer.data(), buffer.size());
                if (n > 0 && r.started) {
                    passToPeer(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n), now);
                } else if (n > 0) {
                    seen.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
                    size_t at = seen.find(options_.startAfter);
                    if (at != std::string::npos) {
                        if (!spawn()) {
                            break;
                        }
                        // What follows the prompt in the same read belongs to the program.
                        std::string rest = seen.substr(at + options_.startAfter.size());
                        if (!rest.empty()) {
                            passToPeer(rest.data(), rest.size(), now);
                        }
                    }
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    closeFd(terminal_);  // the board side went away
                    if (!r.started) {
                        break;
                    }
                }
            }
            if (terminal_ >= 0 && !toTerminal.empty() && !writeSome(terminal_, toTerminal)) {
                closeFd(terminal_);
            }
            if (terminal_ < 0) {
                toTerminal.clear();
            }
            if (inSlot >= 0 && !writeSome(childIn, toPeer)) {
                closeFd(childIn);  // the program stopped reading (it exited)
                toPeer.clear();
            }
            if (outSlot >= 0 && (p[outSlot].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                ssize_t n = read(childOut, buffer.data(), buffer.size());
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
                    closeFd(childOut);
                    closeFd(childIn);
                }
            }
        }
    }

    r.exited = Steady::now();
    closeFd(childIn);
    closeFd(childOut);
    if (child) {
        // Its output is closed; give it a moment to be gone, then insist.
        if (r.timedOut) {
            child->terminate();
        }
        r.exitStatus = child->wait(std::chrono::seconds(2));
        r.errorText = child->diagnostics();
    }
    closeFd(terminal_);  // pull the cable

    std::lock_guard<std::mutex> lock(mutex_);
    result_ = r;
}

}  // namespace interop
