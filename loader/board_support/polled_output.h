// Polled output on the console UART, a 16550-compatible part at
// 0xF0004500: characters go straight into its transmitter, each after the
// transmitter-empty status bit, without the console driver. The reboot
// path and the event log's fatal path use it where the driver cannot be
// trusted.
#pragma once

#include <cstdint>

namespace swboot {

class Bus;
class Cpu;

inline constexpr uint32_t CONSOLE_UART_BASE = 0xF0004500;
inline constexpr uint32_t CONSOLE_UART_DATA = CONSOLE_UART_BASE + 0;
inline constexpr uint32_t CONSOLE_UART_INTERRUPT_ENABLE = CONSOLE_UART_BASE + 1;
inline constexpr uint32_t CONSOLE_UART_LINE_STATUS = CONSOLE_UART_BASE + 5;
inline constexpr uint8_t UART_LSR_TRANSMITTER_EMPTY = 0x20;
// The receive and transmit interrupt enables.
inline constexpr uint8_t UART_IER_RX_TX_MASK = 0x03;

// Polls per character before it is written regardless.
inline constexpr int POLLED_CHAR_POLLS = 10000;
// Polls for the last character to leave before the interrupt enables are
// put back.
inline constexpr int POLLED_DRAIN_POLLS = 65536;

// Waits at most the given polls for the transmitter-empty bit; true when
// it came.
bool polledTransmitterWait(Bus& bus, int polls);
// Sends one character: waits for the transmitter (at most 10000 polls),
// then writes the data register whether or not the bit came.
void polledCharOut(Bus& bus, char c);
// Sends a string, a carriage return before each line feed.
void polledStringOut(Bus& bus, const char* text);
// The string with interrupts locked around it.
void polledOutput(Bus& bus, Cpu& cpu, const char* text);

}  // namespace swboot
