#include "board/lm75.h"

#include <cmath>

namespace sim {

Lm75::Lm75(double celsius) { setTemperature(celsius); }

void Lm75::setTemperature(double celsius) {
    if (celsius < MIN_CELSIUS) {
        celsius = MIN_CELSIUS;
    }
    if (celsius > MAX_CELSIUS) {
        celsius = MAX_CELSIUS;
    }
    halfDegrees_ = static_cast<int>(std::lround(celsius * 2.0));
}

uint16_t Lm75::registerValue(uint8_t reg) const {
    switch (reg & POINTER_MASK) {
        case REG_TEMPERATURE:
            return static_cast<uint16_t>((halfDegrees_ & 0x1FF) << 7);
        case REG_CONFIGURATION:
            return static_cast<uint16_t>(configuration_ << 8);
        case REG_HYSTERESIS:
            return hysteresis_;
        default:
            return overTemperature_;
    }
}

bool Lm75::addressed(bool read) {
    pointerNext_ = !read;
    byteIndex_ = 0;
    incoming_ = 0;
    return true;
}

bool Lm75::write(uint8_t byte) {
    if (pointerNext_) {
        pointer_ = byte & POINTER_MASK;
        pointerNext_ = false;
        byteIndex_ = 0;
        return true;
    }
    switch (pointer_) {
        case REG_CONFIGURATION:
            configuration_ = byte;
            break;
        case REG_HYSTERESIS:
        case REG_OVER_TEMPERATURE:
            if (byteIndex_ == 0) {
                incoming_ = static_cast<uint16_t>(byte << 8);
            } else if (byteIndex_ == 1) {
                incoming_ = static_cast<uint16_t>(incoming_ | (byte & 0x80));
                (pointer_ == REG_HYSTERESIS ? hysteresis_ : overTemperature_) = incoming_;
            }
            break;
        default:
            break;  // the temperature register is read-only
    }
    ++byteIndex_;
    return true;
}

uint8_t Lm75::read(bool) {
    uint16_t value = registerValue(pointer_);
    uint8_t byte = (pointer_ == REG_CONFIGURATION || byteIndex_ % 2 == 0) ? static_cast<uint8_t>(value >> 8)
                                                                           : static_cast<uint8_t>(value);
    ++byteIndex_;
    return byte;
}

}  // namespace sim
