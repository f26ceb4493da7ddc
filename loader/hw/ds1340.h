// The DS1340 real-time clock, device "RTC" of the I2C device table: BCD
// time registers read and set in whole seconds, its oscillator started at
// board start-up.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

inline constexpr uint8_t DS1340_SECONDS = 0;
inline constexpr uint8_t DS1340_MINUTES = 1;
inline constexpr uint8_t DS1340_HOURS = 2;
inline constexpr uint8_t DS1340_DAY = 3;
inline constexpr uint8_t DS1340_DATE = 4;
inline constexpr uint8_t DS1340_MONTH = 5;
inline constexpr uint8_t DS1340_YEAR = 6;
// Bit 7 of the seconds register: the oscillator is stopped.
inline constexpr uint8_t DS1340_EOSC = 0x80;
// Bits 7 and 6 of the hours register, written clear.
inline constexpr uint8_t DS1340_HOURS_CENTURY_BITS = 0xC0;

// How often a reading is taken again when the seconds moved under it.
inline constexpr int DS1340_READ_ATTEMPTS = 3;

// BCD conversions, kept to 8 bits, neither checking its input.
uint8_t ds1340_to_bcd(uint32_t value);
uint8_t ds1340_from_bcd(uint8_t bcd);
// Day of the week, 0 = Sunday, of a full year, month 1..12 and day.
int ds1340_day_of_week(int year, int month, int day);

class Ds1340 {
public:
    explicit Ds1340(Loader& loader) : loader_(loader) {}

    // The register's byte, or 0 (with a message) when it cannot be read.
    uint8_t ds1340_reg_read(uint8_t reg);
    void ds1340_reg_write(uint8_t reg, uint8_t value);
    // Starts a stopped oscillator, keeping the seconds. OK.
    int ds1340_init();
    // The time in the clock. OK.
    int ds1340_tod_get(uint32_t& year, uint32_t& month, uint32_t& day, uint32_t& hour, uint32_t& minute,
                       uint32_t& second);
    // Sets the clock; no range checks. OK.
    int ds1340_tod_set(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second);
    // Prints the time as month/day/year hour:minute:second.
    void ds1340_tod_show();

private:
    Loader& loader_;
};

}  // namespace swboot
