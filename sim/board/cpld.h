// The board CPLD at 0xD0000000: sixteen byte registers.
//
// Modelled: the reset control register (0x10 written to register 0 resets
// the board), the two front-panel lamp registers and the two unit display
// digits (every write is recorded and can be traced), the board identity
// registers read from the board profile (fans, module slots, board type,
// board and PLD revisions), the I2C multiplexer register, and plain storage
// for the rest. Only byte accesses are decoded; any other width is a bus
// error.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

class Cpld {
public:
    static constexpr uint32_t BASE = 0xD0000000;
    static constexpr uint32_t SIZE = 0x10;

    static constexpr uint8_t REG_RESET_CONTROL = 0x0;
    static constexpr uint8_t REG_LED1 = 0x1;
    static constexpr uint8_t REG_LED2 = 0x2;
    static constexpr uint8_t REG_MISC_CONTROL = 0x3;
    static constexpr uint8_t REG_FAN_STATUS = 0x5;
    static constexpr uint8_t REG_MODULE_TYPE = 0x6;
    static constexpr uint8_t REG_MODULE_PRESENCE = 0x7;
    static constexpr uint8_t REG_BOARD_TYPE = 0x8;
    static constexpr uint8_t REG_I2C_MUX = 0x9;
    static constexpr uint8_t REG_BOARD_REVISION = 0xB;
    static constexpr uint8_t REG_PLD_REVISION = 0xC;
    static constexpr uint8_t REG_UNIT_DISPLAY1 = 0xE;
    static constexpr uint8_t REG_UNIT_DISPLAY2 = 0xF;

    static constexpr uint8_t RESET_REQUEST = 0x10;
    static constexpr uint8_t UNIT_DISPLAY_DIGIT_BASE = 0x10;

    // Values the board's straps and sensors present on the read-only registers.
    struct Identity {
        uint8_t fanStatus = 0x3F;
        uint8_t moduleType = 0x77;
        uint8_t modulePresence = 0x03;
        uint8_t boardType = 0x00;
        uint8_t boardRevision = 0x01;
        uint8_t pldRevision = 0x03;
    };

    struct Write {
        int64_t micros;   // board time of the write
        uint8_t reg;
        uint8_t value;
    };

    explicit Cpld(const Identity& identity);

    // Called for a reset request; expected not to return.
    void setResetHandler(std::function<void()> handler) { resetHandler_ = std::move(handler); }
    // Called for every write, with a readable description (for --trace cpld).
    void setTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }
    void setClock(std::function<int64_t()> now) { now_ = std::move(now); }

    // Power-on values.
    void powerUp();

    uint8_t read(uint8_t reg) const;
    void write(uint8_t reg, uint8_t value);

    // Control face: the registers as the lamps and displays show them, the
    // record of writes, and the identity values (fault injection).
    uint8_t reg(uint8_t r) const { return regs_[r & 0xF]; }
    const std::vector<Write>& writes() const { return writes_; }
    void clearWrites() { writes_.clear(); }
    void setIdentity(const Identity& identity);
    static std::string describe(uint8_t reg, uint8_t value);

private:
    Identity identity_;
    std::array<uint8_t, SIZE> regs_{};
    std::vector<Write> writes_;
    std::function<void()> resetHandler_;
    std::function<void(const std::string&)> trace_;
    std::function<int64_t()> now_;
};

}  // namespace sim
