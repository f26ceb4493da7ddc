// PCI configuration space reads.
#pragma once

#include <cstdint>

namespace swboot {

inline constexpr uint16_t PCI_VENDOR_NONE = 0xFFFF;

// Configuration offsets.
inline constexpr int PCI_CFG_VENDOR_ID = 0x00;
inline constexpr int PCI_CFG_DEVICE_ID = 0x02;
inline constexpr int PCI_CFG_PROGRAMMING_IF = 0x09;
inline constexpr int PCI_CFG_SUBCLASS = 0x0A;
inline constexpr int PCI_CFG_CLASS = 0x0B;

class Pci {
public:
    virtual ~Pci() = default;

    // Reads at bus 0..255, device 0..31, function 0..7. Where no device
    // answers, every bit reads as 1.
    virtual uint8_t configRead8(int bus, int device, int function, int offset) = 0;
    virtual uint16_t configRead16(int bus, int device, int function, int offset) = 0;
    virtual uint32_t configRead32(int bus, int device, int function, int offset) = 0;
};

}  // namespace swboot
