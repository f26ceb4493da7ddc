// Fuzz target: lines typed to the utilities menu's dialogues. The first
// byte chooses: even types the rest to the clock dialogue, odd to the
// memory tool, which reads and writes any board address (a read no device
// answers takes a machine check, reported before the board resets: a
// normal end). For the memory tool the board is powered up afresh, so that
// device registers written do not carry into the next input, and the
// power goes once the tool has sent OUTPUT_BUDGET bytes, so that a dump of
// megabytes ends soon.
//
// Properties checked beyond the sanitizers (and the loader's own handling
// of every board event): the clock, set beforehand to a known time,
// changes only to a date and time in range.
#include <cstdint>
#include <string_view>

#include "board/board_events.h"
#include "boot/utilities_menu.h"
#include "fuzz_board.h"
#include "loader.h"

namespace {

constexpr size_t OUTPUT_BUDGET = 64 * 1024;

class PowerSwitch : public sim::ScriptedLine::Peer {
public:
    void transmitted(sim::ScriptedLine&, const uint8_t*, size_t length) override {
        sent_ += length;
        if (sent_ > OUTPUT_BUDGET) {
            sent_ = 0;
            throw sim::BoardPowerOff{"the operator switched off during a long dump"};
        }
    }
    void reset() { sent_ = 0; }

private:
    size_t sent_ = 0;
};

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
    return fuzzing::runSelected(data, size, [](fuzzing::FuzzBoard& fb, uint8_t selector, std::string_view typed) {
        using namespace swboot;
        if ((selector & 1) != 0) {
            static PowerSwitch powerSwitch;
            powerSwitch.reset();
            fb.board().powerUp();
            fb.line().setPeer(&powerSwitch);
            fb.runLoader([&](Loader& loader) {
                fb.type(typed);
                loader.memoryTool.memoryTool();
            });
            fb.line().setPeer(nullptr);
            return;
        }
        fb.runLoader([&](Loader& loader) {
            // A known time, so that any change shows.
            loader.rtc.ds1340_tod_set(2001, 2, 3, 4, 5, 6);
            const Time before = clockRead(loader);
            fb.type(typed);
            loader.utilities.rtcSetFromConsole();
            loader.io.flush();
            const Time after = clockRead(loader);

            fuzzing::brokenIf(after != before && (after.month < 1 || after.month > 12 || after.day < 1 ||
                                                  after.day > 31 || after.hour > 23 || after.minute > 59 ||
                                                  after.second > 59),
                              "the dialogue set the clock to a time out of range");
        });
    });
}
