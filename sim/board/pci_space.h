// PCI configuration space of the board: the host bridge and the switch
// chips, as the board profile lists them. Functions are 256-byte
// little-endian configuration headers; where no function answers, every
// bit reads as 1.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/pci.h"

namespace sim {

class PciSpace : public swboot::Pci {
public:
    static constexpr int BUS_COUNT = 256;
    static constexpr int DEVICE_COUNT = 32;
    static constexpr int FUNCTION_COUNT = 8;
    static constexpr int CONFIG_SIZE = 256;
    static constexpr int CFG_COMMAND = 0x04;
    static constexpr int CFG_STATUS = 0x06;
    static constexpr int CFG_REVISION = 0x08;
    static constexpr int CFG_HEADER_TYPE = 0x0E;

    struct Function {
        int bus = 0;
        int device = 0;
        int function = 0;
        uint16_t vendorId = 0;
        uint16_t deviceId = 0;
        uint32_t classCode = 0;  // base class << 16 | sub-class << 8 | programming interface
        uint8_t revision = 0;
        std::string name;
    };

    // Throws std::invalid_argument for a position out of range or taken twice.
    explicit PciSpace(const std::vector<Function>& functions);

    uint8_t configRead8(int bus, int device, int function, int offset) override;
    uint16_t configRead16(int bus, int device, int function, int offset) override;
    uint32_t configRead32(int bus, int device, int function, int offset) override;

    const std::vector<Function>& functions() const { return list_; }

private:
    const std::array<uint8_t, CONFIG_SIZE>* find(int bus, int device, int function) const;

    std::vector<Function> list_;
    std::map<std::tuple<int, int, int>, std::array<uint8_t, CONFIG_SIZE>> space_;
};

}  // namespace sim
