// The far end of an XMODEM transfer for in-process tests, answering the
// board on the scripted console line in virtual time: ScriptPeer (fixed
// "on this byte, answer that" steps), XmodemSenderPeer (XMODEM, 1K, YMODEM
// batch or G, with faults on request) and XmodemReceiverPeer (checksum, CRC,
// 1K or G requests, YMODEM headers and MODEM7 names; keeps every block).
//
// A peer answers after a reply delay, so the board's input flush before it
// reads does not swallow the answer, and hears only bytes sent after the
// board time at which it was made (the text printed before a transfer is
// for the operator, not the protocol).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "host/scripted_line.h"

namespace testing_support {

inline constexpr uint8_t PEER_SOH = 0x01;
inline constexpr uint8_t PEER_STX = 0x02;
inline constexpr uint8_t PEER_EOT = 0x04;
inline constexpr uint8_t PEER_ACK = 0x06;
inline constexpr uint8_t PEER_NAK = 0x15;
inline constexpr uint8_t PEER_CAN = 0x18;
inline constexpr uint8_t PEER_SUB = 0x1A;

inline constexpr int64_t PEER_REPLY_DELAY_MICROS = 5000;
inline constexpr int64_t MICROS_PER_SECOND = 1000000;

// Text as it reaches the line when the console is in its normal mode:
// every line feed goes out as CR LF.
std::string cookedText(const std::string& printed);

// The data padded (or cut) to the size with the fill byte.
std::vector<uint8_t> padded(std::vector<uint8_t> data, size_t size, uint8_t fill);

// One block on the wire: SOH or STX by the data's size (128 or 1024), the
// number and its complement, the data and its check bytes.
std::vector<uint8_t> xmodemBlock(int number, const std::vector<uint8_t>& data, bool crc);

// The data of a YMODEM header block: the name, a 0 byte, the header text.
std::vector<uint8_t> ymodemHeaderData(const std::string& name, const std::string& text, size_t blockSize);

// Something that watches the board's line and answers on it.
class LinePeer : public sim::ScriptedLine::Peer {
public:
    // singleBytesOnly: only one-byte writes of the board reach onByte.
    LinePeer(sim::ScriptedLine& line, bool singleBytesOnly);
    ~LinePeer() override;
    LinePeer(const LinePeer&) = delete;
    LinePeer& operator=(const LinePeer&) = delete;

    void transmitted(sim::ScriptedLine& line, const uint8_t* data, size_t length) final;

    // Listens to bytes sent from this board time on.
    void listenFrom(int64_t boardMicros) { listenFrom_ = boardMicros; }

    // Every byte the board sent while the peer listened, and when.
    const std::vector<uint8_t>& heard() const { return heard_; }
    const std::vector<int64_t>& heardAt() const { return heardAt_; }
    // Board times at which the board sent this byte.
    std::vector<int64_t> timesOf(uint8_t byte) const;
    size_t countOf(uint8_t byte) const;

    // Bytes that arrive at the board after the reply delay (or later).
    void reply(const std::vector<uint8_t>& bytes, int64_t extraDelayMicros = 0);

protected:
    virtual void onByte(uint8_t byte) = 0;
    sim::ScriptedLine& line_;

private:
    std::vector<uint8_t> heard_;
    std::vector<int64_t> heardAt_;
    int64_t listenFrom_;
    bool singleBytesOnly_;
};

// "When the board sends `trigger`, answer with `answer`", one step after
// the other; bytes that are not the next trigger are only recorded.
class ScriptPeer : public LinePeer {
public:
    struct Step {
        uint8_t trigger;
        std::vector<uint8_t> answer;
        int64_t extraDelayMicros = 0;  // the answer comes this much later
    };
    ScriptPeer(sim::ScriptedLine& line, std::vector<Step> steps, bool singleBytesOnly = true);
    bool done() const { return next_ == steps_.size(); }

protected:
    void onByte(uint8_t byte) override;

private:
    std::vector<Step> steps_;
    size_t next_ = 0;
};

// A MODEM7 sender's steps for the name form ("FOO     TXT") to a board
// that opens with NAK: each character on the ACK of the last, then SUB,
// and the ACK when the board sends the name's checksum (returned in sum).
std::vector<ScriptPeer::Step> modem7NameSteps(const std::string& form, uint8_t& sum);

struct PeerFile {
    std::string name;
    std::vector<uint8_t> data;
    // The YMODEM header text after the name; empty: "<length> 0 100644".
    std::string headerText;
};

// A terminal program sending files to the board.
class XmodemSenderPeer : public LinePeer {
public:
    enum class Protocol { Xmodem, Ymodem };

    XmodemSenderPeer(sim::ScriptedLine& line, Protocol protocol, std::vector<PeerFile> files,
                     size_t blockSize = 128);

    // Faults: data blocks (numbered from 1 over the file) sent a second
    // time after their acknowledgement; data blocks whose first
    // transmission carries a wrong check value.
    std::set<int> duplicateBlocks;
    std::set<int> corruptOnce;
    // Raw bytes to send as the header block's data instead of the built
    // one (YMODEM only, first file).
    std::vector<uint8_t> rawHeader;

    bool finished() const { return state_ == State::Finished; }

protected:
    void onByte(uint8_t byte) override;

private:
    enum class State { WaitStart, WaitAck, WaitDataRequest, WaitEotAnswer, WaitBatchEndRequest, WaitFinalAck, Finished };

    void sendHeader();
    void sendBlock(bool corrupt);
    void firstBlockSend();
    void afterAck();
    void sendEot();
    size_t blockCount() const;
    std::vector<uint8_t> blockData(int number) const;

    Protocol protocol_;
    std::vector<PeerFile> files_;
    size_t blockSize_;
    State state_ = State::WaitStart;
    bool crc_ = false;
    bool streaming_ = false;
    size_t file_ = 0;
    int block_ = 0;              // 0: the header
    std::set<int> duplicated_;
    std::set<int> corrupted_;
};

// A terminal program receiving files from the board.
class XmodemReceiverPeer : public LinePeer {
public:
    enum class Request { Checksum, Crc, Crc1K, G };

    struct Block {
        uint8_t start = 0;
        int number = 0;
        std::vector<uint8_t> data;
        size_t checkLength = 0;
        bool checkValid = false;
    };
    struct File {
        std::string name;        // from a YMODEM header or MODEM7 name
        std::string headerText;  // YMODEM
        std::vector<uint8_t> data;
    };

    XmodemReceiverPeer(sim::ScriptedLine& line, Request request, bool ymodem = false, bool modem7 = false);

    // Sends the first request at that board time.
    void start(int64_t boardMicros);

    // Faults: block transmissions (counting every block the board sent,
    // from 0) answered with NAK whatever their content.
    std::set<size_t> nakTransmissions;
    // The EOT (counted from 1) that is acknowledged; earlier ones get no
    // answer at all. 0: the first EOT gets a NAK, the second an ACK.
    int eotAcknowledged = 1;

    const std::vector<Block>& blocks() const { return blocks_; }
    const std::vector<File>& files() const { return files_; }
    bool batchClosed() const { return batchClosed_; }
    size_t eotsHeard() const { return eots_; }

protected:
    void onByte(uint8_t byte) override;

private:
    enum class State { Idle, InBlock, Modem7Name, Modem7Sub, Modem7Checked };

    void blockDone();
    std::vector<uint8_t> requestBytes() const;
    bool crc() const { return request_ != Request::Checksum; }

    Request request_;
    bool ymodem_;
    bool modem7_;
    State state_ = State::Idle;
    std::vector<uint8_t> packet_;
    size_t packetLength_ = 0;
    size_t transmissions_ = 0;
    int expected_ = 1;
    std::vector<Block> blocks_;
    std::vector<File> files_;
    bool fileOpen_ = false;
    bool batchClosed_ = false;
    size_t eots_ = 0;
    size_t eotsThisFile_ = 0;
    std::string modem7Name_;
    std::vector<uint8_t> modem7Form_;
    uint8_t modem7Sum_ = 0;
};

}  // namespace testing_support
