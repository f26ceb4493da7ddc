#include "board/uart16550.h"

#include "platform/console.h"

namespace sim {

Uart16550::Uart16550(SerialLine& line) : line_(line) { powerUp(); }

void Uart16550::powerUp() {
    receiver_.clear();
    rbr_ = 0;
    ier_ = 0;
    lcr_ = 0;
    mcr_ = 0;
    scr_ = 0;
    divisor_ = 0;
    divisorWritten_ = false;
    fifoEnabled_ = false;
    overrun_ = false;
    thrEmptyPending_ = false;
    endOfInput_ = false;
    emptyPolls_ = 0;
    sent_ = 0;
    msr_ = modemStatusLines();
}

uint32_t Uart16550::speed() const {
    if (divisor_ == 0) {
        return 0;
    }
    // The driver's table rounds its divisors down; give its nominal speed.
    for (const swboot::BaudRateEntry& entry : swboot::BAUD_RATE_TABLE) {
        if (entry.divisor == divisor_) {
            return entry.speed;
        }
    }
    return CLOCK_HZ / (16u * divisor_);
}

void Uart16550::emptyPoll() {
    ++emptyPolls_;
    ++emptyPollsEver_;
    if (emptyPollHook_) {
        emptyPollHook_(emptyPolls_);
    }
}

void Uart16550::takeFromLine() {
    uint8_t byte = 0;
    while ((mcr_ & MCR_LOOP) == 0 && receiver_.size() < FIFO_DEPTH) {
        long n = line_.receive(&byte, 1);
        if (n < 0) {
            endOfInput_ = true;
        }
        if (n <= 0) {
            return;
        }
        receiver_.push_back(byte);
    }
}

void Uart16550::send(uint8_t byte) {
    emptyPolls_ = 0;
    ++sent_;
    if (mcr_ & MCR_LOOP) {
        // Loopback: the transmitter feeds the receiver; the line sees nothing.
        if (receiver_.size() >= (fifoEnabled_ ? FIFO_DEPTH : 1)) {
            overrun_ = true;
            return;
        }
        receiver_.push_back(byte);
        return;
    }
    line_.transmit(&byte, 1);
}

bool Uart16550::fillReceiver() {
    if (!receiver_.empty()) {
        return true;
    }
    if (mcr_ & MCR_LOOP) {
        return false;  // the line is cut off from the receiver
    }
    uint8_t byte = 0;
    long n = line_.receive(&byte, 1);
    if (n < 0) {
        endOfInput_ = true;
    }
    if (n <= 0) {
        return false;
    }
    receiver_.push_back(byte);
    return true;
}

uint8_t Uart16550::lineStatus() {
    uint8_t status = 0;
    if (fillReceiver()) {
        status |= LSR_DR;
    } else {
        emptyPoll();
    }
    if (overrun_) {
        status |= LSR_OE;
    }
    if (!transmitterStuck_) {
        status |= LSR_THRE | LSR_TEMT;
    }
    return status;
}

uint8_t Uart16550::modemStatusLines() const {
    if ((mcr_ & MCR_LOOP) == 0) {
        return MSR_CABLE;
    }
    uint8_t lines = 0;
    if (mcr_ & MCR_RTS) lines |= MSR_CTS;
    if (mcr_ & MCR_DTR) lines |= MSR_DSR;
    if (mcr_ & MCR_OUT1) lines |= MSR_RI;
    if (mcr_ & MCR_OUT2) lines |= MSR_DCD;
    return lines;
}

void Uart16550::updateModemStatus() {
    uint8_t before = msr_ & 0xF0;
    uint8_t now = modemStatusLines();
    uint8_t changed = before ^ now;
    uint8_t deltas = msr_ & 0x0F;
    if (changed & MSR_CTS) deltas |= MSR_DCTS;
    if (changed & MSR_DSR) deltas |= MSR_DDSR;
    if (changed & MSR_DCD) deltas |= MSR_DDCD;
    if ((before & MSR_RI) && !(now & MSR_RI)) deltas |= MSR_TERI;  // trailing edge only
    msr_ = static_cast<uint8_t>(now | deltas);
}

uint8_t Uart16550::interruptIdentification() {
    uint8_t id = IIR_NO_INTERRUPT;
    if ((ier_ & IER_ELSI) && overrun_) {
        id = IIR_LINE_STATUS;
    } else if ((ier_ & IER_ERBFI) && fillReceiver()) {
        id = IIR_RECEIVED_DATA;
    } else if ((ier_ & IER_ETBEI) && thrEmptyPending_) {
        id = IIR_THR_EMPTY;
        thrEmptyPending_ = false;  // reading IIR acknowledges it
    } else if ((ier_ & IER_EDSSI) && (msr_ & 0x0F)) {
        id = IIR_MODEM_STATUS;
    }
    return static_cast<uint8_t>(id | (fifoEnabled_ ? IIR_FIFOS_ENABLED : 0));
}

void Uart16550::divisorChanged() {
    uint32_t bitsPerSecond = speed();
    if (bitsPerSecond != 0) {
        line_.speedChanged(bitsPerSecond);
    }
}

uint8_t Uart16550::read(uint8_t reg) {
    switch (reg & (SIZE - 1)) {
        case REG_RBR:
            if (lcr_ & LCR_DLAB) {
                return static_cast<uint8_t>(divisor_);
            }
            if (fillReceiver()) {
                rbr_ = receiver_.front();
                receiver_.pop_front();
                emptyPolls_ = 0;
            } else {
                emptyPoll();
            }
            return rbr_;
        case REG_IER:
            if (lcr_ & LCR_DLAB) {
                return static_cast<uint8_t>(divisor_ >> 8);
            }
            return ier_;
        case REG_IIR:
            return interruptIdentification();
        case REG_LCR:
            return lcr_;
        case REG_MCR:
            return mcr_;
        case REG_LSR: {
            uint8_t status = lineStatus();
            overrun_ = false;  // error bits clear when read
            return status;
        }
        case REG_MSR: {
            updateModemStatus();
            uint8_t status = msr_;
            msr_ &= 0xF0;  // delta bits clear when read
            return status;
        }
        default:  // REG_SCR
            return scr_;
    }
}

void Uart16550::write(uint8_t reg, uint8_t value) {
    switch (reg & (SIZE - 1)) {
        case REG_THR:
            if (lcr_ & LCR_DLAB) {
                divisor_ = static_cast<uint16_t>((divisor_ & 0xFF00) | value);
                divisorWritten_ = true;
                return;
            }
            send(value);
            // The byte left at once, so the holding register is empty again.
            thrEmptyPending_ = true;
            return;
        case REG_IER:
            if (lcr_ & LCR_DLAB) {
                divisor_ = static_cast<uint16_t>((divisor_ & 0x00FF) | (value << 8));
                divisorWritten_ = true;
                return;
            }
            if ((value & IER_ETBEI) && !(ier_ & IER_ETBEI) && !transmitterStuck_) {
                thrEmptyPending_ = true;  // enabling it with THR empty raises it at once
            }
            ier_ = value & IER_MASK;
            return;
        case REG_FCR: {
            bool enable = (value & FCR_FIFO_ENABLE) != 0;
            if (enable != fifoEnabled_ || (value & FCR_RX_RESET)) {
                receiver_.clear();
            }
            fifoEnabled_ = enable;
            return;  // the transmitter has nothing queued to reset
        }
        case REG_LCR: {
            bool leavingLatch = (lcr_ & LCR_DLAB) && !(value & LCR_DLAB);
            lcr_ = value;
            if (leavingLatch && divisorWritten_) {
                divisorWritten_ = false;
                divisorChanged();
            }
            return;
        }
        case REG_MCR:
            mcr_ = value & MCR_MASK;
            updateModemStatus();
            return;
        case REG_LSR:
        case REG_MSR:
            return;  // status registers: writes are ignored
        default:  // REG_SCR
            scr_ = value;
            return;
    }
}

long Uart16550::receive(uint8_t* buffer, size_t length) {
    size_t n = 0;
    while (n < length && !receiver_.empty()) {
        buffer[n++] = receiver_.front();
        receiver_.pop_front();
    }
    if (n == length || (mcr_ & MCR_LOOP)) {
        return static_cast<long>(n);
    }
    long more = line_.receive(buffer + n, length - n);
    if (more < 0) {
        endOfInput_ = true;
        return n > 0 ? static_cast<long>(n) : -1;
    }
    return static_cast<long>(n) + more;
}

void Uart16550::waitInput(int64_t deadlineMicros, bool readerWaiting) {
    if (!receiver_.empty()) {
        return;
    }
    line_.waitInput(deadlineMicros, readerWaiting);
}

void Uart16550::transmit(const uint8_t* data, size_t length) {
    if (mcr_ & MCR_LOOP) {
        for (size_t i = 0; i < length; ++i) {
            send(data[i]);
        }
        return;
    }
    line_.transmit(data, length);
}

void Uart16550::speedChanged(uint32_t bitsPerSecond) {
    if (bitsPerSecond == 0) {
        return;
    }
    divisor_ = static_cast<uint16_t>(CLOCK_HZ / (16u * bitsPerSecond));
    for (const swboot::BaudRateEntry& entry : swboot::BAUD_RATE_TABLE) {
        if (entry.speed == bitsPerSecond) {
            divisor_ = static_cast<uint16_t>(entry.divisor);
        }
    }
    lcr_ = LCR_WORD_8_BITS;
    fifoEnabled_ = true;
    mcr_ = MCR_DTR | MCR_RTS | MCR_OUT2;
    updateModemStatus();
    msr_ &= 0xF0;
    line_.speedChanged(bitsPerSecond);
}

}  // namespace sim
