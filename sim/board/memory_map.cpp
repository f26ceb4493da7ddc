#include "board/memory_map.h"

#include <cstdio>

#include "board/board_events.h"

namespace sim {

MemoryMap::Region MemoryMap::decode(uint32_t address, unsigned width) const {
    if (ram_.contains(address, width)) {
        return Region::Ram;
    }
    // A device access is an event of the board: bytes put into RAM through a
    // direct view meet their stuck bits by now.
    ram_.holdStuckBits();
    if (address >= Cpld::BASE && address < Cpld::BASE + Cpld::SIZE) {
        return Region::Cpld;
    }
    if (address >= Uart16550::BASE && address < Uart16550::BASE + Uart16550::SIZE) {
        return Region::Uart;
    }
    if (address >= Mpc85xxI2c::BASE && address - Mpc85xxI2c::BASE < Mpc85xxI2c::SIZE) {
        return Region::I2c;
    }
    if (address >= FlashArray::BASE && static_cast<uint64_t>(address) + width <=
                                           static_cast<uint64_t>(FlashArray::BASE) + FlashArray::SIZE) {
        return Region::Flash;
    }
    if (rebootRequest_ != nullptr && address >= RebootRequest::BASE &&
        address - RebootRequest::BASE < RebootRequest::SIZE) {
        return Region::RebootRequest;
    }
    if (address >= Mpc85xxCcsr::BASE && address - Mpc85xxCcsr::BASE < Mpc85xxCcsr::SIZE) {
        if (Mpc85xxCcsr::decodes(address - Mpc85xxCcsr::BASE)) {
            return Region::Ccsr;
        }
        if (pci_ != nullptr && Mpc85xxPci::decodes(address - Mpc85xxCcsr::BASE)) {
            return Region::Pci;
        }
    }
    if (volumeService_ != nullptr && address >= VolumeService::BASE && address - VolumeService::BASE < VolumeService::SIZE) {
        return Region::VolumeService;
    }
    return Region::None;
}

void MemoryMap::busError(const char* access, uint32_t address, unsigned width) const {
    char text[128];
    std::snprintf(text, sizeof text, "bus error: %u-bit %s at 0x%08x", width * 8, access, address);
    throw BoardMachineCheck{text};
}

uint32_t MemoryMap::readRam(uint32_t address, unsigned width) { return ram_.load(address, width); }

void MemoryMap::writeRam(uint32_t address, unsigned width, uint32_t value) { ram_.store(address, width, value); }

uint8_t MemoryMap::read8(uint32_t address) {
    switch (decode(address, 1)) {
        case Region::Ram:
            return static_cast<uint8_t>(readRam(address, 1));
        case Region::Cpld:
            return cpld_.read(static_cast<uint8_t>(address - Cpld::BASE));
        case Region::Uart:
            return uart_.read(static_cast<uint8_t>(address - Uart16550::BASE));
        case Region::Flash:
            return static_cast<uint8_t>(flash_.read(address - FlashArray::BASE, 1));
        case Region::I2c:
            return static_cast<uint8_t>(i2c_.read(address - Mpc85xxI2c::BASE, 1));
        default:
            break;
    }
    busError("read", address, 1);
}

uint16_t MemoryMap::read16(uint32_t address) {
    switch (decode(address, 2)) {
        case Region::Ram:
            return static_cast<uint16_t>(readRam(address, 2));
        case Region::Flash:
            if (address % 2 != 0) {
                break;
            }
            return static_cast<uint16_t>(flash_.read(address - FlashArray::BASE, 2));
        default:
            break;
    }
    busError("read", address, 2);
}

uint32_t MemoryMap::read32(uint32_t address) {
    switch (decode(address, 4)) {
        case Region::Ram:
            return readRam(address, 4);
        case Region::Flash:
            if (address % 4 != 0) {
                break;
            }
            return flash_.read(address - FlashArray::BASE, 4);
        case Region::I2c:
            return i2c_.read(address - Mpc85xxI2c::BASE, 4);
        case Region::RebootRequest:
            if (address != RebootRequest::BASE) {
                break;
            }
            return rebootRequest_->read32();
        case Region::Ccsr:
            if (auto value = ccsr_.read32(address - Mpc85xxCcsr::BASE)) {
                return *value;
            }
            break;
        case Region::Pci:
            return pci_->read32(address - Mpc85xxCcsr::BASE);
        case Region::VolumeService:
            if (address % 4 != 0) {
                break;
            }
            return volumeService_->read32(address - VolumeService::BASE);
        default:
            break;
    }
    busError("read", address, 4);
}

void MemoryMap::write8(uint32_t address, uint8_t value) {
    switch (decode(address, 1)) {
        case Region::Ram:
            writeRam(address, 1, value);
            return;
        case Region::Cpld:
            cpld_.write(static_cast<uint8_t>(address - Cpld::BASE), value);
            return;
        case Region::Uart:
            uart_.write(static_cast<uint8_t>(address - Uart16550::BASE), value);
            return;
        case Region::I2c:
            i2c_.write(address - Mpc85xxI2c::BASE, 1, value);
            return;
        default:
            break;
    }
    busError("write", address, 1);
}

void MemoryMap::write16(uint32_t address, uint16_t value) {
    if (decode(address, 2) == Region::Ram) {
        writeRam(address, 2, value);
        return;
    }
    busError("write", address, 2);
}

void MemoryMap::write32(uint32_t address, uint32_t value) {
    switch (decode(address, 4)) {
        case Region::Ram:
            writeRam(address, 4, value);
            return;
        case Region::I2c:
            i2c_.write(address - Mpc85xxI2c::BASE, 4, value);
            return;
        case Region::Flash:
            if (address % 4 != 0) {
                break;
            }
            flash_.write32(address - FlashArray::BASE, value);
            return;
        case Region::RebootRequest:
            if (address != RebootRequest::BASE) {
                break;
            }
            rebootRequest_->write32(value);
            return;
        case Region::Ccsr:
            if (ccsr_.write32(address - Mpc85xxCcsr::BASE, value)) {
                return;
            }
            break;
        case Region::Pci:
            pci_->write32(address - Mpc85xxCcsr::BASE, value);
            return;
        case Region::VolumeService:
            if (address % 4 != 0) {
                break;
            }
            volumeService_->write32(address - VolumeService::BASE, value);
            return;
        default:
            break;
    }
    busError("write", address, 4);
}

std::span<uint8_t> MemoryMap::ramView(uint32_t address, size_t length) { return ram_.view(address, length); }

}  // namespace sim
