// The xmodem command's argument string: split into the argument vector,
// the option letters applied to the settings, and the usage text.
#include <cctype>
#include <cstring>

#include "loader.h"
#include "transfer/xmodem.h"

namespace swboot {

namespace {

constexpr const char* COMMAND_NAME = "xmodem";

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

}  // namespace

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

}  // namespace swboot
