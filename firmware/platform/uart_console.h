// The console driver on the board's 16550 UART at 0xF0004500, polled: the
// loader is the only task and the UART's interrupt is not wired.
//
// The line discipline is the operating system's terminal driver as the
// loader knows it: with the terminal options input is echoed and handed over
// a line at a time, a carriage return ends a line and reaches the reader as
// a line feed, output line feeds go out as CR LF, XON/XOFF are taken out,
// bit 7 is stripped, and Control-X resets the board while the monitor trap
// option is set. Option word 0 (raw mode) passes bytes unchanged both ways.
// Each option word set is also written to the volume service's
// CONSOLE_OPTIONS register, so that the simulated board knows a transfer's
// bytes from the console's text.
// Only the speeds of the loader's baud-rate table are accepted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/console.h"
#include "time_base.h"

namespace firmware {

class UartConsole : public swboot::Console {
public:
    static constexpr uint32_t BASE = 0xF0004500;
    // Register offsets; 0 and 1 are the divisor latch while DLAB is set.
    static constexpr uint32_t REG_RBR = 0;
    static constexpr uint32_t REG_THR = 0;
    static constexpr uint32_t REG_DLL = 0;
    static constexpr uint32_t REG_IER = 1;
    static constexpr uint32_t REG_DLM = 1;
    static constexpr uint32_t REG_FCR = 2;
    static constexpr uint32_t REG_LCR = 3;
    static constexpr uint32_t REG_MCR = 4;
    static constexpr uint32_t REG_LSR = 5;
    static constexpr uint8_t LCR_8N1 = 0x03;
    static constexpr uint8_t LCR_DLAB = 0x80;
    static constexpr uint8_t FCR_ENABLE_AND_CLEAR = 0x07;
    static constexpr uint8_t MCR_DTR_RTS = 0x03;
    static constexpr uint8_t LSR_DATA_READY = 0x01;
    static constexpr uint8_t LSR_THR_EMPTY = 0x20;

    static constexpr uint8_t CONTROL_X = 0x18;
    static constexpr uint8_t XON = 0x11;
    static constexpr uint8_t XOFF = 0x13;
    static constexpr size_t EDIT_LINE_MAX = 1024;   // longest line the driver assembles
    static constexpr size_t QUEUE_SIZE = 65536;     // input held for the reader
    static constexpr uint32_t POWER_ON_SPEED = 9600;
    // Writing this to CPLD register 0 resets the board.
    static constexpr uint32_t CPLD_RESET_CONTROL = 0xD0000000;
    static constexpr uint8_t CPLD_RESET_REQUEST = 0x10;

    explicit UartConsole(TimeBaseClock& clock);

    uint32_t optionsGet() override { return options_; }
    void optionsSet(uint32_t options) override;
    int flush() override;
    int flushInput() override { return flush(); }
    int baudRateSet(uint32_t speed) override;
    int baudRateGet(uint32_t& speed) override;
    int waitReadable(int64_t microseconds) override;
    long read(uint8_t* buffer, size_t length) override;
    long write(const uint8_t* data, size_t length) override;

private:
    void pump();
    void accept(uint8_t byte);
    void echo(uint8_t byte);
    void transmit(uint8_t byte);
    bool readable() const { return (options_ & swboot::OPT_LINE) ? completeLines_ > 0 : count_ > 0; }
    void push(uint8_t byte);
    uint8_t pop();
    [[noreturn]] void boardReset();

    TimeBaseClock& clock_;
    uint32_t options_ = swboot::OPT_TERMINAL;
    uint32_t speed_ = POWER_ON_SPEED;
    // Bytes ready for the reader: a ring.
    uint8_t queue_[QUEUE_SIZE];
    size_t head_ = 0;
    size_t count_ = 0;
    size_t completeLines_ = 0;       // line mode: line ends held in the queue
    uint8_t editLine_[EDIT_LINE_MAX];
    size_t editLength_ = 0;          // line mode: the line being typed
};

}  // namespace firmware
