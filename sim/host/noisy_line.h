// A console line with noise on it, in both directions: wraps the line the
// board is connected to (--line-noise RATE[:SEED]).
#pragma once

#include <memory>

#include "host/line_noise.h"
#include "host/serial_line.h"

namespace sim {

class NoisyLine : public SerialLine {
public:
    NoisyLine(std::unique_ptr<SerialLine> line, LineNoise toBoard, LineNoise fromBoard)
        : line_(std::move(line)), toBoard_(toBoard), fromBoard_(fromBoard) {}

    long receive(uint8_t* buffer, size_t length) override {
        long n = line_->receive(buffer, length);
        return n <= 0 ? n : static_cast<long>(toBoard_.apply(buffer, static_cast<size_t>(n)));
    }
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override {
        line_->waitInput(deadlineMicros, readerWaiting);
    }
    void transmit(const uint8_t* data, size_t length) override {
        std::vector<uint8_t> bytes = fromBoard_.applied(data, length);
        if (!bytes.empty()) {
            line_->transmit(bytes.data(), bytes.size());
        }
    }
    bool interactive() const override { return line_->interactive(); }
    // The bytes the noise dropped or changed so far, each way.
    uint64_t hitsToBoard() const { return toBoard_.hits(); }
    uint64_t hitsFromBoard() const { return fromBoard_.hits(); }
    void speedChanged(uint32_t bitsPerSecond) override { line_->speedChanged(bitsPerSecond); }
    void rawModeChanged(bool raw) override { line_->rawModeChanged(raw); }

private:
    std::unique_ptr<SerialLine> line_;
    LineNoise toBoard_;
    LineNoise fromBoard_;
};

}  // namespace sim
