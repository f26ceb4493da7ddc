// A pluggable XFP module's two-wire interface at 0x50 (INF-8077i).
//
// Modelled: the lower memory (bytes 0..127: identifier, and the table
// select byte 127, the only writable byte) and the upper memory (bytes
// 128..255), which shows the table that byte 127 selects; table 01h, the
// serial ID (identifier, connector, vendor name, OUI, part number, revision,
// serial number, date code, check codes), is selected at power-on. Other
// tables read as zeros. The byte pointer is set by the first byte of a
// write, advances on reads and writes, and wraps at 256. Diagnostics and
// control bits are not modelled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/sfp_module.h"

namespace sim {

class XfpModule : public I2cSlave {
public:
    static constexpr uint8_t ADDRESS = 0x50;

    static constexpr size_t IDENTIFIER = 0;
    static constexpr size_t TABLE_SELECT = 127;
    static constexpr size_t UPPER_IDENTIFIER = 128;
    static constexpr size_t CONNECTOR = 130;
    static constexpr size_t VENDOR_NAME = 148;
    static constexpr size_t VENDOR_OUI = 165;
    static constexpr size_t VENDOR_PART_NUMBER = 168;
    static constexpr size_t VENDOR_REVISION = 184;
    static constexpr size_t CHECK_BASE = 191;
    static constexpr size_t VENDOR_SERIAL_NUMBER = 196;
    static constexpr size_t DATE_CODE = 212;
    static constexpr size_t CHECK_EXTENDED = 223;

    static constexpr uint8_t IDENTIFIER_XFP = 0x06;
    static constexpr uint8_t CONNECTOR_LC = 0x07;
    static constexpr uint8_t SERIAL_ID_TABLE = 0x01;

    explicit XfpModule(const ModuleIdentity& identity);

    bool addressed(bool read) override;
    bool write(uint8_t byte) override;
    uint8_t read(bool masterAcknowledges) override;
    void stop() override {}

    // The 256 bytes the module shows with the serial ID table selected.
    static ModulePage serialIdView(const ModuleIdentity& identity);

private:
    ModulePage view_;   // lower memory and table 01h
    uint8_t tableSelect_ = SERIAL_ID_TABLE;
    uint8_t pointer_ = 0;
    bool pointerNext_ = false;
};

}  // namespace sim
