// A 24C02-type serial EEPROM (256 bytes) on the I2C bus: the board's own
// EEPROM.
//
// Modelled: the word address set by the first byte of a write, sequential
// reads that advance it and wrap at 256, page writes of up to 8 bytes that
// wrap within their page, and the internal write cycle after the stop of a
// write, during which the part does not acknowledge its address (the
// cycle lasts a fixed number of address attempts, so that acknowledge
// polling is needed and deterministic). Contents live only as long as the
// simulator runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "board/i2c_slave.h"

namespace sim {

class Eeprom24c02 : public I2cSlave {
public:
    static constexpr size_t SIZE = 256;
    static constexpr size_t PAGE_SIZE = 8;
    static constexpr int WRITE_CYCLE_ADDRESS_ATTEMPTS = 5;

    explicit Eeprom24c02(const std::array<uint8_t, SIZE>& contents) : bytes_(contents) {}

    bool addressed(bool read) override;
    bool write(uint8_t byte) override;
    uint8_t read(bool masterAcknowledges) override;
    void stop() override;

    const std::array<uint8_t, SIZE>& contents() const { return bytes_; }
    bool writeCycleBusy() const { return busyAttempts_ > 0; }

private:
    std::array<uint8_t, SIZE> bytes_;
    uint8_t address_ = 0;
    bool addressNext_ = false;
    bool dataWritten_ = false;
    int busyAttempts_ = 0;
};

}  // namespace sim
