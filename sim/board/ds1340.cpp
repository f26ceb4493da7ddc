#include "board/ds1340.h"

#include <algorithm>
#include <chrono>

namespace sim {

namespace {

constexpr int64_t MICROS_PER_SECOND = 1000000;
constexpr int64_t SECONDS_PER_DAY = 86400;

uint8_t toBcd(int value) { return static_cast<uint8_t>(((value / 10) << 4) | (value % 10)); }
int fromBcd(uint8_t bcd) { return (bcd >> 4) * 10 + (bcd & 0x0F); }

struct Fields {
    int year, month, day, hour, minute, second, weekday;  // weekday 0 = Sunday
    int64_t subMicros;
};

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

Fields fieldsOf(int64_t micros) {
    using namespace std::chrono;
    int64_t seconds = floorDiv(micros, MICROS_PER_SECOND);
    int64_t days = floorDiv(seconds, SECONDS_PER_DAY);
    int64_t rest = seconds - days * SECONDS_PER_DAY;
    sys_days date{std::chrono::days{days}};
    year_month_day ymd{date};
    Fields f{};
    f.year = static_cast<int>(ymd.year());
    f.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    f.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    f.hour = static_cast<int>(rest / 3600);
    f.minute = static_cast<int>(rest / 60 % 60);
    f.second = static_cast<int>(rest % 60);
    f.weekday = static_cast<int>(weekday{date}.c_encoding());
    f.subMicros = micros - seconds * MICROS_PER_SECOND;
    return f;
}

int daysInMonth(int year, int month) {
    using namespace std::chrono;
    return static_cast<int>(static_cast<unsigned>(
        year_month_day_last{std::chrono::year{year}, month_day_last{std::chrono::month{static_cast<unsigned>(month)}}}
            .day()));
}

int64_t microsOf(const Fields& f) {
    using namespace std::chrono;
    int64_t months = static_cast<int64_t>(f.year) * 12 + (f.month - 1);
    int64_t year0 = floorDiv(months, 12);
    int month0 = static_cast<int>(months - year0 * 12);
    sys_days first = year_month_day{year{static_cast<int>(year0)}, month{static_cast<unsigned>(month0 + 1)}, day{1}};
    int64_t days = first.time_since_epoch().count() + (f.day - 1);
    int64_t seconds = days * SECONDS_PER_DAY + static_cast<int64_t>(f.hour) * 3600 + f.minute * 60 + f.second;
    return seconds * MICROS_PER_SECOND + f.subMicros;
}

}  // namespace

Ds1340::Ds1340(std::function<int64_t()> now, const State& state) : now_(std::move(now)), state_(state) { latch(); }

int64_t Ds1340::clockMicros() const { return state_.stopped ? state_.frozenMicros : now_() + state_.offsetMicros; }

void Ds1340::setClockMicros(int64_t micros) {
    if (state_.stopped) {
        state_.frozenMicros = micros;
    } else {
        state_.offsetMicros = micros - now_();
    }
    if (changed_) {
        changed_(state_);
    }
}

void Ds1340::forceRegister(uint8_t reg, uint8_t value) {
    if (reg < REGISTER_COUNT) {
        forced_[reg] = true;
        forcedValue_[reg] = value;
        latch();
    }
}

uint8_t Ds1340::registerNow(uint8_t reg) const {
    if (reg < REGISTER_COUNT && forced_[reg]) {
        return forcedValue_[reg];
    }
    Fields f = fieldsOf(clockMicros());
    switch (reg) {
        case REG_SECONDS:
            return static_cast<uint8_t>(toBcd(f.second) | (state_.stopped ? SECONDS_EOSC : 0));
        case REG_MINUTES:
            return toBcd(f.minute);
        case REG_HOURS:
            return static_cast<uint8_t>(toBcd(f.hour) | (state_.centuryEnable ? HOURS_CEB : 0) |
                                        (state_.centuryEnable && (f.year / 100) % 2 ? HOURS_CB : 0));
        case REG_DAY:
            return static_cast<uint8_t>((f.weekday + state_.weekdayShift) % 7 + 1);
        case REG_DATE:
            return toBcd(f.day);
        case REG_MONTH:
            return toBcd(f.month);
        case REG_YEAR:
            return toBcd(f.year % 100);
        case REG_CONTROL:
            return state_.control;
        case REG_TRICKLE:
            return state_.trickle;
        case REG_FLAGS:
            return state_.flags;
        default:
            return 0;
    }
}

void Ds1340::latch() {
    for (uint8_t reg = 0; reg < REGISTER_COUNT; ++reg) {
        buffer_[reg] = registerNow(reg);
    }
}

bool Ds1340::addressed(bool read) {
    latch();
    if (read) {
        heldDay_ = 0;
    }
    pointerNext_ = !read;
    wrote_ = false;
    return true;
}

void Ds1340::registerWrite(uint8_t reg, uint8_t value) {
    Fields f = fieldsOf(clockMicros());
    switch (reg) {
        case REG_SECONDS: {
            bool stop = (value & SECONDS_EOSC) != 0;
            f.second = fromBcd(value & 0x7F);
            f.subMicros = 0;  // writing the seconds restarts the second
            int64_t micros = microsOf(f);
            if (stop) {
                state_.frozenMicros = micros;
                state_.flags |= FLAGS_OSF;
            } else {
                state_.offsetMicros = micros - now_();
            }
            state_.stopped = stop;
            break;
        }
        case REG_MINUTES:
            f.minute = fromBcd(value & 0x7F);
            break;
        case REG_HOURS:
            f.hour = fromBcd(value & 0x3F);
            state_.centuryEnable = (value & HOURS_CEB) != 0;
            break;
        case REG_DAY:
            state_.weekdayShift = (((value & 0x07) - 1 - f.weekday) % 7 + 7) % 7;
            break;
        case REG_DATE:
            f.day = fromBcd(value & 0x3F);
            heldDay_ = 0;
            break;
        case REG_MONTH:
            f.month = fromBcd(value & 0x1F);
            break;
        case REG_YEAR:
            f.year = f.year / 100 * 100 + fromBcd(value);
            break;
        case REG_CONTROL:
            state_.control = value;
            break;
        case REG_TRICKLE:
            state_.trickle = value;
            break;
        case REG_FLAGS:
            state_.flags = value & FLAGS_OSF;  // only OSF is kept, and only cleared by writing
            break;
        default:
            return;
    }
    if (reg == REG_DATE || reg == REG_MONTH || reg == REG_YEAR) {
        // The part keeps each field as written, so a date set field by
        // field passes through days the month does not have (31 February
        // on the way from 31 January to 28 February). Such a day reads as
        // the month's last day and is kept until a month or year that has
        // it is written, or the date is written, or the time is read.
        int day = heldDay_ > 0 ? heldDay_ : f.day;
        if (f.month >= 1 && f.month <= 12) {
            f.day = std::clamp(day, 1, daysInMonth(f.year, f.month));
        }
        heldDay_ = f.day != day ? day : 0;
    }
    if (reg != REG_SECONDS && reg >= REG_MINUTES && reg <= REG_YEAR && reg != REG_DAY) {
        int64_t micros = microsOf(f);
        if (state_.stopped) {
            state_.frozenMicros = micros;
        } else {
            state_.offsetMicros = micros - now_();
        }
    }
    wrote_ = true;
}

bool Ds1340::write(uint8_t byte) {
    if (pointerNext_) {
        pointer_ = byte < REGISTER_COUNT ? byte : 0;
        pointerNext_ = false;
        return true;
    }
    registerWrite(pointer_, byte);
    pointer_ = static_cast<uint8_t>((pointer_ + 1) % REGISTER_COUNT);
    return true;
}

uint8_t Ds1340::read(bool) {
    uint8_t value = buffer_[pointer_];
    pointer_ = static_cast<uint8_t>((pointer_ + 1) % REGISTER_COUNT);
    if (pointer_ == 0) {
        latch();  // the user buffer follows the clock when the pointer wraps
    }
    return value;
}

void Ds1340::stop() {
    if (wrote_ && changed_) {
        changed_(state_);
    }
    wrote_ = false;
    latch();
}

}  // namespace sim
