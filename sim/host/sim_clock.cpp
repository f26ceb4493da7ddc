#include "host/sim_clock.h"

#include <thread>

namespace sim {

uint32_t SimClock::tickGet() { return static_cast<uint32_t>(nowMicros() / MICROS_PER_TICK); }

void SimClock::sleepUntil(int64_t deadlineMicros) {
    if (sleeper_) {
        sleeper_(deadlineMicros);
    } else {
        passUntil(deadlineMicros);
    }
}

void SimClock::taskDelay(int ticks) {
    if (ticks <= 0) {
        return;
    }
    sleepUntil(nowMicros() + static_cast<int64_t>(ticks) * MICROS_PER_TICK);
}

int64_t SimClock::nanosleep(int64_t nanoseconds) {
    if (nanoseconds > 0) {
        sleepUntil(nowMicros() + (nanoseconds + 999) / 1000);
    }
    return 0;
}

unsigned SimClock::sleep(unsigned seconds) {
    sleepUntil(nowMicros() + static_cast<int64_t>(seconds) * 1000000);
    return 0;
}

int64_t SimClock::time() { return calendarBase_ + (nowMicros() + calendarOffset_) / 1000000; }

int SimClock::clockSettime(int64_t seconds, int64_t nanoseconds) {
    calendarOffset_ = (seconds - calendarBase_) * 1000000 + nanoseconds / 1000 - nowMicros();
    return 0;
}

VirtualClock::VirtualClock(int64_t calendarStart) : worldStart_(calendarStart * 1000000) {
    calendarBase_ = calendarStart;
}

void VirtualClock::passUntil(int64_t deadlineMicros) {
    if (deadlineMicros > now_) {
        now_ = deadlineMicros;
    }
}

void VirtualClock::powerUp() {
    // The calendar keeps its value across the reset; board time restarts.
    calendarBase_ = time();
    calendarOffset_ = 0;
    earlierRuns_ += now_;
    now_ = 0;
}

RealClock::RealClock() : start_(std::chrono::steady_clock::now()) {
    calendarBase_ = std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
}

int64_t RealClock::nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_)
        .count();
}

void RealClock::passUntil(int64_t deadlineMicros) {
    int64_t now = nowMicros();
    if (deadlineMicros > now) {
        std::this_thread::sleep_for(std::chrono::microseconds(deadlineMicros - now));
    }
}

int64_t RealClock::worldMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void RealClock::powerUp() {
    int64_t calendar = time();
    start_ = std::chrono::steady_clock::now();
    calendarBase_ = calendar;
    calendarOffset_ = 0;
}

}  // namespace sim
