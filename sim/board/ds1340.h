// A DS1340 real-time clock on the I2C bus.
//
// Modelled: the ten registers (seconds with the oscillator stop bit EOSC,
// minutes, hours with the century enable and century bits, day of week,
// date, month, year, control, trickle charger, flags), all time registers
// in BCD; the register pointer, set by the first byte of a write and
// advancing after every byte, wrapping from 9 to 0; the user buffer that
// latches the time at each start condition, so that one multi-byte read
// is consistent while separate reads can tear at a rollover.
//
// The clock keeps time from the simulator's clock: it holds its time as an
// offset from that clock (or a frozen time while the oscillator is
// stopped), so it keeps counting while the simulator is not running when
// the offset is kept (the board's state directory). Writing a time register
// changes that field of the current time; writing the seconds also
// restarts the second. A day the month does not have (on the way through
// a date set field by field) reads as the month's last day until a month or
// year that has it is written; the part would count oddly from it instead.
#pragma once

#include <cstdint>
#include <functional>

#include "board/i2c_slave.h"

namespace sim {

class Ds1340 : public I2cSlave {
public:
    static constexpr uint8_t REG_SECONDS = 0;
    static constexpr uint8_t REG_MINUTES = 1;
    static constexpr uint8_t REG_HOURS = 2;
    static constexpr uint8_t REG_DAY = 3;
    static constexpr uint8_t REG_DATE = 4;
    static constexpr uint8_t REG_MONTH = 5;
    static constexpr uint8_t REG_YEAR = 6;
    static constexpr uint8_t REG_CONTROL = 7;
    static constexpr uint8_t REG_TRICKLE = 8;
    static constexpr uint8_t REG_FLAGS = 9;
    static constexpr uint8_t REGISTER_COUNT = 10;

    static constexpr uint8_t SECONDS_EOSC = 0x80;
    static constexpr uint8_t HOURS_CEB = 0x80;
    static constexpr uint8_t HOURS_CB = 0x40;
    static constexpr uint8_t FLAGS_OSF = 0x80;
    static constexpr uint8_t CONTROL_RESET = 0x80;

    // What the clock keeps in its battery-backed state.
    struct State {
        int64_t offsetMicros = 0;      // clock time minus simulator time, while running
        bool stopped = false;          // EOSC: the oscillator is stopped
        int64_t frozenMicros = 0;      // clock time while stopped
        int weekdayShift = 0;          // day-of-week register minus the date's weekday, mod 7
        bool centuryEnable = false;
        uint8_t control = CONTROL_RESET;
        uint8_t trickle = 0;
        uint8_t flags = 0;
    };

    // now: the simulator's calendar time in microseconds since 1970.
    Ds1340(std::function<int64_t()> now, const State& state);

    bool addressed(bool read) override;
    bool write(uint8_t byte) override;
    uint8_t read(bool masterAcknowledges) override;
    void stop() override;

    // Control face.
    const State& state() const { return state_; }
    // Called after every change of the kept state (to store it).
    void setChangeHandler(std::function<void(const State&)> handler) { changed_ = std::move(handler); }
    // The clock's time, microseconds since 1970.
    int64_t clockMicros() const;
    void setClockMicros(int64_t micros);
    // The register as the user buffer would latch it now.
    uint8_t registerNow(uint8_t reg) const;
    // Fault injection: the register reads this value whatever the time
    // (a corrupted clock); nothing clears the fault.
    void forceRegister(uint8_t reg, uint8_t value);

private:
    void latch();
    void registerWrite(uint8_t reg, uint8_t value);

    std::function<int64_t()> now_;
    State state_;
    std::function<void(const State&)> changed_;
    uint8_t buffer_[REGISTER_COUNT] = {};
    bool forced_[REGISTER_COUNT] = {};
    uint8_t forcedValue_[REGISTER_COUNT] = {};
    int heldDay_ = 0;  // a day the month written does not have, or 0
    uint8_t pointer_ = 0;
    bool pointerNext_ = false;
    bool wrote_ = false;
};

}  // namespace sim
