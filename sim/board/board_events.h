// Board events that end the loader's run: they unwind the loader from
// wherever it is, as the hardware would stop it, and are caught by the
// board's power-on loop. They are deliberately not std::exceptions, so that
// nothing on the way can take them for an error and swallow them.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// The CPLD was told to reset the board, or the operator asked for it.
struct BoardReset {
    std::string cause;
};

// The power failed in the middle of a persistent step; the board comes up
// again from what is stored. Caught wherever a reset is.
struct BoardPowerCut : BoardReset {};

// The board is switched off: the operator quit, or a non-interactive
// console ran out of input while the loader waited for it.
struct BoardPowerOff {
    std::string cause;
    int exitStatus = 0;
};

// The processor took a machine check.
struct BoardMachineCheck {
    std::string cause;
    // Raised at the processor's machine check input (the operator's key, an
    // injected fault), not by an access no device answered.
    bool pin = false;
};

}  // namespace sim
