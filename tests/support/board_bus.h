// The board's address decoding with its devices and nothing else: RAM, the
// CPLD, the boot flash in memory, the processor's registers and the console
// UART on a scripted line, on virtual time. For tests of device models and
// of the emulated core through the bus.
#pragma once

#include <vector>

#include "board/cpld.h"
#include "board/flash_array.h"
#include "board/memory_map.h"
#include "board/i2c_mux.h"
#include "board/mpc85xx_ccsr.h"
#include "board/mpc85xx_i2c.h"
#include "board/strataflash.h"
#include "board/ram.h"
#include "board/uart16550.h"
#include "host/scripted_line.h"
#include "host/sim_clock.h"

namespace testing_support {

// A scripted line that also keeps the speeds the UART set.
class SpeedRecordingLine : public sim::ScriptedLine {
public:
    using ScriptedLine::ScriptedLine;
    void speedChanged(uint32_t bitsPerSecond) override { speeds.push_back(bitsPerSecond); }
    std::vector<uint32_t> speeds;
};

struct BoardBus {
    sim::VirtualClock clock;
    SpeedRecordingLine line{clock};
    sim::Ram ram;
    sim::Cpld cpld{sim::Cpld::Identity{}};
    sim::FlashArray flashCells;
    sim::StrataFlash flash{flashCells, sim::StrataFlashConfig{}, [this] { return clock.nowMicros(); }};
    sim::Mpc85xxCcsr ccsr{sim::Mpc85xxCcsr::Values{}};
    sim::Uart16550 uart{line};
    sim::I2cMux i2cMux{[] { return uint8_t{0}; }};
    sim::Mpc85xxI2c i2c{i2cMux};
    sim::MemoryMap bus{ram, cpld, flash, ccsr, uart, i2c};
};

}  // namespace testing_support
