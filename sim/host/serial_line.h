// The far end of the board's console line: a person's terminal, a program
// on a pseudo-terminal or TCP socket, or a test script. The console driver
// (ConsoleTty) pulls received bytes from it and pushes transmitted bytes to it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

class SerialLine {
public:
    virtual ~SerialLine() = default;

    // Moves bytes that have already arrived into the buffer without waiting.
    // The count, 0 when none are waiting, or -1 when no byte will ever arrive
    // again (end of input of a non-interactive line).
    virtual long receive(uint8_t* buffer, size_t length) = 0;
    // Waits until input may have arrived or board time reaches the deadline
    // (a negative deadline waits without limit). May return early.
    // readerWaiting tells whether the loader is waiting for input (a read or
    // select) or merely idle in a delay: a scripted operator types the next
    // line only when asked for one.
    virtual void waitInput(int64_t deadlineMicros, bool readerWaiting) = 0;
    // Sends bytes down the line.
    virtual void transmit(const uint8_t* data, size_t length) = 0;
    // True when a person or a program may still type at any time: end of
    // input then means "unplugged", not "finished".
    virtual bool interactive() const = 0;
    // The driver switched the line speed.
    virtual void speedChanged(uint32_t /*bitsPerSecond*/) {}
    // The driver entered (true) or left raw mode: a file transfer's
    // protocol bytes pass while it is on, not text for a person.
    virtual void rawModeChanged(bool /*raw*/) {}
};

}  // namespace sim
