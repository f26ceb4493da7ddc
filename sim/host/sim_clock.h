// The board's clocks: the system clock (100 ticks per second) and the
// calendar clock, driven either by real time, for people and real peers, or
// by virtual time, for tests, where delays and timeouts pass at once and
// deterministically.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace sim {

class SimClock : public swboot::Clock {
public:
    static constexpr int TICKS_PER_SECOND = 100;
    static constexpr int64_t MICROS_PER_TICK = 1000000 / TICKS_PER_SECOND;

    // Board time in microseconds since power-on.
    virtual int64_t nowMicros() = 0;
    virtual bool isVirtual() const = 0;
    // Lets board time pass up to the deadline. Real time sleeps; virtual
    // time jumps.
    virtual void passUntil(int64_t deadlineMicros) = 0;
    // Back to time zero of a new power-on (the calendar keeps running).
    virtual void powerUp() = 0;
    // The simulator's own calendar time in microseconds since 1970, which
    // nothing on the board can set: the time the real-time clock counts
    // from. Real time follows the host; virtual time starts at its
    // calendar start and moves with board time across power-ons.
    virtual int64_t worldMicros() = 0;

    // Whoever owns the console line may want to serve it while the loader
    // sleeps (an operator's reset key, arriving input); by default the
    // clock just passes time.
    void setSleeper(std::function<void(int64_t deadlineMicros)> sleeper) { sleeper_ = std::move(sleeper); }

    // swboot::Clock
    uint32_t tickGet() override;
    int clockRate() override { return TICKS_PER_SECOND; }
    void taskDelay(int ticks) override;
    int64_t nanosleep(int64_t nanoseconds) override;
    unsigned sleep(unsigned seconds) override;
    int64_t time() override;
    int clockSettime(int64_t seconds, int64_t nanoseconds) override;

    // Calendar seconds at board time zero of this run.
    void setCalendarBase(int64_t seconds) { calendarBase_ = seconds; }

protected:
    void sleepUntil(int64_t deadlineMicros);

    std::function<void(int64_t)> sleeper_;
    int64_t calendarBase_ = 0;     // calendar seconds at board time zero
    int64_t calendarOffset_ = 0;   // microseconds set by clockSettime
};

// Virtual time: starts at zero and moves only when the board waits.
class VirtualClock : public SimClock {
public:
    // Calendar time starts at the given seconds (default 2007-01-01 00:00:00).
    explicit VirtualClock(int64_t calendarStart = 1167609600);
    int64_t nowMicros() override { return now_; }
    bool isVirtual() const override { return true; }
    void passUntil(int64_t deadlineMicros) override;
    void powerUp() override;
    int64_t worldMicros() override { return worldStart_ + earlierRuns_ + now_; }
    // Test control: let time pass.
    void advance(int64_t micros) { now_ += micros; }

private:
    int64_t now_ = 0;
    int64_t worldStart_ = 0;     // calendar start, microseconds
    int64_t earlierRuns_ = 0;    // board time of the power-ons before this one
};

// Real time from the host's monotonic clock; the calendar follows the host.
class RealClock : public SimClock {
public:
    RealClock();
    int64_t nowMicros() override;
    bool isVirtual() const override { return false; }
    void passUntil(int64_t deadlineMicros) override;
    void powerUp() override;
    int64_t worldMicros() override;

private:
    std::chrono::steady_clock::time_point start_;
};

}  // namespace sim
