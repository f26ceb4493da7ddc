#include "board/cpld.h"

#include <cstdio>

#include "board/board_events.h"

namespace sim {

namespace {

constexpr size_t WRITE_LOG_MAX = 100000;

std::string lampText(uint8_t value) {
    // Lamp bits: 0x01 and 0x02 one colour pair, 0x10 and 0x20 the other.
    std::string text;
    const struct {
        uint8_t bit;
        const char* name;
    } lamps[] = {{0x01, "A1"}, {0x02, "A2"}, {0x10, "B1"}, {0x20, "B2"}};
    for (const auto& lamp : lamps) {
        if (value & lamp.bit) {
            text += text.empty() ? "" : "+";
            text += lamp.name;
        }
    }
    return text.empty() ? "off" : text;
}

}  // namespace

Cpld::Cpld(const Identity& identity) : identity_(identity) { powerUp(); }

void Cpld::setIdentity(const Identity& identity) {
    identity_ = identity;
    regs_[REG_FAN_STATUS] = identity_.fanStatus;
    regs_[REG_MODULE_TYPE] = identity_.moduleType;
    regs_[REG_MODULE_PRESENCE] = identity_.modulePresence;
    regs_[REG_BOARD_TYPE] = identity_.boardType;
    regs_[REG_BOARD_REVISION] = identity_.boardRevision;
    regs_[REG_PLD_REVISION] = identity_.pldRevision;
}

void Cpld::powerUp() {
    regs_.fill(0);
    setIdentity(identity_);
}

uint8_t Cpld::read(uint8_t reg) const { return regs_[reg & 0xF]; }

std::string Cpld::describe(uint8_t reg, uint8_t value) {
    char text[96];
    switch (reg) {
        case REG_RESET_CONTROL:
            std::snprintf(text, sizeof text, "reset control <- 0x%02x%s", value,
                          value == RESET_REQUEST ? " (board reset)" : "");
            break;
        case REG_LED1:
        case REG_LED2:
            std::snprintf(text, sizeof text, "lamps %d <- 0x%02x (%s)", reg, value, lampText(value).c_str());
            break;
        case REG_UNIT_DISPLAY1:
        case REG_UNIT_DISPLAY2:
            if ((value & 0xF0) == UNIT_DISPLAY_DIGIT_BASE) {
                std::snprintf(text, sizeof text, "unit display %d <- 0x%02x (digit %X)",
                              reg - REG_UNIT_DISPLAY1 + 1, value, value & 0x0F);
            } else {
                std::snprintf(text, sizeof text, "unit display %d <- 0x%02x", reg - REG_UNIT_DISPLAY1 + 1, value);
            }
            break;
        case REG_I2C_MUX:
            std::snprintf(text, sizeof text, "i2c mux <- channel %d", value);
            break;
        default:
            std::snprintf(text, sizeof text, "register 0x%x <- 0x%02x", reg, value);
            break;
    }
    return text;
}

void Cpld::write(uint8_t reg, uint8_t value) {
    reg &= 0xF;
    int64_t when = now_ ? now_() : 0;
    if (writes_.size() < WRITE_LOG_MAX) {
        writes_.push_back({when, reg, value});
    }
    if (trace_) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "cpld %9.3f: ", static_cast<double>(when) / 1e6);
        trace_(prefix + describe(reg, value));
    }
    switch (reg) {
        case REG_FAN_STATUS:
        case REG_MODULE_TYPE:
        case REG_MODULE_PRESENCE:
        case REG_BOARD_TYPE:
        case REG_BOARD_REVISION:
        case REG_PLD_REVISION:
            return;  // read-only straps and sensors
        default:
            break;
    }
    regs_[reg] = value;
    if (reg == REG_RESET_CONTROL && value == RESET_REQUEST) {
        if (resetHandler_) {
            resetHandler_();
        }
        throw BoardReset{"CPLD reset request"};
    }
}

}  // namespace sim
