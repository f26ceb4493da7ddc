// The board CPLD as the loader drives it: byte registers at
// 0xD0000000.
#pragma once

#include <cstdint>

namespace swboot {

inline constexpr uint32_t CPLD_BASE = 0xD0000000;

inline constexpr uint32_t CPLD_RESET_CONTROL = CPLD_BASE + 0x0;
inline constexpr uint32_t CPLD_LED_REGISTER_1 = CPLD_BASE + 0x1;
inline constexpr uint32_t CPLD_LED_REGISTER_2 = CPLD_BASE + 0x2;
inline constexpr uint32_t CPLD_REGISTER_3 = CPLD_BASE + 0x3;
inline constexpr uint32_t CPLD_FAN_STATUS = CPLD_BASE + 0x5;
inline constexpr uint32_t CPLD_MODULE_TYPE = CPLD_BASE + 0x6;
inline constexpr uint32_t CPLD_MODULE_PRESENCE = CPLD_BASE + 0x7;
inline constexpr uint32_t CPLD_BOARD_TYPE = CPLD_BASE + 0x8;
// The I2C multiplexer's channel register.
inline constexpr uint32_t CPLD_I2C_MUX = CPLD_BASE + 0x9;
inline constexpr uint32_t CPLD_BOARD_REVISION = CPLD_BASE + 0xB;
inline constexpr uint32_t CPLD_PLD_REVISION = CPLD_BASE + 0xC;
inline constexpr uint32_t CPLD_UNIT_DISPLAY_1 = CPLD_BASE + 0xE;
inline constexpr uint32_t CPLD_UNIT_DISPLAY_2 = CPLD_BASE + 0xF;

inline constexpr uint8_t CPLD_RESET_RUN = 0x00;
inline constexpr uint8_t CPLD_RESET_REQUEST = 0x10;

// Lamp bits of the LED registers.
inline constexpr uint8_t LED_LAMP_A1 = 0x01;
inline constexpr uint8_t LED_LAMP_A2 = 0x02;
inline constexpr uint8_t LED_LAMP_B1 = 0x10;
inline constexpr uint8_t LED_LAMP_B2 = 0x20;
inline constexpr uint8_t LED_OFF = 0x00;
// Register 1 while the loader runs, and on a fault.
inline constexpr uint8_t LED_PATTERN_RUNNING = 0x50;
inline constexpr uint8_t LED_PATTERN_FAULT = 0x60;

inline constexpr uint8_t CPLD_REGISTER_3_STARTUP = 0x44;
// The unit display shows a digit d as this base plus d.
inline constexpr uint8_t UNIT_DISPLAY_DIGIT_BASE = 0x10;

}  // namespace swboot
