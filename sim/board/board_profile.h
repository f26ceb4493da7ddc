// What a simulated board is made of, read from a TOML board profile: the
// CPLD's identity registers, the PCI functions (the switch chips decide
// between the 48-port and the fiber board), the processor's power-on
// register values and clock ratios, faults of the RAM, and the values a factory would program into the unit's
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
#include "board/ram.h"

namespace sim {

struct VpdValues {
    std::string macAddress = "00:06:29:32:81:40";
    std::string serialNumber = "SIM0000001";
    std::string dateCode = "102006";
    std::string partNumber = "10K7901";
    std::string revision = "A";
};

struct BoardProfile {
    std::string name;
    std::string description;
    Cpld::Identity cpld;
    E500Core::Registers cpu;
    Mpc85xxCcsr::Values soc;            // PLL ratios and L2 registers ([cpu])
    std::vector<PciSpace::Function> pci;
    std::vector<Ram::Fault> ramFaults;  // [[ram.fault]]
    VpdValues vpd;

    // The text of the embedded default profile (48-port board).
    static const char* defaultText();
    // Parses profile text; throws std::runtime_error naming the problem
    // (syntax, unknown key, value out of range) and where it is.
    static BoardProfile parse(const std::string& text, const std::string& origin);
    static BoardProfile load(const std::filesystem::path& file);
    static BoardProfile builtin();
};

}  // namespace sim
