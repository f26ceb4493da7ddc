#include "host/pty_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <system_error>

namespace sim {

namespace {

struct SpeedCode {
    uint32_t bitsPerSecond;
    speed_t code;
};

// The speeds the console driver accepts, as terminal speed codes.
constexpr SpeedCode SPEED_CODES[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + strerror(errno));
}

int millisUntil(SimClock& clock, int64_t deadlineMicros) {
    int64_t left = deadlineMicros - clock.nowMicros();
    if (left <= 0) {
        return 0;
    }
    return left > 3600 * 1000000LL ? 3600 * 1000 : static_cast<int>((left + 999) / 1000);
}

}  // namespace

PtyLine::PtyLine(SimClock& clock, Diagnostics& diagnostics, std::filesystem::path link)
    : clock_(clock), diagnostics_(diagnostics) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        throw systemError("cannot open a pseudo-terminal");
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        int saved = errno;
        close(master_);
        errno = saved;
        throw systemError("cannot unlock the pseudo-terminal");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        close(master_);
        throw systemError("cannot name the pseudo-terminal");
    }
    slavePath_ = name;
    applyLineSettings();
    // Until the slave side has been opened once, the master cannot tell
    // whether anybody is there and keeps what the board sends for the first
    // program. Opening and closing it here puts the terminal in its
    // "nobody there" state, which the master does see.
    int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        close(slave);
    }

    if (!link.empty()) {
        std::error_code error;
        std::filesystem::file_status status = std::filesystem::symlink_status(link, error);
        if (std::filesystem::is_symlink(status)) {
            std::filesystem::remove(link, error);
        } else if (std::filesystem::exists(status)) {
            close(master_);
            throw std::runtime_error(link.string() + " exists and is not a link; not replacing it");
        }
        std::filesystem::create_symlink(slavePath_, link, error);
        if (error) {
            close(master_);
            throw std::runtime_error("cannot link " + link.string() + " to " + slavePath_ + ": " +
                                     error.message());
        }
        link_ = link;
    }
    diagnostics_.line("console: " + slavePath_);
}

PtyLine::~PtyLine() {
    if (!link_.empty()) {
        // Only a link that still names this terminal is ours to remove.
        std::error_code error;
        if (std::filesystem::read_symlink(link_, error) == slavePath_ && !error) {
            std::filesystem::remove(link_, error);
        }
    }
    if (master_ >= 0) {
        close(master_);
    }
}

void PtyLine::applyLineSettings() {
    // On the master side these settings act on the slave side: raw both
    // ways, so the bytes pass unchanged and nothing is echoed back.
    struct termios settings {};
    if (tcgetattr(master_, &settings) != 0) {
        return;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    for (const SpeedCode& entry : SPEED_CODES) {
        if (entry.bitsPerSecond == speed_) {
            cfsetispeed(&settings, entry.code);
            cfsetospeed(&settings, entry.code);
        }
    }
    tcsetattr(master_, TCSANOW, &settings);
}

void PtyLine::speedChanged(uint32_t bitsPerSecond) {
    speed_ = bitsPerSecond;
    struct termios settings {};
    if (tcgetattr(master_, &settings) != 0) {
        return;
    }
    for (const SpeedCode& entry : SPEED_CODES) {
        if (entry.bitsPerSecond == bitsPerSecond) {
            cfsetispeed(&settings, entry.code);
            cfsetospeed(&settings, entry.code);
            tcsetattr(master_, TCSANOW, &settings);
        }
    }
}

short PtyLine::look() {
    struct pollfd p {master_, POLLIN, 0};
    if (poll(&p, 1, 0) < 0) {
        return 0;
    }
    if ((p.revents & POLLHUP) != 0 && (p.revents & POLLIN) == 0) {
        if (connected_) {
            clientLeft();
        }
    } else if (!connected_ && (p.revents & POLLHUP) == 0) {
        connected_ = true;
        stalled_ = false;
    }
    return p.revents;
}

void PtyLine::clientLeft() {
    connected_ = false;
    // The next program finds the line as the board keeps it, whatever the
    // last one left behind.
    applyLineSettings();
}

bool PtyLine::connected() {
    look();
    return connected_;
}

bool PtyLine::waitForClient(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        if (connected()) {
            return true;
        }
        poll(nullptr, 0, PRESENCE_POLL_MS);
    }
    return false;
}

long PtyLine::readMaster(uint8_t* buffer, size_t length) {
    if (!connected_ && (look() & POLLIN) == 0) {
        return 0;
    }
    ssize_t n = ::read(master_, buffer, length);
    if (n > 0) {
        if (!connected_) {
            look();  // a program came and wrote
        }
        return static_cast<long>(n);
    }
    if (n < 0 && errno == EIO && connected_) {
        clientLeft();  // the last program closed the terminal
    }
    return 0;
}

long PtyLine::receive(uint8_t* buffer, size_t length) {
    return order_.receive(buffer, length, [this](uint8_t* b, size_t n) { return readMaster(b, n); });
}

void PtyLine::waitInput(int64_t deadlineMicros, bool /*readerWaiting*/) {
    if (order_.pending()) {
        return;  // there is something to receive (or to look at) already
    }
    look();
    if (clock_.isVirtual()) {
        struct pollfd p {master_, POLLIN, 0};
        int ready = connected_ ? poll(&p, 1, 0) : 0;
        if (ready > 0 && (p.revents & POLLIN) != 0) {
            return;
        }
        if (deadlineMicros >= 0) {
            clock_.passUntil(deadlineMicros);
        } else {
            poll(nullptr, 0, PRESENCE_POLL_MS);
        }
        return;
    }
    int timeoutMs = deadlineMicros < 0 ? -1 : millisUntil(clock_, deadlineMicros);
    if (!connected_) {
        // Nobody there: the master reports a hang-up at once, so look again
        // a little later instead of spinning on it.
        if (timeoutMs < 0 || timeoutMs > PRESENCE_POLL_MS) {
            timeoutMs = PRESENCE_POLL_MS;
        }
        poll(nullptr, 0, timeoutMs);
        return;
    }
    struct pollfd p {master_, POLLIN, 0};
    poll(&p, 1, timeoutMs < 0 || timeoutMs > WAIT_SLICE_MS ? WAIT_SLICE_MS : timeoutMs);
}

void PtyLine::transmit(const uint8_t* data, size_t length) {
    look();
    if (!connected_) {
        return;  // nobody on the line: the bytes are lost
    }
    order_.sending([this](uint8_t* b, size_t n) { return readMaster(b, n); });
    using Steady = std::chrono::steady_clock;
    size_t done = 0;
    Steady::time_point lastProgress = Steady::now();
    while (done < length) {
        ssize_t n = ::write(master_, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            stalled_ = false;
            lastProgress = Steady::now();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
        if (stalled_) {
            return;  // still not reading: drop at once instead of waiting again
        }
        struct pollfd p {master_, POLLOUT, 0};
        poll(&p, 1, 100);
        if ((p.revents & POLLHUP) != 0) {
            clientLeft();
            return;
        }
        if (Steady::now() - lastProgress > std::chrono::milliseconds(STALL_LIMIT_MS)) {
            diagnostics_.line("console: the program on " + slavePath_ + " reads nothing; board output is dropped");
            stalled_ = true;
            return;
        }
    }
}

}  // namespace sim
