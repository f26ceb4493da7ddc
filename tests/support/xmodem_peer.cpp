#include "support/xmodem_peer.h"

#include <algorithm>

namespace testing_support {

namespace {

constexpr size_t SHORT_BLOCK = 128;
constexpr size_t LONG_BLOCK = 1024;
constexpr size_t MODEM7_FORM_LENGTH = 11;
// Between files the board flushes its input: the next request comes a
// second later, as a real receiver's retry would.
constexpr int64_t NEXT_FILE_REQUEST_DELAY = MICROS_PER_SECOND;

// CRC-16/XMODEM computed bit by bit, independent of the loader's table.
uint16_t crc16Reference(const uint8_t* data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

}  // namespace

std::string cookedText(const std::string& printed) {
    std::string text;
    for (char c : printed) {
        text += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return text;
}

std::vector<uint8_t> padded(std::vector<uint8_t> data, size_t size, uint8_t fill) {
    data.resize(size, fill);
    return data;
}

// The check bytes after a block's data: the CRC (high byte first) or the 8-bit sum.
static std::vector<uint8_t> checkBytes(const std::vector<uint8_t>& data, bool crc) {
    if (crc) {
        const uint16_t value = crc16Reference(data.data(), data.size());
        return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    }
    uint8_t sum = 0;
    for (uint8_t byte : data) {
        sum = static_cast<uint8_t>(sum + byte);
    }
    return {sum};
}

std::vector<uint8_t> xmodemBlock(int number, const std::vector<uint8_t>& data, bool crc) {
    std::vector<uint8_t> block{data.size() == LONG_BLOCK ? PEER_STX : PEER_SOH, static_cast<uint8_t>(number),
                               static_cast<uint8_t>(0xFF - static_cast<uint8_t>(number))};
    block.insert(block.end(), data.begin(), data.end());
    const std::vector<uint8_t> check = checkBytes(data, crc);
    block.insert(block.end(), check.begin(), check.end());
    return block;
}

std::vector<uint8_t> ymodemHeaderData(const std::string& name, const std::string& text, size_t blockSize) {
    std::vector<uint8_t> data(name.begin(), name.end());
    data.push_back(0);
    data.insert(data.end(), text.begin(), text.end());
    return padded(std::move(data), blockSize, 0);
}

LinePeer::LinePeer(sim::ScriptedLine& line, bool singleBytesOnly)
    : line_(line), listenFrom_(line.clock().nowMicros() + 1), singleBytesOnly_(singleBytesOnly) {
    line_.setPeer(this);
}

LinePeer::~LinePeer() { line_.setPeer(nullptr); }

void LinePeer::transmitted(sim::ScriptedLine& /*line*/, const uint8_t* data, size_t length) {
    if (line_.clock().nowMicros() < listenFrom_) {
        return;
    }
    for (size_t i = 0; i < length; ++i) {
        heard_.push_back(data[i]);
        heardAt_.push_back(line_.clock().nowMicros());
        if (length == 1 || !singleBytesOnly_) {
            onByte(data[i]);
        }
    }
}

std::vector<int64_t> LinePeer::timesOf(uint8_t byte) const {
    std::vector<int64_t> times;
    for (size_t i = 0; i < heard_.size(); ++i) {
        if (heard_[i] == byte) {
            times.push_back(heardAt_[i]);
        }
    }
    return times;
}

size_t LinePeer::countOf(uint8_t byte) const { return static_cast<size_t>(std::count(heard_.begin(), heard_.end(), byte)); }

void LinePeer::reply(const std::vector<uint8_t>& bytes, int64_t extraDelayMicros) {
    line_.deliverAt(line_.clock().nowMicros() + PEER_REPLY_DELAY_MICROS + extraDelayMicros, bytes);
}

ScriptPeer::ScriptPeer(sim::ScriptedLine& line, std::vector<Step> steps, bool singleBytesOnly)
    : LinePeer(line, singleBytesOnly), steps_(std::move(steps)) {}

void ScriptPeer::onByte(uint8_t byte) {
    if (next_ < steps_.size() && steps_[next_].trigger == byte) {
        if (!steps_[next_].answer.empty()) {
            reply(steps_[next_].answer, steps_[next_].extraDelayMicros);
        }
        ++next_;
    }
}

std::vector<ScriptPeer::Step> modem7NameSteps(const std::string& form, uint8_t& sum) {
    std::vector<ScriptPeer::Step> steps{{PEER_NAK, {PEER_ACK, static_cast<uint8_t>(form[0])}}};
    sum = PEER_SUB;
    for (size_t i = 0; i < form.size(); ++i) {
        sum = static_cast<uint8_t>(sum + form[i]);
        if (i > 0) {
            steps.push_back({PEER_ACK, {static_cast<uint8_t>(form[i])}});
        }
    }
    steps.push_back({PEER_ACK, {PEER_SUB}});
    steps.push_back({sum, {PEER_ACK}});
    return steps;
}

XmodemSenderPeer::XmodemSenderPeer(sim::ScriptedLine& line, Protocol protocol, std::vector<PeerFile> files,
                                   size_t blockSize)
    : LinePeer(line, true), protocol_(protocol), files_(std::move(files)), blockSize_(blockSize) {}

size_t XmodemSenderPeer::blockCount() const {
    return (files_[file_].data.size() + blockSize_ - 1) / blockSize_;
}

std::vector<uint8_t> XmodemSenderPeer::blockData(int number) const {
    const std::vector<uint8_t>& data = files_[file_].data;
    size_t from = static_cast<size_t>(number - 1) * blockSize_;
    size_t to = std::min(data.size(), from + blockSize_);
    return padded(std::vector<uint8_t>(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(to)),
                  blockSize_, PEER_SUB);
}

void XmodemSenderPeer::sendHeader() {
    block_ = 0;
    std::vector<uint8_t> data;
    if (file_ >= files_.size()) {
        data.assign(SHORT_BLOCK, 0);
    } else if (file_ == 0 && !rawHeader.empty()) {
        data = rawHeader;
    } else {
        const PeerFile& file = files_[file_];
        std::string text = file.headerText.empty() ? std::to_string(file.data.size()) + " 0 100644" : file.headerText;
        data = ymodemHeaderData(file.name, text, SHORT_BLOCK);
    }
    reply(xmodemBlock(0, data, crc_));
}

void XmodemSenderPeer::sendBlock(bool corrupt) {
    std::vector<uint8_t> block = xmodemBlock(block_, blockData(block_), crc_);
    block.back() ^= corrupt ? 0x5A : 0;
    reply(block);
}

void XmodemSenderPeer::sendEot() {
    reply({PEER_EOT});
    state_ = State::WaitEotAnswer;
}

void XmodemSenderPeer::firstBlockSend() {
    block_ = 1;
    state_ = State::WaitAck;
    if (blockCount() == 0) {
        sendEot();
        return;
    }
    sendBlock(corruptOnce.count(block_) != 0 && corrupted_.insert(block_).second);
}

void XmodemSenderPeer::afterAck() {
    if (block_ == 0) {
        state_ = State::WaitDataRequest;
    } else if (duplicateBlocks.count(block_) != 0 && duplicated_.insert(block_).second) {
        sendBlock(false);
    } else if (static_cast<size_t>(++block_) > blockCount()) {
        sendEot();
    } else {
        sendBlock(corruptOnce.count(block_) != 0 && corrupted_.insert(block_).second);
    }
}

void XmodemSenderPeer::onByte(uint8_t byte) {
    const bool request = byte == 'C' || byte == 'G' || byte == PEER_NAK;
    switch (state_) {
        case State::WaitStart:
            if (!request) {
                return;
            }
            crc_ = byte != PEER_NAK;
            streaming_ = byte == 'G';
            if (protocol_ == Protocol::Ymodem) {
                sendHeader();
                state_ = streaming_ ? State::WaitDataRequest : State::WaitAck;
            } else {
                firstBlockSend();
            }
            return;
        case State::WaitAck:
            if (byte == PEER_ACK) {
                afterAck();
            } else if (byte == PEER_NAK) {
                block_ == 0 ? sendHeader() : sendBlock(false);
            }
            return;
        case State::WaitDataRequest:
            if (!request) {
                return;
            }
            if (streaming_) {
                std::vector<uint8_t> all;
                for (size_t n = 1; n <= blockCount(); ++n) {
                    std::vector<uint8_t> block = xmodemBlock(static_cast<int>(n), blockData(static_cast<int>(n)), true);
                    all.insert(all.end(), block.begin(), block.end());
                }
                all.push_back(PEER_EOT);
                reply(all);
                state_ = State::WaitEotAnswer;
                return;
            }
            firstBlockSend();
            return;
        case State::WaitEotAnswer:
            if (byte == PEER_NAK) {
                sendEot();
            } else if (byte == PEER_ACK) {
                ++file_;
                if (protocol_ == Protocol::Xmodem) {
                    state_ = State::Finished;
                } else if (file_ < files_.size()) {
                    state_ = State::WaitStart;
                } else {
                    state_ = State::WaitBatchEndRequest;  // the empty header closes the batch
                }
            }
            return;
        case State::WaitBatchEndRequest:
            if (request) {
                sendHeader();
                state_ = State::WaitFinalAck;
            }
            return;
        case State::WaitFinalAck:
            if (byte == PEER_ACK) {
                state_ = State::Finished;
            }
            return;
        case State::Finished:
            return;
    }
}

XmodemReceiverPeer::XmodemReceiverPeer(sim::ScriptedLine& line, Request request, bool ymodem, bool modem7)
    : LinePeer(line, false), request_(request), ymodem_(ymodem), modem7_(modem7) {}

std::vector<uint8_t> XmodemReceiverPeer::requestBytes() const {
    // In the order of Request.
    static const std::vector<uint8_t> requests[] = {{PEER_NAK}, {'C'}, {'C', 'K'}, {'G'}};
    return requests[static_cast<size_t>(request_)];
}

void XmodemReceiverPeer::start(int64_t boardMicros) { line_.deliverAt(boardMicros, requestBytes()); }

void XmodemReceiverPeer::blockDone() {
    Block block;
    block.start = packet_[0];
    block.number = packet_[1];
    size_t dataLength = block.start == PEER_STX ? LONG_BLOCK : SHORT_BLOCK;
    block.data.assign(packet_.begin() + 3, packet_.begin() + 3 + static_cast<long>(dataLength));
    block.checkLength = packet_.size() - 3 - dataLength;
    block.checkValid = std::vector<uint8_t>(packet_.begin() + 3 + static_cast<long>(dataLength), packet_.end()) ==
                       checkBytes(block.data, crc());
    blocks_.push_back(block);
    size_t transmission = transmissions_++;
    const bool streaming = request_ == Request::G;

    if (nakTransmissions.count(transmission) != 0 || packet_[1] + packet_[2] != 0xFF || !block.checkValid) {
        reply({PEER_NAK});
        return;
    }
    if (ymodem_ && block.number == 0 && !fileOpen_) {
        const std::vector<uint8_t>& data = block.data;
        auto nameEnd = std::find(data.begin(), data.end(), 0);
        std::string name(data.begin(), nameEnd);
        if (name.empty()) {
            batchClosed_ = true;
            reply({PEER_ACK});
            return;
        }
        std::string text;
        if (nameEnd != data.end()) {
            auto textEnd = std::find(nameEnd + 1, data.end(), 0);
            text.assign(nameEnd + 1, textEnd);
        }
        files_.push_back(File{name, text, {}});
        fileOpen_ = true;
        expected_ = 1;
        std::vector<uint8_t> answer = requestBytes();
        if (!streaming) {
            answer.insert(answer.begin(), PEER_ACK);
        }
        reply(answer);
        return;
    }
    if (block.number == (expected_ & 0xFF)) {
        if (!fileOpen_) {
            files_.push_back(File{modem7Name_, "", {}});
            fileOpen_ = true;
        }
        files_.back().data.insert(files_.back().data.end(), block.data.begin(), block.data.end());
        ++expected_;
    } else if (block.number != ((expected_ - 1) & 0xFF)) {
        reply({PEER_NAK});
        return;
    }
    if (!streaming) {
        reply({PEER_ACK});
    }
}

void XmodemReceiverPeer::onByte(uint8_t byte) {
    switch (state_) {
        case State::Idle:
            if (byte == PEER_SOH || byte == PEER_STX) {
                packet_.assign(1, byte);
                packetLength_ = 3 + (byte == PEER_STX ? LONG_BLOCK : SHORT_BLOCK) + (crc() ? 2 : 1);
                state_ = State::InBlock;
            } else if (byte == PEER_EOT) {
                ++eots_;
                ++eotsThisFile_;
                bool acknowledge = eotAcknowledged == 0 ? eotsThisFile_ >= 2
                                                        : eotsThisFile_ >= static_cast<size_t>(eotAcknowledged);
                if (eotAcknowledged == 0 && eotsThisFile_ == 1) {
                    reply({PEER_NAK});
                }
                if (acknowledge) {
                    reply({PEER_ACK});
                    fileOpen_ = false;
                    expected_ = 1;
                    eotsThisFile_ = 0;
                    if (ymodem_ || modem7_) {
                        reply(requestBytes(), NEXT_FILE_REQUEST_DELAY);
                    }
                }
            } else if (byte == PEER_ACK && modem7_) {
                modem7Form_.clear();
                modem7Sum_ = 0;
                state_ = State::Modem7Name;
            }
            return;
        case State::InBlock:
            packet_.push_back(byte);
            if (packet_.size() == packetLength_) {
                state_ = State::Idle;
                blockDone();
            }
            return;
        case State::Modem7Name:
            if (modem7Form_.empty() && byte == PEER_EOT) {
                batchClosed_ = true;
                reply({PEER_ACK});
                state_ = State::Idle;
                return;
            }
            modem7Form_.push_back(byte);
            modem7Sum_ = static_cast<uint8_t>(modem7Sum_ + byte);
            reply({PEER_ACK});
            if (modem7Form_.size() == MODEM7_FORM_LENGTH) {
                state_ = State::Modem7Sub;
            }
            return;
        case State::Modem7Sub:
            if (byte == PEER_SUB) {
                reply({static_cast<uint8_t>(modem7Sum_ + PEER_SUB)});
                state_ = State::Modem7Checked;
            } else {
                state_ = State::Idle;
            }
            return;
        case State::Modem7Checked:
            if (byte == PEER_ACK) {
                modem7Name_.assign(modem7Form_.begin(), modem7Form_.end());
                reply(requestBytes());
            }
            state_ = State::Idle;
            return;
    }
}

}  // namespace testing_support
