// The console UART at 0xF0004500: a 16550-compatible UART with eight byte
// registers at consecutive addresses.
//
// Modelled: the receiver buffer and transmitter holding register, the
// divisor latch behind DLAB, interrupt enable and identification (with the
// 16550's priorities and the FIFO-enabled bits), FIFO control, line control,
// modem control with its loopback mode, line status (data ready, overrun,
// transmitter holding register empty, transmitter empty), modem status with
// its delta bits, and the scratch register. The transmitter and receiver are
// the console line itself: a byte written to the transmitter holding
// register is on the line at once, so the transmitter always reads empty
// (unless a test makes it stick), and the receiver takes bytes from the line
// as they are asked for. No interrupt line is wired: the board's code polls.
//
// The console driver of the board support package reaches the same
// transmitter and receiver through this object's SerialLine face (its
// FIFO path), so characters the loader sends by polling the registers and
// characters of its buffered console stream leave in the order written, and
// a byte the registers already took in is not delivered twice.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "host/serial_line.h"

namespace sim {

class Uart16550 : public SerialLine {
public:
    static constexpr uint32_t BASE = 0xF0004500;
    static constexpr uint32_t SIZE = 8;

    // Register offsets. Offsets 0 and 1 are the divisor latch while DLAB is set.
    static constexpr uint8_t REG_RBR = 0;  // receiver buffer (read)
    static constexpr uint8_t REG_THR = 0;  // transmitter holding (write)
    static constexpr uint8_t REG_DLL = 0;  // divisor latch, low byte (DLAB)
    static constexpr uint8_t REG_IER = 1;  // interrupt enable
    static constexpr uint8_t REG_DLM = 1;  // divisor latch, high byte (DLAB)
    static constexpr uint8_t REG_IIR = 2;  // interrupt identification (read)
    static constexpr uint8_t REG_FCR = 2;  // FIFO control (write)
    static constexpr uint8_t REG_LCR = 3;  // line control
    static constexpr uint8_t REG_MCR = 4;  // modem control
    static constexpr uint8_t REG_LSR = 5;  // line status
    static constexpr uint8_t REG_MSR = 6;  // modem status
    static constexpr uint8_t REG_SCR = 7;  // scratch

    static constexpr uint8_t IER_ERBFI = 0x01;  // received data available
    static constexpr uint8_t IER_ETBEI = 0x02;  // transmitter holding register empty
    static constexpr uint8_t IER_ELSI = 0x04;   // receiver line status
    static constexpr uint8_t IER_EDSSI = 0x08;  // modem status
    static constexpr uint8_t IER_MASK = 0x0F;

    static constexpr uint8_t IIR_NO_INTERRUPT = 0x01;
    static constexpr uint8_t IIR_MODEM_STATUS = 0x00;
    static constexpr uint8_t IIR_THR_EMPTY = 0x02;
    static constexpr uint8_t IIR_RECEIVED_DATA = 0x04;
    static constexpr uint8_t IIR_LINE_STATUS = 0x06;
    static constexpr uint8_t IIR_FIFOS_ENABLED = 0xC0;

    static constexpr uint8_t FCR_FIFO_ENABLE = 0x01;
    static constexpr uint8_t FCR_RX_RESET = 0x02;
    static constexpr uint8_t FCR_TX_RESET = 0x04;

    static constexpr uint8_t LCR_WORD_8_BITS = 0x03;
    static constexpr uint8_t LCR_DLAB = 0x80;

    static constexpr uint8_t MCR_DTR = 0x01;
    static constexpr uint8_t MCR_RTS = 0x02;
    static constexpr uint8_t MCR_OUT1 = 0x04;
    static constexpr uint8_t MCR_OUT2 = 0x08;
    static constexpr uint8_t MCR_LOOP = 0x10;
    static constexpr uint8_t MCR_MASK = 0x1F;

    static constexpr uint8_t LSR_DR = 0x01;    // data ready
    static constexpr uint8_t LSR_OE = 0x02;    // overrun error
    static constexpr uint8_t LSR_THRE = 0x20;  // transmitter holding register empty
    static constexpr uint8_t LSR_TEMT = 0x40;  // transmitter empty

    static constexpr uint8_t MSR_DCTS = 0x01;
    static constexpr uint8_t MSR_DDSR = 0x02;
    static constexpr uint8_t MSR_TERI = 0x04;
    static constexpr uint8_t MSR_DDCD = 0x08;
    static constexpr uint8_t MSR_CTS = 0x10;
    static constexpr uint8_t MSR_DSR = 0x20;
    static constexpr uint8_t MSR_RI = 0x40;
    static constexpr uint8_t MSR_DCD = 0x80;
    // A terminal on the cable: clear to send, data set ready, carrier.
    static constexpr uint8_t MSR_CABLE = MSR_CTS | MSR_DSR | MSR_DCD;

    static constexpr size_t FIFO_DEPTH = 16;
    // The UART's input clock, the board's 100 MHz bus clock: the line speed
    // is this divided by 16 and by the divisor latch.
    static constexpr uint32_t CLOCK_HZ = 100000000;

    explicit Uart16550(SerialLine& line);

    // Reset values: interrupts off, FIFOs off, divisor latch 0, no loopback.
    void powerUp();

    // The hardware face: the byte registers, by offset 0 to 7.
    uint8_t read(uint8_t reg);
    void write(uint8_t reg, uint8_t value);

    // SerialLine: the console driver's path to the same transmitter and
    // receiver. Setting the speed programs the chip as the driver does
    // (divisor, 8 data bits, FIFOs, DTR, RTS and OUT2).
    long receive(uint8_t* buffer, size_t length) override;
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override;
    void transmit(const uint8_t* data, size_t length) override;
    bool interactive() const override { return line_.interactive(); }
    void speedChanged(uint32_t bitsPerSecond) override;
    void rawModeChanged(bool raw) override { line_.rawModeChanged(raw); }

    // Control face.
    uint16_t divisor() const { return divisor_; }
    // The line speed the divisor latch gives (0 while the latch is 0).
    uint32_t speed() const;
    // A transmitter that never reports empty: the status bits stay clear,
    // the bytes still go out.
    void setTransmitterStuck(bool stuck) { transmitterStuck_ = stuck; }
    // Called when a read of the receiver buffer or the line status finds no
    // byte, with the count of such reads since the last byte sent or
    // received (code polling for input), so that whoever runs the code can
    // let board time pass or notice that no input will come.
    void setEmptyPollHook(std::function<void(unsigned emptyPolls)> hook) { emptyPollHook_ = std::move(hook); }
    // Takes what has arrived on the line into the receiver FIFO, as far as
    // it has room, without waiting (the line's own keys are seen even while
    // nobody reads the UART).
    void takeFromLine();
    // True once the line said no byte will ever arrive again.
    bool endOfInput() const { return endOfInput_; }
    // Reads that found no byte, ever (it only counts up).
    uint64_t emptyPollsEver() const { return emptyPollsEver_; }
    // Bytes written to the transmitter since power-on.
    uint64_t bytesSent() const { return sent_; }

private:
    void send(uint8_t byte);
    // Takes a byte from the line into the receiver when it has none; true
    // when the receiver holds a byte afterwards.
    bool fillReceiver();
    uint8_t lineStatus();
    uint8_t interruptIdentification();
    uint8_t modemStatusLines() const;
    void updateModemStatus();
    void divisorChanged();

    SerialLine& line_;
    void emptyPoll();

    std::function<void(unsigned)> emptyPollHook_;
    unsigned emptyPolls_ = 0;
    std::deque<uint8_t> receiver_;
    uint8_t rbr_ = 0;          // last byte read; a read with nothing received repeats it
    uint8_t ier_ = 0;
    uint8_t lcr_ = 0;
    uint8_t mcr_ = 0;
    uint8_t msr_ = 0;
    uint8_t scr_ = 0;
    uint16_t divisor_ = 0;
    bool divisorWritten_ = false;  // a latch byte was written since DLAB was set
    bool fifoEnabled_ = false;
    bool overrun_ = false;
    bool thrEmptyPending_ = false;  // the THR-empty interrupt, until IIR reports it or THR is written
    bool transmitterStuck_ = false;
    bool endOfInput_ = false;
    uint64_t sent_ = 0;
    uint64_t emptyPollsEver_ = 0;
};

}  // namespace sim
