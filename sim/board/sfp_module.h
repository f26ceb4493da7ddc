// A pluggable SFP module's two-wire interface: the serial ID page of
// SFF-8472 (A0h, at address 0x50) and its diagnostics page (A2h), which the
// board wires at 0x56 for its fiber ports' modules.
//
// Modelled: read-only 256-byte pages with a byte pointer set by the first
// byte of a write and advancing on reads, wrapping at 256; writes after the
// pointer are acknowledged and ignored (the ID memory is write-protected).
// The ID page carries identifier, connector, nominal bit rate, vendor name,
// OUI, part number, revision, serial number and date code, space-padded as
// the standard has them, and both check codes. The diagnostics page holds
// the real-time temperature and supply voltage; alarms are not modelled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "board/i2c_slave.h"

namespace sim {

// What a module's label says; the profile fills it.
struct ModuleIdentity {
    std::string vendor;
    std::string partNumber;
    std::string serialNumber;
    std::string revision;
    std::string dateCode;   // YYMMDD
    uint8_t bitRate = 12;   // SFP nominal bit rate, units of 100 Mbd
    double celsius = 35.0;
};

using ModulePage = std::array<uint8_t, 256>;

// A 256-byte read-only page with a byte pointer.
class ModulePageDevice : public I2cSlave {
public:
    explicit ModulePageDevice(const ModulePage& page) : page_(page) {}
    bool addressed(bool read) override;
    bool write(uint8_t byte) override;
    uint8_t read(bool masterAcknowledges) override;
    void stop() override {}
    const ModulePage& page() const { return page_; }

private:
    ModulePage page_;
    uint8_t pointer_ = 0;
    bool pointerNext_ = false;
};

class SfpModule {
public:
    static constexpr uint8_t ID_ADDRESS = 0x50;
    static constexpr uint8_t FIBER_DIAGNOSTICS_ADDRESS = 0x56;

    static constexpr size_t IDENTIFIER = 0;
    static constexpr size_t EXTENDED_IDENTIFIER = 1;
    static constexpr size_t CONNECTOR = 2;
    static constexpr size_t ENCODING = 11;
    static constexpr size_t BIT_RATE = 12;
    static constexpr size_t VENDOR_NAME = 20;
    static constexpr size_t VENDOR_OUI = 37;
    static constexpr size_t VENDOR_PART_NUMBER = 40;
    static constexpr size_t VENDOR_REVISION = 56;
    static constexpr size_t CHECK_BASE = 63;
    static constexpr size_t VENDOR_SERIAL_NUMBER = 68;
    static constexpr size_t DATE_CODE = 84;
    static constexpr size_t DIAGNOSTIC_TYPE = 92;
    static constexpr size_t COMPLIANCE = 94;
    static constexpr size_t CHECK_EXTENDED = 95;
    static constexpr size_t DIAG_TEMPERATURE = 96;
    static constexpr size_t DIAG_VCC = 98;
    static constexpr size_t DIAG_CHECK = 95;

    static constexpr uint8_t IDENTIFIER_SFP = 0x03;
    static constexpr uint8_t EXTENDED_IDENTIFIER_TWO_WIRE = 0x04;
    static constexpr uint8_t CONNECTOR_LC = 0x07;
    static constexpr uint8_t ENCODING_8B10B = 0x01;
    static constexpr uint8_t DIAGNOSTICS_IMPLEMENTED = 0x68;
    static constexpr uint8_t COMPLIANCE_REVISION = 0x03;

    explicit SfpModule(const ModuleIdentity& identity);

    I2cSlave& idPage() { return id_; }
    I2cSlave& diagnosticsPage() { return diagnostics_; }
    static ModulePage idPageOf(const ModuleIdentity& identity);
    static ModulePage diagnosticsPageOf(const ModuleIdentity& identity);

private:
    ModulePageDevice id_;
    ModulePageDevice diagnostics_;
};

// Writes text into a field, padded with spaces; the text is cut to the
// field.
void modulePutText(ModulePage& page, size_t offset, size_t size, const std::string& text);
// The check code of a range: the low byte of the sum of its bytes.
uint8_t moduleCheckCode(const ModulePage& page, size_t first, size_t last);

}  // namespace sim
