// The event log's binary entries and their text forms, and the text log's
// slots: the parts that the loader and the host log tool share, so that a
// log pulled off a unit reads on a laptop exactly as the board renders it.
//
// An entry is 52 bytes of big-endian words. Event and error entries carry a
// source file name (32 characters, space padded), a line, a task and a
// code; exception entries carry five processor registers; an erased entry
// is all 0xFF; any other type is corrupt.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

inline constexpr size_t LOG_ENTRY_SIZE = 52;
inline constexpr size_t LOG_NAME_LENGTH = 32;

// Field offsets of an event or error entry.
inline constexpr size_t LOG_OFFSET_TYPE = 0;
inline constexpr size_t LOG_OFFSET_NAME = 4;
inline constexpr size_t LOG_OFFSET_LINE = 36;
inline constexpr size_t LOG_OFFSET_TASK = 40;
inline constexpr size_t LOG_OFFSET_CODE = 44;
inline constexpr size_t LOG_OFFSET_TIME = 48;
// Field offsets of an exception entry.
inline constexpr size_t LOG_OFFSET_SRR0 = 4;
inline constexpr size_t LOG_OFFSET_SRR1 = 8;
inline constexpr size_t LOG_OFFSET_MSR = 12;
inline constexpr size_t LOG_OFFSET_DSISR = 16;
inline constexpr size_t LOG_OFFSET_DAR = 20;
inline constexpr size_t LOG_OFFSET_EXCEPTION_TIME = 24;

inline constexpr uint32_t LOG_TYPE_EVENT = 1;
inline constexpr uint32_t LOG_TYPE_ERROR = 2;
inline constexpr uint32_t LOG_TYPE_MACHINE_CHECK = 3;
inline constexpr uint32_t LOG_TYPE_WATCHDOG = 4;
inline constexpr uint32_t LOG_TYPE_EXCEPTION_0300 = 0x300;
inline constexpr uint32_t LOG_TYPE_EXCEPTION_1100 = 0x1100;
inline constexpr uint32_t LOG_TYPE_EMPTY = 0xFFFFFFFF;
inline constexpr uint8_t LOG_ERASED_BYTE = 0xFF;

// The loader's log: 262144 bytes give 5041 entries, a file of 262132 bytes.
inline constexpr uint32_t LOG_SIZE_BYTES = 0x40000;
inline constexpr uint32_t LOG_ENTRIES = LOG_SIZE_BYTES / LOG_ENTRY_SIZE;
inline constexpr uint32_t LOG_FILE_BYTES = LOG_ENTRIES * LOG_ENTRY_SIZE;

// One rendered entry: at most 511 characters and the terminating 0.
inline constexpr size_t LOG_RENDER_TEXT_SIZE = 512;
// The rendered file is padded with spaces to a multiple of this.
inline constexpr size_t LOG_RENDER_PAD = 1024;
inline constexpr const char* LOG_RENDER_HEADER_1 = "                                                  Time\r\n";
inline constexpr const char* LOG_RENDER_HEADER_2 =
    "         File   Line  TaskID    Code           d  h  m  s\r\n";
inline constexpr const char* LOG_RENDER_EMPTY = "\r\nMessage Log Empty";

// A table of entries as the log holds it (in memory or as a file image).
struct LogTable {
    const uint8_t* bytes = nullptr;
    uint32_t entries = 0;
    const uint8_t* entry(uint32_t index) const { return bytes + static_cast<size_t>(index) * LOG_ENTRY_SIZE; }
};

uint32_t logEntryType(const uint8_t* entry);

// Fills an event or error entry: the first 32 characters of the name padded
// with spaces, and the words.
void logEntryBuild(uint8_t* entry, uint32_t type, const char* sourceName, int32_t line, uint32_t task,
                   uint32_t code, uint32_t seconds);

// The five registers of an exception entry, in their order in the entry.
struct LogExceptionRegisters {
    uint32_t srr0 = 0;
    uint32_t srr1 = 0;
    uint32_t msr = 0;
    uint32_t dsisr = 0;
    uint32_t dar = 0;
};
// Fills an exception entry; its last 24 bytes are left 0.
void logExceptionEntryBuild(uint8_t* entry, uint32_t type, const LogExceptionRegisters& registers,
                            uint32_t seconds);

// The newest entry: the one before the first empty entry, or the last one
// when none is empty; -1 when entry 0 is empty (the log is empty).
long logNewestEntry(const LogTable& table);

// Renders one entry into the text (a 512-byte output text); an empty entry
// writes nothing and gives false.
bool logEntryRender(const uint8_t* entry, char* text, size_t size);

// One step of the walk over a table: renders the entry (the newest when
// entry is -1) and gives the entry before it, wrapping from 0 to the last;
// -1 when there is nothing to render (an empty log or an empty entry).
long logRenderStep(const LogTable& table, long entry, char* text, size_t size);

// Where rendered text and collected text logs go.
class LogWriter {
public:
    virtual ~LogWriter() = default;
    // False when the bytes could not be written.
    virtual bool write(const char* data, size_t length) = 0;
};

// Renders one entry of a log into the text and gives the entry before it,
// or -1 (the loader's renderer takes the flash access lock around it).
class LogEntryRenderer {
public:
    virtual ~LogEntryRenderer() = default;
    virtual long renderEntry(long entry, char* text) = 0;
};

// Writes the rendered log: the two header lines and one line per entry,
// newest first, each ending in CR LF, at most `entries` of them; or the
// empty-log text. No padding. The count of characters written, or -1 when
// the writer failed.
long logRenderedTextWrite(LogEntryRenderer& renderer, uint32_t entries, LogWriter& out);

// Spaces that take a rendered text of this length to the next multiple of
// 1024 bytes.
size_t logRenderPadding(size_t length);

// The text log: 592-byte slots holding a line of at most 589 characters,
// CR, LF, 0 and 0 bytes to the end; a used slot begins with "<".
inline constexpr size_t LOG_TEXT_SLOT_SIZE = 592;
inline constexpr size_t LOG_TEXT_LINE_MAX = LOG_TEXT_SLOT_SIZE - 3;
inline constexpr uint32_t LOG_TEXT_SLOTS = 32;
inline constexpr int LOG_TEXT_GENERATIONS = 3;
inline constexpr const char* LOG_TEXT_STARTUP_FORMAT = "slog%d.txt";
inline constexpr const char* LOG_TEXT_OPERATION_FORMAT = "olog%d.txt";
inline constexpr size_t LOG_TEXT_NAME_SIZE = 16;

// Reads the text log files of one directory, one file at a time.
class LogTextReader {
public:
    virtual ~LogTextReader() = default;
    // False when the file cannot be opened.
    virtual bool open(const char* name) = 0;
    // Bytes read, 0 at the end, negative on failure.
    virtual long read(uint8_t* buffer, size_t length) = 0;
    virtual void close() = 0;
};

// Copies the used slots of one text log file (up to 32 slots, each line
// up to its first 0 byte); the bytes written. A file that cannot be opened
// gives nothing.
long logTextFileCopy(const char* name, LogTextReader& in, LogWriter& out);

// Writes the text logs of the three generations, oldest first, with their
// title lines, as the collected file holds them.
void logTextCollectWrite(LogTextReader& in, LogWriter& out);

}  // namespace swboot
