// PCI configuration space of the board: the host bridge and the switch
// chips, as the board profile lists them. Functions are 256-byte
// little-endian type 0 configuration headers (identity, class, command and
// status, base address registers, subsystem, interrupt routing); where no function answers, every
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
    static constexpr int CFG_CACHE_LINE_SIZE = 0x0C;
    static constexpr int CFG_LATENCY_TIMER = 0x0D;
    static constexpr int CFG_HEADER_TYPE = 0x0E;
    static constexpr int CFG_BAR0 = 0x10;
    static constexpr int BAR_COUNT = 6;
    static constexpr int CFG_SUBSYSTEM_VENDOR_ID = 0x2C;
    static constexpr int CFG_SUBSYSTEM_ID = 0x2E;
    static constexpr int CFG_INTERRUPT_LINE = 0x3C;
    static constexpr int CFG_INTERRUPT_PIN = 0x3D;
    static constexpr uint16_t COMMAND_MEMORY_AND_MASTER = 0x0006;
    static constexpr uint16_t STATUS_DEVSEL_MEDIUM = 0x0200;

    struct Function {
        int bus = 0;
        int device = 0;
        int function = 0;
        uint16_t vendorId = 0;
        uint16_t deviceId = 0;
        uint32_t classCode = 0;  // base class << 16 | sub-class << 8 | programming interface
        uint8_t revision = 0;
        std::array<uint32_t, BAR_COUNT> bars{};  // base address registers as configured
        uint16_t subsystemVendorId = 0;
        uint16_t subsystemId = 0;
        uint8_t cacheLineSize = 8;               // in 32-bit words
        uint8_t latencyTimer = 0x40;
        uint8_t interruptLine = 0xFF;            // 0xFF: not connected
        uint8_t interruptPin = 0;                // 0: none, 1..4: INTA..INTD
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
