#include "time_base.h"

#include "board_bus.h"
#include "hw/core_info.h"
#include "platform/status.h"
#include "start/e500_regs.h"

namespace firmware {
namespace {

constexpr uint32_t CCSR_PORPLLSR = 0xF00E0000;
constexpr int PLAT_RATIO_SHIFT = 1;
constexpr uint32_t PLAT_RATIO_MASK = 0x1F;
// What the board's PLL straps give when the register reads nonsense.
constexpr uint32_t DEFAULT_PLAT_RATIO = 5;
constexpr int64_t NANOSECONDS_PER_SECOND = 1000000000;

}  // namespace

TimeBaseClock::TimeBaseClock() {
    uint32_t ratio = (load32(CCSR_PORPLLSR) >> PLAT_RATIO_SHIFT) & PLAT_RATIO_MASK;
    if (ratio < 2) {
        ratio = DEFAULT_PLAT_RATIO;
    }
    countsPerSecond_ = static_cast<uint64_t>(swboot::SYS_CLOCK_IN_HZ) * ratio / TIME_BASE_DIVIDER;
}

uint64_t TimeBaseClock::timeBase() {
    // The upper half is read on both sides of the lower one, so a carry
    // between the two reads is seen and the pair read again.
    uint32_t upper, lower, again;
    do {
        asm volatile("mfspr %0, %1" : "=r"(upper) : "i"(SPR_TBU_READ));
        asm volatile("mfspr %0, %1" : "=r"(lower) : "i"(SPR_TBL_READ));
        asm volatile("mfspr %0, %1" : "=r"(again) : "i"(SPR_TBU_READ));
    } while (upper != again);
    return (static_cast<uint64_t>(upper) << 32) | lower;
}

void TimeBaseClock::waitUntil(uint64_t count) const {
    while (timeBase() < count) {
    }
}

uint32_t TimeBaseClock::tickGet() { return static_cast<uint32_t>(timeBase() * TICKS_PER_SECOND / countsPerSecond_); }

void TimeBaseClock::taskDelay(int ticks) {
    if (ticks <= 0) {
        return;
    }
    waitUntil(timeBase() + static_cast<uint64_t>(ticks) * countsPerSecond_ / TICKS_PER_SECOND);
}

int64_t TimeBaseClock::nanosleep(int64_t nanoseconds) {
    if (nanoseconds < 0) {
        return swboot::ERROR;
    }
    waitUntil(timeBase() + countsIn(static_cast<uint64_t>(nanoseconds / 1000)));
    return swboot::OK;
}

unsigned TimeBaseClock::sleep(unsigned seconds) {
    waitUntil(timeBase() + static_cast<uint64_t>(seconds) * countsPerSecond_);
    return 0;
}

int64_t TimeBaseClock::time() {
    const uint64_t counts = timeBase() + calendarFraction_;
    return calendarBase_ + static_cast<int64_t>(counts / countsPerSecond_);
}

int TimeBaseClock::clockSettime(int64_t seconds, int64_t nanoseconds) {
    if (nanoseconds < 0 || nanoseconds >= NANOSECONDS_PER_SECOND) {
        return swboot::ERROR;
    }
    // Keep the calendar second boundary where the setting put it.
    const uint64_t now = timeBase();
    const uint64_t setFraction = countsIn(static_cast<uint64_t>(nanoseconds / 1000));
    const uint64_t nowWhole = now / countsPerSecond_;
    const uint64_t nowPart = now % countsPerSecond_;
    // time() = base + (now + fraction) / cps must equal seconds now.
    calendarFraction_ = (setFraction + countsPerSecond_ - nowPart) % countsPerSecond_;
    const uint64_t carried = (nowPart + calendarFraction_) / countsPerSecond_;
    calendarBase_ = seconds - static_cast<int64_t>(nowWhole + carried);
    return swboot::OK;
}

}  // namespace firmware
