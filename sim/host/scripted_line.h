// A console line driven by a test: an operator who types prepared lines
// when the loader asks for input, bytes that arrive at set board times, and
// an optional peer that watches every byte the board sends and answers, as
// a terminal program's file transfer would. Everything the board sends is
// kept for the test to read. Meant for virtual time.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/line_noise.h"
#include "host/serial_line.h"
#include "host/sim_clock.h"

namespace sim {

class ScriptedLine : public SerialLine {
public:
    class Peer {
    public:
        virtual ~Peer() = default;
        // Bytes the board just sent; the peer may answer with deliverAt().
        virtual void transmitted(ScriptedLine& line, const uint8_t* data, size_t length) = 0;
    };

    explicit ScriptedLine(SimClock& clock) : clock_(clock) {}

    // One piece of typing, given to the board the next time it waits for
    // input after the pieces before it have been taken in.
    void type(std::string_view text);
    // Bytes that arrive at the given board time (or at once).
    void deliverAt(int64_t micros, const std::vector<uint8_t>& bytes);
    void deliverAt(int64_t micros, std::string_view bytes);
    void deliver(const std::vector<uint8_t>& bytes) { deliverAt(clock_.nowMicros(), bytes); }
    void setPeer(Peer* peer) { peer_ = peer; }
    SimClock& clock() { return clock_; }

    // Everything sent by the board so far, as text and as bytes.
    const std::string& output() const { return output_; }
    void clearOutput() { output_.clear(); }
    // Noise on the line from here on, in both directions: what the board
    // receives and what the peer and the output see of what it sends.
    void setNoise(const LineNoise& toBoard, const LineNoise& fromBoard) {
        noiseToBoard_ = toBoard;
        noiseFromBoard_ = fromBoard;
    }
    // Bytes the noise has hit so far, both directions.
    uint64_t noiseHits() const { return noiseToBoard_.hits() + noiseFromBoard_.hits(); }
    // Forgets every piece of typing and every byte still to arrive, as
    // when the far end is switched off.
    void clearPending() {
        pieces_.clear();
        deliveries_.clear();
        arrived_.clear();
    }
    // Pieces of typing not yet taken.
    size_t piecesLeft() const { return pieces_.size(); }

    // SerialLine
    long receive(uint8_t* buffer, size_t length) override;
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override;
    void transmit(const uint8_t* data, size_t length) override;
    bool interactive() const override { return false; }

private:
    void releaseDue();

    SimClock& clock_;
    Peer* peer_ = nullptr;
    std::deque<std::string> pieces_;
    std::multimap<int64_t, std::vector<uint8_t>> deliveries_;
    std::deque<uint8_t> arrived_;
    std::string output_;
    LineNoise noiseToBoard_;
    LineNoise noiseFromBoard_;
};

}  // namespace sim
