#include "board/i2c_mux.h"

#include <cstdio>
#include <stdexcept>

namespace sim {

void I2cMux::attach(uint8_t channel, uint8_t address7, I2cSlave& device, const std::string& name) {
    Key key{channel, static_cast<uint8_t>(address7 & 0x7F)};
    if (places_.count(key)) {
        char text[128];
        std::snprintf(text, sizeof text, "two I2C devices at channel %u address 0x%02x (%s and %s)", channel,
                      address7, places_[key].name.c_str(), name.c_str());
        throw std::invalid_argument(text);
    }
    places_[key] = Place{&device, name, false};
}

void I2cMux::setNoAcknowledge(uint8_t channel, uint8_t address7, bool noAcknowledge) {
    auto it = places_.find(Key{channel, static_cast<uint8_t>(address7 & 0x7F)});
    if (it == places_.end()) {
        throw std::invalid_argument("no I2C device there to fail");
    }
    it->second.noAcknowledge = noAcknowledge;
}

std::string I2cMux::nameAt(uint8_t address7) const {
    auto it = places_.find(Key{channel_(), static_cast<uint8_t>(address7 & 0x7F)});
    return it == places_.end() ? std::string() : it->second.name;
}

void I2cMux::startCondition() {
    if (selected_ != nullptr) {
        selected_->stop();
        selected_ = nullptr;
    }
}

bool I2cMux::addressByte(uint8_t byte) {
    ++addressCount_;
    auto it = places_.find(Key{channel_(), static_cast<uint8_t>(byte >> 1)});
    if (it == places_.end() || it->second.noAcknowledge) {
        return false;
    }
    if (!it->second.device->addressed((byte & 1) != 0)) {
        return false;
    }
    selected_ = it->second.device;
    return true;
}

bool I2cMux::writeByte(uint8_t byte) { return selected_ != nullptr && selected_->write(byte); }

uint8_t I2cMux::readByte(bool masterAcknowledges) {
    return selected_ != nullptr ? selected_->read(masterAcknowledges) : LINES_HIGH;
}

void I2cMux::stopCondition() {
    if (selected_ != nullptr) {
        selected_->stop();
        selected_ = nullptr;
    }
}

}  // namespace sim
