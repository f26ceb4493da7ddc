// The fatal path: the exception message printer, the stack walk over frames
// laid by hand in board RAM (each way it ends, and walks that lead out of
// memory), the reboot request, and a machine check from the memory tool to
// the board's next start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_support/polled_output.h"
#include "support/boot_texts.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using namespace swboot;
using testing_support::plainText;
using testing_support::TestBoard;

constexpr uint32_t CODE = 0x00400000;   // functions laid by the tests
constexpr uint32_t STACK = 0x00500000;  // top of the stack laid by the tests
constexpr uint32_t FUNCTION_SPACING = 0x100;
constexpr uint32_t FRAME_SIZE = 0x20;
constexpr uint32_t CALL_OFFSET = 0x40;  // where a call returns to in each function

class FatalTest : public testing_support::OnBoardTest {
protected:
    Bus& bus() { return board.board().platform().bus; }

    // Function n at CODE + n * 0x100: stwu r1,-0x20(r1); mflr r0; then
    // nops; stw r0,0x24(r1) as the third instruction.
    uint32_t function(int n) {
        uint32_t base = CODE + static_cast<uint32_t>(n) * FUNCTION_SPACING;
        bus().write32(base, 0x9421FFE0);
        bus().write32(base + 4, 0x7C0802A6);
        bus().write32(base + 8, 0x90010024);
        for (uint32_t at = base + 12; at < base + FUNCTION_SPACING; at += 4) {
            bus().write32(at, 0x60000000);
        }
        return base;
    }

    // Frames of functions 0 (the printer) to depth-1, each called from the
    // next; the outermost frame's back chain and return address as given.
    // The printer's PC and SP go to the core.
    void stackLay(int depth, uint32_t outerBackChain, uint32_t outerReturn) {
        uint32_t sp = STACK - static_cast<uint32_t>(depth) * FRAME_SIZE;
        board.board().core().setFrame(function(0) + CALL_OFFSET, sp);
        for (int n = 0; n < depth; ++n, sp += FRAME_SIZE) {
            bool outermost = n == depth - 1;
            uint32_t caller = outermost ? 0 : function(n + 1) + CALL_OFFSET;
            bus().write32(sp, outermost ? outerBackChain : sp + FRAME_SIZE);
            bus().write32(sp + FRAME_SIZE + 4, outermost ? outerReturn : caller);
        }
    }

    std::string trace() {
        EXPECT_EQ(loader.run([&] { loader->fatal.stackTracePrint(STACK_TRACE_HEADER, "", true); }), "");
        return loader.takeOutput();
    }

    static std::string line(int n, uint32_t sp) {
        char text[96];
        std::snprintf(text, sizeof text, "FUNC = 0x%x, PC = 0x%x (), SP = 0x%x\n",
                      CODE + n * FUNCTION_SPACING, CODE + n * FUNCTION_SPACING + CALL_OFFSET, sp);
        return text;
    }
};

TEST_F(FatalTest, TheExceptionMessageIsTheAreaUpToThePointerWithinTheBuffer) {
    const std::string text = "Machine Check Exception\nCause: test\n";
    for (uint32_t i = 0; i < text.size(); ++i) {
        bus().write8(EXC_MSG_TEXT_ADDRESS + i, static_cast<uint8_t>(text[i]));
    }
    for (uint32_t i = static_cast<uint32_t>(text.size()); i < 0x2000; ++i) {
        bus().write8(EXC_MSG_TEXT_ADDRESS + i, 'x');
    }
    const std::string header = "\r\n--- Exception Message ---\r\n";
    const struct {
        uint16_t pointer;
        std::string shown;
    } cases[] = {
        {0x4300, header},
        {0x4302, header},
        {0, header},
        {static_cast<uint16_t>(0x4302 + text.size()), header + "Machine Check Exception\r\nCause: test\r\n"},
        // The buffer holds 1040 bytes with the 27 of the header and the end.
        {0xFFFF, header + "Machine Check Exception\r\nCause: test\r\n" + std::string(1012 - text.size(), 'x')},
    };
    for (const auto& c : cases) {
        bus().write16(EXC_MSG_POINTER_ADDRESS, c.pointer);
        size_t before = board.output().size();
        EXPECT_EQ(loader.run([&] { loader->fatal.excMsgPrint(EXC_MSG_HEADER, ""); }), "");
        EXPECT_EQ(board.output().substr(before), c.shown) << std::hex << c.pointer;
    }
}

TEST_F(FatalTest, TheWalkSkipsThePrinterAndEndsOnARangeLine) {
    const struct {
        const char* what;
        uint32_t backChain;
        uint32_t returnAddress;
        const char* last;
    } cases[] = {
        {"outermost back chain 0", 0, CODE + 0x80, "Caller SP 0x0 out of range\n"},
        {"return into the boot flash", STACK + 0x100, 0xFFF00100, "RA 0xfff00100 out of range\n"},
        {"return below 0x100", STACK + 0x100, 0xFC, "RA 0xfc out of range\n"},
        {"back chain at the top of memory", TOP_OF_MEMORY, CODE + 0x80, "Caller SP 0x10000000 out of range\n"},
    };
    for (const auto& c : cases) {
        stackLay(4, c.backChain, c.returnAddress);
        const uint32_t sp0 = STACK - 4 * FRAME_SIZE;
        EXPECT_EQ(trace(), std::string("\n--- Stack Trace ---\n") + line(1, sp0 + FRAME_SIZE) +
                               line(2, sp0 + 2 * FRAME_SIZE) + line(3, sp0 + 3 * FRAME_SIZE) + c.last)
            << c.what;
    }
}

TEST_F(FatalTest, ADeepStackStopsAtTheLineThatFills1920Bytes) {
    constexpr int DEPTH = 100;
    stackLay(DEPTH, 0, 0xFFF00100);
    std::string text = trace();
    // Without its carriage returns the text is the buffer as it was filled.
    ASSERT_GE(text.size(), STACK_TRACE_STOP);
    size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    EXPECT_LT(lastLine, STACK_TRACE_STOP);
    EXPECT_EQ(text.find("out of range"), std::string::npos);
    EXPECT_EQ(text.substr(lastLine, 7), "FUNC = ");
}

TEST_F(FatalTest, AWalkLedOutOfMemoryEndsWithoutABusError) {
    const uint32_t printer = function(0) + CALL_OFFSET;
    const struct {
        const char* what;
        uint32_t pc;
        uint32_t sp;
    } cases[] = {
        {"PC where no device answers", 0xE0000000, STACK},
        {"PC at address 0: the search does not wrap", 0, STACK},
        {"PC in the boot flash's erased words", 0xFE000040, STACK},
        {"SP past the top of memory", printer, TOP_OF_MEMORY + 0x10},
        {"return slot past the top of memory", printer, TOP_OF_MEMORY - 0x10},
        {"unaligned SP", printer, STACK + 2},
    };
    for (const auto& c : cases) {
        board.board().core().setFrame(c.pc, c.sp);
        EXPECT_EQ(trace(), "\n--- Stack Trace ---\n") << c.what;
    }
}

// The prologue search reads back at most 4096 words, PC itself first, and
// takes mflr only after a stwu. The frame found is the printer's (not
// printed); its return slot in unwritten RAM holds 0.
TEST_F(FatalTest, ThePrologueIsSoughtWithin4096WordsAfterAStwu) {
    const struct {
        const char* what;
        uint32_t pcAfterMflr;  // bytes from the mflr to PC
        bool stwu;
        const char* shown;
    } cases[] = {
        {"mflr as the 4096th word read", 4095 * 4, true, "RA 0x0 out of range\n"},
        {"mflr one word further back", 4096 * 4, true, ""},
        {"mflr without a stwu before it", 0x3C, false, ""},
    };
    for (const auto& c : cases) {
        const uint32_t base = function(0);
        if (!c.stwu) {
            bus().write32(base, 0x60000000);
        }
        board.board().core().setFrame(base + 4 + c.pcAfterMflr, STACK);
        EXPECT_EQ(trace(), std::string("\n--- Stack Trace ---\n") + c.shown) << c.what;
    }
}

TEST_F(FatalTest, TheRebootRoutineStopsTheClocksAndBranchPredictionAndCallsItsHooksInOrder) {
    struct Hooks : ShutdownHook, PreRebootHook {
        std::string calls;
        void shutdown(int phase) override { calls += "shutdown " + std::to_string(phase) + ";"; }
        void preReboot() override { calls += "pre-reboot;"; }
    } hooks;
    loader->fatal.shutdownHook = &hooks;
    loader->fatal.preRebootHook = &hooks;
    loader->fatal.resetBoard = false;
    Cpu& cpu = board.board().platform().cpu;
    EXPECT_EQ(loader.run([&] { EXPECT_EQ(loader->fatal.boardReboot(0), 0); }), "");
    EXPECT_EQ(hooks.calls, "shutdown 0;shutdown 1;pre-reboot;");
    EXPECT_EQ(cpu.msrGet() & MSR_EE, 0u);
    EXPECT_EQ(cpu.sprRead(SPR_TCR) & (TCR_DIE | TCR_FIE), 0u);
    EXPECT_EQ(cpu.sprRead(SPR_BUCSR) & BUCSR_BPEN, 0u);
    EXPECT_EQ(loader.takeOutput(), "\n--- Exception Message ---\n\n--- Stack Trace ---\n");
    // Entered again, the routine goes straight to the reset.
    EXPECT_EQ(loader.run([&] { loader->fatal.boardReboot(0); }), "reset: CPLD reset request");
    EXPECT_EQ(loader.takeOutput(), "");
}

// The waiting note goes out directly; the UART's interrupt enables are put back.
TEST_F(FatalTest, TheRebootRequestResetsTheBoardAfterTheFatalEntry) {
    loader->eventLog.log_init(LOG_SIZE_BYTES, LOG_INIT_FIRST, LOG_INIT_LEVEL, LOG_INIT_FURTHER_1,
                              LOG_INIT_FURTHER_2);
    bus().write8(CONSOLE_UART_INTERRUPT_ENABLE, 0x0F);
    EXPECT_EQ(loader.run([&] { loader->eventLog.log_fatal_error("fatal.c", 9, 1); }),
              "reset: reboot request (0x1234 at 0xc0000000)");
    EXPECT_EQ(loader.takeOutput(), "...waiting for reboot\n");
    EXPECT_EQ(bus().read8(CONSOLE_UART_INTERRUPT_ENABLE), 0x0F);
    EXPECT_EQ(loader->eventLog.next(), 1u);
}

// The board's bus, noting the UART's interrupt enables as each character
// goes to its data register.
class UartWatchingBus : public Bus {
public:
    explicit UartWatchingBus(Bus& bus) : bus_(bus) {}
    uint8_t read8(uint32_t address) override { return bus_.read8(address); }
    uint16_t read16(uint32_t address) override { return bus_.read16(address); }
    uint32_t read32(uint32_t address) override { return bus_.read32(address); }
    void write8(uint32_t address, uint8_t value) override {
        if (address == CONSOLE_UART_DATA) {
            enablesWhileSending.push_back(bus_.read8(CONSOLE_UART_INTERRUPT_ENABLE));
        }
        bus_.write8(address, value);
    }
    void write16(uint32_t address, uint16_t value) override { bus_.write16(address, value); }
    void write32(uint32_t address, uint32_t value) override { bus_.write32(address, value); }
    std::span<uint8_t> ramView(uint32_t address, size_t length) override { return bus_.ramView(address, length); }

    std::vector<uint8_t> enablesWhileSending;

private:
    Bus& bus_;
};

// Direct output is polled: the receive and transmit interrupts stay masked
// while it sends (the line status and modem interrupts are left as set).
TEST_F(FatalTest, DirectOutputSendsWithTheUartInterruptsMasked) {
    const Platform& p = board.board().platform();
    UartWatchingBus watching(p.bus);
    Loader direct(Platform{p.console, p.clock, p.tasks, p.files, p.volume, watching, p.cpu, p.pci, p.memory});
    bus().write8(CONSOLE_UART_INTERRUPT_ENABLE, 0x0F);
    direct.eventLog.log_direct_output("ok");
    EXPECT_EQ(watching.enablesWhileSending, std::vector<uint8_t>({0x0C, 0x0C}));
    EXPECT_EQ(bus().read8(CONSOLE_UART_INTERRUPT_ENABLE), 0x0F);
}

// The console UART as the polled output sees it: a line status register
// that reports the transmitter empty after a given number of polls (or
// never), and the characters written to the data register.
class PollCountingBus : public Bus {
public:
    explicit PollCountingBus(int readyAfter) : readyAfter_(readyAfter) {}
    uint8_t read8(uint32_t address) override {
        EXPECT_EQ(address, CONSOLE_UART_LINE_STATUS);
        ++polls;
        return readyAfter_ >= 0 && ++waited_ > readyAfter_ ? UART_LSR_TRANSMITTER_EMPTY : 0x00;
    }
    void write8(uint32_t address, uint8_t value) override {
        EXPECT_EQ(address, CONSOLE_UART_DATA);
        sent += static_cast<char>(value);
        waited_ = 0;
    }
    uint16_t read16(uint32_t) override { return 0; }
    uint32_t read32(uint32_t) override { return 0; }
    void write16(uint32_t, uint16_t) override {}
    void write32(uint32_t, uint32_t) override {}
    std::span<uint8_t> ramView(uint32_t, size_t) override { return {}; }

    int polls = 0;
    std::string sent;

private:
    int readyAfter_;
    int waited_ = 0;
};

TEST(PolledOutput, EachCharacterWaitsAtMost10000PollsAndGoesOutAnyway) {
    const struct {
        int readyAfter;  // polls without the transmitter-empty bit (-1: never)
        int polls;       // polls for the three characters "a\n" sends
    } cases[] = {
        {0, 3},
        {5, 18},
        {9999, 30000},
        {-1, 3 * POLLED_CHAR_POLLS},
    };
    for (const auto& c : cases) {
        PollCountingBus bus(c.readyAfter);
        polledStringOut(bus, "a\n");
        EXPECT_EQ(bus.sent, "a\r\n") << c.readyAfter;
        EXPECT_EQ(bus.polls, c.polls) << c.readyAfter;
        EXPECT_EQ(polledTransmitterWait(bus, POLLED_DRAIN_POLLS), c.readyAfter >= 0) << c.readyAfter;
    }
}

TEST(MachineCheck, TheMemoryToolsBusErrorIsTracedAndTheBoardStartsAgain) {
    TestBoard board;
    board.formatVolume();
    board.typeLines({"30", "1", "r d0000005 1", "r e0000000 1"});
    board.run();
    EXPECT_EQ(board.board().powerOnCount(), 2);
    EXPECT_EQ(board.board().lastResetCause(), "CPLD reset request");
    const std::string text = plainText(board.output());
    // A device's register is dumped; the address no device answers is a machine check.
    EXPECT_NE(text.find("d0000005 3f " + std::string(45, ' ') + "-\n"), std::string::npos) << text;
    size_t message = text.find("Silicon fault detected, possible machine state corruption.\nSystem rebooted to limit "
                               "damage.\n--- Exception Message ---\nMachine Check Exception\nCause: bus error: 8-bit "
                               "read at 0xe0000000\n");
    size_t trace = text.find("\n--- Stack Trace ---\nFUNC = 0x", message);
    size_t end = text.find("RA 0xfff00100 out of range\n", trace);
    ASSERT_NE(trace, std::string::npos) << text;
    ASSERT_NE(end, std::string::npos) << text;
    // Seven frames from the reboot routine out to the start-up code.
    EXPECT_EQ(testing_support::countOf(text.substr(trace, end - trace), "FUNC = "), 7u);
    EXPECT_NE(text.find(testing_support::boot::BANNER, end), std::string::npos) << "the board starts again";
}

}  // namespace
