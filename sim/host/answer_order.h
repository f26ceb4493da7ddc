// Keeps a question and its answer in order on a line whose bytes take no
// time (a pseudo-terminal, a TCP socket).
//
// On a real serial line the far end's answer to a block cannot arrive
// before the block has left; here it can be back before the board's next
// look at its input, and a driver that flushes its input right after
// sending (as the transfer command does) would throw the answer away. So
// when the board sends, what has arrived until then is taken in first, and
// the first look at the input after the sending finds only that.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class AnswerOrder {
public:
    static constexpr size_t KEPT_MAX = 65536;

    // Before the board sends: takes in what has arrived so far through
    // read(buffer, length), which returns a count, 0 or -1, without waiting.
    template <typename Read>
    void sending(Read read) {
        uint8_t buffer[4096];
        while (arrived_.size() < KEPT_MAX) {
            long n = read(buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            arrived_.insert(arrived_.end(), buffer, buffer + n);
        }
        sentSinceReceive_ = true;
    }

    // A receive: what arrived before the last send, then one empty look,
    // and only then the line itself through read().
    template <typename Read>
    long receive(uint8_t* buffer, size_t length, Read read) {
        if (!arrived_.empty()) {
            size_t n = std::min(length, arrived_.size());
            std::copy_n(arrived_.begin(), n, buffer);
            arrived_.erase(arrived_.begin(), arrived_.begin() + static_cast<long>(n));
            return static_cast<long>(n);
        }
        if (sentSinceReceive_) {
            sentSinceReceive_ = false;
            return 0;
        }
        return read(buffer, length);
    }

    // True when a receive has something to give (or to look at) without
    // reading the line.
    bool pending() const { return !arrived_.empty() || sentSinceReceive_; }

private:
    std::vector<uint8_t> arrived_;
    bool sentSinceReceive_ = false;
};

}  // namespace sim
