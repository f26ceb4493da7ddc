// A device on the board's I2C bus, as the bus sees it: it is addressed
// after a start condition, takes bytes (acknowledging each or not), gives
// bytes when read, and sees the stop condition.
#pragma once

#include <cstdint>

namespace sim {

class I2cSlave {
public:
    virtual ~I2cSlave() = default;

    // The device's address byte came with the read bit set or clear; true
    // when the device acknowledges it.
    virtual bool addressed(bool read) = 0;
    // A byte from the master; true when acknowledged.
    virtual bool write(uint8_t byte) = 0;
    // The byte the device drives onto the bus; the master acknowledges it
    // (more wanted) or not (the last one).
    virtual uint8_t read(bool masterAcknowledges) = 0;
    // A stop condition, or a repeated start, ended the transaction.
    virtual void stop() = 0;
};

}  // namespace sim
