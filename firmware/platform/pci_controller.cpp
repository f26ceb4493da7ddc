#include "pci_controller.h"

#include "board_bus.h"

namespace firmware {

uint32_t PciController::wordRead(int bus, int device, int function, int offset) {
    const uint32_t address = CFG_ADDR_ENABLE | (static_cast<uint32_t>(bus & 0xFF) << 16) |
                             (static_cast<uint32_t>(device & 0x1F) << 11) |
                             (static_cast<uint32_t>(function & 0x7) << 8) | (static_cast<uint32_t>(offset) & 0xFC);
    store32(CFG_ADDR, address);
    memoryBarrier();
    const uint32_t raw = load32(CFG_DATA);
    // Little-endian on the bus: byte 0 of the word arrives in the core's
    // most significant byte.
    return (raw >> 24) | ((raw >> 8) & 0xFF00) | ((raw << 8) & 0xFF0000) | (raw << 24);
}

uint8_t PciController::configRead8(int bus, int device, int function, int offset) {
    return static_cast<uint8_t>(wordRead(bus, device, function, offset) >> (8 * (offset & 3)));
}

uint16_t PciController::configRead16(int bus, int device, int function, int offset) {
    return static_cast<uint16_t>(wordRead(bus, device, function, offset) >> (8 * (offset & 2)));
}

uint32_t PciController::configRead32(int bus, int device, int function, int offset) {
    return wordRead(bus, device, function, offset);
}

}  // namespace firmware
