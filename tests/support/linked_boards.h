// Two simulated boards whose console lines are joined back to back, sharing
// one virtual time: each board's loader runs in a thread of its own, and
// board time moves on only while both wait (for input or for a delay), to
// the earlier of their deadlines. Bytes cross the line one after the
// other, a millisecond each (about 9600 bits per second); a board that is not yet listening loses what reaches it, as a
// terminal that has not started its transfer would.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/diagnostics.h"
#include "host/serial_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "loader.h"
#include "support/test_board.h"

namespace testing_support {

class LinkedBoards {
public:
    LinkedBoards();
    ~LinkedBoards();
    LinkedBoards(const LinkedBoards&) = delete;
    LinkedBoards& operator=(const LinkedBoards&) = delete;

    // The loader of board 0 or 1, on a formatted volume in "files/".
    swboot::Loader& loader(int side) { return *ends_[side]->loader; }
    sim::SimBoard& board(int side) { return *ends_[side]->board; }
    // The host path of a file in "files/" of a board's volume.
    std::filesystem::path filePath(int side, const std::string& name);

    // Runs the two routines at once, board 0's from board time 0 and board
    // 1's from the given board time (each listens to the line from its own
    // start); returns when both ended. A routine ended by a board event, or
    // left waiting for ever by the other, reports it in what(side).
    void run(const std::function<void(swboot::Loader&)>& first, int64_t secondStartMicros,
             const std::function<void(swboot::Loader&)>& second);
    const std::string& what(int side) const { return ends_[side]->ended; }
    // Every byte a board sent during the last run.
    const std::vector<uint8_t>& sent(int side) const { return ends_[side]->sent; }
    int64_t nowMicros();

private:
    class Clock;
    class Line;
    struct End {
        TempDir state;
        std::unique_ptr<Clock> clock;
        std::unique_ptr<Line> line;
        sim::Diagnostics diagnostics;
        std::unique_ptr<sim::SimBoard> board;
        std::unique_ptr<swboot::Loader> loader;
        std::deque<std::pair<int64_t, uint8_t>> input;  // arrival time, byte
        int64_t lastArrival = 0;
        std::vector<uint8_t> sent;
        bool listening = false;
        bool waiting = false;
        bool wakeOnInput = false;
        bool gone = false;
        int64_t deadline = -1;
        std::string ended;
    };

    // Blocks the side until board time reaches the deadline (negative: no
    // limit) or, when asked, input is waiting. Throws a power-off when both
    // sides would wait for ever.
    void wait(int side, int64_t deadline, bool wakeOnInput);
    void send(int side, const uint8_t* data, size_t length);
    long take(int side, uint8_t* buffer, size_t length);
    bool blocked(const End& end) const;
    bool arrived(const End& end) const { return !end.input.empty() && end.input.front().first <= now_; }

    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t now_ = 0;
    static constexpr int64_t BYTE_TIME_MICROS = 1000;
    std::unique_ptr<End> ends_[2];
};

}  // namespace testing_support
