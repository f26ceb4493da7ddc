// System clock and calendar time of the operating system.
#pragma once

#include <cstdint>

namespace swboot {

class Clock {
public:
    virtual ~Clock() = default;

    // Ticks since power-on.
    virtual uint32_t tickGet() = 0;
    // Ticks per second of the system clock (100 on this board).
    virtual int clockRate() = 0;
    // Gives up the processor for the given number of ticks.
    virtual void taskDelay(int ticks) = 0;
    // Sleeps the given number of nanoseconds. Returns 0, or the time still
    // to sleep when the sleep was interrupted (the caller sleeps again).
    virtual int64_t nanosleep(int64_t nanoseconds) = 0;
    // Sleeps whole seconds; returns the seconds left when interrupted.
    virtual unsigned sleep(unsigned seconds) = 0;

    // Calendar time of the system's real-time clock, seconds since 1970.
    virtual int64_t time() = 0;
    // Sets the system's real-time clock. OK or ERROR.
    virtual int clockSettime(int64_t seconds, int64_t nanoseconds) = 0;
};

}  // namespace swboot
