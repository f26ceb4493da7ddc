// The boot code utilities menu, reached from the Boot Menu by its unlisted
// choice 30: memory access, hardware displays, tests, board identity and
// the real-time clock, for service and manufacturing.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

inline constexpr uint8_t UTILITIES_CHOICE_LAST = 20;
inline constexpr int FAN_COUNT = 6;
inline constexpr int MODULE_SLOT_COUNT = 2;
inline constexpr int RTC_LINE_SIZE = 80;

// What a date and time line typed for the clock turned out to be.
struct RtcEntry {
    int month = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int fields = 0;  // fields present, 0..6
};

class UtilitiesMenu {
public:
    explicit UtilitiesMenu(Loader& loader) : loader_(loader) {}

    // Returns when the operator chooses 0.
    void bootUtilitiesMenu();
    // Choice 9: fans, module slots, board type and revisions from the CPLD.
    void boardIdentityShow();
    // Choice 20: reads a date and time and sets the real-time clock.
    void rtcSetFromConsole();

    // Splits "mm-dd-yyyy h:m:s" into its fields.
    static RtcEntry rtcEntryParse(char* line);
    // Days of a month of a year (Gregorian leap years); 0 for a bad month.
    static int daysInMonth(int month, int year);

private:
    void optionList();
    void choice(uint8_t number);

    Loader& loader_;
};

}  // namespace swboot
