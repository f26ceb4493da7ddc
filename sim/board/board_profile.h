// What a simulated board is made of, read from a TOML board profile: the
// CPLD's identity registers, the PCI functions (the switch chips decide
// between the 48-port and the fiber board), the processor's power-on
// register values and clock ratios, faults of the RAM, the boot flash's factory
// lock bits and injected faults, and the values a factory would program into the unit's
// vital product data. An embedded default describes the 48-port board.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "board/cpld.h"
#include "board/e500_core.h"
#include "board/mpc85xx_ccsr.h"
#include "board/pci_space.h"
#include "board/sfp_module.h"
#include "board/ram.h"
#include "board/strataflash.h"

namespace sim {

struct VpdValues {
    std::string macAddress = "00:06:29:32:81:40";
    std::string serialNumber = "SIM0000001";
    std::string dateCode = "102006";
    std::string partNumber = "10K7901";
    std::string revision = "A";
};

// Where a device sits on the board's I2C bus: the multiplexer channel and
// the 7-bit address.
struct I2cPlace {
    uint8_t channel = 0;
    uint8_t address7 = 0;
};

struct SensorProfile {
    std::string name;       // CPU, LM75, LM75A or LM75B
    double celsius = 0.0;
};

enum class ModuleKind { Sfp, Xfp };

struct ModuleProfile {
    std::string slot;       // SFP1..SFP4, XFP1..XFP4, SFP-Fiber1..SFP-Fiber24
    ModuleKind kind = ModuleKind::Sfp;
    ModuleIdentity identity;
};

// The devices on the I2C bus, and the faults injected there.
struct I2cProfile {
    std::string eepromText;                 // the board EEPROM's first bytes; the rest reads 0xFF
    std::vector<SensorProfile> sensors;
    bool rtcPresent = true;
    bool rtcOscillatorStopped = false;      // a new board's clock, before anything started it
    std::vector<ModuleProfile> modules;
    std::vector<std::string> noAcknowledge; // device names that never acknowledge
    bool busHeldBusy = false;               // something holds the bus busy for good
};

// The place of a named device (the names of the loader's device table:
// EEPROM, CPU, LM75, LM75A, LM75B, RTC, SFP1..4, XFP1..4, SFP-Fiber1..24
// and SFP-Fiber1-MII..24); false for an unknown name.
bool i2cPlaceOf(const std::string& name, I2cPlace& place);

struct BoardProfile {
    std::string name;
    std::string description;
    Cpld::Identity cpld;
    E500Core::Registers cpu;
    Mpc85xxCcsr::Values soc;            // PLL ratios and L2 registers ([cpu])
    std::vector<PciSpace::Function> pci;
    std::vector<Ram::Fault> ramFaults;  // [[ram.fault]]
    VpdValues vpd;
    StrataFlashConfig flash;
    I2cProfile i2c;

    // The text of the embedded default profile (48-port board).
    static const char* defaultText();
    // Parses profile text; throws std::runtime_error naming the problem
    // (syntax, unknown key, value out of range) and where it is.
    static BoardProfile parse(const std::string& text, const std::string& origin);
    static BoardProfile load(const std::filesystem::path& file);
    static BoardProfile builtin();
};

}  // namespace sim
