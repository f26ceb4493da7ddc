#include "diag/memory_tool.h"

#include <cstring>

#include "common/text.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr const char* TOKEN_DELIMITERS = " ";

bool letterOrDigit(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

void MemoryTool::help() {
    Stdio& io = loader_.io;
    io.printf("\n\nCommands...\n\nr <address in hex> <length in bytes>\n"
              "wb <address in hex> <data in hex> (write an 8-bit word of data)\n"
              "ww <address in hex> <data in hex> (write a 16-bit word of data)\n"
              "wl <address in hex> <data in hex> (write a 32-bit word of data)\n");
    io.printf("Example: r 7c004000 10 \n");
    io.printf("Example: wb 7c004000 ff \n");
    io.printf("q to quit\n");
}

void MemoryTool::dump(uint32_t address, int length) {
    Stdio& io = loader_.io;
    Bus& bus = loader_.p.bus;
    char textColumn[MEMORY_TOOL_ROW + 1] = {};

    io.printf("         ");
    int heads = length < MEMORY_TOOL_ROW ? length : MEMORY_TOOL_ROW;
    for (int i = 0; i < (heads > 0 ? heads : 1); ++i) {
        io.printf("%1x  ", i);
    }
    for (int i = 0; i < length; ++i) {
        if (i % MEMORY_TOOL_ROW == 0) {
            io.printf("%s", textColumn);
            std::memset(textColumn, 0, sizeof textColumn);
            io.printf("\n%08x ", address + static_cast<uint32_t>(i));
        }
        uint8_t byte = bus.read8(address + static_cast<uint32_t>(i));
        io.printf("%02x ", byte);
        textColumn[i % MEMORY_TOOL_ROW] = letterOrDigit(byte) ? static_cast<char>(byte) : '-';
    }
    if (length > 0 && length % MEMORY_TOOL_ROW != 0) {
        for (int missing = MEMORY_TOOL_ROW - length % MEMORY_TOOL_ROW; missing > 0; --missing) {
            io.printf("   ");
        }
    }
    io.printf("%s", textColumn);
    io.printf("\n");
}

void MemoryTool::memoryTool() {
    Stdio& io = loader_.io;
    Bus& bus = loader_.p.bus;
    help();
    for (;;) {
        char line[MEMORY_TOOL_LINE_SIZE];
        io.printf("> ");
        io.flush();
        if (io.fgets(line, sizeof line) == nullptr) {
            io.printf("\n\nError reading from stream!\nCommand aborted.\n");
            return;
        }
        char* state = nullptr;
        const char* command = textToken(line, TOKEN_DELIMITERS, &state);
        if (command == nullptr) {
            continue;
        }
        const char kind = command[0];
        if (kind == 'q' || kind == 'Q') {
            return;
        }
        if (kind == '?') {
            help();
            continue;
        }
        const uint32_t address = hexToUnsigned(textToken(nullptr, TOKEN_DELIMITERS, &state));
        if (kind == 'r' || kind == 'R') {
            const char* length = textToken(nullptr, TOKEN_DELIMITERS, &state);
            dump(address, decimalToInt(length != nullptr ? length : ""));
        } else if (kind == 'w' || kind == 'W') {
            const uint32_t data = hexToUnsigned(textToken(nullptr, TOKEN_DELIMITERS, &state));
            switch (command[1]) {
                case 'b':
                case 'B':
                    bus.write8(address, static_cast<uint8_t>(data));
                    break;
                case 'w':
                case 'W':
                    bus.write16(address, static_cast<uint16_t>(data));
                    break;
                case 'l':
                case 'L':
                    bus.write32(address, data);
                    break;
                default:
                    break;
            }
            io.printf("\n");
        }
    }
}

}  // namespace swboot
