// The PCI displays of the utilities menu: the device list by name, and the
// same list with each function's configuration header.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

// Vendor IDs the list names.
inline constexpr uint16_t PCI_VENDOR_MOTOROLA = 0x1057;
inline constexpr uint16_t PCI_VENDOR_BROADCOM = 0x14E4;
inline constexpr uint16_t PCI_VENDOR_3COM = 0x10B7;
inline constexpr uint16_t PCI_VENDOR_COMPAQ = 0x0E11;
inline constexpr uint16_t PCI_VENDOR_KESTRIX = 0x1028;

inline constexpr int PCI_LIST_BUSES = 256;
inline constexpr int PCI_LIST_DEVICES = 31;  // device 31 is never probed

class PciInfo {
public:
    explicit PciInfo(Loader& loader) : loader_(loader) {}

    // Lists function 0 of every device on every bus; with details, each
    // with its identity line, its summary and its configuration header.
    void pciDeviceList(bool details);
    // One line: position, identity, revision, class and what the class is.
    void pciFunctionSummaryShow(int bus, int device, int function);
    // The configuration header, decoded field by field, and its raw bytes.
    void pciHeaderShow(int bus, int device, int function);

private:
    void nameLine(uint16_t vendorId, uint16_t deviceId);
    void barsShow(int bus, int device, int function, int count);

    Loader& loader_;
};

// A readable name for a class code (base class, sub-class); never null.
const char* pciClassName(uint8_t baseClass, uint8_t subClass);

}  // namespace swboot
