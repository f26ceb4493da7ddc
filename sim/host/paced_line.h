// A console line held to the speed the board's UART is set to: every
// character takes ten bit times (start bit, eight data bits, stop bit) in
// each direction, at the speed the console driver chose last (9600 at power
// on). It wraps any other line (a terminal, a pseudo-terminal, a TCP
// socket, a test script) and works on real or virtual time.
//
// Sending: a byte reaches the far end when its stop bit has left, so the
// far end cannot answer a block before the block is over; transmit()
// returns when the last byte is out. Receiving: bytes that the far end
// sent at once are handed to the board one character time apart, from
// when they were seen on the line, and never faster.
//
// The line also meters a transfer (the console in raw mode): the bytes each
// way, how long it took, and what share of the line rate it used.
#pragma once

#include <cstdint>
#include <deque>

#include "host/serial_line.h"
#include "host/sim_clock.h"

namespace sim {

class PacedLine : public SerialLine {
public:
    static constexpr int BITS_PER_CHARACTER = 10;
    // Sending and waiting for bytes on their way wake up at most this
    // often (but never after the last byte is through).
    static constexpr int64_t SEND_SLICE_MICROS = 1000;

    // What a transfer moved, from the start of the meter to its end.
    struct Meter {
        uint32_t speed = 0;
        int64_t startMicros = 0, endMicros = 0;
        uint64_t received = 0, sent = 0;
        // Board time at which the first byte began and the last byte ended
        // on the line, each way.
        int64_t firstReceivedNanos = 0, lastReceivedNanos = 0;
        int64_t firstSentNanos = 0, lastSentNanos = 0;

        double seconds() const { return double(endMicros - startMicros) / 1e6; }
        // The direction that carried more, its bytes and its span (first to
        // last byte), and the share of the line rate it used over the span.
        bool mostlyReceived() const { return received >= sent; }
        uint64_t busiestBytes() const { return mostlyReceived() ? received : sent; }
        double busiestSeconds() const;
        double lineShare() const;
    };

    PacedLine(SerialLine& line, SimClock& clock);

    // Board time starts again at a power-on: what was on its way has
    // arrived, and both directions are free.
    void powerUp();

    void meterStart();
    Meter meterStop();

    // The time one character takes at the current speed, in nanoseconds.
    int64_t characterNanos() const { return characterNanos_; }
    uint32_t speed() const { return speed_; }

    long receive(uint8_t* buffer, size_t length) override;
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override;
    void transmit(const uint8_t* data, size_t length) override;
    bool interactive() const override { return line_.interactive(); }
    void speedChanged(uint32_t bitsPerSecond) override;
    void rawModeChanged(bool raw) override { line_.rawModeChanged(raw); }

private:
    struct Incoming {
        uint8_t byte;
        int64_t dueNanos;  // board time at which its stop bit has arrived
    };
    int64_t nowNanos() { return clock_.nowMicros() * 1000; }
    // Takes what the line has now and gives each byte its arrival time.
    void takeIn();

    SerialLine& line_;
    SimClock& clock_;
    uint32_t speed_ = 9600;
    int64_t characterNanos_ = 0;
    int64_t receiverFreeNanos_ = 0;     // when the last byte taken in has arrived
    int64_t transmitterFreeNanos_ = 0;  // when the last byte sent has left
    bool endOfInput_ = false;
    std::deque<Incoming> incoming_;
    bool metering_ = false;
    Meter meter_;
};

}  // namespace sim
