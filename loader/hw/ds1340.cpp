#include "hw/ds1340.h"

#include "hw/i2c.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr uint8_t SECONDS_MASK = 0x7F;
constexpr uint32_t YEAR_BASE_2000 = 2000;
constexpr uint32_t YEAR_BASE_1900 = 1900;
constexpr int DAY_OF_WEEK_MONTH_TABLE[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};

}  // namespace

uint8_t ds1340_to_bcd(uint32_t value) { return static_cast<uint8_t>(((value / 10) << 4) + (value % 10)); }

uint8_t ds1340_from_bcd(uint8_t bcd) { return static_cast<uint8_t>((bcd >> 4) * 10 + (bcd & 0x0F)); }

int ds1340_day_of_week(int year, int month, int day) {
    // In 64 bits: the clock dialogue passes on any year and day the operator
    // types, and the sum overflows an int near its ends.
    int64_t y = (month == 1 || month == 2) ? int64_t{year} - 1 : int64_t{year};
    int index = (month >= 1 && month <= 12) ? month - 1 : 0;
    int64_t dow = (y + y / 4 - y / 100 + y / 400 + DAY_OF_WEEK_MONTH_TABLE[index] + day) % 7;
    return static_cast<int>(dow < 0 ? dow + 7 : dow);
}

uint8_t Ds1340::ds1340_reg_read(uint8_t reg) {
    uint8_t value = 0;
    if (loader_.i2c.i2cRegRead(I2C_DEVICE_RTC, reg, 1, &value, 1) != OK) {
        loader_.io.printf("Unable to read register %x\n", reg);
        return 0;
    }
    return value;
}

void Ds1340::ds1340_reg_write(uint8_t reg, uint8_t value) {
    if (loader_.i2c.i2cRegWrite(I2C_DEVICE_RTC, reg, 1, &value, 1) != OK) {
        loader_.io.printf("Unable to write register %x with %x\n", reg, value);
    }
}

int Ds1340::ds1340_init() {
    uint8_t seconds = ds1340_reg_read(DS1340_SECONDS);
    if (seconds & DS1340_EOSC) {
        ds1340_reg_write(DS1340_SECONDS, seconds & SECONDS_MASK);
    }
    return OK;
}

int Ds1340::ds1340_tod_get(uint32_t& year, uint32_t& month, uint32_t& day, uint32_t& hour, uint32_t& minute,
                           uint32_t& second) {
    // Each register is a transfer of its own, so the clock can tick between
    // them; when the seconds moved while the others were read, a minute or
    // an hour may have rolled over half-way, and the reading is taken again.
    for (int attempt = 1;; ++attempt) {
        uint8_t before = ds1340_reg_read(DS1340_SECONDS) & SECONDS_MASK;
        uint32_t converted = ds1340_from_bcd(ds1340_reg_read(DS1340_YEAR));
        year = converted <= 99 ? YEAR_BASE_2000 + converted : YEAR_BASE_1900 + converted;
        month = ds1340_from_bcd(ds1340_reg_read(DS1340_MONTH));
        day = ds1340_from_bcd(ds1340_reg_read(DS1340_DATE));
        hour = ds1340_from_bcd(ds1340_reg_read(DS1340_HOURS));
        minute = ds1340_from_bcd(ds1340_reg_read(DS1340_MINUTES));
        uint8_t after = ds1340_reg_read(DS1340_SECONDS) & SECONDS_MASK;
        second = ds1340_from_bcd(after);
        if (after == before || attempt == DS1340_READ_ATTEMPTS) {
            return OK;
        }
    }
}

int Ds1340::ds1340_tod_set(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second) {
    int dow = ds1340_day_of_week(year, month, day);
    ds1340_reg_write(DS1340_YEAR, ds1340_to_bcd(static_cast<uint32_t>(year % 100)));
    ds1340_reg_write(DS1340_MONTH, ds1340_to_bcd(static_cast<uint32_t>(month)));
    ds1340_reg_write(DS1340_DATE, ds1340_to_bcd(static_cast<uint32_t>(day)));
    ds1340_reg_write(DS1340_DAY, static_cast<uint8_t>(dow + 1));
    ds1340_reg_write(DS1340_HOURS, ds1340_to_bcd(static_cast<uint32_t>(hour)) & ~DS1340_HOURS_CENTURY_BITS);
    ds1340_reg_write(DS1340_MINUTES, ds1340_to_bcd(static_cast<uint32_t>(minute)));
    ds1340_reg_write(DS1340_SECONDS, ds1340_to_bcd(static_cast<uint32_t>(second)) & SECONDS_MASK);
    return OK;
}

void Ds1340::ds1340_tod_show() {
    uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    ds1340_tod_get(year, month, day, hour, minute, second);
    loader_.io.printf("\n\n%d/%d/%d %d:%.2d:%.2d\n\n", static_cast<int>(month), static_cast<int>(day),
                      static_cast<int>(year), static_cast<int>(hour), static_cast<int>(minute),
                      static_cast<int>(second));
}

}  // namespace swboot
