#include "hw/pci_info.h"

#include "loader.h"

namespace swboot {

namespace {

// Configuration header offsets beyond the identity and class bytes.
constexpr int CFG_COMMAND = 0x04;
constexpr int CFG_STATUS = 0x06;
constexpr int CFG_REVISION = 0x08;
constexpr int CFG_CACHE_LINE_SIZE = 0x0C;
constexpr int CFG_LATENCY_TIMER = 0x0D;
constexpr int CFG_HEADER_TYPE = 0x0E;
constexpr int CFG_BIST = 0x0F;
constexpr int CFG_BAR0 = 0x10;
constexpr int CFG_CARDBUS_CIS = 0x28;
constexpr int CFG_SUBSYSTEM_VENDOR_ID = 0x2C;
constexpr int CFG_SUBSYSTEM_ID = 0x2E;
constexpr int CFG_EXPANSION_ROM = 0x30;
constexpr int CFG_CAPABILITIES = 0x34;
constexpr int CFG_INTERRUPT_LINE = 0x3C;
constexpr int CFG_INTERRUPT_PIN = 0x3D;
constexpr int CFG_MIN_GRANT = 0x3E;
constexpr int CFG_MAX_LATENCY = 0x3F;
// Type 1 (bridge) header.
constexpr int CFG_PRIMARY_BUS = 0x18;
constexpr int CFG_SECONDARY_BUS = 0x19;
constexpr int CFG_SUBORDINATE_BUS = 0x1A;
constexpr int CFG_BRIDGE_ROM = 0x38;
constexpr int HEADER_DUMP_LENGTH = 0x40;

constexpr uint8_t HEADER_TYPE_MASK = 0x7F;
constexpr uint8_t HEADER_MULTI_FUNCTION = 0x80;
constexpr uint8_t HEADER_TYPE_DEVICE = 0;
constexpr uint8_t HEADER_TYPE_BRIDGE = 1;

constexpr uint16_t COMMAND_IO = 0x0001;
constexpr uint16_t COMMAND_MEMORY = 0x0002;
constexpr uint16_t COMMAND_MASTER = 0x0004;
constexpr uint16_t COMMAND_PARITY = 0x0040;
constexpr uint16_t COMMAND_SERR = 0x0100;
constexpr uint16_t COMMAND_INTX_DISABLE = 0x0400;
constexpr uint16_t STATUS_CAPABILITIES = 0x0010;
constexpr uint16_t STATUS_66MHZ = 0x0020;
constexpr uint16_t STATUS_DEVSEL_MASK = 0x0600;
constexpr int STATUS_DEVSEL_SHIFT = 9;
constexpr uint16_t STATUS_ERRORS = 0xF900;  // parity, aborts, SERR, detected parity

constexpr uint32_t BAR_IO = 0x1;
constexpr uint32_t BAR_MEMORY_TYPE_MASK = 0x6;
constexpr uint32_t BAR_MEMORY_64 = 0x4;
constexpr uint32_t BAR_PREFETCHABLE = 0x8;
constexpr uint32_t BAR_IO_ADDRESS_MASK = ~0x3u;
constexpr uint32_t BAR_MEMORY_ADDRESS_MASK = ~0xFu;
constexpr uint32_t ROM_ENABLE = 0x1;

struct BroadcomName {
    uint16_t deviceId;
    const char* name;
};
constexpr BroadcomName BROADCOM_NAMES[] = {
    {0x1644, "BCM5700\n"},   {0x1645, "BCM5701\n"},  {0x1646, "BCM5702\n"},  {0x1647, "BCM5703\n"},
    {0x164D, "BCM5702FE\n"}, {0x16A6, "BCM5702X\n"}, {0x16A7, "BCM5703x\n"}, {0x5615, "BCM5615\n"},
    {0x5645, "BCM5645\n"},   {0x5670, "BCM5670\n"},  {0x5671, "BCM5671\n"},  {0x5673, "BCM5673\n"},
    {0x5675, "BCM5675\n"},   {0x5690, "BCM5690\n"},  {0x5691, "BCM5691\n"},  {0x5692, "BCM5692\n"},
    {0x5693, "BCM5693\n"},   {0x5695, "BCM5695\n"},  {0xB304, "BCM56304\n"}, {0xB404, "BCM56304\n"},
    {0xB504, "BCM56504\n"},  {0xB800, "BCM56800\n"},
};

struct MotorolaName {
    uint16_t deviceId;
    const char* name;
};
constexpr MotorolaName MOTOROLA_NAMES[] = {
    {0x0003, "MPC8240\n"},
    {0x0006, "MPC8245\n"},
    {0x000C, "MPC8541\n"},
};

struct ClassName {
    uint8_t baseClass;
    int subClass;  // -1: any sub-class of the base class
    const char* name;
};
constexpr ClassName CLASS_NAMES[] = {
    {0x01, 0x00, "SCSI controller"},   {0x01, 0x01, "IDE controller"},   {0x01, -1, "mass storage controller"},
    {0x02, 0x00, "Ethernet controller"}, {0x02, -1, "network controller"}, {0x03, -1, "display controller"},
    {0x04, -1, "multimedia device"},   {0x05, -1, "memory controller"},  {0x06, 0x00, "host bridge"},
    {0x06, 0x01, "ISA bridge"},        {0x06, 0x04, "PCI-to-PCI bridge"}, {0x06, -1, "bridge"},
    {0x07, -1, "communication controller"}, {0x08, -1, "system peripheral"}, {0x0B, 0x20, "PowerPC processor"},
    {0x0B, -1, "processor"},           {0x0C, -1, "serial bus controller"}, {0x0D, -1, "wireless controller"},
    {0x0F, -1, "satellite communication controller"}, {0x10, -1, "encryption controller"},
    {0x11, -1, "signal processing controller"},
};

const char* onOff(bool on) { return on ? "on" : "off"; }

}  // namespace

const char* pciClassName(uint8_t baseClass, uint8_t subClass) {
    for (const ClassName& c : CLASS_NAMES) {
        if (c.baseClass == baseClass && (c.subClass < 0 || c.subClass == subClass)) {
            return c.name;
        }
    }
    return "unclassified device";
}

void PciInfo::nameLine(uint16_t vendorId, uint16_t deviceId) {
    Stdio& io = loader_.io;
    switch (vendorId) {
        case PCI_VENDOR_MOTOROLA: {
            const char* name = "\n";
            for (const MotorolaName& m : MOTOROLA_NAMES) {
                if (m.deviceId == deviceId) {
                    name = m.name;
                }
            }
            io.printf("Motorola %s", name);
            break;
        }
        case PCI_VENDOR_BROADCOM: {
            const char* name = "\n";
            for (const BroadcomName& b : BROADCOM_NAMES) {
                if (b.deviceId == deviceId) {
                    name = b.name;
                    break;
                }
            }
            io.printf("Broadcom %s", name);
            break;
        }
        case PCI_VENDOR_3COM:
            io.printf("3Com Device 0x%04x\n", deviceId);
            break;
        case PCI_VENDOR_COMPAQ:
            io.printf("Compaq Device 0x%04x\n", deviceId);
            break;
        case PCI_VENDOR_KESTRIX:
            io.printf("Kestrix Device 0x%04x\n", deviceId);
            break;
        default:
            io.printf("\nUnknown device found. VendorId=0x%x DeviceId=0x%x \n", vendorId, deviceId);
            break;
    }
}

void PciInfo::pciDeviceList(bool details) {
    Pci& pci = loader_.p.pci;
    Stdio& io = loader_.io;
    for (int bus = 0; bus < PCI_LIST_BUSES; ++bus) {
        for (int device = 0; device < PCI_LIST_DEVICES; ++device) {
            uint16_t vendorId = pci.configRead16(bus, device, 0, PCI_CFG_VENDOR_ID);
            uint16_t deviceId = pci.configRead16(bus, device, 0, PCI_CFG_DEVICE_ID);
            uint32_t classCode = (static_cast<uint32_t>(pci.configRead8(bus, device, 0, PCI_CFG_CLASS)) << 16) |
                                 (static_cast<uint32_t>(pci.configRead8(bus, device, 0, PCI_CFG_SUBCLASS)) << 8) |
                                 pci.configRead8(bus, device, 0, PCI_CFG_PROGRAMMING_IF);
            if (vendorId == PCI_VENDOR_NONE) {
                continue;
            }
            if (details) {
                io.printf("\n\nbus       device    function  vendorID  deviceID  class\n");
                io.printf("%.8x  %.8x  %.8x  %.8x  %.8x  %.8x\n\n", bus, device, 0, vendorId, deviceId, classCode);
            }
            nameLine(vendorId, deviceId);
            if (details) {
                pciFunctionSummaryShow(bus, device, 0);
                pciHeaderShow(bus, device, 0);
            }
        }
    }
}

void PciInfo::pciFunctionSummaryShow(int bus, int device, int function) {
    Pci& pci = loader_.p.pci;
    uint8_t baseClass = pci.configRead8(bus, device, function, PCI_CFG_CLASS);
    uint8_t subClass = pci.configRead8(bus, device, function, PCI_CFG_SUBCLASS);
    loader_.io.printf("  %02x:%02x.%x  %04x:%04x  rev %02x  class %02x%02x%02x  %s\n", bus, device, function,
                      pci.configRead16(bus, device, function, PCI_CFG_VENDOR_ID),
                      pci.configRead16(bus, device, function, PCI_CFG_DEVICE_ID),
                      pci.configRead8(bus, device, function, CFG_REVISION), baseClass, subClass,
                      pci.configRead8(bus, device, function, PCI_CFG_PROGRAMMING_IF),
                      pciClassName(baseClass, subClass));
}

void PciInfo::barsShow(int bus, int device, int function, int count) {
    Pci& pci = loader_.p.pci;
    Stdio& io = loader_.io;
    for (int i = 0; i < count; ++i) {
        int offset = CFG_BAR0 + 4 * i;
        uint32_t bar = pci.configRead32(bus, device, function, offset);
        io.printf("    %02x  BAR%d              0x%08x", offset, i, bar);
        if (bar == 0) {
            io.printf("  unused\n");
        } else if (bar & BAR_IO) {
            io.printf("  I/O at 0x%08x\n", bar & BAR_IO_ADDRESS_MASK);
        } else if ((bar & BAR_MEMORY_TYPE_MASK) == BAR_MEMORY_64 && i + 1 < count) {
            uint32_t high = pci.configRead32(bus, device, function, offset + 4);
            io.printf("  memory at 0x%08x%08x, 64-bit, %s\n", high, bar & BAR_MEMORY_ADDRESS_MASK,
                      (bar & BAR_PREFETCHABLE) ? "prefetchable" : "non-prefetchable");
            io.printf("    %02x  BAR%d              0x%08x  upper half of BAR%d\n", offset + 4, i + 1, high, i);
            ++i;
        } else {
            io.printf("  memory at 0x%08x, 32-bit, %s\n", bar & BAR_MEMORY_ADDRESS_MASK,
                      (bar & BAR_PREFETCHABLE) ? "prefetchable" : "non-prefetchable");
        }
    }
}

void PciInfo::pciHeaderShow(int bus, int device, int function) {
    Pci& pci = loader_.p.pci;
    Stdio& io = loader_.io;
    auto r8 = [&](int offset) { return pci.configRead8(bus, device, function, offset); };
    auto r16 = [&](int offset) { return pci.configRead16(bus, device, function, offset); };
    auto r32 = [&](int offset) { return pci.configRead32(bus, device, function, offset); };

    const uint8_t headerType = r8(CFG_HEADER_TYPE);
    const uint8_t layout = headerType & HEADER_TYPE_MASK;
    const uint16_t command = r16(CFG_COMMAND);
    const uint16_t status = r16(CFG_STATUS);
    static const char* const DEVSEL[] = {"fast", "medium", "slow", "reserved"};

    io.printf("  Configuration header, type %u (%s)%s:\n", layout,
              layout == HEADER_TYPE_DEVICE   ? "device"
              : layout == HEADER_TYPE_BRIDGE ? "PCI-to-PCI bridge"
                                             : "unknown layout",
              (headerType & HEADER_MULTI_FUNCTION) ? ", multi-function" : "");
    io.printf("    00  vendor ID         0x%04x\n", r16(PCI_CFG_VENDOR_ID));
    io.printf("    02  device ID         0x%04x\n", r16(PCI_CFG_DEVICE_ID));
    io.printf("    04  command           0x%04x  I/O %s, memory %s, bus master %s, parity %s, SERR %s, INTx %s\n",
              command, onOff(command & COMMAND_IO), onOff(command & COMMAND_MEMORY), onOff(command & COMMAND_MASTER),
              onOff(command & COMMAND_PARITY), onOff(command & COMMAND_SERR),
              (command & COMMAND_INTX_DISABLE) ? "disabled" : "enabled");
    io.printf("    06  status            0x%04x  DEVSEL %s, 66 MHz %s, capabilities %s, errors %s\n", status,
              DEVSEL[(status & STATUS_DEVSEL_MASK) >> STATUS_DEVSEL_SHIFT],
              (status & STATUS_66MHZ) ? "capable" : "no", (status & STATUS_CAPABILITIES) ? "listed" : "none",
              (status & STATUS_ERRORS) ? "REPORTED" : "none");
    io.printf("    08  revision ID       0x%02x\n", r8(CFG_REVISION));
    io.printf("    09  class code        0x%02x%02x%02x  %s\n", r8(PCI_CFG_CLASS), r8(PCI_CFG_SUBCLASS),
              r8(PCI_CFG_PROGRAMMING_IF), pciClassName(r8(PCI_CFG_CLASS), r8(PCI_CFG_SUBCLASS)));
    io.printf("    0c  cache line size   %u bytes\n", r8(CFG_CACHE_LINE_SIZE) * 4u);
    io.printf("    0d  latency timer     %u clocks\n", r8(CFG_LATENCY_TIMER));
    io.printf("    0e  header type       0x%02x\n", headerType);
    io.printf("    0f  BIST              0x%02x\n", r8(CFG_BIST));
    if (layout == HEADER_TYPE_BRIDGE) {
        barsShow(bus, device, function, 2);
        io.printf("    18  buses             primary %u, secondary %u, subordinate %u\n", r8(CFG_PRIMARY_BUS),
                  r8(CFG_SECONDARY_BUS), r8(CFG_SUBORDINATE_BUS));
        uint32_t rom = r32(CFG_BRIDGE_ROM);
        io.printf("    38  expansion ROM     0x%08x  %s\n", rom, (rom & ROM_ENABLE) ? "enabled" : "disabled");
    } else if (layout == HEADER_TYPE_DEVICE) {
        barsShow(bus, device, function, 6);
        io.printf("    28  CardBus CIS       0x%08x\n", r32(CFG_CARDBUS_CIS));
        io.printf("    2c  subsystem vendor  0x%04x\n", r16(CFG_SUBSYSTEM_VENDOR_ID));
        io.printf("    2e  subsystem ID      0x%04x\n", r16(CFG_SUBSYSTEM_ID));
        uint32_t rom = r32(CFG_EXPANSION_ROM);
        io.printf("    30  expansion ROM     0x%08x  %s\n", rom, (rom & ROM_ENABLE) ? "enabled" : "disabled");
    }
    if (status & STATUS_CAPABILITIES) {
        io.printf("    34  capabilities at   0x%02x\n", r8(CFG_CAPABILITIES));
    }
    const uint8_t pin = r8(CFG_INTERRUPT_PIN);
    const uint8_t line = r8(CFG_INTERRUPT_LINE);
    if (pin == 0) {
        io.printf("    3c  interrupt         none (line 0x%02x)\n", line);
    } else if (pin <= 4) {
        io.printf("    3c  interrupt         INT%c, line %u%s\n", 'A' + pin - 1, line,
                  line == 0xFF ? " (not connected)" : "");
    } else {
        io.printf("    3c  interrupt         pin 0x%02x (invalid), line %u\n", pin, line);
    }
    if (layout == HEADER_TYPE_DEVICE) {
        io.printf("    3e  min grant         %u x 0.25 us\n", r8(CFG_MIN_GRANT));
        io.printf("    3f  max latency       %u x 0.25 us\n", r8(CFG_MAX_LATENCY));
    }
    io.printf("  Raw header:\n");
    for (int row = 0; row < HEADER_DUMP_LENGTH; row += 16) {
        io.printf("    %02x:", row);
        for (int i = 0; i < 16; ++i) {
            io.printf(" %02x", r8(row + i));
        }
        io.printf("\n");
    }
}

}  // namespace swboot
