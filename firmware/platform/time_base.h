// The operating system's clock on the e500's time base: a 64-bit counter
// that the start-up set running (from wherever it stood), counting at an eighth of
// the platform (CCB) clock. Ticks (100 a second), delays and the calendar
// clock are all read off it; delays wait by polling, as the loader is the
// only task.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace firmware {

class TimeBaseClock : public swboot::Clock {
public:
    static constexpr int TICKS_PER_SECOND = 100;
    static constexpr uint32_t TIME_BASE_DIVIDER = 8;   // CCB clocks per time base count

    // The time base frequency, from the platform clock ratio the processor
    // latched at power-on.
    TimeBaseClock();

    // The time base count since start-up.
    static uint64_t timeBase();
    uint64_t countsPerSecond() const { return countsPerSecond_; }
    // Time base counts in a span of microseconds, without the rounding a
    // per-microsecond rate would bring (the rate is not a whole number).
    uint64_t countsIn(uint64_t microseconds) const { return microseconds * countsPerSecond_ / 1000000; }
    // Waits until the time base reaches the count.
    void waitUntil(uint64_t count) const;

    uint32_t tickGet() override;
    int clockRate() override { return TICKS_PER_SECOND; }
    void taskDelay(int ticks) override;
    int64_t nanosleep(int64_t nanoseconds) override;
    unsigned sleep(unsigned seconds) override;
    int64_t time() override;
    int clockSettime(int64_t seconds, int64_t nanoseconds) override;

private:
    uint64_t countsPerSecond_;
    int64_t calendarBase_ = 0;      // calendar seconds at time base count 0
    uint64_t calendarFraction_ = 0; // counts past that second, from the setting
};

}  // namespace firmware
