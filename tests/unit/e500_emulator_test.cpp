// The emulated e500 core on the board's bus: how code is entered and what
// it finds (start mode, stack, MSR, HID0), its view of RAM (faults
// included) and devices, how it returns, and every way it stops: bus
// errors, illegal and unsupported instructions, exceptions, and a reset
// through the CPLD. The programs are hand-assembled words, so these tests
// need no cross compiler.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board/board_events.h"
#include "board/e500_emulator.h"
#include "support/board_bus.h"

namespace {

using sim::E500Emulator;
using Kind = E500Emulator::StopKind;

constexpr uint32_t ENTRY = 0x00010000;
constexpr uint32_t STACK = 0x01FFFFF0;
constexpr uint32_t RETURN_ADDRESS = 0xFFF80000;
constexpr uint32_t RESULTS = 0x00020000;

class E500EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!E500Emulator::available()) {
            GTEST_SKIP() << "built without the emulated core (libunicorn-dev)";
        }
    }

    void place(const std::vector<uint32_t>& words, uint32_t address = ENTRY) {
        for (size_t i = 0; i < words.size(); ++i) {
            board.bus.write32(address + 4 * static_cast<uint32_t>(i), words[i]);
        }
    }
    E500Emulator::Stop run(const std::vector<uint32_t>& words, uint32_t argument = 1) {
        place(words);
        E500Emulator::Entry entry;
        entry.address = ENTRY;
        entry.argument = argument;
        entry.msr = 0x00001000;
        entry.hid0 = 0x00004000;
        entry.stackPointer = STACK;
        entry.returnAddress = RETURN_ADDRESS;
        return core.run(entry);
    }

    testing_support::BoardBus board;
    E500Emulator core{board.bus, sim::Ram::SIZE};
};

TEST_F(E500EmulatorTest, CodeIsCalledWithTheLoadersStateAndReturnsItsResult) {
    board.bus.write32(STACK, 0xDEADBEEF);  // whatever the stack held before
    E500Emulator::Stop stop = run(
        {
            0x9421FFF0,  // stwu r1,-16(r1)      a frame on the stack it was given
            0x7C0802A6,  // mflr r0
            0x90010014,  // stw r0,20(r1)
            0x7C8000A6,  // mfmsr r4
            0x7CB0FAA6,  // mfspr r5,HID0
            0x3CC00002,  // lis r6,2             results at 0x00020000
            0x90860000,  // stw r4,0(r6)
            0x90A60004,  // stw r5,4(r6)
            0x90260008,  // stw r1,8(r6)
            0x48000025,  // bl double
            0x3CE0F000,  // lis r7,0xF000
            0x60E74500,  // ori r7,r7,0x4500     the console UART
            0x3900004B,  // li r8,'K'
            0x99070000,  // stb r8,0(r7)
            0x80010014,  // lwz r0,20(r1)
            0x7C0803A6,  // mtlr r0
            0x38210010,  // addi r1,r1,16
            0x4E800020,  // blr
            0x7C631A14,  // double: add r3,r3,r3
            0x4E800020,  // blr
        },
        3);
    EXPECT_EQ(stop.kind, Kind::Returned) << E500Emulator::describe(stop);
    EXPECT_EQ(stop.result, 6u);
    EXPECT_EQ(board.bus.read32(RESULTS), 0x00001000u);      // MSR as the loader left it
    EXPECT_EQ(board.bus.read32(RESULTS + 4), 0x00004000u);  // HID0 likewise
    EXPECT_EQ(board.bus.read32(RESULTS + 8), STACK - 16);
    EXPECT_EQ(board.bus.read32(STACK), 0u);  // the caller's frame ends the back chain
    EXPECT_EQ(board.line.output(), "K");
    EXPECT_EQ(stop.registers.gpr[1], STACK);
    EXPECT_EQ(core.instructionsExecuted(), 20u);
}

TEST_F(E500EmulatorTest, EveryWayOfStoppingIsReportedAtTheInstruction) {
    const struct {
        const char* what;
        std::vector<uint32_t> code;
        Kind kind;
        const char* cause;
        uint32_t pc;           // where the core stopped
        uint32_t instruction;  // the word there (0 outside RAM)
    } cases[] = {
        {"read where no device answers",
         {0x3D202000, 0x80890000},  // lis r9,0x2000; lwz r4,0(r9)
         Kind::BusError, "bus error: 32-bit read at 0x20000000", ENTRY + 4, 0x80890000},
        {"halfword store to the byte-wide UART",
         {0x3D20F000, 0x61294500, 0xB0890000},  // lis, ori: 0xF0004500; sth r4,0(r9)
         Kind::BusError, "bus error: 16-bit write at 0xf0004500", ENTRY + 8, 0xB0890000},
        {"no instruction", {0x60000000, 0x00000000}, Kind::IllegalInstruction, "not an instruction of this core",
         ENTRY + 4, 0x00000000},
        {"time base through mfspr", {0x60000000, 0x7C6C42A6}, Kind::IllegalInstruction, "time base", ENTRY + 4,
         0x7C6C42A6},
        {"time base through mftb", {0x7C6C42E6}, Kind::IllegalInstruction, "time base", ENTRY, 0x7C6C42E6},
        {"system call", {0x60000000, 0x60000000, 0x44000002}, Kind::Exception, "system call", ENTRY + 8,
         0x44000002},
        {"fetch outside RAM",
         {0x3D20D000, 0x7D2903A6, 0x4E800420},  // lis r9,0xD000; mtctr r9; bctr
         Kind::BusError, "instruction fetch from 0xd0000000", 0xD0000000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        E500Emulator::Stop stop = run(c.code);
        EXPECT_EQ(stop.kind, c.kind);
        EXPECT_NE(stop.cause.find(c.cause), std::string::npos) << stop.cause;
        EXPECT_EQ(stop.pc, c.pc);
        EXPECT_EQ(stop.instruction, c.instruction);
        std::string report = E500Emulator::describe(stop);
        char where[64];
        std::snprintf(where, sizeof where, "core: instruction 0x%08x at 0x%08x\n", c.instruction, c.pc);
        EXPECT_NE(report.find(where), std::string::npos) << report;
        EXPECT_NE(report.find("core: r0  "), std::string::npos) << report;
        EXPECT_NE(report.find("core: lr fff80000 "), std::string::npos) << report;
    }
}

TEST_F(E500EmulatorTest, RamFaultsActOnTheCodeAroundThem) {
    board.ram.setFaults({{.kind = sim::Ram::Fault::Kind::StuckBit, .address = 0x00030000, .bit = 0, .level = 1}});
    E500Emulator::Stop stop = run({
        0x38800000,  // li r4,0
        0x3D200003,  // lis r9,3
        0x90890000,  // stw r4,0(r9)
        0x80690000,  // lwz r3,0(r9)      the stuck bit reads back 1
        0x4E800020,  // blr
    });
    EXPECT_EQ(stop.kind, Kind::Returned) << E500Emulator::describe(stop);
    EXPECT_EQ(stop.result, 1u);
    stop = run({0x3D200003, 0x7D2903A6, 0x4E800420});  // lis r9,3; mtctr r9; bctr
    EXPECT_EQ(stop.kind, Kind::BusError);
    EXPECT_EQ(stop.cause, "instruction fetch from 0x00030000, in RAM with faults");
}

TEST_F(E500EmulatorTest, AResetRequestThroughTheCpldLeavesTheCore) {
    EXPECT_THROW(run({0x3D20D000, 0x38800010, 0x98890000}),  // lis r9,0xD000; li r4,0x10; stb r4,0(r9)
                 sim::BoardReset);
    EXPECT_EQ(board.cpld.writes().back().value, sim::Cpld::RESET_REQUEST);
}

TEST_F(E500EmulatorTest, SlicesCountEveryInstructionOnce) {
    uint64_t sliced = 0;
    int slices = 0;
    core.setSliceLength(100);
    core.setSliceHook([&](uint64_t n) {
        sliced += n;
        ++slices;
    });
    E500Emulator::Stop stop = run({
        0x38800000,  // li r4,0
        0x38A003E8,  // li r5,1000
        0x38840001,  // addi r4,r4,1
        0x7C042800,  // cmpw r4,r5
        0x4180FFF8,  // blt -8
        0x7C832378,  // mr r3,r4
        0x4E800020,  // blr
    });
    EXPECT_EQ(stop.kind, Kind::Returned);
    EXPECT_EQ(stop.result, 1000u);
    EXPECT_EQ(core.instructionsExecuted(), 2u + 3u * 1000u + 2u);
    EXPECT_EQ(slices, 30);
    EXPECT_EQ(sliced, 3000u);
}

}  // namespace
