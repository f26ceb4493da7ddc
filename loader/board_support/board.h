// The board services every module of the loader may call: the board reset
// through the CPLD and the halt that waits for the operator. They sit below
// the modules and the boot application alike, so a module never reaches up
// for them.
#pragma once

namespace swboot {

class Loader;

class Board {
public:
    explicit Board(Loader& loader) : loader_(loader) {}

    // Resets the board through the CPLD, with external interrupts enabled
    // so that nothing still pending holds the reset off; does not return.
    [[noreturn]] void boardReset();
    // Flushes the console and stops for good: the operator must reset.
    [[noreturn]] void halt();

private:
    Loader& loader_;
};

}  // namespace swboot
