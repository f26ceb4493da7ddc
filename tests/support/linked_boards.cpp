#include "support/linked_boards.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "board/board_events.h"
#include "support/loader_on_board.h"

namespace testing_support {

class LinkedBoards::Clock : public sim::SimClock {
public:
    Clock(LinkedBoards& link, int side) : link_(link), side_(side) { calendarBase_ = 1167609600; }
    int64_t nowMicros() override { return link_.nowMicros(); }
    bool isVirtual() const override { return true; }
    void passUntil(int64_t deadlineMicros) override { link_.wait(side_, deadlineMicros, false); }
    void powerUp() override {}
    int64_t worldMicros() override { return calendarBase_ * 1000000 + link_.nowMicros(); }

private:
    LinkedBoards& link_;
    int side_;
};

class LinkedBoards::Line : public sim::SerialLine {
public:
    Line(LinkedBoards& link, int side) : link_(link), side_(side) {}
    long receive(uint8_t* buffer, size_t length) override { return link_.take(side_, buffer, length); }
    void waitInput(int64_t deadlineMicros, bool) override { link_.wait(side_, deadlineMicros, true); }
    void transmit(const uint8_t* data, size_t length) override { link_.send(side_, data, length); }
    bool interactive() const override { return false; }

private:
    LinkedBoards& link_;
    int side_;
};

LinkedBoards::LinkedBoards() {
    for (int side = 0; side < 2; ++side) {
        auto end = std::make_unique<End>();
        end->clock = std::make_unique<Clock>(*this, side);
        end->line = std::make_unique<Line>(*this, side);
        sim::BoardOptions options;
        options.stateDir = end->state.path();
        options.flashInMemory = true;
        end->diagnostics.setQuiet(true);
        end->board = std::make_unique<sim::SimBoard>(options, *end->clock, *end->line, end->diagnostics);
        const swboot::Platform& p = end->board->platform();
        swboot::TffsFormatParams params;
        if (p.volume.tffsDevFormat(0, params) != swboot::OK || p.volume.usrTffsConfig(0, 0, "/DskVol/") != swboot::OK ||
            p.files.mkdir("/DskVol/files") != swboot::OK || p.files.chdir("/DskVol/files") != swboot::OK) {
            throw std::runtime_error("the linked board's volume is not ready");
        }
        // As startup leaves the console: a Control-X is a byte, not a reset.
        p.console.optionsSet(p.console.optionsGet() & ~swboot::OPT_MON_TRAP);
        end->loader = std::make_unique<swboot::Loader>(p);
        ends_[side] = std::move(end);
    }
}

LinkedBoards::~LinkedBoards() = default;

std::filesystem::path LinkedBoards::filePath(int side, const std::string& name) {
    return board(side).volume().hostPath("files/" + name);
}

int64_t LinkedBoards::nowMicros() {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

bool LinkedBoards::blocked(const End& end) const {
    return end.gone ||
           (end.waiting && !(end.wakeOnInput && arrived(end)) && (end.deadline < 0 || now_ < end.deadline));
}

void LinkedBoards::wait(int side, int64_t deadline, bool wakeOnInput) {
    std::unique_lock<std::mutex> lock(mutex_);
    End& self = *ends_[side];
    self.waiting = true;
    self.deadline = deadline;
    self.wakeOnInput = wakeOnInput;
    for (;;) {
        if ((wakeOnInput && arrived(self)) || (deadline >= 0 && now_ >= deadline)) {
            break;
        }
        if (blocked(*ends_[0]) && blocked(*ends_[1])) {
            int64_t next = -1;
            for (const auto& end : ends_) {
                if (!end->gone && end->waiting && end->deadline >= 0 && (next < 0 || end->deadline < next)) {
                    next = end->deadline;
                }
                if (!end->gone && end->waiting && end->wakeOnInput && !end->input.empty() &&
                    (next < 0 || end->input.front().first < next)) {
                    next = end->input.front().first;
                }
            }
            if (next < 0) {
                self.waiting = false;
                changed_.notify_all();
                throw sim::BoardPowerOff{"both ends wait for ever"};
            }
            now_ = std::max(now_, next);
            changed_.notify_all();
            continue;
        }
        changed_.wait(lock);
    }
    self.waiting = false;
}

void LinkedBoards::send(int side, const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    ends_[side]->sent.insert(ends_[side]->sent.end(), data, data + length);
    End& other = *ends_[1 - side];
    if (other.listening && !other.gone) {
        for (size_t i = 0; i < length; ++i) {
            other.lastArrival = std::max(other.lastArrival, now_) + BYTE_TIME_MICROS;
            other.input.emplace_back(other.lastArrival, data[i]);
        }
        changed_.notify_all();
    }
}

long LinkedBoards::take(int side, uint8_t* buffer, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    End& end = *ends_[side];
    size_t n = 0;
    while (n < length && arrived(end)) {
        buffer[n++] = end.input.front().second;
        end.input.pop_front();
    }
    return static_cast<long>(n);
}

void LinkedBoards::run(const std::function<void(swboot::Loader&)>& first, int64_t secondStartMicros,
                       const std::function<void(swboot::Loader&)>& second) {
    auto body = [this](int side, int64_t startMicros, const std::function<void(swboot::Loader&)>& routine) {
        End& end = *ends_[side];
        end.ended = boardEventOf(*end.board, [&] {
            if (startMicros > 0) {
                wait(side, startMicros, false);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                end.listening = true;
            }
            routine(*end.loader);
        });
        end.loader->io.flush();
        std::lock_guard<std::mutex> lock(mutex_);
        end.gone = true;
        end.listening = false;
        changed_.notify_all();
    };
    for (auto& end : ends_) {
        end->gone = false;
        end->listening = false;
        end->input.clear();
        end->lastArrival = 0;
        end->sent.clear();
        end->ended.clear();
    }
    std::thread other(body, 1, secondStartMicros, std::cref(second));
    body(0, 0, first);
    other.join();
}

}  // namespace testing_support
