// The board's I2C bus: the processor's I2C controller, driven as bus master
// by polling, and the device table that names every device by number.
//
// Callers name a device number (an index into I2C_DEVICE_TABLE); the entry
// gives the multiplexer channel, written to the CPLD before each transfer,
// and the 8-bit bus address. Every transfer holds i2cSem from the
// multiplexer selection to the stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/tasks.h"

namespace swboot {

class Loader;

inline constexpr int I2C_DEVICE_COUNT = 63;
inline constexpr size_t I2C_DEVICE_NAME_SIZE = 21;

struct I2cDevice {
    uint8_t channel;  // value for the I2C mux register
    uint8_t address;  // 7-bit address shifted left by one, read/write bit clear
    char name[I2C_DEVICE_NAME_SIZE];
};

// Device numbers used by name.
inline constexpr int I2C_DEVICE_EEPROM = 1;
inline constexpr int I2C_DEVICE_CPU_TEMP = 2;
inline constexpr int I2C_DEVICE_LM75 = 3;
inline constexpr int I2C_DEVICE_LM75A = 4;
inline constexpr int I2C_DEVICE_LM75B = 5;
inline constexpr int I2C_DEVICE_RTC = 6;
inline constexpr int I2C_DEVICE_SFP1 = 7;
inline constexpr int I2C_DEVICE_SFP4 = 10;
inline constexpr int I2C_DEVICE_XFP1 = 11;
inline constexpr int I2C_DEVICE_XFP4 = 14;
inline constexpr int I2C_DEVICE_SFP_FIBER1 = 15;
inline constexpr int I2C_DEVICE_SFP_FIBER24 = 38;
inline constexpr int I2C_DEVICE_SFP_FIBER1_MII = 39;
inline constexpr int I2C_DEVICE_LAST = 62;

// The device table, entry 0 empty.
extern const I2cDevice I2C_DEVICE_TABLE[I2C_DEVICE_COUNT];

// The controller's register block and registers.
inline constexpr uint32_t I2C_BASE = 0xF0003000;
inline constexpr uint32_t I2C_ADR = 0x00;
inline constexpr uint32_t I2C_FDR = 0x04;
inline constexpr uint32_t I2C_CR = 0x08;
inline constexpr uint32_t I2C_SR = 0x0C;
inline constexpr uint32_t I2C_DR = 0x10;

inline constexpr uint8_t I2C_CR_MEN = 0x80;
inline constexpr uint8_t I2C_CR_MSTA = 0x20;
inline constexpr uint8_t I2C_CR_MTX = 0x10;
inline constexpr uint8_t I2C_CR_TXAK = 0x08;
inline constexpr uint8_t I2C_CR_RSTA = 0x04;

inline constexpr uint8_t I2C_SR_MBB = 0x20;
inline constexpr uint8_t I2C_SR_MIF = 0x02;
inline constexpr uint8_t I2C_SR_RXAK = 0x01;

// What the board start-up gives i2cInit.
inline constexpr uint8_t I2C_OWN_ADDRESS = 0x90;
inline constexpr uint8_t I2C_FILTER = 0x10;
inline constexpr uint8_t I2C_DIVIDER = 0x2C;
inline constexpr uint32_t I2C_FDR_WORD = 0x102C;
inline constexpr uint32_t I2C_FDR_MASK = 0x3F3F;

// Acknowledge polling after a write.
inline constexpr int I2C_ACK_POLL_ATTEMPTS = 150;
// A register offset goes out in one to four bytes.
inline constexpr int I2C_OFFSET_LENGTH_MAX = 4;
// Idle loop between status polls.
inline constexpr int I2C_POLL_IDLE_LOOPS = 256;
// Status polls after which a wait for bus idle or for a transfer gives up.
// A byte at 100 kHz takes about a hundred polls; a stuck bus never ends.
inline constexpr int I2C_WAIT_POLL_LIMIT = 10000;

class I2c {
public:
    explicit I2c(Loader& loader) : loader_(loader) {}

    // Creates the lock and sets the controller up as master. OK.
    int i2cInit(uint8_t ownAddress, uint8_t filter, uint8_t divider);
    // All four: OK or ERROR. The reads give OK whether or not the device
    // answered; an absent device reads as 0xFF bytes.
    int i2cRead(int device, uint8_t* buffer, size_t length);
    int i2cWrite(int device, const uint8_t* data, size_t length);
    int i2cRegRead(int device, uint32_t offset, int offsetLength, uint8_t* buffer, size_t length);
    int i2cRegWrite(int device, uint32_t offset, int offsetLength, const uint8_t* data, size_t length);

private:
    enum class Direction { Read, Write };

    uint8_t regRead(uint32_t reg);
    void regWrite(uint32_t reg, uint32_t value);
    void crSet(uint8_t bits);
    void crClear(uint8_t bits);
    void idle();
    // Waits for MIF; false when the transfer never completes.
    bool transferWait();
    // OK when acknowledged; ERROR otherwise or when the transfer hung.
    int byteTransmit(uint8_t byte);
    // Sets hung_ when the bus never became idle.
    int start(uint8_t address, Direction direction, bool repeated);
    void stop();
    void offsetTransmit(uint32_t offset, int offsetLength);
    void receive(uint8_t* buffer, size_t length);
    int ackPoll(uint8_t address);
    // Takes the lock and selects the device; its address, or 0 when the
    // device number is not in the table (the lock is then given back).
    uint8_t begin(int device);
    // Gives the lock back; after a hung wait, releases the bus and gives
    // ERROR instead of the result.
    int end(int result);

    Loader& loader_;
    std::unique_ptr<BinarySemaphore> i2cSem;
    bool hung_ = false;
};

}  // namespace swboot
