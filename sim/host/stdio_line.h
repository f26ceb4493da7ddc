// The console line on the simulator's own terminal (or its standard input
// and output when they are pipes or files).
//
// On a terminal the line is put in raw mode for the whole run and restored
// afterwards, and the escape keys work: Ctrl-A x quits, Ctrl-A r resets the
// board, Ctrl-A m makes the processor take a machine check, Ctrl-A h lists
// the keys, Ctrl-A Ctrl-A (or Ctrl-A a) sends a
// Ctrl-A. On pipes, end of input means the person or script is done.
#pragma once

#include <termios.h>

#include "host/diagnostics.h"
#include "host/serial_line.h"
#include "host/sim_clock.h"

namespace sim {

class StdioLine : public SerialLine {
public:
    static constexpr uint8_t ESCAPE = 0x01;  // Ctrl-A
    static constexpr int WAIT_SLICE_MS = 100;

    // Uses the given descriptors; escape keys are on when the input is a
    // terminal unless told otherwise.
    StdioLine(SimClock& clock, Diagnostics& diagnostics, int inFd = 0, int outFd = 1);
    ~StdioLine() override;
    StdioLine(const StdioLine&) = delete;
    StdioLine& operator=(const StdioLine&) = delete;

    void setEscapes(bool on) { escapes_ = on; }
    void printHelp();

    long receive(uint8_t* buffer, size_t length) override;
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override;
    void transmit(const uint8_t* data, size_t length) override;
    bool interactive() const override { return terminal_; }

private:
    SimClock& clock_;
    Diagnostics& diagnostics_;
    int inFd_;
    int outFd_;
    bool terminal_ = false;
    bool escapes_ = false;
    bool escapePending_ = false;
    bool endOfInput_ = false;
    bool restore_ = false;
    struct termios saved_ {};
};

}  // namespace sim
