#include "board_support/console_input.h"

#include <cstring>

#include "common/text.h"
#include "loader.h"

namespace swboot {

void ConsoleInput::consoleLineClean(const char* raw, char* clean) {
    size_t count = 0;
    for (size_t i = 0; i < CONSOLE_LINE_SIZE && raw[i] != '\0'; ++i) {
        if (raw[i] == BACKSPACE && count > 0) {
            --count;
            clean[count] = '\0';
        } else if (count + 1 < CONSOLE_LINE_SIZE) {
            clean[count++] = raw[i];
        }
    }
    clean[count] = '\0';
}

void ConsoleInput::lineAwait(char* raw, char* clean) {
    for (;;) {
        std::memset(raw, 0, CONSOLE_LINE_SIZE);
        std::memset(clean, 0, CONSOLE_LINE_SIZE);
        if (loader_.io.lineRead(raw, CONSOLE_LINE_SIZE)) {
            return;
        }
    }
}

uint8_t ConsoleInput::menuNumberRead() {
    char raw[CONSOLE_LINE_SIZE];
    char clean[CONSOLE_LINE_SIZE];
    lineAwait(raw, clean);
    if (raw[0] == '?') {
        return MENU_CHOICE_LIST;
    }
    consoleLineClean(raw, clean);
    return static_cast<uint8_t>(decimalToInt(clean));
}

bool ConsoleInput::menuCountRead(uint8_t& count) {
    char raw[CONSOLE_LINE_SIZE];
    char clean[CONSOLE_LINE_SIZE];
    lineAwait(raw, clean);
    consoleLineClean(raw, clean);
    if (!textIsDecimal(clean)) {
        return false;
    }
    count = static_cast<uint8_t>(decimalToInt(clean));
    return true;
}

char ConsoleInput::menuAnswerRead() {
    char raw[CONSOLE_LINE_SIZE];
    char clean[CONSOLE_LINE_SIZE];
    std::memset(raw, 0, sizeof raw);
    std::memset(clean, 0, sizeof clean);
    if (!loader_.io.lineRead(raw, sizeof raw)) {
        raw[0] = '\0';
    }
    consoleLineClean(raw, clean);
    return clean[0];
}

void ConsoleInput::baudRateMenu() {
    Stdio& io = loader_.io;
    for (;;) {
        io.printf("\n\nSelect baud rate:\n");
        for (int n = 1; n <= 8; ++n) {
            io.printf("%d - %d\n", n, static_cast<int>(BAUD_RATE_TABLE[n - 1].speed));
        }
        io.printf("0 - no change\n");
        io.printf("-> ");
        io.flush();
        unsigned choice = menuNumberRead();
        if (choice > 8) {
            io.printf("\nERROR: Invalid Option:\n\n");
            continue;
        }
        if (choice == 0) {
            io.printf("\nBaud rate is not changed\n");
            return;
        }
        uint32_t speed = BAUD_RATE_TABLE[choice - 1].speed;
        loader_.consoleBaudRate = speed;
        io.printf("\nSetting baud rate to %d, you must change your terminal baud rate.\n", static_cast<int>(speed));
        io.flush();
        loader_.p.clock.taskDelay(loader_.p.clock.clockRate());
        if (loader_.p.console.baudRateSet(speed) != OK) {
            io.printf("%s:%d: Attempt to set baudrate to %d failed\n", BOOT_CONFIG_TAG, __LINE__,
                      static_cast<int>(speed));
        }
        return;
    }
}

}  // namespace swboot
