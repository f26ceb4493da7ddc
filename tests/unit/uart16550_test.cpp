// The console UART as code sees it through the board's memory map: polled
// transmit in line with the console driver's output, receive shared with the
// driver, strict byte-wide decoding, the divisor latch, interrupt
// identification, loopback and a transmitter that never reports empty.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_events.h"
#include "board/uart16550.h"
#include "host/console_tty.h"
#include "support/board_bus.h"

namespace {

using sim::Uart16550;

class Uart16550Test : public ::testing::Test {
protected:
    Uart16550Test() { tty.powerUp(); }

    uint8_t reg(uint8_t offset) { return board.bus.read8(Uart16550::BASE + offset); }
    void setReg(uint8_t offset, uint8_t value) { board.bus.write8(Uart16550::BASE + offset, value); }
    // Polled output as a fatal path sends it: wait for THRE, then write.
    void sendPolled(const std::string& text) {
        for (char c : text) {
            int polls = 0;
            while ((reg(Uart16550::REG_LSR) & Uart16550::LSR_THRE) == 0 && ++polls < 10000) {
            }
            setReg(Uart16550::REG_THR, static_cast<uint8_t>(c));
        }
    }
    void sendBuffered(const std::string& text) {
        tty.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    testing_support::BoardBus board;
    sim::ConsoleTty tty{board.uart, board.clock};
};

TEST_F(Uart16550Test, PolledAndBufferedOutputLeaveInTheOrderWritten) {
    EXPECT_EQ(reg(Uart16550::REG_LSR), Uart16550::LSR_THRE | Uart16550::LSR_TEMT);
    sendBuffered("System rebooting\n");
    sendPolled("\r\n--- Stack Trace ---\r\n");
    sendBuffered("up\n");
    EXPECT_EQ(board.line.output(), "System rebooting\r\n\r\n--- Stack Trace ---\r\nup\r\n");
}

TEST_F(Uart16550Test, ReceivedBytesGoToOneReaderOnly) {
    unsigned emptyPolls = 0;
    board.uart.setEmptyPollHook([&](unsigned polls) { emptyPolls = polls; });
    tty.optionsSet(swboot::OPT_RAW);
    board.line.deliver(std::vector<uint8_t>{'k', 'e', 'y'});
    EXPECT_EQ(reg(Uart16550::REG_LSR) & Uart16550::LSR_DR, Uart16550::LSR_DR);
    EXPECT_EQ(reg(Uart16550::REG_RBR), 'k');
    // The byte the status read took in is the driver's next, not lost.
    EXPECT_EQ(reg(Uart16550::REG_LSR) & Uart16550::LSR_DR, Uart16550::LSR_DR);
    uint8_t buffer[8] = {};
    ASSERT_EQ(tty.read(buffer, sizeof buffer), 2);
    EXPECT_EQ(std::string(buffer, buffer + 2), "ey");
    EXPECT_EQ(emptyPolls, 0u);
    EXPECT_EQ(reg(Uart16550::REG_LSR) & Uart16550::LSR_DR, 0);
    EXPECT_EQ(reg(Uart16550::REG_RBR), 'k');  // nothing new: the buffer repeats
    EXPECT_EQ(emptyPolls, 2u);
    setReg(Uart16550::REG_THR, '!');  // sending ends a run of empty polls
    reg(Uart16550::REG_LSR);
    EXPECT_EQ(emptyPolls, 1u);
    EXPECT_TRUE(board.uart.endOfInput());
}

TEST_F(Uart16550Test, OnlyByteAccessesToItsEightRegistersDecode) {
    const uint32_t base = Uart16550::BASE;
    const struct {
        const char* what;
        void (*access)(sim::MemoryMap&, uint32_t);
        uint32_t address;
    } refused[] = {
        {"16-bit read", [](sim::MemoryMap& m, uint32_t a) { m.read16(a); }, base},
        {"32-bit read", [](sim::MemoryMap& m, uint32_t a) { m.read32(a); }, base + 4},
        {"16-bit write", [](sim::MemoryMap& m, uint32_t a) { m.write16(a, 0x4141); }, base},
        {"32-bit write", [](sim::MemoryMap& m, uint32_t a) { m.write32(a, 0x41414141); }, base + 4},
        {"byte past the end", [](sim::MemoryMap& m, uint32_t a) { m.read8(a); }, base + Uart16550::SIZE},
        {"byte before the start", [](sim::MemoryMap& m, uint32_t a) { m.write8(a, 0x41); }, base - 1},
    };
    for (const auto& access : refused) {
        EXPECT_THROW(access.access(board.bus, access.address), sim::BoardMachineCheck) << access.what;
    }
    EXPECT_EQ(board.line.output(), "");
    setReg(Uart16550::REG_SCR, 0xA5);
    EXPECT_EQ(reg(Uart16550::REG_SCR), 0xA5);
}

TEST_F(Uart16550Test, DivisorLatchSetsTheLineSpeed) {
    // The driver's power-on programming: 9600 baud, 8 data bits, FIFOs on.
    EXPECT_EQ(board.uart.divisor(), 651);
    EXPECT_EQ(reg(Uart16550::REG_LCR), Uart16550::LCR_WORD_8_BITS);
    EXPECT_EQ(reg(Uart16550::REG_IIR), Uart16550::IIR_FIFOS_ENABLED | Uart16550::IIR_NO_INTERRUPT);
    board.line.speeds.clear();

    setReg(Uart16550::REG_IER, Uart16550::IER_ERBFI);
    setReg(Uart16550::REG_LCR, Uart16550::LCR_DLAB | Uart16550::LCR_WORD_8_BITS);
    EXPECT_EQ(reg(Uart16550::REG_DLL), 651 & 0xFF);
    EXPECT_EQ(reg(Uart16550::REG_DLM), 651 >> 8);
    setReg(Uart16550::REG_DLL, 54);
    setReg(Uart16550::REG_DLM, 0);
    EXPECT_TRUE(board.line.speeds.empty());  // takes effect when DLAB clears
    EXPECT_EQ(board.line.output(), "");      // latch writes are not data
    setReg(Uart16550::REG_LCR, Uart16550::LCR_WORD_8_BITS);
    EXPECT_EQ(board.line.speeds, std::vector<uint32_t>{115200});
    EXPECT_EQ(reg(Uart16550::REG_IER), Uart16550::IER_ERBFI);

    // A divisor outside the driver's table gives the speed it divides to.
    setReg(Uart16550::REG_LCR, Uart16550::LCR_DLAB);
    setReg(Uart16550::REG_DLL, 27);
    setReg(Uart16550::REG_LCR, 0);
    EXPECT_EQ(board.line.speeds.back(), Uart16550::CLOCK_HZ / (16 * 27));

    // The driver's speed setting programs the latch.
    tty.baudRateSet(19200);
    EXPECT_EQ(board.uart.divisor(), 325);
    EXPECT_EQ(board.uart.speed(), 19200u);
}

TEST_F(Uart16550Test, InterruptIdentificationKeepsThe16550Priorities) {
    const uint8_t fifo = Uart16550::IIR_FIFOS_ENABLED;
    setReg(Uart16550::REG_IER, Uart16550::IER_ETBEI);
    EXPECT_EQ(reg(Uart16550::REG_IIR), fifo | Uart16550::IIR_THR_EMPTY);
    EXPECT_EQ(reg(Uart16550::REG_IIR), fifo | Uart16550::IIR_NO_INTERRUPT);  // the read acknowledged it
    setReg(Uart16550::REG_THR, 'x');
    EXPECT_EQ(reg(Uart16550::REG_IIR), fifo | Uart16550::IIR_THR_EMPTY);

    setReg(Uart16550::REG_THR, 'y');
    setReg(Uart16550::REG_IER, Uart16550::IER_ETBEI | Uart16550::IER_ERBFI);
    board.line.deliver(std::vector<uint8_t>{'z'});
    EXPECT_EQ(reg(Uart16550::REG_IIR), fifo | Uart16550::IIR_RECEIVED_DATA);
    EXPECT_EQ(reg(Uart16550::REG_RBR), 'z');
    EXPECT_EQ(reg(Uart16550::REG_IIR), fifo | Uart16550::IIR_THR_EMPTY);

    setReg(Uart16550::REG_FCR, 0);
    EXPECT_EQ(reg(Uart16550::REG_IIR), Uart16550::IIR_NO_INTERRUPT);
}

TEST_F(Uart16550Test, LoopbackTurnsTheTransmitterIntoTheReceiver) {
    setReg(Uart16550::REG_FCR, 0);  // one-byte holding register
    reg(Uart16550::REG_MSR);
    setReg(Uart16550::REG_MCR, Uart16550::MCR_LOOP | Uart16550::MCR_RTS | Uart16550::MCR_DTR);
    // Outside loopback the cable's lines; inside, RTS and DTR looped to CTS
    // and DSR, carrier dropped with OUT2 clear.
    EXPECT_EQ(reg(Uart16550::REG_MSR), Uart16550::MSR_CTS | Uart16550::MSR_DSR | Uart16550::MSR_DDCD);
    EXPECT_EQ(reg(Uart16550::REG_MSR), Uart16550::MSR_CTS | Uart16550::MSR_DSR);
    board.line.deliver(std::vector<uint8_t>{'L'});
    setReg(Uart16550::REG_THR, 'a');
    setReg(Uart16550::REG_THR, 'b');  // no room: overrun, 'b' is lost
    EXPECT_EQ(reg(Uart16550::REG_LSR) & (Uart16550::LSR_DR | Uart16550::LSR_OE),
              Uart16550::LSR_DR | Uart16550::LSR_OE);
    EXPECT_EQ(reg(Uart16550::REG_LSR) & Uart16550::LSR_OE, 0);
    EXPECT_EQ(reg(Uart16550::REG_RBR), 'a');
    EXPECT_EQ(board.line.output(), "");
    setReg(Uart16550::REG_MCR, 0);
    EXPECT_EQ(reg(Uart16550::REG_RBR), 'L');  // the line's byte waited
}

TEST_F(Uart16550Test, StuckTransmitterStillSendsAndPowerUpClearsTheRegisters) {
    board.uart.setTransmitterStuck(true);
    EXPECT_EQ(reg(Uart16550::REG_LSR) & (Uart16550::LSR_THRE | Uart16550::LSR_TEMT), 0);
    sendPolled("ok");
    EXPECT_EQ(board.line.output(), "ok");

    setReg(Uart16550::REG_SCR, 0x5A);
    setReg(Uart16550::REG_IER, Uart16550::IER_MASK);
    board.uart.powerUp();
    for (uint8_t offset : {Uart16550::REG_IER, Uart16550::REG_LCR, Uart16550::REG_MCR, Uart16550::REG_SCR}) {
        EXPECT_EQ(reg(offset), 0) << int(offset);
    }
    EXPECT_EQ(reg(Uart16550::REG_IIR), Uart16550::IIR_NO_INTERRUPT);
    EXPECT_EQ(board.uart.divisor(), 0);
}

}  // namespace
