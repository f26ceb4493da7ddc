#include "eventlog/event_log.h"

#include <cstdio>
#include <cstring>

#include "board_support/polled_output.h"
#include "common/file_io.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr int LOG_FILE_MODE = 0644;

// Writes rendered text into an open file and counts it.
class FileLogWriter : public LogWriter {
public:
    FileLogWriter(Files& files, int fd) : files_(files), fd_(fd) {}
    bool write(const char* data, size_t length) override {
        size_t done = 0;
        while (done < length) {
            long n = files_.write(fd_, reinterpret_cast<const uint8_t*>(data) + done, length - done);
            if (n <= 0) {
                failed_ = true;
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool failed() const { return failed_; }

private:
    Files& files_;
    int fd_;
    bool failed_ = false;
};

}  // namespace

LogTable EventLog::table() const {
    if (!table_) {
        return {};
    }
    return {table_->data(), entries_};
}

void EventLog::log_init(uint32_t logSize, int first, int level, int further1, int further2) {
    Stdio& io = loader_.io;
    Files& files = loader_.p.files;
    table_ = std::make_unique<MemoryHandle>(loader_.p.memory, logSize);
    if (!*table_) {
        table_.reset();
        io.printf("Cannot malloc enough memory to create log!\n");
        return;
    }
    logSize_ = logSize;
    first_ = first;
    level_ = level;
    further1_ = further1;
    further2_ = further2;
    entries_ = logSize / LOG_ENTRY_SIZE;
    next_ = 0;

    long bytesRead = 0;
    {
        int fd = files.open(LOG_FILE_NAME, OPEN_RDWR, 0);
        if (fd < 0) {
            fd = files.open(LOG_FILE_NAME, OPEN_RDWR | OPEN_CREAT, LOG_FILE_MODE);
        }
        FileHandle file(files, fd);
        if (!file.isOpen()) {
            io.printf("Could not create %s in file system on DiskOnChip\n\n", LOG_FILE_NAME);
            io.printf("DiskOnChip may be corrupted\n\n");
        } else {
            bytesRead = readFully(files, file.fd(), table_->data(), logSize);
        }
    }
    if (level_ == LOG_LEVEL_OFF) {
        return;
    }

    // Entries the file did not reach count as used.
    uint32_t entriesRead = static_cast<uint32_t>(bytesRead) / LOG_ENTRY_SIZE;
    LogTable t = table();
    uint32_t firstEmpty = entries_;
    for (uint32_t i = 0; i < entriesRead; ++i) {
        if (logEntryType(t.entry(i)) == LOG_TYPE_EMPTY) {
            firstEmpty = i;
            break;
        }
    }
    bool consistent = firstEmpty < entriesRead;
    for (uint32_t i = firstEmpty; consistent && i < entries_; ++i) {
        if (i >= entriesRead || logEntryType(t.entry(i)) != LOG_TYPE_EMPTY) {
            consistent = false;
        }
    }
    if (consistent) {
        next_ = firstEmpty;
    } else {
        log_erase();
    }
}

void EventLog::tableWrite() {
    Files& files = loader_.p.files;
    FileHandle file(files, files.open(LOG_FILE_NAME, OPEN_RDWR, 0));
    if (!file.isOpen()) {
        return;  // the table keeps the entry; the file stays behind
    }
    FileLogWriter out(files, file.fd());
    out.write(reinterpret_cast<const char*>(table_->data()), static_cast<size_t>(entries_) * LOG_ENTRY_SIZE);
}

void EventLog::log_erase() {
    if (!table_) {
        return;
    }
    std::memset(table_->data(), LOG_ERASED_BYTE, static_cast<size_t>(entries_) * LOG_ENTRY_SIZE);
    tableWrite();
    next_ = 0;
}

void EventLog::entryBuild(uint8_t* entry, uint32_t type, const char* sourceName, int line, uint32_t code) {
    auto seconds = static_cast<uint32_t>(loader_.p.clock.time());
    logEntryBuild(entry, type, sourceName, line, loader_.p.tasks.taskIdSelf(), code, seconds);
}

void EventLog::record(const uint8_t* entry) {
    if (level_ == LOG_LEVEL_OFF || !table_) {
        return;
    }
    if (next_ >= entries_) {
        log_erase();
    }
    if (entries_ == 0) {
        return;
    }
    std::memcpy(table_->data() + static_cast<size_t>(next_) * LOG_ENTRY_SIZE, entry, LOG_ENTRY_SIZE);
    tableWrite();
    ++next_;
}

void EventLog::log_event(const char* sourceName, int line, uint32_t code) {
    if (loader_.p.tasks.intContext()) {
        log_direct_output("log_event() - called from intContext?\n");
        loader_.board.boardReset();
    }
    log_event_unchecked(sourceName, line, code);
}

void EventLog::log_event_unchecked(const char* sourceName, int line, uint32_t code) {
    uint8_t entry[LOG_ENTRY_SIZE];
    entryBuild(entry, LOG_TYPE_EVENT, sourceName, line, code);
    record(entry);
}

void EventLog::log_fatal_error(const char* sourceName, int line, uint32_t code) {
    uint8_t entry[LOG_ENTRY_SIZE];
    entryBuild(entry, LOG_TYPE_ERROR, sourceName, line, code);
    if (next_ < entries_) {
        record(entry);
    }
    if (code == 0) {
        loader_.board.boardReset();
    }
    loader_.p.bus.write32(BOARD_REBOOT_REQUEST_ADDRESS, BOARD_REBOOT_REQUEST_VALUE);
    log_direct_output("...waiting for reboot\n");
    Clock& clock = loader_.p.clock;
    for (;;) {
        clock.taskDelay(clock.clockRate());
    }
}

void EventLog::log_direct_output(const char* text) {
    Bus& bus = loader_.p.bus;
    uint8_t saved = bus.read8(CONSOLE_UART_INTERRUPT_ENABLE);
    bus.write8(CONSOLE_UART_INTERRUPT_ENABLE, static_cast<uint8_t>(saved & ~UART_IER_RX_TX_MASK));
    polledStringOut(bus, text);
    polledTransmitterWait(bus, POLLED_DRAIN_POLLS);
    bus.write8(CONSOLE_UART_INTERRUPT_ENABLE, saved);
}

void EventLog::flashLockTake() { loader_.flash.flashAccessTake(); }

void EventLog::flashLockGive() { loader_.flash.flashAccessGive(); }

long EventLog::log_render_entry(const LogTable* table, long entry, char* text) {
    if (level_ == LOG_LEVEL_OFF || !table_) {
        return -1;
    }
    LogTable own = this->table();
    const LogTable& t = table != nullptr ? *table : own;
    if (entry < 0 && logNewestEntry(t) < 0) {
        return -1;
    }
    flashLockTake();
    long before = logRenderStep(t, entry, text, LOG_RENDER_TEXT_SIZE);
    flashLockGive();
    return before;
}

int EventLog::log_render_file() {
    Files& files = loader_.p.files;
    FileHandle file(files, files.open(LOG_RENDER_FILE_NAME, OPEN_WRONLY | OPEN_CREAT | OPEN_TRUNC, LOG_FILE_MODE));
    if (!file.isOpen()) {
        return 1;
    }
    FileLogWriter out(files, file.fd());
    long written = logRenderedTextWrite(*this, entries_, out);
    if (written >= 0) {
        static const char SPACES[64] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        size_t pad = logRenderPadding(static_cast<size_t>(written));
        while (pad > 0 && !out.failed()) {
            size_t n = pad < sizeof SPACES ? pad : sizeof SPACES;
            out.write(SPACES, n);
            pad -= n;
        }
    }
    // A rendering the volume could not take whole is no rendering: a
    // truncated file would go out as if it were the log.
    if (file.close() != OK || written < 0 || out.failed()) {
        files.remove(LOG_RENDER_FILE_NAME);
        return 1;
    }
    return 0;
}

void EventLog::log_retrieve() {
    Stdio& io = loader_.io;
    if (log_render_file() != 0) {
        io.printf("ERROR: Event Log conversion failed. XMODEM transfer failed.\n");
        return;
    }
    char arguments[XMODEM_ARGUMENT_BUFFER_SIZE];
    std::snprintf(arguments, sizeof arguments, "cbske %s", LOG_RENDER_FILE_NAME);
    int result = loader_.xmodem.xmodem(arguments);
    loader_.p.files.remove(LOG_RENDER_FILE_NAME);
    if (result == 0) {
        io.printf("Event log transmitted.\n");
    } else {
        io.printf("ERROR: XMODEM transfer failed.\n");
    }
}

}  // namespace swboot
