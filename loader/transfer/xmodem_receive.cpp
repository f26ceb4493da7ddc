// The receiving side of the xmodem command: takes one file from the console
// line into the flash volume, negotiating checksum or CRC and 128- or
// 1024-byte blocks, with YMODEM headers and MODEM7 names, and gives up
// after fixed numbers of timeouts and errors.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/text.h"
#include "loader.h"
#include "transfer/xmodem.h"

namespace swboot {

namespace {

constexpr int START_TIMEOUT_FIRST = 1;
constexpr int START_TIMEOUT_AFTER_FIRST_BLOCK = 5;
constexpr int FIELD_TIMEOUT = 3;          // block number, complement, check bytes, second CAN
constexpr int DATA_GAP_TIMEOUT = 1;
constexpr int EOT_CONFIRM_TIMEOUT = 5;
constexpr int MODEM7_CHARACTER_TIMEOUT = 3;
constexpr int MODEM7_CHECKSUM_ACK_TIMEOUT = 15;
constexpr int MODEM7_NAME_PAUSE_MILLIS = 2000;
constexpr int TIMEOUTS_MAX = 10;
constexpr int ERRORS_MAX = 10;
constexpr int STARTUP_ATTEMPTS_MAX = 60;
constexpr int STARTUP_SWAP_ATTEMPT = 30;   // checksum and CRC requests swap here
constexpr long PROGRESS_INTERVAL_SECTORS = 32;
constexpr int CANCEL_ON_CREATE_FAILURE = 3;
constexpr int CANCEL_ON_ABORT = 5;
constexpr uint8_t BIT7_MASK = 0x7F;

bool cancelByte(int c) { return c != XMODEM_TIMEOUT && (c & BIT7_MASK) == XMODEM_CAN; }

// Makes a name announced by the sender fit the current directory: path
// separators become ":", capitals become small letters, and a final "."
// goes (the sender's operating system may have added it).
void senderNameAdjust(char* name) {
    for (char* p = name; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            *p = ':';
        } else {
            *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        }
    }
    size_t length = std::strlen(name);
    if (length > 0 && name[length - 1] == '.') {
        name[length - 1] = '\0';
    }
}

// A name the sender may choose in a batch receive: not empty and not
// made of dots only ("." and ".." name directories).
bool senderNameUsable(const char* name) {
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p != '.') {
            return true;
        }
    }
    return false;
}

// The length a YMODEM header text announces, read as the decimal number
// it starts with (a "+" allowed, anything after the digits ignored); 0,
// which means no length was given, when there are no digits, the number is
// negative (a "-5" would otherwise drop every byte) or a long cannot hold
// it (which would read differently on a 32-bit board and a 64-bit host).
long ymodemLengthField(const char* text) {
    const char* p = text;
    while (*p == ' ') {
        ++p;
    }
    if (*p == '+') {
        ++p;
    }
    long length = 0;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        if (length > (std::numeric_limits<long>::max() - digit) / 10) {
            return 0;
        }
        length = length * 10 + digit;
    }
    return p == digits ? 0 : length;
}

}  // namespace

int Xmodem::receive(bool continuing) {
    tipLine("----\nXMODEM File Receive Function\n");
    if (s_.crc) {
        tipLine("CRC mode requested on command line\n");
    }
    if (s_.ymodemG) {
        tipLine("YMODEM-G mode requested on command line\n");
    }
    rx_ = ReceiveState{};
    rx_.startTimeout = START_TIMEOUT_FIRST;
    rx_.continuing = continuing;
    s_.batch = false;
    ymodemLength_ = 0;
    ymodemCount_ = 0;
    ymodemLengthAnnounced_ = false;
    if (continuing) {
        inputFlush();
    } else {
        // A sender started early (it may take a "C" in the text before the
        // transfer for the request) may still be sending a block: what is
        // left of it would be hunted for start bytes, and an EOT in its data
        // would end the transfer at once. The request goes out once the line
        // has been quiet for a second.
        lineClearWait();
    }
    // Inside a batch the next block is a header (or the batch end), not
    // data: the 1K request waits for the data request after the header. A
    // sender that knows no "K" would otherwise read it where it waits for
    // the header's ACK and send the header again.
    dataRequestSend(true, !continuing);

    for (;;) {
        int c = startByteWait();
        if (c != XMODEM_TIMEOUT) {
            rx_.timeouts = 0;
        }
        Step step = Step::Next;
        int result = XMODEM_RECEIVE_FAILED;

        if (c == XMODEM_EOT) {
            if (s_.acceptFirstEot) {
                return eotConfirmed();
            }
            // A lone EOT may be line noise: ask for it again.
            inputFlush();
            sendbyte(XMODEM_NAK);
            int again = readbyte(EOT_CONFIRM_TIMEOUT);
            if (again == XMODEM_EOT) {
                return eotConfirmed();
            }
            tipLine("Spurious EOT detected; ignored\n");
            if (again == XMODEM_TIMEOUT || (again != XMODEM_EOT && startByteIs(again))) {
                c = again;
            } else {
                step = Step::Error;
            }
        }

        if (step == Step::Next) {
            if (c == XMODEM_TIMEOUT) {
                if (rx_.sectors > 0) {
                    tipLine("Timeout on Sector %s\n", label(rx_.sectors, rx_.blockSize, true));
                }
                if (++rx_.timeouts >= TIMEOUTS_MAX) {
                    receiveFileClose(false);
                    fatal("ABORTED -- Remote system is not sending file", true);
                    return XMODEM_RECEIVE_FAILED;
                }
                step = Step::Error;
            } else if (c == XMODEM_CAN) {
                step = cancelCheck(result);
            } else if (c == XMODEM_ACK) {
                step = modem7NameReceive(result);
            } else {
                step = blockStart(c, result);
            }
        }

        if (step == Step::Return) {
            // However the receive ends, a file it created is closed, never
            // left open (a batch end could come after its file was made).
            receiveFileClose(false);
            return result;
        }
        if (step == Step::Error && errorAccounting(c)) {
            step = Step::Fail;
        }
        if (step == Step::Fail) {
            return receiveFailure();
        }
    }
}

bool Xmodem::startByteIs(int c) const {
    switch (c) {
        case XMODEM_SOH:
        case XMODEM_STX:
        case XMODEM_EOT:
            return true;
        case XMODEM_ACK:
            return rx_.sectors == 0;
        case XMODEM_CAN:
            return !rx_.canRefused;
        default:
            return false;
    }
}

int Xmodem::startByteWait() {
    for (;;) {
        int c = readbyte(rx_.startTimeout);
        if (c == XMODEM_TIMEOUT || startByteIs(c)) {
            return c;
        }
    }
}

void Xmodem::dataRequestSend(bool opening, bool oneKRequest) {
    if (s_.ymodemG) {
        sendbyte(XMODEM_G_REQUEST);
    } else if (s_.crc && !(opening && s_.modem7)) {
        sendbyte(XMODEM_CRC_REQUEST);
        if (s_.oneK && oneKRequest) {
            sendbyte(XMODEM_1K_REQUEST);
        }
    } else {
        sendbyte(XMODEM_NAK);
    }
}

int Xmodem::readbuf(int blockSize, int timeoutSeconds, bool text, long sectors, uint16_t& check, int& kept) {
    Console& console = l_.p.console;
    uint8_t* data = blockBuffer_;
    uint16_t crc = 0;
    uint8_t sum = 0;
    bool textEnded = false;
    kept = 0;
    int got = 0;
    uint8_t chunk[XMODEM_1K_BLOCK_SIZE];
    while (got < blockSize) {
        if (terminated_ ||
            console.waitReadable(static_cast<int64_t>(timeoutSeconds) * XMODEM_MICROS_PER_SECOND) != 1) {
            return ERROR;
        }
        long n = console.read(chunk, static_cast<size_t>(blockSize - got));
        if (n <= 0) {
            return ERROR;
        }
        debugLine(1, "DEBUG: readbuf--read %d characters\n\r", static_cast<int>(n));
        for (long i = 0; i < n; ++i) {
            uint8_t byte = chunk[i];
            debugLine(2, "DEBUG: character read %02xh\n\r", byte);
            ++ymodemCount_;
            if (s_.crc) {
                crc = crc16_.update(crc, byte);
            } else {
                sum = static_cast<uint8_t>(sum + byte);
            }
            // Bytes past the announced length are padding: they count for
            // the check value but not for the file.
            if (ymodemLengthAnnounced_ && ymodemCount_ > ymodemLength_) {
                continue;
            }
            if (!text) {
                data[kept++] = byte;
                continue;
            }
            if (textEnded) {
                continue;
            }
            byte &= BIT7_MASK;
            if (byte == XMODEM_CR || byte == 0) {
                continue;
            }
            if (byte == XMODEM_SUB) {
                textEnded = true;
                continue;
            }
            data[kept++] = byte;
        }
        got += static_cast<int>(n);
    }
    if (ymodemLengthAnnounced_ && ymodemCount_ >= ymodemLength_) {
        logLine("File end from YMODEM length found in sector %s\n", label(sectors, blockSize, true));
    }
    check = s_.crc ? crc : sum;
    return OK;
}

bool Xmodem::checkValueRead(uint16_t computed, int& received) {
    if (s_.crc) {
        int high = readbyte(FIELD_TIMEOUT);
        int low = readbyte(FIELD_TIMEOUT);
        received = (high == XMODEM_TIMEOUT || low == XMODEM_TIMEOUT) ? XMODEM_TIMEOUT : (high << 8) | low;
    } else {
        received = readbyte(FIELD_TIMEOUT);
    }
    return received == computed;
}

Xmodem::Step Xmodem::cancelCheck(int& result) {
    if (cancelByte(readbyte(FIELD_TIMEOUT))) {
        if (rx_.fileOpen) {
            receiveFileClose(true);
            fatal("Reception Canceled by CAN-CAN; partial file deleted", true);
        } else {
            fatal("Reception Canceled by CAN-CAN", true);
        }
        result = XMODEM_RECEIVE_FAILED;
        return Step::Return;
    }
    tipLine("Received single CAN character\n");
    return Step::Error;
}

Xmodem::Step Xmodem::blockStart(int startByte, int& result) {
    rx_.blockSize = startByte == XMODEM_STX ? XMODEM_1K_BLOCK_SIZE : XMODEM_SECTOR_SIZE;
    if (rx_.sectors == 0) {
        if (rx_.blockSize == XMODEM_1K_BLOCK_SIZE) {
            tipLine("1K packet mode chosen\n");
        }
        rx_.errors = 0;
        rx_.startTimeout = START_TIMEOUT_AFTER_FIRST_BLOCK;
    }
    int number = readbyte(FIELD_TIMEOUT);
    int complement = readbyte(FIELD_TIMEOUT);
    if (number == XMODEM_TIMEOUT || complement == XMODEM_TIMEOUT || number + complement != 0xFF) {
        tipLine("Header Sector Number Error on Sector %s\n", label(rx_.sectors, rx_.blockSize, true));
        if (s_.ymodemG) {
            return Step::Fail;
        }
        lineClearWait();
        return Step::Error;
    }
    if (number == ((rx_.lastBlock + 1) & 0xFF)) {
        return dataBlock(number, result);
    }
    if (number == 0 && rx_.sectors == 0) {
        return ymodemHeader(result);
    }
    if (number == rx_.lastBlock) {
        tipLine("Duplicate sector %s flushed\n", label(rx_.sectors, rx_.blockSize, false));
        if (s_.ymodemG) {
            return Step::Fail;
        }
        lineClearWait();
        sendbyte(XMODEM_ACK);
        return Step::Next;
    }
    tipLine("Phase Error - Expected packet is %s\n", label(rx_.sectors, rx_.blockSize, true));
    return Step::Fail;
}

Xmodem::Step Xmodem::dataBlock(int blockNumber, int& result) {
    Files& files = l_.p.files;
    debugLine(1, "DEBUG: packet with sector number %d started\n\r", rx_.lastBlock);
    const long countBefore = ymodemCount_;
    uint16_t check = 0;
    int kept = 0;
    if (readbuf(rx_.blockSize, DATA_GAP_TIMEOUT, s_.mode == 't', rx_.sectors, check, kept) != OK) {
        tipLine("Timeout while reading sector %s\n", label(rx_.sectors, rx_.blockSize, true));
        ymodemCount_ = countBefore;
        return Step::Error;
    }
    int received = 0;
    if (!checkValueRead(check, received)) {
        tipLine("Checksum Error on Sector %s:  ", label(rx_.sectors, rx_.blockSize, true));
        tipLine("sent=%x  ", static_cast<unsigned>(received));
        tipLine("recvd=%x\n", static_cast<unsigned>(check));
        ymodemCount_ = countBefore;
        return Step::Error;
    }
    debugLine(1, "DEBUG: '%s'\n\r", "checksum ok");

    rx_.errors = 0;
    rx_.lastBlock = blockNumber;
    rx_.sectors += rx_.blockSize == XMODEM_1K_BLOCK_SIZE ? XMODEM_SECTORS_PER_1K_BLOCK : 1;
    if (!s_.cancan) {
        // Inside the data a CAN byte is far more likely noise than a cancel.
        rx_.canRefused = true;
    }
    if (!rx_.fileOpen) {
        if (!receiveFileCreate()) {
            cancelSend(CANCEL_ON_CREATE_FAILURE);
            fatal("Can't create file for receive", true);
            result = XMODEM_RECEIVE_FAILED;
            return Step::Return;
        }
        if (!s_.batch) {
            tipLine("File Name: %s\n", fileName_);
        }
    }
    if (kept > 0 && files.write(rx_.fd, blockBuffer_, static_cast<size_t>(kept)) != kept) {
        receiveFileClose(true);
        fatal("File Write Error", true);
        result = XMODEM_RECEIVE_FAILED;
        return Step::Return;
    }
    if (s_.tip && rx_.sectors % PROGRESS_INTERVAL_SECTORS == 0) {
        l_.io.eprintf("Sector %s received\n", label(rx_.sectors, rx_.blockSize, false));
    }
    if (!s_.ymodemG) {
        inputFlush();
        sendbyte(XMODEM_ACK);
    }
    return Step::Next;
}

Xmodem::Step Xmodem::ymodemHeader(int& result) {
    tipLine("YMODEM Batch Protocol\n");
    // The same header again: the sender did not take the answer to it.
    const bool repeated = rx_.fileOpen && rx_.sectors == 0;
    // The header is not file data: no length applies to it.
    ymodemLengthAnnounced_ = false;
    ymodemCount_ = 0;
    uint16_t check = 0;
    int kept = 0;
    if (readbuf(rx_.blockSize, DATA_GAP_TIMEOUT, false, rx_.sectors, check, kept) != OK) {
        tipLine("Timeout while reading filename packet\n");
        return Step::Error;
    }
    int received = 0;
    if (!checkValueRead(check, received)) {
        tipLine("checksum error on filename sector\n");
        return Step::Error;
    }

    const uint8_t* data = blockBuffer_;
    const size_t blockSize = static_cast<size_t>(rx_.blockSize);
    // The name ends at its 0 byte, or at the block's end when the sender
    // gave none; either way it is cut to the name buffer.
    size_t nameEnd = 0;
    while (nameEnd < blockSize && data[nameEnd] != 0) {
        ++nameEnd;
    }
    char name[XMODEM_FILE_NAME_SIZE];
    size_t copied = nameEnd < sizeof name - 1 ? nameEnd : sizeof name - 1;
    std::memcpy(name, data, copied);
    name[copied] = '\0';

    s_.batch = true;
    s_.ymodem = true;
    unsigned estimatedRecords = data[blockSize - 2] | (data[blockSize - 1] << 8);

    if (name[0] == '\0') {
        inputFlush();
        sendbyte(XMODEM_ACK);
        tipLine("YMODEM Batch Receive Complete\n");
        result = XMODEM_RECEIVE_DONE;
        return Step::Return;
    }
    senderNameAdjust(name);

    char headerText[XMODEM_1K_BLOCK_SIZE + 1] = {};
    if (nameEnd + 1 < blockSize) {
        std::memcpy(headerText, data + nameEnd + 1, blockSize - nameEnd - 1);
    }
    long length = 0;
    unsigned long modificationTime = 0;
    unsigned mode = 0;
    unsigned serialNumber = 0;
    int filesLeft = 0;
    long bytesLeft = 0;
    int fileType = 0;
    std::sscanf(headerText, "%ld%lo%o%o%d%ld%d", &length, &modificationTime, &mode, &serialNumber, &filesLeft,
                &bytesLeft, &fileType);
    length = ymodemLengthField(headerText);
    debugLine(1, "DEBUG: header info: %s\n\r", headerText);
    tipLine("YMODEM file name: %s\n", name);
    ymodemCount_ = 0;
    if (length != 0) {
        ymodemLength_ = length;
        ymodemLengthAnnounced_ = true;
        tipLine("YMODEM file size: %ld\n", length);
    } else if (estimatedRecords != 0) {
        logLine("YMODEM estimated file length %d sectors\n", static_cast<int>(estimatedRecords));
    }
    if (mode != 0) {
        logLine("YMODEM file mode: %o\n", mode);
    }
    if (filesLeft != 0) {
        tipLine("YMODEM %d file(s) left to receive ", filesLeft);
        tipLine("containing %ld bytes\n", bytesLeft);
    }
    if (serialNumber != 0) {
        logLine("YMODEM sender's serial number: %d\n", static_cast<int>(serialNumber));
    }
    if (fileType != 0) {
        logLine("YMODEM file type %d\n", fileType);
    }

    Step taken = senderNameTake(name, result);
    if (taken != Step::Next) {
        return taken;
    }
    if (!receiveFileCreate()) {
        cancelSend(CANCEL_ON_CREATE_FAILURE);
        fatal("Can't create file for receive", true);
        result = XMODEM_RECEIVE_FAILED;
        return Step::Return;
    }
    if (!s_.ymodemG) {
        inputFlush();
        sendbyte(XMODEM_ACK);
    }
    // A sender that knows no "K" reads it where it waits for the header's
    // ACK, takes the "C" behind it for a NAK and sends the header again;
    // answering every repeat with "K" again would keep it doing so for
    // ever. Repeats are answered without it.
    dataRequestSend(false, !repeated);
    rx_.startupAttempts = 0;
    rx_.startTimeout = START_TIMEOUT_FIRST;
    return Step::Next;
}

Xmodem::Step Xmodem::modem7NameReceive(int& result) {
    tipLine("MODEM7 Batch Protocol\n");
    uint8_t form[MODEM7_FORM_LENGTH] = {};
    uint8_t checksum = 0;
    for (size_t i = 0; i < MODEM7_FORM_LENGTH;) {
        int c = readbyte(MODEM7_CHARACTER_TIMEOUT);
        if (c == XMODEM_CAN) {
            if (readbyte(MODEM7_CHARACTER_TIMEOUT) == XMODEM_CAN) {
                fatal("Program Canceled by CAN-CAN", true);
                result = XMODEM_RECEIVE_FAILED;
                return Step::Return;
            }
            tipLine("Received single CAN character in MODEM7 filename\n");
            return Step::Error;
        }
        if (c == XMODEM_EOT && i == 0) {
            sendbyte(XMODEM_ACK);
            tipLine("MODEM7 Batch Receive Complete\n");
            result = XMODEM_RECEIVE_DONE;
            return Step::Return;
        }
        if (c == XMODEM_TIMEOUT) {
            tipLine("Timeout waiting for MODEM7 filename character\n");
            return Step::Error;
        }
        if (c == XMODEM_MODEM7_NAME_ERROR) {
            tipLine("Error during MODEM7 filename transfer\n");
            return Step::Error;
        }
        form[i++] = static_cast<uint8_t>(c);
        checksum = static_cast<uint8_t>(checksum + c);
        sendbyte(XMODEM_ACK);
    }
    if (readbyte(MODEM7_CHARACTER_TIMEOUT) != XMODEM_SUB) {
        tipLine("Length error in MODEM7 filename\n");
        return Step::Error;
    }
    sendbyte(static_cast<uint8_t>(checksum + XMODEM_SUB));
    if (readbyte(MODEM7_CHECKSUM_ACK_TIMEOUT) != XMODEM_ACK) {
        tipLine("Checksum error in MODEM7 filename\n");
        return Step::Error;
    }
    debugLine(1, "DEBUG: '%s'\n\r", "MODEM7 file name OK");

    for (uint8_t& c : form) {
        c &= BIT7_MASK;
        c = static_cast<uint8_t>(std::tolower(c));
        if (c == '/' || c == '\\') {
            c = ':';
        }
    }
    char name[MODEM7_FORM_LENGTH + 2] = {};
    size_t length = 0;
    for (size_t i = 0; i < MODEM7_NAME_LENGTH && form[i] != ' '; ++i) {
        name[length++] = static_cast<char>(form[i]);
    }
    const uint8_t* extension = form + MODEM7_NAME_LENGTH;
    if (!(extension[0] == ' ' && extension[1] == ' ' && extension[2] == ' ')) {
        name[length++] = '.';
        for (size_t i = 0; i < MODEM7_EXTENSION_LENGTH && extension[i] != ' '; ++i) {
            name[length++] = static_cast<char>(extension[i]);
        }
    }
    name[length] = '\0';
    if (name[0] == '\0') {
        fatal("Null file name in MODEM7 batch receive", true);
        result = XMODEM_RECEIVE_FAILED;
        return Step::Return;
    }
    s_.batch = true;
    tipLine("MODEM7 file name: %s\n", name);
    Step taken = senderNameTake(name, result);
    if (taken != Step::Next) {
        return taken;
    }
    sleepMillis(MODEM7_NAME_PAUSE_MILLIS);
    rx_.errors = 0;
    return Step::Next;
}

Xmodem::Step Xmodem::senderNameTake(const char* name, int& result) {
    if (nameGiven_ && rx_.continuing) {
        // One named target holds one file: a second file of a batch would
        // silently replace the first.
        cancelSend(CANCEL_ON_CREATE_FAILURE);
        fatal("Only one file can be received into a named file", true);
        result = XMODEM_RECEIVE_FAILED;
        return Step::Return;
    }
    if (nameGiven_) {
        // The operator named the target: the data go there and nowhere
        // else, whatever the sender calls its file.
        return Step::Next;
    }
    if (!senderNameUsable(name)) {
        cancelSend(CANCEL_ON_CREATE_FAILURE);
        char message[XMODEM_FILE_NAME_SIZE + 48];
        std::snprintf(message, sizeof message, "Refused file name from sender: \"%s\"", name);
        fatal(message, true);
        result = XMODEM_RECEIVE_FAILED;
        return Step::Return;
    }
    textCopy(fileName_, sizeof fileName_, name);
    return Step::Next;
}

bool Xmodem::errorAccounting(int startByte) {
    if (rx_.sectors > 0) {
        if (s_.ymodemG) {
            return true;
        }
        if (++rx_.errors >= ERRORS_MAX) {
            return true;
        }
        lineClearWait();
        sendbyte(XMODEM_NAK);
        return false;
    }
    if (startByte == XMODEM_EOT) {
        return false;
    }
    ++rx_.startupAttempts;
    rx_.startTimeout = rx_.startupAttempts + 1;
    if (rx_.startupAttempts >= STARTUP_ATTEMPTS_MAX) {
        return true;
    }
    if (s_.crc && s_.modem7 && !s_.batch) {
        sendbyte(XMODEM_NAK);
    } else if (s_.crc && rx_.startupAttempts == STARTUP_SWAP_ATTEMPT && !s_.ymodem) {
        s_.crc = false;
        tipLine("Sender not accepting CRC request, changing to checksum\n");
        sendbyte(XMODEM_NAK);
    } else if (!s_.crc && rx_.startupAttempts == STARTUP_SWAP_ATTEMPT && !s_.ymodem) {
        s_.crc = true;
        tipLine("Sender not accepting checksum request, changing to CRC\n");
        sendbyte(XMODEM_CRC_REQUEST);
        if (s_.oneK && !s_.modem7 && !rx_.continuing) {
            sendbyte(XMODEM_1K_REQUEST);
        }
    } else if (s_.ymodemG) {
        sendbyte(XMODEM_G_REQUEST);
    } else if (!s_.crc) {
        sendbyte(XMODEM_NAK);
    } else {
        sendbyte(XMODEM_CRC_REQUEST);
        if (s_.oneK && !s_.modem7 && !rx_.continuing) {
            sendbyte(XMODEM_1K_REQUEST);
        }
    }
    return false;
}

int Xmodem::eotConfirmed() {
    // An EOT before any data leaves no file behind.
    receiveFileClose(false);
    sendbyte(XMODEM_ACK);
    tipLine("Receive Complete\n");
    if (s_.tip) {
        transferRate(rx_.sectors, Stream::Output);
    }
    return s_.batch ? XMODEM_RECEIVE_MORE : XMODEM_RECEIVE_DONE;
}

int Xmodem::receiveFailure() {
    if (rx_.fileOpen) {
        cancelSend(CANCEL_ON_ABORT);
        receiveFileClose(true);
        lineClearWait();
        fatal("ABORTED -- Too Many Errors -- Deleting File", true);
    } else if (rx_.sectors == 0) {
        lineClearWait();
        fatal("ABORTED -- Remote system is not responding", true);
    } else {
        cancelSend(CANCEL_ON_ABORT);
        lineClearWait();
        fatal("ABORTED -- Too Many Errors", true);
    }
    return XMODEM_RECEIVE_FAILED;
}

bool Xmodem::receiveFileCreate() {
    Files& files = l_.p.files;
    receiveFileClose(false);
    rx_.fd = files.open(fileName_, OPEN_CREAT | OPEN_WRONLY | OPEN_TRUNC, XMODEM_RECEIVE_FILE_MODE);
    rx_.fileOpen = rx_.fd >= 0;
    return rx_.fileOpen;
}

void Xmodem::receiveFileClose(bool remove) {
    if (!rx_.fileOpen) {
        return;
    }
    l_.p.files.close(rx_.fd);
    rx_.fd = -1;
    rx_.fileOpen = false;
    if (remove) {
        l_.p.files.remove(fileName_);
    }
}

void Xmodem::cancelSend(int count) {
    for (int i = 0; i < count; ++i) {
        sendbyte(XMODEM_CAN);
    }
}

}  // namespace swboot
