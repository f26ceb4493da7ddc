// Fuzz target: the board profile, TOML text as an operator may write it.
//
// Properties checked beyond the sanitizers: a profile either parses or is
// refused with a std::exception carrying a reason; one that parses builds
// a board.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "board/board_profile.h"
#include "fuzz_board.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        sim::BoardProfile profile = sim::BoardProfile::parse(text, "fuzz input");
        (void)profile;
    } catch (const std::exception& e) {
        if (e.what() == nullptr || e.what()[0] == '\0') {
            fuzzing::propertyBroken("a profile was refused without a reason");
        }
    }
    return 0;
}
