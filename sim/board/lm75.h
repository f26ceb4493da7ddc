// An LM75 temperature sensor on the I2C bus.
//
// Modelled: the pointer register (the first byte of a write; two bits,
// temperature, configuration, hysteresis, over-temperature), the 9-bit
// two's complement temperature in half degrees (read-only, most significant
// byte first, the two bytes repeating on longer reads), the one-byte
// configuration and the two set-point registers with their power-on values
// (75 and 80 degrees). The pointer does not advance on reads or writes.
// The comparator output and shutdown mode are not modelled.
#pragma once

#include <cstdint>

#include "board/i2c_slave.h"

namespace sim {

class Lm75 : public I2cSlave {
public:
    static constexpr uint8_t REG_TEMPERATURE = 0;
    static constexpr uint8_t REG_CONFIGURATION = 1;
    static constexpr uint8_t REG_HYSTERESIS = 2;
    static constexpr uint8_t REG_OVER_TEMPERATURE = 3;
    static constexpr uint8_t POINTER_MASK = 0x03;
    static constexpr double MIN_CELSIUS = -55.0;
    static constexpr double MAX_CELSIUS = 125.0;

    explicit Lm75(double celsius);

    bool addressed(bool read) override;
    bool write(uint8_t byte) override;
    uint8_t read(bool masterAcknowledges) override;
    void stop() override {}

    // Control face: the temperature the sensor measures, rounded to half
    // degrees and held within the sensor's range.
    void setTemperature(double celsius);
    double temperature() const { return halfDegrees_ / 2.0; }
    // The 16-bit value of a register as it goes out on the bus.
    uint16_t registerValue(uint8_t reg) const;

private:
    int halfDegrees_ = 0;
    uint8_t pointer_ = REG_TEMPERATURE;
    uint8_t configuration_ = 0;
    uint16_t hysteresis_ = 0x4B00;
    uint16_t overTemperature_ = 0x5000;
    bool pointerNext_ = false;
    int byteIndex_ = 0;
    uint16_t incoming_ = 0;
};

}  // namespace sim
