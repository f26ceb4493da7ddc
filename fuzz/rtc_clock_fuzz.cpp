// Fuzz target: the line typed to the utilities menu's clock dialogue.
//
// Properties checked beyond the sanitizers: the clock, set beforehand to
// a known time, changes only to a date and time in range.
#include <cstdint>
#include <string_view>

#include "boot/utilities_menu.h"
#include "fuzz_board.h"
#include "loader.h"

namespace {

struct Time {
    uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool operator==(const Time&) const = default;
};

Time clockRead(swboot::Loader& loader) {
    Time t;
    loader.rtc.ds1340_tod_get(t.year, t.month, t.day, t.hour, t.minute, t.second);
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace swboot;
    fuzzing::FuzzBoard& fb = fuzzing::FuzzBoard::instance();
    const std::string_view typed(reinterpret_cast<const char*>(data), size);
    fb.runLoader([&](Loader& loader) {
        // A known time, so that any change shows.
        loader.rtc.ds1340_tod_set(2001, 2, 3, 4, 5, 6);
        const Time before = clockRead(loader);
        fb.type(typed);
        loader.utilities.rtcSetFromConsole();
        loader.io.flush();
        const Time after = clockRead(loader);

        fuzzing::brokenIf(after != before && (after.month < 1 || after.month > 12 || after.day < 1 || after.day > 31 ||
                                              after.hour > 23 || after.minute > 59 || after.second > 59),
                          "the dialogue set the clock to a time out of range");
    });
    return 0;
}
