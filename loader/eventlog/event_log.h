// The persistent event log: a fixed table of 52-byte entries held in memory
// and mirrored whole in "log2.bin", checked at startup, recorded into by
// the log_event family, and rendered to text and sent over the console on
// request.
#pragma once

#include <cstdint>
#include <memory>

#include "common/handles.h"
#include "eventlog/log_format.h"

namespace swboot {

class Loader;

inline constexpr const char* LOG_FILE_NAME = "log2.bin";
inline constexpr const char* LOG_RENDER_FILE_NAME = "asciilog.bin";
// The level that switches the binary log off.
inline constexpr int LOG_LEVEL_OFF = 6;
// The settings the loader starts the log with.
inline constexpr int LOG_INIT_FIRST = 0;
inline constexpr int LOG_INIT_LEVEL = 5;
inline constexpr int LOG_INIT_FURTHER_1 = 2;
inline constexpr int LOG_INIT_FURTHER_2 = 7;
// A fatal error with a code asks the board for a reboot with this value at
// this address.
inline constexpr uint32_t BOARD_REBOOT_REQUEST_ADDRESS = 0xC0000000;
inline constexpr uint32_t BOARD_REBOOT_REQUEST_VALUE = 0x1234;
// The retrieval waits this long after its announcement.
inline constexpr int LOG_RETRIEVE_DELAY_TICKS = 10;

class EventLog : public LogEntryRenderer {
public:
    explicit EventLog(Loader& loader) : loader_(loader) {}
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Opens the log at startup: allocates the table, reads "log2.bin"
    // (creating it when missing), finds the first empty entry and erases
    // the log when the file is not a consistent table.
    void log_init(uint32_t logSize, int first, int level, int further1, int further2);
    // Records an event entry; at interrupt level it resets the board.
    void log_event(const char* sourceName, int line, uint32_t code);
    // Records an event entry without the interrupt-level check.
    void log_event_unchecked(const char* sourceName, int line, uint32_t code);
    // Records an error entry (unless the log is full) and ends the run:
    // code 0 resets the board, any other code asks the board for a reboot.
    [[noreturn]] void log_fatal_error(const char* sourceName, int line, uint32_t code);
    // Erases the table and the file; next becomes 0.
    void log_erase();

    // Renders one entry into the 512-byte text and gives the entry before
    // it, or -1 for none. With no table the loader's own; with entry -1 the
    // newest. Holds the flash access lock while it reads the entry.
    long log_render_entry(const LogTable* table, long entry, char* text);
    long renderEntry(long entry, char* text) override { return log_render_entry(nullptr, entry, text); }
    // Writes "asciilog.bin"; 0, or 1 when the file cannot be created.
    int log_render_file();
    // Boot Menu option 3: renders, sends with the xmodem command, deletes.
    void log_retrieve();

    // The string straight to the console UART by polling, with its
    // interrupts held off (usable where the console driver is not).
    void log_direct_output(const char* text);

    // State, for the log tool's tests and the retrieval.
    bool hasTable() const { return static_cast<bool>(table_); }
    LogTable table() const;
    uint32_t next() const { return next_; }
    uint32_t entries() const { return entries_; }
    int level() const { return level_; }

private:
    void entryBuild(uint8_t* entry, uint32_t type, const char* sourceName, int line, uint32_t code);
    void record(const uint8_t* entry);
    // Writes the whole table to the file from its start.
    void tableWrite();
    // The flash access lock, held while an entry is read and rendered so
    // that the read never meets flash work of another task.
    void flashLockTake();
    void flashLockGive();

    Loader& loader_;
    std::unique_ptr<MemoryHandle> table_;
    uint32_t logSize_ = 0;
    uint32_t entries_ = 0;
    uint32_t next_ = 0;
    int first_ = 0;
    int level_ = 0;
    int further1_ = 0;
    int further2_ = 0;
};

}  // namespace swboot
