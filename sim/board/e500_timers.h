// The e500 core's timers: the 64-bit time base and the decrementer, which
// count at the platform clock divided by eight while HID0[TBEN] is set, and
// the timer control and status registers (TCR, TSR).
//
// The count follows the board's time (microseconds since power-on); each
// access brings the registers up to that time. The decrementer counts down
// to zero, sets TSR[DIS] on the way from one to zero, and with TCR[ARE]
// starts again from DECAR; without it, it stays at zero. A decrementer
// interrupt is pending while TSR[DIS] and TCR[DIE] are both set (the core
// takes it when MSR[EE] allows). The fixed-interval timer and the watchdog
// are not modelled: their TCR fields are kept but nothing counts.
#pragma once

#include <cstdint>
#include <optional>

namespace sim {

class E500Timers {
public:
    static constexpr int SPR_DEC = 22;
    static constexpr int SPR_DECAR = 54;
    static constexpr int SPR_TBL_READ = 268;
    static constexpr int SPR_TBU_READ = 269;
    static constexpr int SPR_TBL_WRITE = 284;
    static constexpr int SPR_TBU_WRITE = 285;
    static constexpr int SPR_TSR = 336;
    static constexpr int SPR_TCR = 340;

    static constexpr uint32_t TSR_DIS = 0x08000000;
    static constexpr uint32_t TCR_DIE = 0x04000000;
    static constexpr uint32_t TCR_ARE = 0x00400000;
    static constexpr uint32_t HID0_TBEN = 0x00004000;
    // Platform clock cycles per count.
    static constexpr uint32_t PLATFORM_CLOCKS_PER_COUNT = 8;

    // countsPerSecond: the platform clock over eight (at least one).
    explicit E500Timers(uint64_t countsPerSecond) : countsPerSecond_(countsPerSecond > 0 ? countsPerSecond : 1) {}

    // All zero and stopped, as after reset.
    void powerUp();
    // HID0 was written: the timers run while its TBEN bit is set.
    void hid0Written(uint32_t hid0, int64_t nowMicros);

    static bool holds(int spr);
    // mfspr and mtspr of the timer registers at board time nowMicros; the
    // read of a write-only register and the write of a read-only one do
    // nothing (std::nullopt, false), as for a register this model does
    // not hold.
    std::optional<uint32_t> read(int spr, int64_t nowMicros);
    bool write(int spr, uint32_t value, int64_t nowMicros);

    uint64_t timeBase(int64_t nowMicros);
    bool decrementerPending(int64_t nowMicros);
    uint64_t countsPerSecond() const { return countsPerSecond_; }

private:
    // Brings the time base and the decrementer up to nowMicros.
    void advance(int64_t nowMicros);
    uint64_t countsIn(int64_t micros) const;
    // The time base was set: it counts on from here.
    void rebase();

    uint64_t countsPerSecond_;
    bool running_ = false;
    int64_t lastMicros_ = 0;   // the board time the registers were brought up to
    uint64_t base_ = 0;        // the time base when it was last set or started
    int64_t since_ = 0;        // and the board time then
    uint64_t timeBase_ = 0;
    uint32_t dec_ = 0;
    uint32_t decar_ = 0;
    uint32_t tcr_ = 0;
    uint32_t tsr_ = 0;
};

}  // namespace sim
