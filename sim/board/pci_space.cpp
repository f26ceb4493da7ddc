#include "board/pci_space.h"

#include <stdexcept>

namespace sim {

PciSpace::PciSpace(const std::vector<Function>& functions) : list_(functions) {
    for (const Function& f : functions) {
        if (f.bus < 0 || f.bus >= BUS_COUNT || f.device < 0 || f.device >= DEVICE_COUNT || f.function < 0 ||
            f.function >= FUNCTION_COUNT) {
            throw std::invalid_argument("PCI function at bus " + std::to_string(f.bus) + " device " +
                                        std::to_string(f.device) + " function " + std::to_string(f.function) +
                                        " is out of range");
        }
        if (f.vendorId == swboot::PCI_VENDOR_NONE) {
            throw std::invalid_argument("PCI vendor 0xFFFF means no device and cannot be configured");
        }
        auto key = std::make_tuple(f.bus, f.device, f.function);
        if (space_.count(key)) {
            throw std::invalid_argument("two PCI functions at bus " + std::to_string(f.bus) + " device " +
                                        std::to_string(f.device) + " function " + std::to_string(f.function));
        }
        std::array<uint8_t, CONFIG_SIZE> config{};
        config[swboot::PCI_CFG_VENDOR_ID] = static_cast<uint8_t>(f.vendorId);
        config[swboot::PCI_CFG_VENDOR_ID + 1] = static_cast<uint8_t>(f.vendorId >> 8);
        config[swboot::PCI_CFG_DEVICE_ID] = static_cast<uint8_t>(f.deviceId);
        config[swboot::PCI_CFG_DEVICE_ID + 1] = static_cast<uint8_t>(f.deviceId >> 8);
        auto put16 = [&config](int offset, uint16_t value) {
            config[static_cast<size_t>(offset)] = static_cast<uint8_t>(value);
            config[static_cast<size_t>(offset) + 1] = static_cast<uint8_t>(value >> 8);
        };
        put16(CFG_COMMAND, COMMAND_MEMORY_AND_MASTER);
        put16(CFG_STATUS, STATUS_DEVSEL_MEDIUM);
        config[CFG_REVISION] = f.revision;
        config[CFG_CACHE_LINE_SIZE] = f.cacheLineSize;
        config[CFG_LATENCY_TIMER] = f.latencyTimer;
        for (int i = 0; i < BAR_COUNT; ++i) {
            put16(CFG_BAR0 + 4 * i, static_cast<uint16_t>(f.bars[static_cast<size_t>(i)]));
            put16(CFG_BAR0 + 4 * i + 2, static_cast<uint16_t>(f.bars[static_cast<size_t>(i)] >> 16));
        }
        put16(CFG_SUBSYSTEM_VENDOR_ID, f.subsystemVendorId);
        put16(CFG_SUBSYSTEM_ID, f.subsystemId);
        config[CFG_INTERRUPT_LINE] = f.interruptLine;
        config[CFG_INTERRUPT_PIN] = f.interruptPin;
        config[swboot::PCI_CFG_PROGRAMMING_IF] = static_cast<uint8_t>(f.classCode);
        config[swboot::PCI_CFG_SUBCLASS] = static_cast<uint8_t>(f.classCode >> 8);
        config[swboot::PCI_CFG_CLASS] = static_cast<uint8_t>(f.classCode >> 16);
        config[CFG_HEADER_TYPE] = 0x00;
        space_.emplace(key, config);
    }
}

const std::array<uint8_t, PciSpace::CONFIG_SIZE>* PciSpace::find(int bus, int device, int function) const {
    auto it = space_.find(std::make_tuple(bus, device, function));
    return it == space_.end() ? nullptr : &it->second;
}

uint8_t PciSpace::configRead8(int bus, int device, int function, int offset) {
    const auto* config = find(bus, device, function);
    if (!config || offset < 0 || offset >= CONFIG_SIZE) {
        return 0xFF;
    }
    return (*config)[static_cast<size_t>(offset)];
}

uint16_t PciSpace::configRead16(int bus, int device, int function, int offset) {
    return static_cast<uint16_t>(configRead8(bus, device, function, offset) |
                                 (configRead8(bus, device, function, offset + 1) << 8));
}

uint32_t PciSpace::configRead32(int bus, int device, int function, int offset) {
    return static_cast<uint32_t>(configRead16(bus, device, function, offset)) |
           (static_cast<uint32_t>(configRead16(bus, device, function, offset + 2)) << 16);
}

}  // namespace sim
