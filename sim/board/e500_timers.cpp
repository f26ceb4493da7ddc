#include "board/e500_timers.h"

namespace sim {

namespace {

constexpr uint64_t MICROS_PER_SECOND = 1000000;
constexpr uint64_t LOWER_HALF = 0xFFFFFFFFull;

}  // namespace

void E500Timers::powerUp() { *this = E500Timers{countsPerSecond_}; }

void E500Timers::hid0Written(uint32_t hid0, int64_t nowMicros) {
    advance(nowMicros);
    rebase();
    running_ = (hid0 & HID0_TBEN) != 0;
}

uint64_t E500Timers::countsIn(int64_t micros) const {
    const auto whole = static_cast<uint64_t>(micros);
    return whole / MICROS_PER_SECOND * countsPerSecond_ + whole % MICROS_PER_SECOND * countsPerSecond_ / MICROS_PER_SECOND;
}

void E500Timers::rebase() {
    base_ = timeBase_;
    since_ = lastMicros_;
}

void E500Timers::advance(int64_t nowMicros) {
    if (nowMicros <= lastMicros_) {
        return;
    }
    lastMicros_ = nowMicros;
    if (!running_) {
        return;
    }
    // Counted from the last change of the time base, so that frequent
    // reads lose no fraction of a count.
    const uint64_t now = base_ + countsIn(nowMicros - since_);
    const uint64_t counts = now - timeBase_;
    timeBase_ = now;
    if (dec_ == 0 || counts == 0) {
        return;
    }
    if (counts < dec_) {
        dec_ -= static_cast<uint32_t>(counts);
        return;
    }
    tsr_ |= TSR_DIS;
    if ((tcr_ & TCR_ARE) != 0 && decar_ != 0) {
        dec_ = decar_ - static_cast<uint32_t>((counts - dec_) % decar_);
    } else {
        dec_ = 0;
    }
}

bool E500Timers::holds(int spr) {
    switch (spr) {
        case SPR_DEC:
        case SPR_DECAR:
        case SPR_TBL_READ:
        case SPR_TBU_READ:
        case SPR_TBL_WRITE:
        case SPR_TBU_WRITE:
        case SPR_TSR:
        case SPR_TCR:
            return true;
        default:
            return false;
    }
}

uint64_t E500Timers::timeBase(int64_t nowMicros) {
    advance(nowMicros);
    return timeBase_;
}

std::optional<uint32_t> E500Timers::read(int spr, int64_t nowMicros) {
    advance(nowMicros);
    switch (spr) {
        case SPR_DEC:
            return dec_;
        case SPR_TBL_READ:
            return static_cast<uint32_t>(timeBase_ & LOWER_HALF);
        case SPR_TBU_READ:
            return static_cast<uint32_t>(timeBase_ >> 32);
        case SPR_TSR:
            return tsr_;
        case SPR_TCR:
            return tcr_;
        default:
            return std::nullopt;
    }
}

bool E500Timers::write(int spr, uint32_t value, int64_t nowMicros) {
    advance(nowMicros);
    switch (spr) {
        case SPR_DEC:
            dec_ = value;
            return true;
        case SPR_DECAR:
            decar_ = value;
            return true;
        case SPR_TBL_WRITE:
            timeBase_ = (timeBase_ & ~LOWER_HALF) | value;
            rebase();
            return true;
        case SPR_TBU_WRITE:
            timeBase_ = (timeBase_ & LOWER_HALF) | (static_cast<uint64_t>(value) << 32);
            rebase();
            return true;
        case SPR_TSR:
            tsr_ &= ~value;  // write one to clear
            return true;
        case SPR_TCR:
            tcr_ = value;
            return true;
        default:
            return false;
    }
}

bool E500Timers::decrementerPending(int64_t nowMicros) {
    advance(nowMicros);
    return (tsr_ & TSR_DIS) != 0 && (tcr_ & TCR_DIE) != 0;
}

}  // namespace sim
