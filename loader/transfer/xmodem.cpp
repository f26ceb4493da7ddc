#include "transfer/xmodem.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/handles.h"
#include "common/text.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr const char* COMMAND_NAME = "xmodem";

constexpr int WAIT_OPTION_SECONDS = 15;
constexpr int WIND_UP_SECONDS = 5;
// Pauses before raw mode: these divided by the line speed give
// milliseconds (213 and 426 ms at 9600 bits per second), time for the
// operator to start the terminal program's transfer.
constexpr int64_t RECEIVE_PAUSE_NUMERATOR = 2048000;
constexpr int64_t SEND_PAUSE_NUMERATOR = 4096000;
// Transmission time of one sector in bit times: 133 bytes of 10 bits and
// some slack for the acknowledgement and turnaround.
constexpr long SECTOR_BIT_TIMES = 1422;
constexpr long BYTES_PER_K = 1024;
constexpr int64_t NANOS_PER_MILLI = 1000000;
constexpr size_t TEXT_LINE_SIZE = 512;

constexpr const char* USAGE_PIECES[] = {
    "Usage:  \txmodem ",
    " -[rb!rt!ra!sb!st!sa][options] filename... 0\n\r",
    "Major Commands --",
    "\n\r\trb <-- Receive Binary",
    "\n\r\trt <-- Receive Text",
    "\n\r\tra <-- Receive Apple macintosh text",
    "\n\r\tsb <-- Send Binary",
    "\n\r\tst <-- Send Text",
    "\n\r\tsa <-- Send Apple macintosh text",
    "\n\rOptions --",
    "\n\r\ty  <-- Use YMODEM Batch Mode on transmit",
    "\n\r\tg  <-- Select YMODEM-G Mode on receive",
    "\n\r\tm  <-- Use MODEM7 Batch Mode on transmit",
    "\n\r\tk  <-- Use 1K packets on transmit",
    "\n\r\tc  <-- Select CRC mode on receive",
    "\n\r\tt  <-- Indicate a TOO BUSY Unix system",
    "\n\r\td  <-- Delete xmodem.log file before starting",
    "\n\r\tl  <-- (ell) Turn OFF Log File Entries",
    "\n\r\tx  <-- Include copious debugging information in log file",
    "\n\r\tp  <-- Use with SunOS tip ~C command",
    "\n\r\tw  <-- Wait before initial handshake",
    "\n\r\te  <-- Supress EOT confirmation",
    "\n\r\tn  <-- Allow mid-transfer CAN-CAN aborts",
    "\n\r",
};

// Prints hours, minutes and seconds, each only when not 0.
void durationPrint(long seconds, TextSink& out) {
    const long parts[3] = {(seconds / 3600) % 24, (seconds / 60) % 60, seconds % 60};
    const char* units[3] = {"hour", "minute", "second"};
    for (int i = 0; i < 3; ++i) {
        if (parts[i] != 0) {
            out.printf("%d %s%c ", static_cast<int>(parts[i]), units[i], parts[i] != 1 ? 's' : ' ');
        }
    }
}

// Standard error as a text sink (it is not buffered).
class ErrorSink : public TextSink {
public:
    explicit ErrorSink(Stdio& io) : io_(io) {}
    int vprintf(const char* format, va_list args) override {
        char text[TEXT_LINE_SIZE];
        int n = std::vsnprintf(text, sizeof text, format, args);
        io_.eprintf("%s", text);
        return n;
    }

private:
    Stdio& io_;
};

}  // namespace

const char* xmodemModeName(char mode) {
    switch (mode) {
        case 't':
        case 'T':
            return "text";
        case 'b':
        case 'B':
            return "binary";
        default:
            return "";
    }
}

void xmodemSectorLabel(char* text, size_t size, long sectors, int blockSize, bool next) {
    const bool oneK = blockSize == XMODEM_1K_BLOCK_SIZE;
    long number = sectors;
    if (next) {
        number += oneK ? XMODEM_SECTORS_PER_1K_BLOCK : 1;
    }
    if (oneK && number > 0) {
        std::snprintf(text, size, "%ld-%ld", number - (XMODEM_SECTORS_PER_1K_BLOCK - 1), number);
    } else {
        std::snprintf(text, size, "%ld", number);
    }
}

void xmodemEstimatedTime(long sectors, uint32_t lineSpeed, TextSink& out) {
    if (sectors == 0) {
        return;
    }
    if (lineSpeed == 0) {
        lineSpeed = XMODEM_DEFAULT_LINE_SPEED;
    }
    long seconds = static_cast<long>(static_cast<int64_t>(sectors) * SECTOR_BIT_TIMES / lineSpeed) + 1;
    out.printf("Estimated transmission time ");
    durationPrint(seconds, out);
    out.printf("\n\r");
}

void xmodemTransferRate(long sectors, long seconds, TextSink& out) {
    if (sectors == 0) {
        return;
    }
    if (seconds < 0) {
        seconds = 0;
    }
    long rate = seconds != 0 ? sectors * XMODEM_SECTOR_SIZE / seconds : 0;
    out.printf("%ld Sectors Transfered in ", sectors);
    if (rate == 0) {
        out.printf("0 seconds");
        out.printf("\n\r");
        return;
    }
    durationPrint(seconds, out);
    out.printf("\n\r");
    out.printf("Transfer Rate = %d Characters per Second\n\r", static_cast<int>(rate));
}

Xmodem::Xmodem(Loader& loader) : l_(loader) {}

// ---------------------------------------------------------------------------
// The command

int Xmodem::xmodem(const char* arguments) {
    // Whatever way the command is left -- a board reset or power-off passing
    // through included -- the console gets its saved options and handler back.
    struct ConsoleGuard {
        Xmodem& x;
        ~ConsoleGuard() {
            if (x.optionsSaved_) {
                x.consoleGiveBack();
                x.optionsSaved_ = false;
            }
        }
    } guard{*this};
    int result = run(arguments);
    l_.io.flush();
    return result;
}

int Xmodem::run(const char* arguments) {
    Stdio& io = l_.io;
    if (argumentsSplit(arguments) != OK) {
        return ERROR;
    }
    if (argc_ < 2) {
        usage();
        return ERROR;
    }

    s_ = XmodemSettings{};
    rx_ = ReceiveState{};
    tx_ = SendState{};
    fileName_[0] = '\0';
    nameGiven_ = false;
    fileBufferFill_ = 0;
    fileBufferPosition_ = 0;
    ymodemLength_ = 0;
    ymodemCount_ = 0;
    ymodemLengthAnnounced_ = false;
    batchFilesLeft_ = 0;
    batchBytesLeft_ = 0;
    terminated_ = false;
    handlerInstalled_ = false;

    // Control-X is the cancel byte of the protocol: the monitor trap must
    // not reset the board when the far end sends it.
    Console& console = l_.p.console;
    savedOptions_ = console.optionsGet();
    optionsSaved_ = true;
    console.optionsSet(savedOptions_ & ~OPT_MON_TRAP);

    optionLetters(argv_[1]);

    uint32_t speed = 0;
    if (console.baudRateGet(speed) != OK || speed == 0) {
        speed = XMODEM_DEFAULT_LINE_SPEED;
    }
    l_.consoleBaudRate = speed;

    if (s_.receive && s_.send) {
        fatal("XMODEM Fatal Error- Both Send and Receive Functions Specified", true);
        return ERROR;
    }
    if (s_.modem7 && (s_.ymodem || s_.ymodemG)) {
        fatal("XMODEM Fatal Error - Both YMODEM and MODEM7 Batch Protocols Specified", true);
        return ERROR;
    }
    if (!s_.receive && !s_.send) {
        fatal("XMODEM Fatal Error - Either Send or Receive Function must be chosen!", true);
        return ERROR;
    }
    if (s_.send && argc_ == 2) {
        fatal("XMODEM Fatal Error - No file specified to send", true);
        return ERROR;
    }
    io.flush();

    if (s_.receive) {
        return receiveFlow();
    }
    if (s_.batch) {
        return batchSendFlow();
    }
    return singleSendFlow();
}

int Xmodem::argumentsSplit(const char* arguments) {
    Stdio& io = l_.io;
    argc_ = 0;
    size_t length = std::strlen(arguments);
    if (length > XMODEM_ARGUMENT_LENGTH_MAX) {
        io.printf("ERROR: xmodem argument string of %u characters refused (at most %u).\n",
                  static_cast<unsigned>(length), static_cast<unsigned>(XMODEM_ARGUMENT_LENGTH_MAX));
        return ERROR;
    }
    std::memcpy(argumentBuffer_, arguments, length + 1);

    int words = 0;
    for (size_t i = 0; i < length; ++i) {
        if (argumentBuffer_[i] != ' ' && (i == 0 || argumentBuffer_[i - 1] == ' ')) {
            ++words;
        }
    }
    if (words > XMODEM_ARGUMENT_WORDS_MAX) {
        io.printf("ERROR: xmodem argument string of %d words refused (at most %d).\n", words,
                  XMODEM_ARGUMENT_WORDS_MAX);
        return ERROR;
    }

    argv_[argc_++] = COMMAND_NAME;
    char* p = argumentBuffer_;
    while (*p != '\0') {
        while (*p == ' ') {
            *p++ = '\0';
        }
        if (*p == '\0') {
            break;
        }
        argv_[argc_++] = p;
        while (*p != '\0' && *p != ' ') {
            ++p;
        }
    }
    argv_[argc_] = nullptr;
    return OK;
}

void Xmodem::usage() {
    for (const char* piece : USAGE_PIECES) {
        l_.io.printf("%s", piece);
    }
    l_.io.flush();
}

void Xmodem::optionLetters(const char* word) {
    for (const char* p = word; *p != '\0'; ++p) {
        switch (std::tolower(static_cast<unsigned char>(*p))) {
            case 'r':
                s_.receive = true;
                break;
            case 's':
                s_.send = true;
                break;
            case 'b':
                s_.mode = 'b';
                break;
            case 't':
            case 'd':
            case '-':
                break;
            case 'c':
                s_.crc = true;
                break;
            case 'k':
                s_.oneK = true;
                break;
            case 'e':
                s_.acceptFirstEot = true;
                break;
            case 'g':
                s_.ymodemG = true;
                s_.ymodem = true;
                s_.cancan = true;
                s_.crc = true;
                break;
            case 'y':
                s_.batch = true;
                s_.ymodem = true;
                break;
            case 'm':
                s_.batch = true;
                s_.modem7 = true;
                break;
            case 'n':
                s_.cancan = true;
                break;
            case 'p':
                s_.tip = true;
                break;
            case 'w':
                s_.wait = true;
                break;
            case 'x':
                s_.debugLevel = s_.debugLevel == 0 ? 1 : 2;
                break;
            case 'l':
                s_.log = false;
                break;
            default:
                l_.io.printf("Invalid Flag %c ignored\n\r", *p);
                break;
        }
    }
}

void Xmodem::modeSuffix() { l_.io.printf(" in %s mode\n\r", xmodemModeName(s_.mode)); }

void Xmodem::controlXHint() {
    if (!s_.tip) {
        l_.io.printf("Send several Control-X characters to cancel before transfer starts.\n\r");
    }
}

int Xmodem::receiveFlow() {
    Files& files = l_.p.files;
    if (argc_ == 2) {
        if (!s_.crc && !s_.modem7) {
            s_.crc = true;
        }
        logLine("Batch Receive Started");
        logLine(" in %s mode\n", xmodemModeName(s_.mode));
        l_.io.printf("Ready for xbatch RECEIVE");
        modeSuffix();
        controlXHint();
        textCopy(fileName_, sizeof fileName_, XMODEM_DEFAULT_RECEIVE_NAME);
    } else {
        const char* name = argv_[2];
        FileHandle probe(files, files.open(name, OPEN_RDONLY, 0));
        if (probe.isOpen()) {
            l_.io.printf("Warning -- Target File Exists and is Being Overwritten\n\r");
        }
        probe.close();
        logLine("Receiving in %s mode\n\r", xmodemModeName(s_.mode));
        l_.io.printf("Ready to RECEIVE File %s", name);
        modeSuffix();
        controlXHint();
        textCopy(fileName_, sizeof fileName_, name);
        nameGiven_ = true;
    }
    if (s_.wait) {
        sleepMillis(WAIT_OPTION_SECONDS * 1000);
    }
    sleepMillis(speedMillis(RECEIVE_PAUSE_NUMERATOR));
    rawModeEnter();

    int result = receive(false);
    while (result != XMODEM_RECEIVE_DONE && result != XMODEM_RECEIVE_FAILED) {
        result = receive(true);
    }

    inputFlush();
    consoleRestore(false);
    sleepMillis(WIND_UP_SECONDS * 1000);
    if (result == XMODEM_RECEIVE_DONE) {
        return OK;
    }
    inputFlush();
    return ERROR;
}

int Xmodem::singleSendFlow() {
    const char* name = argv_[2];
    FileStatus status;
    if (l_.p.files.stat(name, status) != OK) {
        fatal("Can't find requested file", true);
        return ERROR;
    }
    if (status.size == 0) {
        fatal("Requested file size is 0", true);
        return ERROR;
    }
    long size = static_cast<long>(status.size);
    logLine("Sending in %s mode\n", xmodemModeName(s_.mode));
    l_.io.printf("File %s Ready to SEND", name);
    modeSuffix();
    l_.io.printf("Estimated File Size %ldK, %ld Sectors, %ld Bytes\n\r", size / BYTES_PER_K + 1,
                 size / XMODEM_SECTOR_SIZE + 1, size);
    estimatedTime(size / XMODEM_SECTOR_SIZE + 1, Stream::Output);
    controlXHint();
    sleepMillis(speedMillis(SEND_PAUSE_NUMERATOR));
    rawModeEnter();

    int result = send(name);
    inputFlush();
    consoleRestore(false);
    if (result != OK) {
        return ERROR;
    }
    sleepMillis(WIND_UP_SECONDS * 1000);
    return OK;
}

int Xmodem::batchSendFlow() {
    Files& files = l_.p.files;
    if (s_.ymodem) {
        batchFilesLeft_ = 0;
        batchBytesLeft_ = 0;
        for (int i = 2; i < argc_; ++i) {
            FileStatus status;
            if (files.stat(argv_[i], status) != OK) {
                continue;
            }
            ++batchFilesLeft_;
            batchBytesLeft_ += static_cast<long>(status.size);
            if (s_.mode == 't') {
                FileHandle file(files, files.open(argv_[i], OPEN_RDONLY, 0));
                if (file.isOpen()) {
                    batchBytesLeft_ += countnl(file.fd());
                }
            }
        }
        debugLine(1, "DEBUG YMODEM file count: %d, %ld bytes\n\r", static_cast<int>(batchFilesLeft_),
                  batchBytesLeft_);
        logLine("YMODEM Batch Send Started");
        l_.io.printf("Ready to YMODEM xbatch SEND");
        modeSuffix();
    } else {
        logLine("MODEM7 Batch Send Started");
        l_.io.printf("Ready to MODEM7 xbatch SEND");
        modeSuffix();
    }
    logLine(" in %s mode\n", xmodemModeName(s_.mode));
    controlXHint();
    if (s_.wait) {
        sleepMillis(WAIT_OPTION_SECONDS * 1000);
    }
    sleepMillis(speedMillis(SEND_PAUSE_NUMERATOR));
    rawModeEnter();

    for (int i = 2; i < argc_; ++i) {
        FileStatus status;
        if (files.stat(argv_[i], status) != OK) {
            logLine("\n\rFile %s not found\n", argv_[i]);
            if (s_.tip) {
                l_.io.eprintf("\nFile %s not found\n", argv_[i]);
            }
            continue;
        }
        int result = send(argv_[i]);
        inputFlush();
        if (result != OK) {
            consoleRestore(false);
            return ERROR;
        }
    }
    // The batch closes whatever its last answer; every file has gone.
    send("");
    inputFlush();
    consoleRestore(false);
    tipLine("Batch Send Complete\n");
    sleepMillis(WIND_UP_SECONDS * 1000);
    return OK;
}

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

// ---------------------------------------------------------------------------
// Output streams and reports

void Xmodem::logLine(const char* /*format*/, ...) {
    // This system opens no log sink; the log setting never comes on.
}

void Xmodem::debugLine(int /*level*/, const char* /*format*/, ...) {
    // Debug lines belong to the log sink as well.
}

void Xmodem::tipLine(const char* format, ...) {
    if (!s_.tip) {
        return;
    }
    char text[TEXT_LINE_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    l_.io.eprintf("%s", text);
}

void Xmodem::estimatedTime(long sectors, Stream stream) {
    ErrorSink error(l_.io);
    xmodemEstimatedTime(sectors, l_.consoleBaudRate,
                        stream == Stream::Error ? static_cast<TextSink&>(error) : l_.io);
}

void Xmodem::transferRate(long sectors, Stream stream) {
    // The transfer keeps no clock: the rate report always shows 0 seconds.
    ErrorSink error(l_.io);
    xmodemTransferRate(sectors, 0, stream == Stream::Error ? static_cast<TextSink&>(error) : l_.io);
}

const char* Xmodem::label(long sectors, int blockSize, bool next) {
    xmodemSectorLabel(label_, sizeof label_, sectors, blockSize, next);
    return label_;
}

}  // namespace swboot
