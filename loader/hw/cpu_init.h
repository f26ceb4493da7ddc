// Readouts of the devices on the I2C bus: the processor and switch-chip
// temperatures, a dump of every present device, and the identity of the
// pluggable SFP and XFP modules. Each takes no arguments and prints on the
// console.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

class Loader;

// Source tag of the readouts' failure messages.
inline constexpr const char* CPU_INIT_TAG = "cpu_init";

// LM75 temperature register, and the reading's 9 significant bits.
inline constexpr uint8_t LM75_TEMPERATURE_REGISTER = 0x00;

// Identity fields of the modules, offsets in the module's ID page.
inline constexpr size_t MODULE_FIELD_SIZE = 16;
inline constexpr uint8_t SFP_VENDOR_NAME = 20;
inline constexpr uint8_t SFP_PART_NUMBER = 40;
inline constexpr uint8_t SFP_SERIAL_NUMBER = 68;
inline constexpr uint8_t SFP_SPEED_CODE = 12;
inline constexpr uint8_t XFP_VENDOR_NAME = 148;
inline constexpr uint8_t XFP_PART_NUMBER = 168;
inline constexpr uint8_t XFP_SERIAL_NUMBER = 196;

// Whole degrees Celsius of an LM75 reading (truncated toward zero), and
// that in Fahrenheit.
int lm75Celsius(uint16_t reading);
int celsiusToFahrenheit(int celsius);
// The speed line printed for an SFP's nominal bit rate code.
const char* sfpSpeedLine(uint8_t code);

class CpuInit {
public:
    explicit CpuInit(Loader& loader) : loader_(loader) {}

    // "Read Temperature Monitor": the processor sensor, then the board's
    // switch-chip sensors.
    void temperatureShow();
    // "Read I2C devices": the first 256 bytes of every present device.
    void i2cDevicesShow();
    // "HW modules": vendor, part and serial number of each module present.
    void hwModulesShow();

private:
    // Prints the reading of one sensor with the given label; false (after a
    // failure message) when the sensor could not be read.
    bool sensorShow(int device, const char* label);
    // Reads one identity field and prints it on the given line; false after
    // a failure message.
    bool moduleFieldShow(int device, uint8_t offset, const char* format);
    // Reads the module's first bytes; false when the slot is empty.
    bool modulePresent(int device);
    void tenthSecondWait();
    bool fiberBoard() const;

    Loader& loader_;
};

}  // namespace swboot
