// The console line under the xmodem command: raw mode and giving the
// console back, the fatal error report, pauses, and the line primitives
// (readbyte, sendbyte, writebuf, flushing, waiting for the line to clear,
// counting line feeds) that the receiver and the sender share.
#include "loader.h"
#include "transfer/xmodem.h"

namespace swboot {

namespace {

constexpr int64_t NANOS_PER_MILLI = 1000000;

}  // namespace

// ---------------------------------------------------------------------------
// Console handling

void Xmodem::rawModeEnter() {
    Console& console = l_.p.console;
    l_.io.flush();
    console.optionsSet(OPT_RAW);
    if (console.flush() != OK) {
        tipLine("Can't flush terminal queue\n");
    }
    savedHandler_ = l_.p.tasks.terminationHandlerSet(this);
    handlerInstalled_ = true;
}

bool Xmodem::consoleGiveBack() {
    Console& console = l_.p.console;
    console.optionsSet(savedOptions_);
    if (handlerInstalled_) {
        l_.p.tasks.terminationHandlerSet(savedHandler_);
        handlerInstalled_ = false;
    }
    return console.optionsGet() == savedOptions_;
}

void Xmodem::consoleRestore(bool withinFatal) {
    if (consoleGiveBack()) {
        return;
    }
    if (withinFatal) {
        l_.io.printf("RESET - Can't restore normal TTY Params\n\r");
    } else {
        fatal("RESET - Can't restore normal TTY Params", false);
    }
}

void Xmodem::fatal(const char* message, bool restore) {
    if (restore) {
        consoleRestore(true);
    }
    l_.io.printf("\r\n%s\n\r", message);
    logLine("XMODEM Fatal Error:  %s\n\r", message);
}

void Xmodem::terminate() {
    fatal("Kill signal; bailing out", true);
    // The transfer winds down without touching the line again.
    terminated_ = true;
}

void Xmodem::sleepMillis(int64_t milliseconds) {
    int64_t left = milliseconds * NANOS_PER_MILLI;
    while (left > 0) {
        left = l_.p.clock.nanosleep(left);
    }
}

int64_t Xmodem::speedMillis(int64_t numerator) const {
    uint32_t speed = l_.consoleBaudRate != 0 ? l_.consoleBaudRate : XMODEM_DEFAULT_LINE_SPEED;
    return numerator / speed;
}

// ---------------------------------------------------------------------------
// Line primitives

int Xmodem::readbyte(int seconds) {
    if (terminated_) {
        return XMODEM_TIMEOUT;
    }
    Console& console = l_.p.console;
    if (console.waitReadable(static_cast<int64_t>(seconds) * XMODEM_MICROS_PER_SECOND) != 1) {
        debugLine(1, "DEBUG: readbyte TIMEOUT after %d seconds\n\r", seconds);
        return XMODEM_TIMEOUT;
    }
    uint8_t byte = 0;
    if (console.read(&byte, 1) != 1) {
        return XMODEM_TIMEOUT;
    }
    debugLine(1, "DEBUG: readbyte %02xh\n\r", byte);
    return byte;
}

void Xmodem::sendbyte(uint8_t byte) {
    if (terminated_) {
        return;
    }
    debugLine(1, "DEBUG: sendbyte %02xh\n\r", byte);
    if (l_.p.console.write(&byte, 1) != 1) {
        fatal("Write error on stream", false);
    }
}

void Xmodem::writebuf(const uint8_t* bytes, size_t count) {
    if (terminated_) {
        return;
    }
    debugLine(1, "DEBUG: writebuf (%d bytes)\n\r", static_cast<int>(count));
    if (l_.p.console.write(bytes, count) != static_cast<long>(count)) {
        fatal("Write error on stream", false);
    }
}

void Xmodem::inputFlush() { l_.p.console.flushInput(); }

void Xmodem::lineClearWait() {
    debugLine(1, "DEBUG: Waiting for line to clear\n\r");
    inputFlush();
    while (readbyte(1) != XMODEM_TIMEOUT) {
    }
    debugLine(1, "DEBUG: Line is clear\n\r");
}

long Xmodem::countnl(int fd) {
    Files& files = l_.p.files;
    long count = 0;
    uint8_t buffer[XMODEM_FILE_BUFFER_SIZE];
    long n;
    while ((n = files.read(fd, buffer, sizeof buffer)) > 0) {
        for (long i = 0; i < n; ++i) {
            if (buffer[i] == XMODEM_LF) {
                ++count;
            }
        }
    }
    files.lseek(fd, 0, SEEK_FROM_START);
    debugLine(1, "DEBUG: countnl--%ld newlines counted\n\r", count);
    return count;
}

}  // namespace swboot
