// Conversion between calendar seconds (since 1970, the board keeps UTC)
// and broken-down time, as the C library's gmtime and mktime do.
#pragma once

#include <cstdint>

namespace swboot {

struct BrokenDownTime {
    int year = 1970;   // full year
    int month = 1;     // 1..12
    int day = 1;       // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;   // 0 = Sunday
};

BrokenDownTime brokenDownTime(int64_t seconds);
int64_t calendarSeconds(const BrokenDownTime& time);
// Three-letter month name, "Jan".."Dec".
const char* monthAbbreviation(int month);

}  // namespace swboot
