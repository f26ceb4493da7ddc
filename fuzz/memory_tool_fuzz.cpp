// Fuzz target: command lines typed to the utilities menu's memory tool,
// reading and writing any board address.
//
// A read where no device answers takes a machine check, which the loader's
// fatal path reports before the board resets: a normal end of an input
// here. The board is powered up afresh before each input, so that the
// device registers one input writes do not carry into the next. An
// operator who asks for a dump of megabytes switches the unit off: once the
// tool has sent OUTPUT_BUDGET bytes the power goes, so that every input
// ends soon whatever length it asks for.
//
// Properties checked beyond the sanitizers (and the loader's own handling
// of every board event): none further; the tool checks nothing it is told.
#include <cstdint>
#include <string_view>

#include "board/board_events.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace swboot;
    fuzzing::FuzzBoard& fb = fuzzing::FuzzBoard::instance();
    static PowerSwitch powerSwitch;
    powerSwitch.reset();
    fb.board().powerUp();
    fb.line().setPeer(&powerSwitch);
    fb.runLoader([&](Loader& loader) {
        fb.type(std::string_view(reinterpret_cast<const char*>(data), size));
        loader.memoryTool.memoryTool();
    });
    fb.line().setPeer(nullptr);
    return 0;
}
