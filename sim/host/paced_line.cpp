#include "host/paced_line.h"

#include <algorithm>

namespace sim {

PacedLine::PacedLine(SerialLine& line, SimClock& clock) : line_(line), clock_(clock) { speedChanged(speed_); }

void PacedLine::speedChanged(uint32_t bitsPerSecond) {
    if (bitsPerSecond == 0) {
        return;
    }
    speed_ = bitsPerSecond;
    characterNanos_ = (BITS_PER_CHARACTER * 1000000000LL + bitsPerSecond / 2) / bitsPerSecond;
    line_.speedChanged(bitsPerSecond);
}

double PacedLine::Meter::busiestSeconds() const {
    return mostlyReceived() ? double(lastReceivedNanos - firstReceivedNanos) / 1e9
                            : double(lastSentNanos - firstSentNanos) / 1e9;
}

double PacedLine::Meter::lineShare() const {
    const double span = busiestSeconds();
    if (span <= 0 || speed == 0) {
        return 0;
    }
    return double(busiestBytes()) * BITS_PER_CHARACTER / speed / span;
}

void PacedLine::powerUp() {
    receiverFreeNanos_ = 0;
    transmitterFreeNanos_ = 0;
    for (Incoming& in : incoming_) {
        in.dueNanos = 0;
    }
    metering_ = false;
}

void PacedLine::meterStart() {
    meter_ = Meter{};
    meter_.speed = speed_;
    meter_.startMicros = clock_.nowMicros();
    metering_ = true;
}

PacedLine::Meter PacedLine::meterStop() {
    metering_ = false;
    meter_.endMicros = clock_.nowMicros();
    return meter_;
}

void PacedLine::takeIn() {
    uint8_t buffer[1024];
    for (;;) {
        long n = line_.receive(buffer, sizeof buffer);
        endOfInput_ = n < 0;
        if (n <= 0) {
            return;
        }
        const int64_t seen = nowNanos();
        for (long i = 0; i < n; ++i) {
            const int64_t begins = std::max(seen, receiverFreeNanos_);
            receiverFreeNanos_ = begins + characterNanos_;
            incoming_.push_back({buffer[i], receiverFreeNanos_});
            if (metering_) {
                if (meter_.received++ == 0) {
                    meter_.firstReceivedNanos = begins;
                }
                meter_.lastReceivedNanos = receiverFreeNanos_;
            }
        }
    }
}

long PacedLine::receive(uint8_t* buffer, size_t length) {
    takeIn();
    const int64_t now = nowNanos();
    size_t n = 0;
    while (n < length && !incoming_.empty() && incoming_.front().dueNanos <= now) {
        buffer[n++] = incoming_.front().byte;
        incoming_.pop_front();
    }
    if (n == 0 && incoming_.empty() && endOfInput_) {
        return -1;
    }
    return static_cast<long>(n);
}

void PacedLine::waitInput(int64_t deadlineMicros, bool readerWaiting) {
    takeIn();
    if (incoming_.empty()) {
        line_.waitInput(deadlineMicros, readerWaiting);
        return;
    }
    // A byte is on its way: wait for it (or the deadline, if sooner).
    int64_t due = (incoming_.front().dueNanos + 999) / 1000;
    if (deadlineMicros >= 0 && deadlineMicros < due) {
        due = deadlineMicros;
    }
    clock_.passUntil(due);
}

void PacedLine::transmit(const uint8_t* data, size_t length) {
    const int64_t start = std::max(nowNanos(), transmitterFreeNanos_);
    transmitterFreeNanos_ = start + static_cast<int64_t>(length) * characterNanos_;
    if (metering_ && length > 0) {
        if (meter_.sent == 0) {
            meter_.firstSentNanos = start;
        }
        meter_.sent += length;
        meter_.lastSentNanos = transmitterFreeNanos_;
    }
    size_t sent = 0;
    while (sent < length) {
        // The bytes whose stop bit has left by now go to the far end.
        const int64_t now = nowNanos();
        size_t gone = now <= start ? 0 : static_cast<size_t>((now - start) / characterNanos_);
        gone = std::min(gone, length);
        if (gone > sent) {
            line_.transmit(data + sent, gone - sent);
            sent = gone;
            // What the far end sent meanwhile arrived meanwhile.
            takeIn();
            continue;
        }
        const int64_t next = start + static_cast<int64_t>(sent + 1) * characterNanos_;
        const int64_t wake = std::max(next, std::min(now + SEND_SLICE_MICROS * 1000, transmitterFreeNanos_));
        clock_.passUntil((wake + 999) / 1000);
    }
}

}  // namespace sim
