#include "eventlog/log_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "common/text_sink.h"

namespace swboot {

namespace {

constexpr uint32_t SECONDS_PER_DAY = 86400;
constexpr uint32_t SECONDS_PER_HOUR = 3600;
constexpr uint32_t SECONDS_PER_MINUTE = 60;
constexpr int CORRUPT_WORDS_SHOWN = 6;

struct TimeSplit {
    unsigned days;
    unsigned hours;
    unsigned minutes;
    unsigned seconds;
};

TimeSplit timeSplit(uint32_t seconds) {
    uint32_t rest = seconds % SECONDS_PER_DAY;
    return {seconds / SECONDS_PER_DAY, rest / SECONDS_PER_HOUR, rest % SECONDS_PER_HOUR / SECONDS_PER_MINUTE,
            rest % SECONDS_PER_MINUTE};
}

// Appends formatted text; the text stays terminated and within its size
// whatever the values, and the result is the new length.
size_t appendf(char* text, size_t size, size_t used, const char* format, ...) SWBOOT_PRINTF(4, 5);
size_t appendf(char* text, size_t size, size_t used, const char* format, ...) {
    if (used + 1 >= size) {
        return used;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text + used, size - used, format, args);
    va_end(args);
    if (n < 0) {
        text[used] = '\0';
        return used;
    }
    size_t added = static_cast<size_t>(n);
    return used + added < size ? used + added : size - 1;
}

unsigned long word(const uint8_t* entry, size_t offset) { return getBe32(entry + offset); }

}  // namespace

uint32_t logEntryType(const uint8_t* entry) { return getBe32(entry + LOG_OFFSET_TYPE); }

void logEntryBuild(uint8_t* entry, uint32_t type, const char* sourceName, int32_t line, uint32_t task,
                   uint32_t code, uint32_t seconds) {
    putBe32(entry + LOG_OFFSET_TYPE, type);
    size_t i = 0;
    for (; sourceName != nullptr && sourceName[i] != '\0' && i < LOG_NAME_LENGTH; ++i) {
        entry[LOG_OFFSET_NAME + i] = static_cast<uint8_t>(sourceName[i]);
    }
    for (; i < LOG_NAME_LENGTH; ++i) {
        entry[LOG_OFFSET_NAME + i] = ' ';
    }
    putBe32(entry + LOG_OFFSET_LINE, static_cast<uint32_t>(line));
    putBe32(entry + LOG_OFFSET_TASK, task);
    putBe32(entry + LOG_OFFSET_CODE, code);
    putBe32(entry + LOG_OFFSET_TIME, seconds);
}

void logExceptionEntryBuild(uint8_t* entry, uint32_t type, const LogExceptionRegisters& registers,
                            uint32_t seconds) {
    std::memset(entry, 0, LOG_ENTRY_SIZE);
    putBe32(entry + LOG_OFFSET_TYPE, type);
    putBe32(entry + LOG_OFFSET_SRR0, registers.srr0);
    putBe32(entry + LOG_OFFSET_SRR1, registers.srr1);
    putBe32(entry + LOG_OFFSET_MSR, registers.msr);
    putBe32(entry + LOG_OFFSET_DSISR, registers.dsisr);
    putBe32(entry + LOG_OFFSET_DAR, registers.dar);
    putBe32(entry + LOG_OFFSET_EXCEPTION_TIME, seconds);
}

long logNewestEntry(const LogTable& table) {
    if (table.bytes == nullptr || table.entries == 0) {
        return -1;
    }
    for (uint32_t i = 0; i < table.entries; ++i) {
        if (logEntryType(table.entry(i)) == LOG_TYPE_EMPTY) {
            return static_cast<long>(i) - 1;
        }
    }
    return static_cast<long>(table.entries) - 1;
}

bool logEntryRender(const uint8_t* entry, char* text, size_t size) {
    if (size == 0) {
        return false;
    }
    text[0] = '\0';
    uint32_t type = logEntryType(entry);
    size_t n = 0;
    switch (type) {
        case LOG_TYPE_EMPTY:
            return false;
        case LOG_TYPE_EVENT:
        case LOG_TYPE_ERROR: {
            // The stored name is 32 characters without a terminating 0; a 0
            // byte among them (a damaged entry) ends it and the column is
            // filled with spaces.
            char name[LOG_NAME_LENGTH + 1] = {};
            std::memcpy(name, entry + LOG_OFFSET_NAME, LOG_NAME_LENGTH);
            TimeSplit t = timeSplit(getBe32(entry + LOG_OFFSET_TIME));
            n = appendf(text, size, n, "%s%-32.32s", type == LOG_TYPE_EVENT ? "EVENT> " : "ERROR> ", name);
            n = appendf(text, size, n, " %4ld ", static_cast<long>(static_cast<int32_t>(word(entry, LOG_OFFSET_LINE))));
            n = appendf(text, size, n, "%08lX ", word(entry, LOG_OFFSET_TASK));
            n = appendf(text, size, n, "%08lX", word(entry, LOG_OFFSET_CODE));
            appendf(text, size, n, "      %4d %2d %2d %2d\r\n", t.days, t.hours, t.minutes, t.seconds);
            return true;
        }
        case LOG_TYPE_MACHINE_CHECK:
        case LOG_TYPE_WATCHDOG:
        case LOG_TYPE_EXCEPTION_0300:
        case LOG_TYPE_EXCEPTION_1100: {
            const char* prefix = type == LOG_TYPE_MACHINE_CHECK ? "Machine Check > "
                                 : type == LOG_TYPE_WATCHDOG    ? "Watchdog      > "
                                 : type == LOG_TYPE_EXCEPTION_0300 ? "Exc 0x0300    > "
                                                                   : "Exc 0x1100    > ";
            TimeSplit t = timeSplit(getBe32(entry + LOG_OFFSET_EXCEPTION_TIME));
            n = appendf(text, size, n, "%s", prefix);
            n = appendf(text, size, n, "srr0:%08lX ", word(entry, LOG_OFFSET_SRR0));
            n = appendf(text, size, n, "srr1: %08lX ", word(entry, LOG_OFFSET_SRR1));
            n = appendf(text, size, n, "msr:%08lX ", word(entry, LOG_OFFSET_MSR));
            n = appendf(text, size, n, "dsisr:%08lX ", word(entry, LOG_OFFSET_DSISR));
            n = appendf(text, size, n, "dar:%08lX", word(entry, LOG_OFFSET_DAR));
            appendf(text, size, n, "  %4d %2d %2d %2d\r\n", t.days, t.hours, t.minutes, t.seconds);
            return true;
        }
        default:
            n = appendf(text, size, n, "CORRUPT ENTRY >>>>>>>");
            for (int i = 0; i < CORRUPT_WORDS_SHOWN; ++i) {
                n = appendf(text, size, n, i + 1 < CORRUPT_WORDS_SHOWN ? "%08lX " : "%08lX\r\n",
                            word(entry, static_cast<size_t>(i) * 4));
            }
            return true;
    }
}

long logRenderStep(const LogTable& table, long entry, char* text, size_t size) {
    if (size > 0) {
        text[0] = '\0';
    }
    if (table.bytes == nullptr || table.entries == 0) {
        return -1;
    }
    if (entry < 0) {
        entry = logNewestEntry(table);
        if (entry < 0) {
            return -1;
        }
    }
    if (static_cast<unsigned long>(entry) >= table.entries) {
        return -1;
    }
    long before = entry == 0 ? static_cast<long>(table.entries) - 1 : entry - 1;
    if (!logEntryRender(table.entry(static_cast<uint32_t>(entry)), text, size)) {
        return -1;
    }
    return before;
}

long logRenderedTextWrite(LogEntryRenderer& renderer, uint32_t entries, LogWriter& out) {
    char text[LOG_RENDER_TEXT_SIZE] = {};
    long entry = renderer.renderEntry(-1, text);
    long written = 0;
    auto put = [&](const char* data, size_t length) {
        if (!out.write(data, length)) {
            return false;
        }
        written += static_cast<long>(length);
        return true;
    };
    if (text[0] == '\0') {
        return put(LOG_RENDER_EMPTY, std::strlen(LOG_RENDER_EMPTY)) ? written : -1;
    }
    if (!put(LOG_RENDER_HEADER_1, std::strlen(LOG_RENDER_HEADER_1)) ||
        !put(LOG_RENDER_HEADER_2, std::strlen(LOG_RENDER_HEADER_2))) {
        return -1;
    }
    for (uint32_t lines = 0; lines < entries && text[0] != '\0'; ++lines) {
        size_t length = strnlen(text, sizeof text - 1);
        // Every line ends in CR LF: when the character before the last is
        // not CR, the last becomes CR and LF follows (within the text).
        if (length < 2 || text[length - 2] != '\r') {
            if (length == 0) {
                length = 1;
            } else if (length > sizeof text - 2) {
                length = sizeof text - 2;
            }
            text[length - 1] = '\r';
            text[length] = '\n';
            text[length + 1] = '\0';
            ++length;
        }
        if (!put(text, length)) {
            return -1;
        }
        if (entry < 0) {
            break;
        }
        text[0] = '\0';
        entry = renderer.renderEntry(entry, text);
    }
    return written;
}

size_t logRenderPadding(size_t length) {
    size_t rest = length % LOG_RENDER_PAD;
    return rest == 0 ? 0 : LOG_RENDER_PAD - rest;
}

long logTextFileCopy(const char* name, LogTextReader& in, LogWriter& out) {
    if (!in.open(name)) {
        return 0;
    }
    long written = 0;
    uint8_t slot[LOG_TEXT_SLOT_SIZE];
    for (uint32_t i = 0; i < LOG_TEXT_SLOTS; ++i) {
        long n = in.read(slot, sizeof slot);
        if (n <= 0) {
            break;
        }
        if (slot[0] != '<') {
            continue;
        }
        const void* end = std::memchr(slot, 0, static_cast<size_t>(n));
        size_t length = end != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(end) - slot)
                                       : static_cast<size_t>(n);
        if (out.write(reinterpret_cast<const char*>(slot), length)) {
            written += static_cast<long>(length);
        }
    }
    in.close();
    return written;
}

void logTextCollectWrite(LogTextReader& in, LogWriter& out) {
    for (int generation = LOG_TEXT_GENERATIONS - 1; generation >= 0; --generation) {
        char name[LOG_TEXT_NAME_SIZE];
        char title[64];
        std::snprintf(name, sizeof name, LOG_TEXT_STARTUP_FORMAT, generation);
        int n = std::snprintf(title, sizeof title, "- Startup Log N-%d - %s\r\n", generation, name);
        out.write(title, static_cast<size_t>(n));
        logTextFileCopy(name, in, out);
        out.write("\r\n\r\n", 4);
        std::snprintf(name, sizeof name, LOG_TEXT_OPERATION_FORMAT, generation);
        n = std::snprintf(title, sizeof title, "- Operation Log N-%d - %s\r\n", generation, name);
        out.write(title, static_cast<size_t>(n));
        logTextFileCopy(name, in, out);
        out.write("\r\n\r\n", 4);
    }
}

}  // namespace swboot
