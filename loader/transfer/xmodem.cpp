// The xmodem command itself: resets the settings, takes the console over,
// checks the option letters for a workable combination and runs the receive
// flow or one of the two send flows with their "Ready" lines, pauses and
// wind-up. The argument string is split in xmodem_arguments.cpp, the line
// is handled in xmodem_line.cpp, the reports are in xmodem_reports.cpp.
#include "transfer/xmodem.h"

#include "common/handles.h"
#include "common/text.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr int WAIT_OPTION_SECONDS = 15;
constexpr int WIND_UP_SECONDS = 5;
// Pauses before raw mode: these divided by the line speed give
// milliseconds (213 and 426 ms at 9600 bits per second), time for the
// operator to start the terminal program's transfer.
constexpr int64_t RECEIVE_PAUSE_NUMERATOR = 2048000;
constexpr int64_t SEND_PAUSE_NUMERATOR = 4096000;
constexpr long BYTES_PER_K = 1024;

}  // namespace

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
    // The line is raw before the pauses: a sender started early -- taking
    // the "C" of the text above for the request -- must not get its block
    // echoed back, where it reads its own bytes as answers and gives up.
    // What it sent meanwhile is flushed when the receiver starts, and the
    // receiver's own requests and limits take it from there.
    rawModeEnter();
    if (s_.wait) {
        sleepMillis(WAIT_OPTION_SECONDS * 1000);
    }
    sleepMillis(speedMillis(RECEIVE_PAUSE_NUMERATOR));

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

}  // namespace swboot
