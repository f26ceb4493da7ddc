// The board's address decoder: routes each load and store to RAM, the
// CPLD, the console UART, the boot flash, the I2C controller, the
// processor's configuration registers, and when fitted the PCI controller's
// configuration registers, the reboot request and the volume service. Anything else, or an access of a width
// the device does not take (the flash takes 32-bit stores only), is a bus
// error, which the processor takes as a machine check.
#pragma once

#include <cstdint>

#include "board/cpld.h"
#include "board/mpc85xx_ccsr.h"
#include "board/mpc85xx_pci.h"
#include "board/strataflash.h"
#include "board/mpc85xx_i2c.h"
#include "board/ram.h"
#include "board/reboot_request.h"
#include "board/uart16550.h"
#include "board/volume_service.h"
#include "platform/bus.h"

namespace sim {

class MemoryMap : public swboot::Bus {
public:
    MemoryMap(Ram& ram, Cpld& cpld, StrataFlash& flash, Mpc85xxCcsr& ccsr, Uart16550& uart, Mpc85xxI2c& i2c)
        : ram_(ram), cpld_(cpld), flash_(flash), ccsr_(ccsr), uart_(uart), i2c_(i2c) {}

    // Fits the reboot request at its address.
    void attach(RebootRequest& rebootRequest) { rebootRequest_ = &rebootRequest; }
    // Fits the PCI controller's configuration registers in the processor's
    // register block.
    void attach(Mpc85xxPci& pci) { pci_ = &pci; }
    // Fits the volume service at its address (the board running the loader
    // built as firmware).
    void attach(VolumeService& volumeService) { volumeService_ = &volumeService; }

    uint8_t read8(uint32_t address) override;
    uint16_t read16(uint32_t address) override;
    uint32_t read32(uint32_t address) override;
    void write8(uint32_t address, uint8_t value) override;
    void write16(uint32_t address, uint16_t value) override;
    void write32(uint32_t address, uint32_t value) override;
    // Bulk RAM work sees stuck bits as the cells hold them (see Ram::view).
    std::span<uint8_t> ramView(uint32_t address, size_t length) override;
    // For the emulated core's own mapping: no range with a stuck bit.
    std::span<uint8_t> plainRamView(uint32_t address, size_t length) { return ram_.plainView(address, length); }

private:
    enum class Region { Ram, Cpld, Uart, Flash, Ccsr, Pci, I2c, RebootRequest, VolumeService, None };
    Region decode(uint32_t address, unsigned width) const;
    [[noreturn]] void busError(const char* access, uint32_t address, unsigned width) const;
    uint32_t readRam(uint32_t address, unsigned width);
    void writeRam(uint32_t address, unsigned width, uint32_t value);

    Ram& ram_;
    Cpld& cpld_;
    StrataFlash& flash_;
    Mpc85xxCcsr& ccsr_;
    Uart16550& uart_;
    Mpc85xxI2c& i2c_;
    RebootRequest* rebootRequest_ = nullptr;
    Mpc85xxPci* pci_ = nullptr;
    VolumeService* volumeService_ = nullptr;
};

}  // namespace sim
