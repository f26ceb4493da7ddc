#include "host/console_tty.h"

#include <algorithm>

#include "board/board_events.h"
#include "platform/status.h"

namespace sim {

using namespace swboot;

ConsoleTty::ConsoleTty(SerialLine& line, SimClock& clock) : line_(line), clock_(clock) {}

void ConsoleTty::powerUp() {
    if (options_ == OPT_RAW && rawModeHook_) {
        rawModeHook_(false);
    }
    options_ = OPT_TERMINAL;
    speed_ = POWER_ON_SPEED;
    queue_.clear();
    editLine_.clear();
    completeLines_ = 0;
    line_.speedChanged(speed_);
}

void ConsoleTty::setSpeedQueryFault(bool fails, uint32_t reported) {
    speedQueryFaulted_ = true;
    speedQueryFails_ = fails;
    speedQueryValue_ = reported;
}

void ConsoleTty::poll() {
    if (pollHook_) {
        pollHook_();
    }
}

void ConsoleTty::optionsSet(uint32_t options) {
    bool wasLine = (options_ & OPT_LINE) != 0;
    const bool wasRaw = options_ == OPT_RAW;
    options_ = options;
    if (wasRaw != (options_ == OPT_RAW)) {
        line_.rawModeChanged(options_ == OPT_RAW);
        if (rawModeHook_) {
            rawModeHook_(options_ == OPT_RAW);
        }
    }
    if (wasLine && (options_ & OPT_LINE) == 0) {
        // Leaving line mode hands the partly typed line to the reader as is.
        queue_.insert(queue_.end(), editLine_.begin(), editLine_.end());
        editLine_.clear();
        completeLines_ = 0;
    } else if (!wasLine && (options_ & OPT_LINE) != 0) {
        // Entering line mode: bytes that arrived in raw mode are still
        // waiting; each line end among them ends a line for the reader.
        completeLines_ = static_cast<size_t>(std::count(queue_.begin(), queue_.end(), '\n'));
    }
}

void ConsoleTty::echo(uint8_t byte) {
    if ((options_ & OPT_ECHO) == 0) {
        return;
    }
    if (byte == '\n' && (options_ & OPT_CRMOD)) {
        const uint8_t crlf[2] = {'\r', '\n'};
        line_.transmit(crlf, 2);
    } else {
        line_.transmit(&byte, 1);
    }
}

void ConsoleTty::accept(uint8_t byte) {
    if (options_ & OPT_7_BIT) {
        byte &= 0x7F;
    }
    if ((options_ & OPT_MON_TRAP) && byte == CONTROL_X) {
        if (resetHandler_) {
            resetHandler_();
        }
        throw BoardReset{"Control-X on the console"};
    }
    if ((options_ & OPT_TANDEM) && (byte == XON || byte == XOFF)) {
        return;  // flow control, not data
    }
    if ((options_ & OPT_CRMOD) && byte == '\r') {
        byte = '\n';
    }
    if (options_ & OPT_LINE) {
        if (byte == '\n') {
            echo(byte);
            queue_.insert(queue_.end(), editLine_.begin(), editLine_.end());
            queue_.push_back('\n');
            editLine_.clear();
            ++completeLines_;
        } else if (editLine_.size() < EDIT_LINE_MAX) {
            echo(byte);
            editLine_.push_back(byte);
        }
        return;
    }
    if (queue_.size() < QUEUE_MAX) {
        echo(byte);
        queue_.push_back(byte);
    }
}

void ConsoleTty::pump() {
    poll();
    uint8_t buffer[4096];
    // Take in what has arrived, but leave the rest on the line once the
    // reader has plenty, as a UART with a full ring would.
    while (queue_.size() < QUEUE_MAX) {
        size_t room = std::min(sizeof buffer, QUEUE_MAX - queue_.size());
        long n = line_.receive(buffer, room);
        endOfInput_ = n < 0;
        if (n <= 0) {
            break;
        }
        if ((options_ & BYTE_HANDLING_OPTIONS) == 0) {
            // Nothing to strip, map, echo or act on: the bytes go to the
            // reader as they came, at once rather than one at a time.
            queue_.insert(queue_.end(), buffer, buffer + n);
        } else {
            for (long i = 0; i < n; ++i) {
                accept(buffer[i]);
            }
        }
        if (static_cast<size_t>(n) < room) {
            break;  // the line gave what it had: no need to ask again at once
        }
    }
}

bool ConsoleTty::readable() const {
    if (options_ & OPT_LINE) {
        return completeLines_ > 0;
    }
    return !queue_.empty();
}

void ConsoleTty::idleUntil(int64_t deadlineMicros) {
    for (;;) {
        pump();
        if (clock_.nowMicros() >= deadlineMicros) {
            return;
        }
        if (endOfInput_ || clock_.isVirtual()) {
            // Nothing to serve: let the time pass (the line may still be
            // asked once, so a scripted peer can answer on time).
            line_.waitInput(deadlineMicros, false);
            pump();
            clock_.passUntil(deadlineMicros);
            return;
        }
        line_.waitInput(deadlineMicros, false);
    }
}

int ConsoleTty::waitReadable(int64_t microseconds) {
    if (readable()) {
        // What is queued answers at once; the line is looked at again when
        // the queue runs dry (a transfer reads a block in a few calls).
        poll();
        return 1;
    }
    int64_t deadline = microseconds < 0 ? -1 : clock_.nowMicros() + microseconds;
    for (;;) {
        pump();
        if (readable()) {
            return 1;
        }
        if (deadline >= 0 && clock_.nowMicros() >= deadline) {
            return 0;
        }
        if (endOfInput_) {
            if (deadline < 0) {
                throw BoardPowerOff{"end of console input"};
            }
            clock_.passUntil(deadline);
            return 0;
        }
        line_.waitInput(deadline, true);
    }
}

long ConsoleTty::read(uint8_t* buffer, size_t length) {
    if (length == 0) {
        return 0;
    }
    waitReadable(-1);
    if ((options_ & OPT_LINE) == 0) {
        // Outside line mode the reader takes whatever is there, in one copy.
        const size_t n = std::min(length, queue_.size());
        std::copy_n(queue_.begin(), n, buffer);
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<long>(n);
    }
    size_t n = 0;
    while (n < length && !queue_.empty()) {
        uint8_t byte = queue_.front();
        queue_.pop_front();
        buffer[n++] = byte;
        if (byte == '\n') {
            if (completeLines_ > 0) {
                --completeLines_;
            }
            break;
        }
    }
    return static_cast<long>(n);
}

long ConsoleTty::write(const uint8_t* data, size_t length) {
    poll();
    if ((options_ & OPT_CRMOD) == 0) {
        line_.transmit(data, length);
        return static_cast<long>(length);
    }
    std::vector<uint8_t> out;
    out.reserve(length + length / 8 + 2);
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '\n') {
            out.push_back('\r');
        }
        out.push_back(data[i]);
    }
    line_.transmit(out.data(), out.size());
    return static_cast<long>(length);
}

int ConsoleTty::flush() {
    pump();
    queue_.clear();
    editLine_.clear();
    completeLines_ = 0;
    return OK;
}

int ConsoleTty::flushInput() { return flush(); }

int ConsoleTty::baudRateSet(uint32_t speed) {
    if (speedSetFails_) {
        return ERROR;
    }
    for (const BaudRateEntry& entry : BAUD_RATE_TABLE) {
        if (entry.speed == speed) {
            speed_ = speed;
            line_.speedChanged(speed);
            return OK;
        }
    }
    return ERROR;
}

int ConsoleTty::baudRateGet(uint32_t& speed) {
    if (speedQueryFaulted_) {
        if (speedQueryFails_) {
            return ERROR;
        }
        speed = speedQueryValue_;
        return OK;
    }
    speed = speed_;
    return OK;
}

}  // namespace sim
