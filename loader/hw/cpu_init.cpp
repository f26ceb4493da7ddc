#include "hw/cpu_init.h"

#include <cstring>

#include "common/bytes.h"
#include "hw/i2c.h"
#include "loader.h"
#include "vpd/vpd.h"

namespace swboot {

namespace {

constexpr size_t DEVICE_DUMP_SIZE = 256;
constexpr size_t PRESENCE_READ_SIZE = 16;
constexpr uint8_t EMPTY_BYTE = 0xFF;
constexpr int FIBER_BOARD_CHIPS = 1;
constexpr const char* SEPARATOR = "------------------------------\n";

bool slotEmpty(const uint8_t* bytes) { return bytes[0] == EMPTY_BYTE && bytes[1] == EMPTY_BYTE; }

}  // namespace

int lm75Celsius(uint16_t reading) {
    if ((reading & 0x8000) == 0) {
        return reading >> 8;
    }
    int halfDegrees = ((((reading & 0x7FFF) >> 7) ^ 0xFF) + 1);
    return -(halfDegrees >> 1);
}

int celsiusToFahrenheit(int celsius) { return celsius * 9 / 5 + 32; }

const char* sfpSpeedLine(uint8_t code) {
    switch (code) {
        case 1:
            return "Speed --------------- 100M\n";
        case 2:
            return "Speed --------------- OC-3 (Upto 155Mbps)\n";
        case 6:
            return "Speed --------------- OC-12 (Upto 620Mbps)\n";
        case 25:
            return "Speed --------------- OC-48 (Upto 2480Mbps)\n";
        case 12:
            return "Speed --------------- Upto 1200Mbps\n";
        default:
            return "Speed --------------- 1000M\n";
    }
}

bool CpuInit::fiberBoard() const { return loader_.switchChipCount == FIBER_BOARD_CHIPS; }

void CpuInit::tenthSecondWait() { loader_.p.clock.taskDelay(loader_.p.clock.clockRate() / 10); }

bool CpuInit::sensorShow(int device, const char* label) {
    Stdio& io = loader_.io;
    const uint8_t pointer = LM75_TEMPERATURE_REGISTER;
    int result = loader_.i2c.i2cWrite(device, &pointer, 1);
    if (result != OK) {
        io.printf("%s:%d - i2cWrite returned %d\n", CPU_INIT_TAG, __LINE__, result);
        return false;
    }
    uint8_t reading[2] = {};
    result = loader_.i2c.i2cRead(device, reading, sizeof reading);
    if (result != OK) {
        io.printf("%s:%d - i2cRead returned %d\n", CPU_INIT_TAG, __LINE__, result);
        return false;
    }
    int celsius = lm75Celsius(getBe16(reading));
    io.printf("\n%s Temp sensor read %+d degrees Celsius ", label, celsius);
    io.printf("(%d degrees Fahrenheit)\n", celsiusToFahrenheit(celsius));
    return true;
}

void CpuInit::temperatureShow() {
    if (!sensorShow(I2C_DEVICE_CPU_TEMP, "CPU")) {
        return;
    }
    if (fiberBoard()) {
        sensorShow(I2C_DEVICE_LM75, "MAC");
        return;
    }
    for (int device : {I2C_DEVICE_LM75A, I2C_DEVICE_LM75B}) {
        if (!sensorShow(device, "MAC")) {
            return;
        }
    }
}

void CpuInit::i2cDevicesShow() {
    Stdio& io = loader_.io;
    for (int device = I2C_DEVICE_EEPROM; device <= I2C_DEVICE_SFP_FIBER24; ++device) {
        tenthSecondWait();
        uint8_t bytes[DEVICE_DUMP_SIZE] = {};
        int result = loader_.i2c.i2cRegRead(device, 0, 1, bytes, sizeof bytes);
        if (result != OK) {
            // A bus that never finished the transfer gives nothing to show.
            io.printf("%s:%d - i2cRegRead returned %d\n", CPU_INIT_TAG, __LINE__, result);
            continue;
        }
        if (slotEmpty(bytes)) {
            continue;
        }
        io.printf("%s%s", SEPARATOR, I2C_DEVICE_TABLE[device].name);
        vpdDumpPrint(io, bytes);
        io.printf("\n\n");
    }
}

bool CpuInit::modulePresent(int device) {
    uint8_t bytes[PRESENCE_READ_SIZE] = {};
    int result = loader_.i2c.i2cRegRead(device, 0, 1, bytes, sizeof bytes);
    if (result != OK) {
        loader_.io.printf("%s:%d - i2cRegRead returned %d\n", CPU_INIT_TAG, __LINE__, result);
        return false;
    }
    return !slotEmpty(bytes);
}

bool CpuInit::moduleFieldShow(int device, uint8_t offset, const char* format) {
    uint8_t field[MODULE_FIELD_SIZE + 1] = {};
    int result = loader_.i2c.i2cRegRead(device, offset, 1, field, MODULE_FIELD_SIZE);
    if (result != OK) {
        loader_.io.printf("%s:%d - i2cRegRead returned %d\n", CPU_INIT_TAG, __LINE__, result);
        return false;
    }
    loader_.io.printf(format, reinterpret_cast<const char*>(field));
    return true;
}

void CpuInit::hwModulesShow() {
    Stdio& io = loader_.io;
    int first = fiberBoard() ? I2C_DEVICE_SFP_FIBER1 : I2C_DEVICE_SFP1;
    int last = fiberBoard() ? I2C_DEVICE_SFP_FIBER24 : I2C_DEVICE_SFP4;
    for (int device = first; device <= last; ++device) {
        tenthSecondWait();
        if (!modulePresent(device)) {
            continue;
        }
        io.printf("%s%s\n", SEPARATOR, I2C_DEVICE_TABLE[device].name);
        if (!moduleFieldShow(device, SFP_VENDOR_NAME, "Vendor Name ------------ %s\n") ||
            !moduleFieldShow(device, SFP_PART_NUMBER, "Part Number ------------ %s\n") ||
            !moduleFieldShow(device, SFP_SERIAL_NUMBER, "Serial Number ------------ %s\n")) {
            continue;
        }
        uint8_t code = 0;
        int result = loader_.i2c.i2cRegRead(device, SFP_SPEED_CODE, 1, &code, 1);
        if (result != OK) {
            io.printf("%s:%d - i2cRegRead returned %d\n", CPU_INIT_TAG, __LINE__, result);
            continue;
        }
        io.printf("%s", sfpSpeedLine(code));
        io.printf("\n\n");
    }
    for (int device = I2C_DEVICE_XFP1; device <= I2C_DEVICE_XFP4; ++device) {
        tenthSecondWait();
        if (!modulePresent(device)) {
            continue;
        }
        tenthSecondWait();
        io.printf("%s%s\n", SEPARATOR, I2C_DEVICE_TABLE[device].name);
        if (!moduleFieldShow(device, XFP_VENDOR_NAME, "Vendor Name ------------ %s\n")) {
            continue;
        }
        tenthSecondWait();
        if (!moduleFieldShow(device, XFP_PART_NUMBER, "Part Number ------------ %s\n")) {
            continue;
        }
        tenthSecondWait();
        if (!moduleFieldShow(device, XFP_SERIAL_NUMBER, "Serial Number ------------ %s\n")) {
            continue;
        }
        io.printf("\n\n");
    }
}

}  // namespace swboot
