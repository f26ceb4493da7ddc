// PCI configuration through the processor's PCI controller: the address of
// a configuration register is written to CFG_ADDR, its value is read from
// CFG_DATA. CFG_DATA is little-endian, as the PCI bus is; the loader's
// values are the bus's, so the bytes are swapped into the core's order.
#pragma once

#include <cstdint>

#include "platform/pci.h"

namespace firmware {

class PciController : public swboot::Pci {
public:
    static constexpr uint32_t CFG_ADDR = 0xF0008000;
    static constexpr uint32_t CFG_DATA = 0xF0008004;
    static constexpr uint32_t CFG_ADDR_ENABLE = 0x80000000;

    uint8_t configRead8(int bus, int device, int function, int offset) override;
    uint16_t configRead16(int bus, int device, int function, int offset) override;
    uint32_t configRead32(int bus, int device, int function, int offset) override;

private:
    // The configuration word holding the register at offset, in bus order
    // (its byte at offset & 3 in bits 8 * (offset & 3)).
    uint32_t wordRead(int bus, int device, int function, int offset);
};

}  // namespace firmware
