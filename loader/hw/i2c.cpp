#include "hw/i2c.h"

#include <cstring>

#include "board_support/cpld_registers.h"
#include "common/bytes.h"
#include "loader.h"

namespace swboot {

const I2cDevice I2C_DEVICE_TABLE[I2C_DEVICE_COUNT] = {
    {0, 0xFF, ""},  // 0
    {0, 0xA2, "EEPROM"},  // 1
    {0, 0x92, "CPU"},  // 2
    {0, 0x96, "LM75"},  // 3
    {0, 0x9A, "LM75A"},  // 4
    {0, 0x9C, "LM75B"},  // 5
    {0, 0xD0, "RTC"},  // 6
    {0, 0xA0, "SFP1"},  // 7
    {1, 0xA0, "SFP2"},  // 8
    {2, 0xA0, "SFP3"},  // 9
    {3, 0xA0, "SFP4"},  // 10
    {4, 0xA0, "XFP1"},  // 11
    {5, 0xA0, "XFP2"},  // 12
    {6, 0xA0, "XFP3"},  // 13
    {7, 0xA0, "XFP4"},  // 14
    {8, 0xA0, "SFP-Fiber1"},  // 15
    {9, 0xA0, "SFP-Fiber2"},  // 16
    {10, 0xA0, "SFP-Fiber3"},  // 17
    {11, 0xA0, "SFP-Fiber4"},  // 18
    {12, 0xA0, "SFP-Fiber5"},  // 19
    {13, 0xA0, "SFP-Fiber6"},  // 20
    {14, 0xA0, "SFP-Fiber7"},  // 21
    {15, 0xA0, "SFP-Fiber8"},  // 22
    {16, 0xA0, "SFP-Fiber9"},  // 23
    {17, 0xA0, "SFP-Fiber10"},  // 24
    {18, 0xA0, "SFP-Fiber11"},  // 25
    {19, 0xA0, "SFP-Fiber12"},  // 26
    {20, 0xA0, "SFP-Fiber13"},  // 27
    {21, 0xA0, "SFP-Fiber14"},  // 28
    {22, 0xA0, "SFP-Fiber15"},  // 29
    {23, 0xA0, "SFP-Fiber16"},  // 30
    {24, 0xA0, "SFP-Fiber17"},  // 31
    {25, 0xA0, "SFP-Fiber18"},  // 32
    {26, 0xA0, "SFP-Fiber19"},  // 33
    {27, 0xA0, "SFP-Fiber20"},  // 34
    {28, 0xA0, "SFP-Fiber21"},  // 35
    {29, 0xA0, "SFP-Fiber22"},  // 36
    {30, 0xA0, "SFP-Fiber23"},  // 37
    {31, 0xA0, "SFP-Fiber24"},  // 38
    {8, 0xAC, "SFP-Fiber1-MII"},  // 39
    {9, 0xAC, "SFP-Fiber2-MII"},  // 40
    {10, 0xAC, "SFP-Fiber3-MII"},  // 41
    {11, 0xAC, "SFP-Fiber4-MII"},  // 42
    {12, 0xAC, "SFP-Fiber5-MII"},  // 43
    {13, 0xAC, "SFP-Fiber6-MII"},  // 44
    {14, 0xAC, "SFP-Fiber7-MII"},  // 45
    {15, 0xAC, "SFP-Fiber8-MII"},  // 46
    {16, 0xAC, "SFP-Fiber9-MII"},  // 47
    {17, 0xAC, "SFP-Fiber10-MII"},  // 48
    {18, 0xAC, "SFP-Fiber11-MII"},  // 49
    {19, 0xAC, "SFP-Fiber12-MII"},  // 50
    {20, 0xAC, "SFP-Fiber13-MII"},  // 51
    {21, 0xAC, "SFP-Fiber14-MII"},  // 52
    {22, 0xAC, "SFP-Fiber15-MII"},  // 53
    {23, 0xAC, "SFP-Fiber16-MII"},  // 54
    {24, 0xAC, "SFP-Fiber17-MII"},  // 55
    {25, 0xAC, "SFP-Fiber18-MII"},  // 56
    {26, 0xAC, "SFP-Fiber19-MII"},  // 57
    {27, 0xAC, "SFP-Fiber20-MII"},  // 58
    {28, 0xAC, "SFP-Fiber21-MII"},  // 59
    {29, 0xAC, "SFP-Fiber22-MII"},  // 60
    {30, 0xAC, "SFP-Fiber23-MII"},  // 61
    {31, 0xAC, "SFP-Fiber24-MII"},  // 62
};

namespace {

constexpr uint8_t READ_BIT = 0x01;
constexpr uint8_t I2C_BUS_LINES_HIGH = 0xFF;

}  // namespace

uint8_t I2c::regRead(uint32_t reg) {
    loader_.p.cpu.sync();
    return static_cast<uint8_t>(byteReverse32(loader_.p.bus.read32(I2C_BASE + reg)));
}

void I2c::regWrite(uint32_t reg, uint32_t value) {
    loader_.p.bus.write32(I2C_BASE + reg, byteReverse32(value));
    loader_.p.cpu.sync();
}

void I2c::crSet(uint8_t bits) { regWrite(I2C_CR, regRead(I2C_CR) | bits); }

void I2c::crClear(uint8_t bits) { regWrite(I2C_CR, regRead(I2C_CR) & static_cast<uint8_t>(~bits)); }

void I2c::idle() {
    volatile uint32_t count = 0;
    for (int i = 0; i < I2C_POLL_IDLE_LOOPS; ++i) {
        count = count + 1;
    }
}

bool I2c::transferWait() {
    for (int polls = 0; polls < I2C_WAIT_POLL_LIMIT; ++polls) {
        if (regRead(I2C_SR) & I2C_SR_MIF) {
            return true;
        }
        idle();
    }
    hung_ = true;
    return false;
}

int I2c::byteTransmit(uint8_t byte) {
    if (hung_) {
        return ERROR;
    }
    regWrite(I2C_DR, byte);
    uint8_t status = 0;
    for (int polls = 0;; ++polls) {
        if (polls == I2C_WAIT_POLL_LIMIT) {
            hung_ = true;
            return ERROR;
        }
        status = regRead(I2C_SR);
        if (status & I2C_SR_MIF) {
            break;
        }
        idle();
    }
    regWrite(I2C_SR, 0);
    return (status & I2C_SR_RXAK) ? ERROR : OK;
}

int I2c::start(uint8_t address, Direction direction, bool repeated) {
    if (hung_) {
        return ERROR;
    }
    if (repeated) {
        crSet(I2C_CR_RSTA);
    } else {
        int polls = 0;
        while (regRead(I2C_SR) & I2C_SR_MBB) {
            if (++polls == I2C_WAIT_POLL_LIMIT) {
                hung_ = true;
                return ERROR;
            }
        }
        crSet(I2C_CR_MSTA);
    }
    crSet(I2C_CR_MTX);
    return byteTransmit(direction == Direction::Read ? static_cast<uint8_t>(address | READ_BIT)
                                                     : static_cast<uint8_t>(address & ~READ_BIT));
}

void I2c::stop() { crClear(I2C_CR_MSTA); }

void I2c::offsetTransmit(uint32_t offset, int offsetLength) {
    for (int k = offsetLength - 1; k >= 0; --k) {
        byteTransmit(static_cast<uint8_t>(offset >> (8 * k)));
    }
}

void I2c::receive(uint8_t* buffer, size_t length) {
    size_t done = 0;
    if (!hung_) {
        if (length == 1) {
            crSet(I2C_CR_TXAK);
            regRead(I2C_DR);  // starts the transfer
            if (transferWait()) {
                regWrite(I2C_SR, 0);
                stop();
                buffer[0] = regRead(I2C_DR);
                done = 1;
            }
        } else {
            regRead(I2C_DR);  // starts the first transfer
            for (size_t i = 0; i < length; ++i) {
                if (!transferWait()) {
                    break;
                }
                regWrite(I2C_SR, 0);
                if (i == length - 1) {
                    stop();
                }
                if (i == length - 2) {
                    crSet(I2C_CR_TXAK);
                }
                buffer[i] = regRead(I2C_DR);
                done = i + 1;
            }
        }
    }
    // What a transfer that never finished leaves: the lines as nobody drives them.
    std::memset(buffer + done, I2C_BUS_LINES_HIGH, length - done);
}

int I2c::ackPoll(uint8_t address) {
    for (int attempt = 0; attempt < I2C_ACK_POLL_ATTEMPTS && !hung_; ++attempt) {
        int acknowledged = start(address, Direction::Write, false);
        stop();
        if (acknowledged == OK) {
            return OK;
        }
    }
    return ERROR;
}

uint8_t I2c::begin(int device) {
    i2cSem->take();
    if (device < 1 || device > I2C_DEVICE_LAST) {
        i2cSem->give();
        return 0;
    }
    const I2cDevice& entry = I2C_DEVICE_TABLE[device];
    loader_.p.bus.write8(CPLD_I2C_MUX, entry.channel);
    return entry.address;
}

int I2c::end(int result) {
    if (hung_) {
        // Leave the bus to whoever holds it, and let the next transfer try.
        crClear(I2C_CR_MSTA | I2C_CR_MTX | I2C_CR_TXAK);
        hung_ = false;
        result = ERROR;
    }
    i2cSem->give();
    return result;
}

int I2c::i2cInit(uint8_t ownAddress, uint8_t filter, uint8_t divider) {
    i2cSem = loader_.p.tasks.binarySemaphoreCreate();
    regWrite(I2C_FDR, ((static_cast<uint32_t>(filter) << 8) | divider) & I2C_FDR_MASK);
    regWrite(I2C_ADR, ownAddress);
    regWrite(I2C_CR, I2C_CR_MTX);
    crSet(I2C_CR_MEN);
    return OK;
}

int I2c::i2cRead(int device, uint8_t* buffer, size_t length) {
    if (length == 0 || !i2cSem) {
        return ERROR;
    }
    uint8_t address = begin(device);
    if (address == 0) {
        return ERROR;
    }
    crClear(I2C_CR_TXAK);
    start(address, Direction::Read, false);
    crClear(I2C_CR_MTX);
    receive(buffer, length);
    return end(OK);
}

int I2c::i2cRegRead(int device, uint32_t offset, int offsetLength, uint8_t* buffer, size_t length) {
    if (length == 0 || !i2cSem || offsetLength < 1 || offsetLength > I2C_OFFSET_LENGTH_MAX) {
        return ERROR;
    }
    uint8_t address = begin(device);
    if (address == 0) {
        return ERROR;
    }
    regWrite(I2C_FDR, I2C_FDR_WORD);
    crClear(I2C_CR_TXAK);
    start(address, Direction::Write, false);
    offsetTransmit(offset, offsetLength);
    start(address, Direction::Read, true);
    crClear(I2C_CR_MTX);
    receive(buffer, length);
    if (length >= 2) {
        crSet(I2C_CR_TXAK);
    }
    return end(OK);
}

int I2c::i2cWrite(int device, const uint8_t* data, size_t length) {
    if (length == 0 || !i2cSem) {
        return ERROR;
    }
    uint8_t address = begin(device);
    if (address == 0) {
        return ERROR;
    }
    start(address, Direction::Write, false);
    crSet(I2C_CR_MTX);
    for (size_t i = 0; i < length; ++i) {
        byteTransmit(data[i]);
    }
    stop();
    return end(ackPoll(address));
}

int I2c::i2cRegWrite(int device, uint32_t offset, int offsetLength, const uint8_t* data, size_t length) {
    if (length == 0 || !i2cSem || offsetLength < 1 || offsetLength > I2C_OFFSET_LENGTH_MAX) {
        return ERROR;
    }
    uint8_t address = begin(device);
    if (address == 0) {
        return ERROR;
    }
    regWrite(I2C_FDR, I2C_FDR_WORD);
    start(address, Direction::Write, false);
    offsetTransmit(offset, offsetLength);
    for (size_t i = 0; i < length; ++i) {
        byteTransmit(data[i]);
    }
    stop();
    return end(ackPoll(address));
}

}  // namespace swboot
