// The board's I2C multiplexer: the CPLD's mux register connects one branch
// (channel) of the bus to the processor's controller at a time. Devices sit
// on a channel at a 7-bit address; an address that no device on the
// selected channel answers is not acknowledged and reads as 0xFF (the lines
// stay high).
//
// Faults for tests and profiles: a device that never acknowledges, and a
// bus that some other master or a stuck device holds busy.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "board/i2c_slave.h"

namespace sim {

class I2cMux {
public:
    static constexpr uint8_t LINES_HIGH = 0xFF;

    explicit I2cMux(std::function<uint8_t()> channel) : channel_(std::move(channel)) {}

    // Puts a device on a channel; a second device at the same place is a
    // configuration error (std::invalid_argument).
    void attach(uint8_t channel, uint8_t address7, I2cSlave& device, const std::string& name);

    // Bus face for the controller.
    void startCondition();
    bool addressByte(uint8_t byte);
    bool writeByte(uint8_t byte);
    uint8_t readByte(bool masterAcknowledges);
    void stopCondition();
    bool heldBusy() const { return heldBusy_; }

    // Control face.
    uint8_t channel() const { return channel_(); }
    void setNoAcknowledge(uint8_t channel, uint8_t address7, bool noAcknowledge);
    void setHeldBusy(bool busy) { heldBusy_ = busy; }
    // The device's name at the selected channel and address, or "".
    std::string nameAt(uint8_t address7) const;
    // How many address bytes went out on the bus.
    int addressCount() const { return addressCount_; }

private:
    struct Place {
        I2cSlave* device = nullptr;
        std::string name;
        bool noAcknowledge = false;
    };
    using Key = std::pair<uint8_t, uint8_t>;

    std::function<uint8_t()> channel_;
    std::map<Key, Place> places_;
    I2cSlave* selected_ = nullptr;
    bool heldBusy_ = false;
    int addressCount_ = 0;
};

}  // namespace sim
