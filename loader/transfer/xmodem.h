// The xmodem command: moves a file, or a batch of files, between the flash
// volume and a terminal program at the far end of the console line, with
// XMODEM (checksum or CRC-16), XMODEM-1K, YMODEM batch, YMODEM-G and MODEM7
// batch names. One argument string drives it ("-cbrke xcode.bin",
// "cbske asciilog.bin"); the result is 0 or -1.
//
// The command is built from these parts: xmodem.cpp (the command and its
// receive and send flows), xmodem_arguments.cpp (the argument string and
// the option letters), xmodem_line.cpp (console handling and the line
// primitives), xmodem_reports.cpp (labels, time and rate reports, log and
// tip lines), xmodem_receive.cpp (the receiver), xmodem_send.cpp (the
// sender) and xmodem_crc.cpp (the CRC-16). All working storage lives in the
// object and is reset at the start of each command: the command is not
// re-entrant.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/text_sink.h"
#include "platform/tasks.h"
#include "transfer/xmodem_crc.h"

namespace swboot {

class Loader;

// The protocol's control bytes.
inline constexpr uint8_t XMODEM_SOH = 0x01;   // starts a 128-byte block
inline constexpr uint8_t XMODEM_STX = 0x02;   // starts a 1024-byte block
inline constexpr uint8_t XMODEM_EOT = 0x04;   // end of the file
inline constexpr uint8_t XMODEM_ACK = 0x06;
inline constexpr uint8_t XMODEM_NAK = 0x15;   // also the request for checksum mode
inline constexpr uint8_t XMODEM_CAN = 0x18;   // two in a row cancel
inline constexpr uint8_t XMODEM_SUB = 0x1A;   // pads the last block; ends a MODEM7 name
inline constexpr uint8_t XMODEM_CRC_REQUEST = 'C';
inline constexpr uint8_t XMODEM_G_REQUEST = 'G';
inline constexpr uint8_t XMODEM_1K_REQUEST = 'K';
inline constexpr uint8_t XMODEM_MODEM7_NAME_ERROR = 'u';
inline constexpr uint8_t XMODEM_CR = 0x0D;
inline constexpr uint8_t XMODEM_LF = 0x0A;

// readbyte's answer when nothing arrived in time.
inline constexpr int XMODEM_TIMEOUT = -1;
inline constexpr int64_t XMODEM_MICROS_PER_SECOND = 1000000;

inline constexpr int XMODEM_SECTOR_SIZE = 128;
inline constexpr int XMODEM_1K_BLOCK_SIZE = 1024;
inline constexpr int XMODEM_SECTORS_PER_1K_BLOCK = XMODEM_1K_BLOCK_SIZE / XMODEM_SECTOR_SIZE;
// Start byte, block number, its complement.
inline constexpr size_t XMODEM_BLOCK_HEADER_SIZE = 3;
// Checksum byte or the two CRC bytes.
inline constexpr size_t XMODEM_BLOCK_CHECK_SIZE_MAX = 2;

// Argument vector: an 80-byte copy of the string, slot 0 the command's own
// name, up to 18 words, an empty slot at the end.
inline constexpr size_t XMODEM_ARGUMENT_BUFFER_SIZE = 80;
inline constexpr size_t XMODEM_ARGUMENT_LENGTH_MAX = XMODEM_ARGUMENT_BUFFER_SIZE - 1;
inline constexpr int XMODEM_ARGUMENT_SLOTS = 20;
inline constexpr int XMODEM_ARGUMENT_WORDS_MAX = XMODEM_ARGUMENT_SLOTS - 2;

// The name of the file being moved; names that arrive longer are cut.
inline constexpr size_t XMODEM_FILE_NAME_SIZE = 128;
// The name used for a batch receive whose sender names no file.
inline constexpr const char* XMODEM_DEFAULT_RECEIVE_NAME = "xmodem.in";
inline constexpr size_t XMODEM_FILE_BUFFER_SIZE = 1024;
inline constexpr size_t XMODEM_LABEL_SIZE = 48;
inline constexpr int XMODEM_RECEIVE_FILE_MODE = 0644;

// Line speed assumed when the serial driver reports none (or 0).
inline constexpr uint32_t XMODEM_DEFAULT_LINE_SPEED = 9600;

// MODEM7 names: eight name characters, three extension characters.
inline constexpr size_t MODEM7_NAME_LENGTH = 8;
inline constexpr size_t MODEM7_EXTENSION_LENGTH = 3;
inline constexpr size_t MODEM7_FORM_LENGTH = MODEM7_NAME_LENGTH + MODEM7_EXTENSION_LENGTH;

// Results of one receive call.
inline constexpr int XMODEM_RECEIVE_FAILED = -1;
inline constexpr int XMODEM_RECEIVE_DONE = 0;
inline constexpr int XMODEM_RECEIVE_MORE = 1;

// The settings of one command, reset at its start.
struct XmodemSettings {
    bool receive = false;
    bool send = false;
    char mode = 't';            // 't' text, 'b' binary
    bool crc = false;
    bool oneK = false;
    bool acceptFirstEot = false;
    bool ymodem = false;
    bool ymodemG = false;
    bool modem7 = false;
    bool batch = false;
    bool cancan = false;
    bool tip = false;
    bool wait = false;
    int debugLevel = 0;
    bool log = false;           // no log sink exists; nothing turns it on
};

// "text" for t or T, "binary" for b or B, else "".
const char* xmodemModeName(char mode);

// The label of a block in messages: the sectors transferred (plus the
// block's own sectors when it names the next block), "17-24" style for a
// 1024-byte block.
void xmodemSectorLabel(char* text, size_t size, long sectors, int blockSize, bool next);

// "Estimated transmission time ..." for the sectors at the line speed;
// nothing for 0 sectors.
void xmodemEstimatedTime(long sectors, uint32_t lineSpeed, TextSink& out);

// "... Sectors Transfered in ..." and the rate; nothing for 0 sectors.
void xmodemTransferRate(long sectors, long seconds, TextSink& out);

// Fills the data of a YMODEM header block (room for 1024 bytes): the part
// of the path after its last "/" with ":" made "/" and capitals made
// small, a 0 byte, the header text, 0 bytes, and the record count low byte
// first in the block's last two bytes. Returns the block size: 128, or
// 1024 when the name and text reach byte 125.
int ymodemHeaderBuild(uint8_t* data, const char* path, const char* text, long records);

class Xmodem : public TerminationHandler {
public:
    explicit Xmodem(Loader& loader);
    Xmodem(const Xmodem&) = delete;
    Xmodem& operator=(const Xmodem&) = delete;

    // Runs the command with one argument string. 0 when the transfer ended
    // normally, -1 on failure or when only the usage was printed.
    int xmodem(const char* arguments);

    // The termination signal during a transfer: report and give the console
    // back.
    void terminate() override;

    // Settings of the last command, for tests.
    const XmodemSettings& settings() const { return s_; }

private:
    enum class Stream { Output, Error };

    // Receive-call state, reset at each call.
    struct ReceiveState {
        long sectors = 0;
        int lastBlock = 0;
        int blockSize = XMODEM_SECTOR_SIZE;
        int errors = 0;
        int startupAttempts = 0;
        int timeouts = 0;
        int startTimeout = 1;
        bool canRefused = false;
        bool fileOpen = false;
        // A batch goes on: a header (or the batch end) is due, not data.
        bool continuing = false;
        int fd = -1;
    };

    // Send-call state, reset at each call.
    struct SendState {
        int fd = -1;
        long size = 0;
        int64_t mtime = 0;
        uint32_t mode = 0;
        long records = 0;
        int blockNumber = 1;
        int blockSize = XMODEM_SECTOR_SIZE;
        long sectorsSent = 0;
        int attempts = 0;
        bool endOfFile = false;
        bool lineFeedPending = false;
        bool modem7NameSent = false;
        bool oneKWanted = false;
        bool batchEnd = false;
    };

    // What one start byte of the receiver led to.
    enum class Step { Next, Error, Fail, Return };

    int run(const char* arguments);
    int argumentsSplit(const char* arguments);
    void usage();
    void optionLetters(const char* word);
    // " in %s mode" after a "Ready" line.
    void modeSuffix();
    void controlXHint();
    int receiveFlow();
    int singleSendFlow();
    int batchSendFlow();

    // Console handling.
    void rawModeEnter();
    // Puts the saved option word and termination handler back; false when
    // the console did not take the options.
    bool consoleGiveBack();
    void consoleRestore(bool withinFatal);
    void fatal(const char* message, bool restore);
    void sleepMillis(int64_t milliseconds);
    int64_t speedMillis(int64_t numerator) const;

    // Line primitives.
    int readbyte(int seconds);
    void sendbyte(uint8_t byte);
    void writebuf(const uint8_t* bytes, size_t count);
    void inputFlush();
    void lineClearWait();
    long countnl(int fd);

    // Output streams: log lines are dropped (this system opens no log
    // sink), tip lines go to standard error when tip is on.
    void logLine(const char* format, ...) SWBOOT_PRINTF(2, 3);
    void debugLine(int level, const char* format, ...) SWBOOT_PRINTF(3, 4);
    void tipLine(const char* format, ...) SWBOOT_PRINTF(2, 3);
    void estimatedTime(long sectors, Stream stream);
    void transferRate(long sectors, Stream stream);
    const char* label(long sectors, int blockSize, bool next);

    // Receiver (xmodem_receive.cpp). receive() takes one file into the
    // file name buffer: XMODEM_RECEIVE_FAILED, _DONE or _MORE. A call that
    // continues a batch expects a header or the batch end next.
    int receive(bool continuing);
    bool startByteIs(int c) const;
    int startByteWait();
    // The request for data: "G", "C" (with "K" for 1K blocks unless told
    // not to) or NAK; a MODEM7 opening asks with NAK.
    void dataRequestSend(bool opening, bool oneKRequest = true);
    int readbuf(int blockSize, int timeoutSeconds, bool text, long sectors, uint16_t& check, int& kept);
    bool checkValueRead(uint16_t computed, int& received);
    Step cancelCheck(int& result);
    Step blockStart(int startByte, int& result);
    Step dataBlock(int blockNumber, int& result);
    Step ymodemHeader(int& result);
    Step modem7NameReceive(int& result);
    // Takes a name announced by the sender: a named receive keeps its own
    // target, a batch receive takes the sender's name when it is usable.
    Step senderNameTake(const char* name, int& result);
    bool errorAccounting(int startByte);
    int eotConfirmed();
    int receiveFailure();
    bool receiveFileCreate();
    void receiveFileClose(bool remove);
    void cancelSend(int count);

    // Sender (xmodem_send.cpp).
    int send(const char* name);
    int handshake(const char* name);
    int fileByte();
    bool blockFill(int blockSize);
    int ymodemHeaderFill(const char* name);
    int blockTransmit(int blockSize, bool header);
    int ymodemRequestWait();
    int endOfFilePhase();
    void modem7FormBuild(const char* name);
    int send_name();

    Loader& l_;
    XmodemCrc crc16_;
    XmodemSettings s_;

    // Argument vector over the argument buffer.
    char argumentBuffer_[XMODEM_ARGUMENT_BUFFER_SIZE] = {};
    const char* argv_[XMODEM_ARGUMENT_SLOTS] = {};
    int argc_ = 0;

    char fileName_[XMODEM_FILE_NAME_SIZE] = {};
    // The operator named the file to receive: names announced by the
    // sender are shown but never used.
    bool nameGiven_ = false;
    uint8_t blockBuffer_[XMODEM_BLOCK_HEADER_SIZE + XMODEM_1K_BLOCK_SIZE + XMODEM_BLOCK_CHECK_SIZE_MAX] = {};
    uint8_t fileBuffer_[XMODEM_FILE_BUFFER_SIZE] = {};
    long fileBufferFill_ = 0;
    long fileBufferPosition_ = 0;
    char label_[XMODEM_LABEL_SIZE] = {};
    char modem7Form_[MODEM7_FORM_LENGTH + 1] = {};

    // Saved console state.
    uint32_t savedOptions_ = 0;
    bool optionsSaved_ = false;
    TerminationHandler* savedHandler_ = nullptr;
    bool handlerInstalled_ = false;

    // YMODEM length and batch figures.
    long ymodemLength_ = 0;
    long ymodemCount_ = 0;
    bool ymodemLengthAnnounced_ = false;
    long batchFilesLeft_ = 0;
    long batchBytesLeft_ = 0;

    ReceiveState rx_;
    SendState tx_;
    // Set by the termination signal: the transfer winds down without
    // touching the line again.
    bool terminated_ = false;
};

}  // namespace swboot
