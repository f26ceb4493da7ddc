#include "board_support/polled_output.h"

#include "platform/bus.h"
#include "platform/cpu.h"

namespace swboot {

bool polledTransmitterWait(Bus& bus, int polls) {
    for (int i = 0; i < polls; ++i) {
        if (bus.read8(CONSOLE_UART_LINE_STATUS) & UART_LSR_TRANSMITTER_EMPTY) {
            return true;
        }
    }
    return false;
}

void polledCharOut(Bus& bus, char c) {
    polledTransmitterWait(bus, POLLED_CHAR_POLLS);
    bus.write8(CONSOLE_UART_DATA, static_cast<uint8_t>(c));
}

void polledStringOut(Bus& bus, const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') {
            polledCharOut(bus, '\r');
        }
        polledCharOut(bus, *p);
    }
}

void polledOutput(Bus& bus, Cpu& cpu, const char* text) {
    int key = cpu.intLock();
    polledStringOut(bus, text);
    cpu.intUnlock(key);
}

}  // namespace swboot
