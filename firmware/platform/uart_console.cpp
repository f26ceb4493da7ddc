#include "uart_console.h"

#include "board_bus.h"
#include "platform/status.h"
#include "volume_client.h"

namespace firmware {

using namespace swboot;

UartConsole::UartConsole(TimeBaseClock& clock) : clock_(clock) {
    store8(BASE + REG_IER, 0);
    store8(BASE + REG_FCR, FCR_ENABLE_AND_CLEAR);
    store8(BASE + REG_MCR, MCR_DTR_RTS);
    baudRateSet(POWER_ON_SPEED);
}

void UartConsole::push(uint8_t byte) {
    queue_[(head_ + count_) % QUEUE_SIZE] = byte;
    ++count_;
}

uint8_t UartConsole::pop() {
    const uint8_t byte = queue_[head_];
    head_ = (head_ + 1) % QUEUE_SIZE;
    --count_;
    return byte;
}

void UartConsole::transmit(uint8_t byte) {
    while ((load8(BASE + REG_LSR) & LSR_THR_EMPTY) == 0) {
    }
    store8(BASE + REG_THR, byte);
}

void UartConsole::boardReset() {
    store8(CPLD_RESET_CONTROL, CPLD_RESET_REQUEST);
    for (;;) {
    }
}

void UartConsole::optionsSet(uint32_t options) {
    const bool wasLine = (options_ & OPT_LINE) != 0;
    options_ = options;
    // The board's service window hears the word, as the operating system's
    // terminal driver would know it: a raw console carries a file transfer.
    store32(volume_service::BASE + volume_service::REG_CONSOLE_OPTIONS, options_);
    if (wasLine && (options_ & OPT_LINE) == 0) {
        // Leaving line mode hands the partly typed line to the reader as is.
        for (size_t i = 0; i < editLength_ && count_ < QUEUE_SIZE; ++i) {
            push(editLine_[i]);
        }
        editLength_ = 0;
        completeLines_ = 0;
    } else if (!wasLine && (options_ & OPT_LINE) != 0) {
        // Bytes that arrived in raw mode are still waiting; each line end
        // among them ends a line for the reader.
        completeLines_ = 0;
        for (size_t i = 0; i < count_; ++i) {
            completeLines_ += queue_[(head_ + i) % QUEUE_SIZE] == '\n';
        }
    }
}

void UartConsole::echo(uint8_t byte) {
    if ((options_ & OPT_ECHO) == 0) {
        return;
    }
    if (byte == '\n' && (options_ & OPT_CRMOD)) {
        transmit('\r');
    }
    transmit(byte);
}

void UartConsole::accept(uint8_t byte) {
    if (options_ & OPT_7_BIT) {
        byte &= 0x7F;
    }
    if ((options_ & OPT_MON_TRAP) && byte == CONTROL_X) {
        boardReset();
    }
    if ((options_ & OPT_TANDEM) && (byte == XON || byte == XOFF)) {
        return;  // flow control, not data
    }
    if ((options_ & OPT_CRMOD) && byte == '\r') {
        byte = '\n';
    }
    if (options_ & OPT_LINE) {
        if (byte == '\n') {
            if (count_ + editLength_ + 1 > QUEUE_SIZE) {
                return;  // the reader is that far behind: the line is lost
            }
            echo(byte);
            for (size_t i = 0; i < editLength_; ++i) {
                push(editLine_[i]);
            }
            push('\n');
            editLength_ = 0;
            ++completeLines_;
        } else if (editLength_ < EDIT_LINE_MAX) {
            echo(byte);
            editLine_[editLength_++] = byte;
        }
        return;
    }
    if (count_ < QUEUE_SIZE) {
        echo(byte);
        push(byte);
    }
}

void UartConsole::pump() {
    // What the UART holds moves to the queue; once the queue is full the
    // rest waits in the UART, as it would with a full ring.
    while (count_ < QUEUE_SIZE && (load8(BASE + REG_LSR) & LSR_DATA_READY) != 0) {
        accept(load8(BASE + REG_RBR));
    }
}

int UartConsole::waitReadable(int64_t microseconds) {
    const uint64_t deadline =
        microseconds < 0 ? UINT64_MAX : TimeBaseClock::timeBase() + clock_.countsIn(static_cast<uint64_t>(microseconds));
    for (;;) {
        pump();
        if (readable()) {
            return 1;
        }
        if (TimeBaseClock::timeBase() >= deadline) {
            return 0;
        }
    }
}

long UartConsole::read(uint8_t* buffer, size_t length) {
    if (length == 0) {
        return 0;
    }
    waitReadable(-1);
    size_t n = 0;
    if ((options_ & OPT_LINE) == 0) {
        while (n < length && count_ > 0) {
            buffer[n++] = pop();
        }
        return static_cast<long>(n);
    }
    while (n < length && count_ > 0) {
        const uint8_t byte = pop();
        buffer[n++] = byte;
        if (byte == '\n') {
            if (completeLines_ > 0) {
                --completeLines_;
            }
            break;
        }
    }
    return static_cast<long>(n);
}

long UartConsole::write(const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '\n' && (options_ & OPT_CRMOD)) {
            transmit('\r');
        }
        transmit(data[i]);
    }
    return static_cast<long>(length);
}

int UartConsole::flush() {
    pump();
    head_ = 0;
    count_ = 0;
    editLength_ = 0;
    completeLines_ = 0;
    return OK;
}

int UartConsole::baudRateSet(uint32_t speed) {
    for (const BaudRateEntry& entry : BAUD_RATE_TABLE) {
        if (entry.speed == speed) {
            store8(BASE + REG_LCR, LCR_DLAB | LCR_8N1);
            store8(BASE + REG_DLL, static_cast<uint8_t>(entry.divisor & 0xFF));
            store8(BASE + REG_DLM, static_cast<uint8_t>(entry.divisor >> 8));
            store8(BASE + REG_LCR, LCR_8N1);
            speed_ = speed;
            return OK;
        }
    }
    return ERROR;
}

int UartConsole::baudRateGet(uint32_t& speed) {
    speed = speed_;
    return OK;
}

}  // namespace firmware
