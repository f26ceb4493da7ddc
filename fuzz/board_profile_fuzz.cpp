// Fuzz target: the board profile, TOML text as an operator may write it.
//
// Properties checked beyond the sanitizers: a profile is refused with a
// std::exception carrying a reason, by the reader or by a device it
// configures, or it builds every device the board makes from it at
// power-up.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "board/board_profile.h"
#include "board/cpld.h"
#include "board/e500_core.h"
#include "board/flash_array.h"
#include "board/i2c_devices.h"
#include "board/mpc85xx_ccsr.h"
#include "board/pci_space.h"
#include "board/ram.h"
#include "board/strataflash.h"
#include "fuzz_board.h"

namespace {

void buildDevices(const sim::BoardProfile& profile) {
    // The flash cells and the RAM are large and keep nothing of a profile:
    // made once, shared by every input.
    static sim::FlashArray cells;
    static sim::Ram ram;
    const auto never = [] { return int64_t{0}; };
    sim::StrataFlash flash(cells, profile.flash, never);
    sim::Cpld cpld(profile.cpld);
    sim::I2cDevices i2c(profile.i2c, [] { return uint8_t{0}; }, never, sim::I2cDevices::newRtcState(profile.i2c));
    sim::PciSpace pci(profile.pci);
    sim::E500Core core(profile.cpu);
    sim::Mpc85xxCcsr ccsr(profile.soc);
    ram.setFaults(profile.ramFaults);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        buildDevices(sim::BoardProfile::parse(text, "fuzz input"));
    } catch (const std::exception& e) {
        fuzzing::brokenIf(e.what() == nullptr || e.what()[0] == '\0', "a profile was refused without a reason");
    }
    return 0;
}
