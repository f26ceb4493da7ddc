// The serial console line as the board support's console driver offers it.
//
// In its normal mode the driver echoes typed characters, delivers input a
// whole line at a time (a carriage return from the terminal ends the line and
// reaches the reader as a line feed), and sends every line feed of output as
// carriage return plus line feed. With the option word 0 (raw mode) bytes
// pass unchanged in both directions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

// Option word bits of the console driver.
inline constexpr uint32_t OPT_ECHO = 0x01;      // echo input characters
inline constexpr uint32_t OPT_CRMOD = 0x02;     // CR in -> LF, LF out -> CR LF
inline constexpr uint32_t OPT_TANDEM = 0x04;    // XON/XOFF flow control
inline constexpr uint32_t OPT_7_BIT = 0x08;     // strip bit 7 of input
inline constexpr uint32_t OPT_MON_TRAP = 0x10;  // Control-X resets the board
inline constexpr uint32_t OPT_ABORT = 0x20;     // Control-C aborts the shell
inline constexpr uint32_t OPT_LINE = 0x40;      // line mode: input by lines
inline constexpr uint32_t OPT_RAW = 0x00;
inline constexpr uint32_t OPT_TERMINAL = OPT_ECHO | OPT_CRMOD | OPT_TANDEM | OPT_7_BIT |
                                         OPT_MON_TRAP | OPT_ABORT | OPT_LINE;

// Console speeds and the UART divisors for a 100 MHz bus clock
// (divisor = 100000000 / (16 * speed)). Shared by the Boot Menu's speed
// dialogue and the console driver, which accepts only these speeds.
struct BaudRateEntry {
    uint32_t speed;
    uint32_t divisor;
};
inline constexpr BaudRateEntry BAUD_RATE_TABLE[8] = {
    {1200, 5208}, {2400, 2604},  {4800, 1302},  {9600, 651},
    {19200, 325}, {38400, 162}, {57600, 108}, {115200, 54},
};

class Console {
public:
    virtual ~Console() = default;

    // The option word (FIOGETOPTIONS / FIOSETOPTIONS).
    virtual uint32_t optionsGet() = 0;
    virtual void optionsSet(uint32_t options) = 0;

    // Discards both queues (FIOFLUSH) or only the input queue (FIORFLUSH).
    // OK, or ERROR when the driver cannot do it.
    virtual int flush() = 0;
    virtual int flushInput() = 0;

    // Sets the line speed; ERROR when the speed is not one the driver knows.
    virtual int baudRateSet(uint32_t speed) = 0;
    // Reports the line speed last set (the serial driver's baud-rate query);
    // ERROR when the driver cannot tell.
    virtual int baudRateGet(uint32_t& speed) = 0;

    // Waits at most the given time for input to become readable, in the
    // manner of select on descriptor 0: 1 when readable, 0 on timeout,
    // ERROR on failure. A negative timeout waits without limit.
    virtual int waitReadable(int64_t microseconds) = 0;

    // Reads at least one byte, waiting as long as needed; in line mode at
    // most up to and including the next line end. Returns the count, or
    // ERROR.
    virtual long read(uint8_t* buffer, size_t length) = 0;

    // Writes the bytes; returns the count taken, or ERROR.
    virtual long write(const uint8_t* data, size_t length) = 0;
};

}  // namespace swboot
