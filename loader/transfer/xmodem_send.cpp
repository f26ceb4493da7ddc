// The sending side of the xmodem command: reads one file from the flash
// volume and sends it in XMODEM blocks, letting the receiver choose
// checksum or CRC, YMODEM-G streaming and (for YMODEM) 1024-byte blocks.
// In a batch a YMODEM header block or a MODEM7 name goes first, and a call
// with an empty name closes the batch.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/handles.h"
#include "loader.h"
#include "transfer/xmodem.h"

namespace swboot {

namespace {

constexpr int HANDSHAKE_READ_TIMEOUT = 1;
constexpr int HANDSHAKE_UNANSWERED_MAX = 120;
constexpr int ONE_K_REQUEST_TIMEOUT = 1;
constexpr int SECOND_CAN_TIMEOUT = 3;
constexpr int YMODEM_REQUEST_TIMEOUT = 2;
constexpr int YMODEM_REQUEST_FAILURES_MAX = 10;
constexpr int BLOCK_ACK_TIMEOUT = 10;
constexpr int BLOCK_TRANSMISSIONS_MAX = 10;
constexpr int FALLBACK_ATTEMPTS = 5;        // more than this on a 1K block: go to 128
constexpr long FALLBACK_RECORDS_LEFT = 7;   // this few records left: go to 128
constexpr int EOT_ACK_TIMEOUT = 15;
constexpr int EOT_SENDS_MAX = 11;
constexpr int EOT_ACCEPTED_WITHIN = 5;
constexpr int EOT_REPORT_FIRST = 2;
constexpr int EOT_REPORT_LAST = 10;
constexpr int MODEM7_ACK_TIMEOUT = 15;
constexpr int MODEM7_CHECKSUM_TIMEOUT = 16;
constexpr int MODEM7_BATCH_END_TIMEOUT = 2;
constexpr long PROGRESS_INTERVAL_SECTORS = 32;
constexpr int CANCEL_ON_OPEN_FAILURE = 3;
constexpr int CANCEL_ON_ABORT = 5;
constexpr uint8_t BIT7_MASK = 0x7F;
// A header whose name and text reach this byte does not fit a 128-byte
// block beside the record count.
constexpr size_t YMODEM_HEADER_FIT_LIMIT = 125;
// handshake(): the MODEM7 batch end went through.
constexpr int HANDSHAKE_BATCH_CLOSED = 1;
constexpr long BYTES_PER_K = 1024;

bool cancelByte(int c) { return c != XMODEM_TIMEOUT && (c & BIT7_MASK) == XMODEM_CAN; }

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

}  // namespace

int Xmodem::send(const char* name) {
    Files& files = l_.p.files;
    // The receiver decides these.
    s_.crc = false;
    s_.ymodemG = false;
    tx_ = SendState{};
    fileBufferFill_ = 0;
    fileBufferPosition_ = 0;
    tx_.batchEnd = name[0] == '\0';

    if (tx_.batchEnd && !s_.batch) {
        cancelSend(CANCEL_ON_OPEN_FAILURE);
        fatal("NULL file name in send", true);
        return ERROR;
    }
    if (tx_.batchEnd) {
        logLine("----\nXMODEM Send Function\n");
        tipLine("Closing down Batch Transmission\n");
    } else {
        tipLine("----\nXMODEM Send Function\n");
    }
    // Every way out of the send closes the file; the file itself is never
    // changed.
    FileHandle file(files, tx_.batchEnd ? -1 : files.open(name, OPEN_RDONLY, 0));
    if (!tx_.batchEnd) {
        if (!file.isOpen()) {
            cancelSend(CANCEL_ON_OPEN_FAILURE);
            fatal("Can't open file for send", true);
            return ERROR;
        }
        tx_.fd = file.fd();
        FileStatus status;
        if (files.fstat(tx_.fd, status) == OK) {
            tx_.size = static_cast<long>(status.size);
            tx_.mtime = status.mtime;
            tx_.mode = status.mode;
        }
        if (s_.mode == 't') {
            tx_.size += countnl(tx_.fd);
        }
    }
    tx_.records = tx_.size / XMODEM_SECTOR_SIZE + 1;
    if (!tx_.batchEnd && s_.tip) {
        l_.io.eprintf("File Name: %s\n\r", name);
        l_.io.eprintf("File Size %ldK, %ld Records, %ld Bytes\n\r", tx_.size / BYTES_PER_K + 1, tx_.records, tx_.size);
        estimatedTime(tx_.records, Stream::Error);
    }
    if (s_.oneK && !tx_.batchEnd) {
        tipLine("1K packet mode chosen on command line\n");
    }
    tx_.blockSize = s_.oneK ? XMODEM_1K_BLOCK_SIZE : XMODEM_SECTOR_SIZE;
    tx_.blockNumber = s_.ymodem ? 0 : 1;

    int handshakeResult = handshake(name);
    if (handshakeResult == ERROR) {
        return ERROR;
    }
    if (handshakeResult == HANDSHAKE_BATCH_CLOSED) {
        return OK;
    }

    for (;;) {
        const bool header = tx_.blockNumber == 0;
        if (s_.ymodem && tx_.blockNumber == 1) {
            // The header went through (an empty one closes the batch); the
            // receiver asks again for the data.
            if (tx_.batchEnd) {
                return OK;
            }
            tx_.blockSize = (s_.oneK || tx_.oneKWanted) ? XMODEM_1K_BLOCK_SIZE : XMODEM_SECTOR_SIZE;
            if (ymodemRequestWait() != OK) {
                return ERROR;
            }
        }
        int blockSize;
        if (header) {
            blockSize = ymodemHeaderFill(name);
        } else {
            if (tx_.blockSize == XMODEM_1K_BLOCK_SIZE && tx_.attempts > FALLBACK_ATTEMPTS) {
                tipLine("Reducing packet size to 128 due to excessive errors\n");
                tx_.blockSize = XMODEM_SECTOR_SIZE;
            }
            if (tx_.blockSize == XMODEM_1K_BLOCK_SIZE && tx_.records - tx_.sectorsSent <= FALLBACK_RECORDS_LEFT) {
                tipLine("Reducing packet size to 128 for tail end of file\n");
                tx_.blockSize = XMODEM_SECTOR_SIZE;
            }
            blockSize = tx_.blockSize;
            if (!blockFill(blockSize)) {
                break;
            }
        }
        if (blockTransmit(blockSize, header) != OK) {
            return ERROR;
        }
        ++tx_.blockNumber;
        if (!header) {
            tx_.sectorsSent += blockSize == XMODEM_1K_BLOCK_SIZE ? XMODEM_SECTORS_PER_1K_BLOCK : 1;
            if (s_.tip && tx_.sectorsSent % PROGRESS_INTERVAL_SECTORS == 0) {
                l_.io.eprintf("Sector %s sent\n", label(tx_.sectorsSent, blockSize, false));
            }
        }
        if (tx_.endOfFile) {
            break;
        }
    }
    return endOfFilePhase();
}

int Xmodem::handshake(const char* name) {
    int unanswered = 0;
    for (;;) {
        int c;
        for (;;) {
            c = readbyte(HANDSHAKE_READ_TIMEOUT);
            if (c == XMODEM_NAK || c == XMODEM_CRC_REQUEST || c == XMODEM_G_REQUEST) {
                break;
            }
            if (cancelByte(c)) {
                if (cancelByte(readbyte(SECOND_CAN_TIMEOUT))) {
                    fatal("Send Canceled by CAN-CAN", true);
                    return ERROR;
                }
                continue;
            }
            if (++unanswered > HANDSHAKE_UNANSWERED_MAX) {
                if (s_.modem7 && !tx_.modem7NameSent) {
                    sendbyte(XMODEM_ACK);
                    sendbyte(XMODEM_EOT);
                }
                fatal("Remote System Not Responding", true);
                return ERROR;
            }
        }
        if (c == XMODEM_G_REQUEST) {
            s_.crc = true;
            s_.cancan = true;
            s_.ymodemG = true;
            if (!tx_.batchEnd) {
                tipLine("Receiver invoked YMODEM-G and CRC modes\n");
            }
        } else if (c == XMODEM_CRC_REQUEST) {
            s_.crc = true;
            if (!tx_.batchEnd) {
                tipLine("Receiver invoked CRC mode\n");
            }
            if (readbyte(ONE_K_REQUEST_TIMEOUT) == XMODEM_1K_REQUEST) {
                tx_.oneKWanted = true;
                tipLine("Receiver invoked 1K packet mode\n");
            }
        }
        if (s_.modem7 && tx_.batchEnd) {
            sendbyte(XMODEM_ACK);
            sendbyte(XMODEM_EOT);
            inputFlush();
            readbyte(MODEM7_BATCH_END_TIMEOUT);
            return HANDSHAKE_BATCH_CLOSED;
        }
        if (s_.modem7 && !tx_.modem7NameSent) {
            modem7FormBuild(name);
            if (send_name() == OK) {
                tx_.modem7NameSent = true;
            }
            continue;
        }
        return OK;
    }
}

int Xmodem::fileByte() {
    if (fileBufferPosition_ >= fileBufferFill_) {
        long n = l_.p.files.read(tx_.fd, fileBuffer_, sizeof fileBuffer_);
        if (n < 0) {
            fatal("File Read Error", false);
            return -1;
        }
        if (n == 0) {
            return -1;
        }
        fileBufferFill_ = n;
        fileBufferPosition_ = 0;
    }
    return fileBuffer_[fileBufferPosition_++];
}

bool Xmodem::blockFill(int blockSize) {
    uint8_t* data = blockBuffer_ + XMODEM_BLOCK_HEADER_SIZE;
    const bool text = s_.mode == 't';
    int position = 0;
    while (position < blockSize) {
        if (tx_.lineFeedPending) {
            data[position++] = XMODEM_LF;
            tx_.lineFeedPending = false;
            continue;
        }
        int c = fileByte();
        if (c < 0) {
            tx_.endOfFile = true;
            break;
        }
        if (text && c == XMODEM_LF) {
            data[position++] = XMODEM_CR;
            if (position < blockSize) {
                data[position++] = XMODEM_LF;
            } else {
                tx_.lineFeedPending = true;
            }
        } else {
            data[position++] = static_cast<uint8_t>(c);
        }
    }
    if (position == 0 && tx_.endOfFile) {
        return false;
    }
    std::memset(data + position, XMODEM_SUB, static_cast<size_t>(blockSize - position));
    return true;
}

int ymodemHeaderBuild(uint8_t* data, const char* path, const char* text, long records) {
    std::memset(data, 0, XMODEM_1K_BLOCK_SIZE);
    size_t length = 0;
    if (path[0] != '\0') {
        for (const char* p = baseName(path); *p != '\0' && length < XMODEM_FILE_NAME_SIZE - 1; ++p) {
            char c = *p == ':' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
            data[length++] = static_cast<uint8_t>(c);
        }
        ++length;  // the name's 0 byte
        size_t textLength = std::strlen(text);
        if (textLength > XMODEM_1K_BLOCK_SIZE - 3 - length) {
            textLength = XMODEM_1K_BLOCK_SIZE - 3 - length;
        }
        std::memcpy(data + length, text, textLength);
    }
    int blockSize = data[YMODEM_HEADER_FIT_LIMIT] != 0 ? XMODEM_1K_BLOCK_SIZE : XMODEM_SECTOR_SIZE;
    data[blockSize - 2] = static_cast<uint8_t>(records & 0xFF);
    data[blockSize - 1] = static_cast<uint8_t>((records >> 8) & 0xFF);
    return blockSize;
}

int Xmodem::ymodemHeaderFill(const char* name) {
    uint8_t* data = blockBuffer_ + XMODEM_BLOCK_HEADER_SIZE;
    if (tx_.batchEnd) {
        // The batch closes with a block of zeros.
        return ymodemHeaderBuild(data, "", "", 0);
    }
    char text[96];
    std::snprintf(text, sizeof text, "%lu %lo %o 0 %d %ld 0", static_cast<unsigned long>(tx_.size),
                  static_cast<unsigned long>(tx_.mtime), static_cast<unsigned>(tx_.mode),
                  static_cast<int>(batchFilesLeft_), batchBytesLeft_);
    int blockSize = ymodemHeaderBuild(data, name, text, tx_.records);
    debugLine(1, "DEBUG: YMODEM header information: %s %s\n\r", reinterpret_cast<const char*>(data), text);
    if (blockSize == XMODEM_1K_BLOCK_SIZE) {
        debugLine(1, "DEBUG: YMODEM header sent in 1024 byte packet\n\r");
    }
    --batchFilesLeft_;
    batchBytesLeft_ -= tx_.size;
    if (batchFilesLeft_ <= 0 || batchBytesLeft_ < 0) {
        batchBytesLeft_ = 0;
    }
    return blockSize;
}

int Xmodem::blockTransmit(int blockSize, bool header) {
    uint8_t* packet = blockBuffer_;
    const uint8_t number = static_cast<uint8_t>(tx_.blockNumber & 0xFF);
    packet[0] = blockSize == XMODEM_1K_BLOCK_SIZE ? XMODEM_STX : XMODEM_SOH;
    packet[1] = number;
    packet[2] = static_cast<uint8_t>(0xFF - number);
    const uint8_t* data = packet + XMODEM_BLOCK_HEADER_SIZE;
    size_t length = XMODEM_BLOCK_HEADER_SIZE + static_cast<size_t>(blockSize);
    if (s_.crc) {
        uint16_t crc = crc16_.compute(data, static_cast<size_t>(blockSize));
        packet[length++] = static_cast<uint8_t>(crc >> 8);
        packet[length++] = static_cast<uint8_t>(crc);
    } else {
        uint8_t sum = 0;
        for (int i = 0; i < blockSize; ++i) {
            sum = static_cast<uint8_t>(sum + data[i]);
        }
        packet[length++] = sum;
    }

    tx_.attempts = 0;
    for (;;) {
        writebuf(packet, length);
        if (!s_.ymodemG) {
            inputFlush();
        }
        ++tx_.attempts;
        debugLine(1, "DEBUG: %d byte Packet %02xh (%02xh) sent, checksum %02xh %02xh\n\r", static_cast<int>(length),
                  packet[1], packet[2], packet[length - 2], packet[length - 1]);
        if (s_.ymodemG) {
            return OK;
        }
        int c = readbyte(BLOCK_ACK_TIMEOUT);
        if (c == XMODEM_ACK) {
            return OK;
        }
        const char* next = label(tx_.sectorsSent, header ? XMODEM_SECTOR_SIZE : blockSize, true);
        if (c == XMODEM_TIMEOUT) {
            tipLine("Timeout on sector %s\n", next);
        }
        if (cancelByte(c) && s_.cancan) {
            if (cancelByte(readbyte(SECOND_CAN_TIMEOUT))) {
                fatal("Send Canceled by CAN-CAN", true);
                return ERROR;
            }
            tipLine("Non-ACK on sector %s\n", next);
        } else if (cancelByte(c)) {
            tipLine("ignored CAN on sector %s\n", next);
        } else if (c == XMODEM_NAK) {
            tipLine("NAK on sector %s\n", next);
        } else {
            tipLine("Non-ACK on sector %s\n", next);
        }
        if (tx_.attempts >= BLOCK_TRANSMISSIONS_MAX) {
            cancelSend(CANCEL_ON_ABORT);
            fatal("Too many errors in transmission", true);
            return ERROR;
        }
    }
}

int Xmodem::ymodemRequestWait() {
    int failures = 0;
    for (;;) {
        int c = readbyte(YMODEM_REQUEST_TIMEOUT);
        if (c == XMODEM_CRC_REQUEST) {
            // A "K" may follow the "C", as in the opening handshake; left
            // in the input it would pass for the answer to the first data
            // block. The block size was settled by the opening.
            readbyte(ONE_K_REQUEST_TIMEOUT);
            return OK;
        }
        if (c == XMODEM_G_REQUEST || c == XMODEM_NAK) {
            return OK;
        }
        if (cancelByte(c) && cancelByte(readbyte(SECOND_CAN_TIMEOUT))) {
            fatal("Send Canceled by CAN-CAN", true);
            return ERROR;
        }
        if (++failures > YMODEM_REQUEST_FAILURES_MAX) {
            fatal("YMODEM protocol botch, C or G expected", true);
            return ERROR;
        }
    }
}

int Xmodem::endOfFilePhase() {
    int acknowledgedAt = 0;
    for (int sent = 1; sent <= EOT_SENDS_MAX; ++sent) {
        sendbyte(XMODEM_EOT);
        if (readbyte(EOT_ACK_TIMEOUT) == XMODEM_ACK) {
            acknowledgedAt = sent;
            break;
        }
        if (sent >= EOT_REPORT_FIRST && sent <= EOT_REPORT_LAST) {
            tipLine("EOT not ACKed, try %d\n", sent);
        }
    }
    if (acknowledgedAt >= 1 && acknowledgedAt <= EOT_ACCEPTED_WITHIN) {
        logLine("Send Complete\n");
        if (s_.tip) {
            l_.io.eprintf("Send Complete\n");
            transferRate(tx_.sectorsSent, Stream::Error);
        }
        return OK;
    }
    fatal("Remote System Not Responding on Completion", true);
    return ERROR;
}

void Xmodem::modem7FormBuild(const char* name) {
    std::memset(modem7Form_, ' ', MODEM7_FORM_LENGTH);
    modem7Form_[MODEM7_FORM_LENGTH] = '\0';
    const char* p = baseName(name);
    while (*p == '.') {
        ++p;
    }
    for (size_t i = 0; i < MODEM7_NAME_LENGTH && *p != '\0' && *p != '.'; ++i) {
        modem7Form_[i] = *p++;
    }
    while (*p != '\0' && *p != '.') {
        ++p;
    }
    while (*p == '.') {
        ++p;
    }
    for (size_t i = MODEM7_NAME_LENGTH; i < MODEM7_FORM_LENGTH && *p != '\0' && *p != '.'; ++i) {
        modem7Form_[i] = *p++;
    }
    for (size_t i = 0; i < MODEM7_FORM_LENGTH; ++i) {
        char c = static_cast<char>(modem7Form_[i] & BIT7_MASK);
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        modem7Form_[i] = c == ':' ? '/' : c;
    }
    debugLine(1, "DEBUG: File %s sent as %s\n\r", name, modem7Form_);
}

int Xmodem::send_name() {
    debugLine(1, "DEBUG: '%s'\n\r", "send_name");
    uint8_t name[MODEM7_FORM_LENGTH + 1];
    std::memcpy(name, modem7Form_, MODEM7_FORM_LENGTH);
    name[MODEM7_FORM_LENGTH] = XMODEM_SUB;
    uint8_t checksum = 0;
    for (uint8_t c : name) {
        checksum = static_cast<uint8_t>(checksum + c);
    }
    sendbyte(XMODEM_ACK);
    sendbyte(name[0]);
    for (size_t i = 1; i < sizeof name; ++i) {
        int c = readbyte(MODEM7_ACK_TIMEOUT);
        if (c != XMODEM_ACK) {
            if (c == XMODEM_TIMEOUT) {
                tipLine("Timeout while sending MODEM7 filename\n");
            } else {
                tipLine("Error while sending MODEM7 filename\n");
            }
            sendbyte(XMODEM_MODEM7_NAME_ERROR);
            return ERROR;
        }
        sendbyte(name[i]);
    }
    if (readbyte(MODEM7_CHECKSUM_TIMEOUT) == checksum) {
        sendbyte(XMODEM_ACK);
        return OK;
    }
    tipLine("Bad checksum while sending MODEM7 filename\n");
    sendbyte(XMODEM_MODEM7_NAME_ERROR);
    return ERROR;
}

}  // namespace swboot
