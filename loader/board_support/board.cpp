#include "board_support/board.h"

#include "board_support/cpld_registers.h"
#include "loader.h"

namespace swboot {

void Board::boardReset() {
    Cpu& cpu = loader_.p.cpu;
    cpu.msrSet(cpu.msrGet() | MSR_EE);
    for (;;) {
        loader_.p.bus.write8(CPLD_RESET_CONTROL, CPLD_RESET_REQUEST);
    }
}

void Board::halt() {
    loader_.io.flush();
    for (;;) {
        loader_.p.cpu.halt();  // the platform's halt does not return
    }
}

}  // namespace swboot
