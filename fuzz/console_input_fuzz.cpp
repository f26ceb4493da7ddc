// Fuzz target: bytes typed on the console while the loader reads menu
// numbers, yes/no answers, the baud-rate dialogue or the two-second
// choice; and the same bytes cleaned as raw lines.
//
// The first byte chooses the reader (low two bits), whether the console's
// monitor trap is left set (bit 4), and whether the first half of the rest
// arrives while the console is in raw mode, as during a transfer, before
// line mode comes back (bit 5); the rest is typed.
//
// Properties checked beyond the sanitizers: a cleaned line ends within
// its buffer, is never longer than the raw line, and can hold a backspace
// only as its first character; the console speed is always one of the
// table's; the two-second choice answers 1 or 2; a reader that runs until
// the input is used up leaves no whole line unread.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstring>
#include <string_view>
#include <vector>

#include "board/board_events.h"
#include "fuzz_board.h"
#include "loader.h"

namespace {

void cleanChunks(std::string_view typed) {
    using swboot::CONSOLE_LINE_SIZE;
    for (size_t at = 0; at < typed.size(); at += CONSOLE_LINE_SIZE - 1) {
        char raw[CONSOLE_LINE_SIZE] = {};
        char clean[CONSOLE_LINE_SIZE];
        std::memset(clean, 0x7E, sizeof clean);
        typed.copy(raw, CONSOLE_LINE_SIZE - 1, at);
        swboot::ConsoleInput::consoleLineClean(raw, clean);
        const void* end = std::memchr(clean, '\0', sizeof clean);
        fuzzing::brokenIf(end == nullptr, "the cleaned line has no terminator in its buffer");
        size_t cleanLength = static_cast<size_t>(static_cast<const char*>(end) - clean);
        fuzzing::brokenIf(cleanLength > std::strlen(raw), "cleaning made the line longer");
        for (size_t i = 1; i < cleanLength; ++i) {
            fuzzing::brokenIf(clean[i] == swboot::BACKSPACE, "a backspace kept behind another character");
        }
    }
}

// True when a whole line is still waiting on the console. Switches the
// console to raw mode to look.
bool wholeLineLeft(swboot::Console& console) {
    console.optionsSet(swboot::OPT_RAW);
    uint8_t bytes[4096];
    while (console.waitReadable(0) == 1) {
        long n = console.read(bytes, sizeof bytes);
        if (n <= 0) {
            break;
        }
        if (std::memchr(bytes, '\n', static_cast<size_t>(n)) != nullptr) {
            return true;
        }
    }
    return false;
}

bool tableSpeed(uint32_t speed) {
    return std::any_of(std::begin(swboot::BAUD_RATE_TABLE), std::end(swboot::BAUD_RATE_TABLE),
                       [speed](const swboot::BaudRateEntry& entry) { return entry.speed == speed; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::runSelected(data, size, [](fuzzing::FuzzBoard& fb, uint8_t selector, std::string_view typed) {
        using namespace swboot;
        cleanChunks(typed);
        fb.runLoader([&](Loader& loader) {
            Console& console = fb.platform().console;
            if ((selector & 0x10) == 0) {
                console.optionsSet(console.optionsGet() & ~OPT_MON_TRAP);  // as startup leaves it
            }
            std::string_view text = typed;
            if (selector & 0x20) {
                const uint32_t lineMode = console.optionsGet();
                console.optionsSet(OPT_RAW);
                const std::string_view early = text.substr(0, typed.size() / 2);
                fb.line().deliver(std::vector<uint8_t>(early.begin(), early.end()));
                console.waitReadable(0);
                console.optionsSet(lineMode);
                text = text.substr(typed.size() / 2);
            }
            fb.type(text);
            if ((selector & 0x03) == 3) {
                // Every asking takes a line or times out, so this many askings
                // use up the input.
                for (size_t i = 0; i <= typed.size(); ++i) {
                    int choice = loader.startup.autoBootPrompt();
                    fuzzing::brokenIf(choice != 1 && choice != 2, "the two-second choice gave neither 1 nor 2");
                }
                return;
            }
            try {
                for (;;) {
                    switch (selector & 0x03) {
                        case 0:
                            loader.input.menuNumberRead();
                            break;
                        case 1:
                            loader.input.menuAnswerRead();
                            break;
                        default:
                            loader.input.baudRateMenu();
                            fuzzing::brokenIf(!tableSpeed(loader.consoleBaudRate),
                                              "the console speed is not one of the table's");
                            break;
                    }
                }
            } catch (const sim::BoardPowerOff&) {
                // The reader waited for input that will never come: all of it
                // must have been read.
                fuzzing::brokenIf(wholeLineLeft(console), "a whole line was left unread");
                throw;
            }
        });
    });
}
