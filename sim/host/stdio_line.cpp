#include "host/stdio_line.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "board/board_events.h"

namespace sim {

StdioLine::StdioLine(SimClock& clock, Diagnostics& diagnostics, int inFd, int outFd)
    : clock_(clock), diagnostics_(diagnostics), inFd_(inFd), outFd_(outFd) {
    terminal_ = isatty(inFd_) != 0;
    escapes_ = terminal_;
    if (terminal_ && tcgetattr(inFd_, &saved_) == 0) {
        struct termios raw = saved_;
        cfmakeraw(&raw);
        if (tcsetattr(inFd_, TCSAFLUSH, &raw) == 0) {
            restore_ = true;
        }
    }
}

StdioLine::~StdioLine() {
    if (restore_) {
        tcsetattr(inFd_, TCSAFLUSH, &saved_);
    }
}

void StdioLine::printHelp() {
    diagnostics_.line("swboot-sim console keys:");
    diagnostics_.line("  Ctrl-A x   quit the simulator (power off)");
    diagnostics_.line("  Ctrl-A r   reset the board");
    diagnostics_.line("  Ctrl-A m   machine check (the loader reports it and reboots)");
    diagnostics_.line("  Ctrl-A h   this help");
    diagnostics_.line("  Ctrl-A a   send Ctrl-A to the board (also Ctrl-A Ctrl-A)");
}

long StdioLine::receive(uint8_t* buffer, size_t length) {
    if (endOfInput_) {
        return -1;
    }
    struct pollfd p {inFd_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) {
        return 0;
    }
    uint8_t raw[1024];
    size_t want = length < sizeof raw ? length : sizeof raw;
    ssize_t n = ::read(inFd_, raw, want);
    if (n < 0) {
        return (errno == EAGAIN || errno == EINTR) ? 0 : (endOfInput_ = true, -1);
    }
    if (n == 0) {
        endOfInput_ = true;
        return -1;
    }
    size_t out = 0;
    for (ssize_t i = 0; i < n; ++i) {
        uint8_t c = raw[i];
        if (!escapes_) {
            buffer[out++] = c;
            continue;
        }
        if (escapePending_) {
            escapePending_ = false;
            switch (c) {
                case 'x':
                case 'X':
                    throw BoardPowerOff{"operator quit (Ctrl-A x)", 0};
                case 'r':
                case 'R':
                    throw BoardReset{"operator reset (Ctrl-A r)"};
                case 'm':
                case 'M':
                    throw BoardMachineCheck{"injected by the operator (Ctrl-A m)", true};
                case 'h':
                case 'H':
                case '?':
                    printHelp();
                    break;
                case 'a':
                case ESCAPE:
                    buffer[out++] = ESCAPE;
                    break;
                default:
                    break;
            }
            continue;
        }
        if (c == ESCAPE) {
            escapePending_ = true;
            continue;
        }
        buffer[out++] = c;
    }
    return static_cast<long>(out);
}

void StdioLine::waitInput(int64_t deadlineMicros, bool /*readerWaiting*/) {
    if (endOfInput_) {
        if (deadlineMicros >= 0) {
            clock_.passUntil(deadlineMicros);
        }
        return;
    }
    int timeoutMs = -1;
    if (deadlineMicros >= 0) {
        if (clock_.isVirtual()) {
            timeoutMs = 0;
        } else {
            int64_t left = deadlineMicros - clock_.nowMicros();
            timeoutMs = left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
        }
    }
    // Waits are sliced so that a termination request arriving just before
    // one is still seen soon.
    if (timeoutMs < 0 || timeoutMs > WAIT_SLICE_MS) {
        timeoutMs = WAIT_SLICE_MS;
    }
    struct pollfd p {inFd_, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready == 0 && deadlineMicros >= 0 && clock_.isVirtual()) {
        clock_.passUntil(deadlineMicros);
    }
}

void StdioLine::transmit(const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(outFd_, data + done, length - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                struct pollfd p {outFd_, POLLOUT, 0};
                poll(&p, 1, 100);
                continue;
            }
            return;  // nobody listening: the bytes are lost, as on a cut cable
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace sim
