// The emulated e500 core on the board's bus: how code is entered and what
// it finds (start mode, stack, MSR, HID0), its view of RAM (faults
// included) and devices, how it returns, and every way it stops: bus
// errors, illegal and unsupported instructions, exceptions, and a reset
// through the CPLD; the interrupts it takes to the code's vectors, its
// timers, and its start from the boot flash's reset vector. The programs are hand-assembled words, so these tests
// need no cross compiler.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "board/board_events.h"
#include "board/e500_emulator.h"
#include "common/bytes.h"
#include "host/flash_probe.h"
#include "support/board_bus.h"
#include "support/test_board.h"

namespace {

using sim::E500Emulator;
using sim::E500Interrupts;
using Kind = E500Emulator::StopKind;

constexpr uint32_t ENTRY = 0x00010000;
constexpr uint32_t STACK = 0x01FFFFF0;
constexpr uint32_t RETURN_ADDRESS = 0xFFF80000;
constexpr uint32_t RESULTS = 0x00020000;

// mtspr and mfspr of a special register (its number's halves swapped).
uint32_t sprBits(int spr) { return static_cast<uint32_t>(((spr & 0x1F) << 16) | (((spr >> 5) & 0x1F) << 11)); }
uint32_t mtspr(int spr, int rs) { return 0x7C0003A6u | (static_cast<uint32_t>(rs) << 21) | sprBits(spr); }
uint32_t mfspr(int rd, int spr) { return 0x7C0002A6u | (static_cast<uint32_t>(rd) << 21) | sprBits(spr); }
constexpr uint32_t BLR = 0x4E800020;

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
        return core.run({ENTRY, argument, 0x00001000, 0x00004000, STACK, RETURN_ADDRESS});
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
        {"read of a write-only timer register", {0x60000000, 0x7C7C42A6}, Kind::IllegalInstruction,
         "special register access", ENTRY + 4, 0x7C7C42A6},  // mfspr r3,284
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

// The code sets a vector, raises an interrupt, and its handler returns the
// save register's address in r3 and stores the syndrome and the data
// address registers at RESULTS.
TEST_F(E500EmulatorTest, InterruptsGoToTheVectorsTheCodeSetWithTheirSyndrome) {
    constexpr uint32_t HANDLER = ENTRY + 0x100;
    const struct {
        const char* what;
        int ivor;
        std::vector<uint32_t> raise;  // placed at ENTRY + 16
        uint32_t savedPc;
        bool machineCheck;
        uint32_t syndrome;
        uint32_t address;  // MCAR for a machine check
    } cases[] = {
        {"illegal instruction", E500Interrupts::SPR_IVOR0 + 6, {0x00000000}, ENTRY + 16, false,
         E500Interrupts::ESR_PIL, 0},
        {"trap", E500Interrupts::SPR_IVOR0 + 6, {0x7FE00008}, ENTRY + 16, false, E500Interrupts::ESR_PTR, 0},
        {"system call, saved after itself", E500Interrupts::SPR_IVOR0 + 8, {0x44000002}, ENTRY + 20, false, 0, 0},
        {"read nothing answers", E500Interrupts::SPR_IVOR0 + 1, {0x3D202000, 0x80890010}, ENTRY + 20, true,
         E500Interrupts::MCSR_BUS_RAERR, 0x20000010},
        {"write nothing answers", E500Interrupts::SPR_IVOR0 + 1, {0x3D202000, 0x90890000}, ENTRY + 20, true,
         E500Interrupts::MCSR_BUS_WAERR, 0x20000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint32_t> code = {0x3CA00001, mtspr(E500Interrupts::SPR_IVPR, 5), 0x38A00100, mtspr(c.ivor, 5)};
        code.insert(code.end(), c.raise.begin(), c.raise.end());
        code.push_back(0x00000000);  // not reached
        place({mfspr(3, c.machineCheck ? E500Interrupts::SPR_MCSRR0 : E500Interrupts::SPR_SRR0),
               mfspr(4, c.machineCheck ? E500Interrupts::SPR_MCSR : E500Interrupts::SPR_ESR), 0x3D200002, 0x90890000,
               mfspr(4, E500Interrupts::SPR_MCAR), 0x90890004, BLR},
              HANDLER);
        board.bus.write32(RESULTS + 4, 0);
        E500Emulator::Stop stop = run(code);
        ASSERT_EQ(stop.kind, Kind::Returned) << E500Emulator::describe(stop);
        EXPECT_EQ(stop.result, c.savedPc);
        EXPECT_EQ(board.bus.read32(RESULTS), c.syndrome);
        EXPECT_EQ(board.bus.read32(RESULTS + 4), c.address);
        EXPECT_EQ(stop.registers.msr & E500Interrupts::MSR_ME, c.machineCheck ? 0u : E500Interrupts::MSR_ME);
    }
}

TEST_F(E500EmulatorTest, AHandlerReturnsWithRfiAndAMachineCheckWithMachineChecksOffIsACheckstop) {
    constexpr uint32_t HANDLER = ENTRY + 0x100;
    place({mfspr(5, E500Interrupts::SPR_SRR0), 0x38A50004, mtspr(E500Interrupts::SPR_SRR0, 5), 0x4C000064},
          HANDLER);  // SRR0 += 4; rfi
    E500Emulator::Stop stop = run({0x3CA00001, mtspr(E500Interrupts::SPR_IVPR, 5), 0x38A00100,
                                   mtspr(E500Interrupts::SPR_IVOR0 + 6, 5), 0x00000000, 0x3860004D, BLR});
    ASSERT_EQ(stop.kind, Kind::Returned) << E500Emulator::describe(stop);
    EXPECT_EQ(stop.result, 77u);
    EXPECT_EQ(stop.registers.msr, 0x00001000u);  // SRR1 brought back

    try {
        // MSR = 0 (mtmsr r5), then a bus error.
        run({0x3CA00001, mtspr(E500Interrupts::SPR_IVPR, 5), 0x38A00100, mtspr(E500Interrupts::SPR_IVOR0 + 1, 5),
             0x38A00000, 0x7CA00124, 0x3D202000, 0x80890000, BLR});
        ADD_FAILURE() << "no checkstop";
    } catch (const sim::BoardReset& reset) {
        EXPECT_NE(reset.cause.find("checkstop"), std::string::npos) << reset.cause;
    }
}

TEST_F(E500EmulatorTest, TheTimersCountAtTheTimeBaseRateOfBoardTime) {
    int64_t micros = 0;
    core.setTimeHook([&](uint64_t, int64_t idle) { return micros += 10 + idle; });
    // Each access is 10 us later. DEC = 1000; mftb r4; mftb r3; subf
    // r3,r4,r3 (the counts of 10 us); DEC and TSR read and stored.
    E500Emulator::Stop stop = run({0x38A003E8, mtspr(sim::E500Timers::SPR_DEC, 5), 0x7C8C42E6, 0x7C6C42E6,
                                   0x7C641850, mfspr(5, sim::E500Timers::SPR_DEC), 0x3D200002, 0x90A90000,
                                   mfspr(5, sim::E500Timers::SPR_TSR), 0x90A90004, BLR});
    ASSERT_EQ(stop.kind, Kind::Returned) << E500Emulator::describe(stop);
    EXPECT_EQ(stop.result, 1249u - 833u);  // 41,666,666 counts a second, no fraction lost between reads
    EXPECT_EQ(board.bus.read32(RESULTS), 0u);  // 1000 counts ran out at the fourth read: it stays at zero
    EXPECT_EQ(board.bus.read32(RESULTS + 4) & sim::E500Timers::TSR_DIS, sim::E500Timers::TSR_DIS);
}

// From the reset vector a branch to the boot page's start; there a
// command to the flash, and then the next fetch from the page: the array
// again after Read Array, a status word after Read Status.
TEST_F(E500EmulatorTest, PowerOnFetchesFromTheBootFlashWhileItReadsItsArray) {
    const struct {
        uint16_t command;
        Kind kind;
        const char* cause;
    } cases[] = {
        {0xFF00, Kind::IllegalInstruction, "not an instruction"},  // the zero word after the store
        {0x7000, Kind::BusError, "while it answers a command"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        board.flash.powerUp();
        board.flashCells.eraseUnit(sim::FlashArray::UNIT_COUNT - 1);
        const std::vector<uint32_t> boot = {0x3D20FE00, 0x3CA00000u | c.command, 0x60A50000u | c.command,
                                            0x90A90000, 0x00000000};  // lis r9; r5 = command twice; stw; 0
        std::vector<uint8_t> bytes(4 * boot.size());
        for (size_t i = 0; i < boot.size(); ++i) {
            swboot::putBe32(bytes.data() + 4 * i, boot[i]);
        }
        board.flashCells.program(E500Emulator::BOOT_PAGE - sim::FlashArray::BASE, bytes);
        board.flashCells.program(sim::FlashArray::SIZE - 4, std::vector<uint8_t>{0x4B, 0xFF, 0xF0, 0x04});  // b -0xFFC
        core.setBootFlash(&board.flash);
        E500Emulator::Stop stop = core.powerOn();
        EXPECT_EQ(stop.kind, c.kind) << E500Emulator::describe(stop);
        EXPECT_NE(stop.cause.find(c.cause), std::string::npos) << stop.cause;
        EXPECT_EQ(stop.pc, E500Emulator::BOOT_PAGE + 16);
    }
}

TEST_F(E500EmulatorTest, OnTheStandInBootCodeTheFirmwareReportNamesTheWayToWriteTheFirmware) {
    testing_support::TestBoard firmware(sim::BoardOptions{.loader = sim::LoaderKind::Firmware});
    EXPECT_EQ(firmware.run(), sim::EXIT_BRICKED);
    EXPECT_NE(firmware.diagnosticsText().find("board: will not start: the core stopped before it said anything on the "
                                           "console (the boot flash holds the factory's stand-in boot code, which "
                                           "only the native loader passes over: swboot-sim flash-boot --state DIR "
                                           "writes the loader built as firmware)"),
              std::string::npos)
        << firmware.diagnosticsText();
}

// The same dialogue on the native loader and on the firmware: a blank
// board's first start and the baud rate changed (the firmware's delay on
// its time base lasts as long in board time as the native loader's).
TEST(FirmwareOnTheBoard, KeepsTheNativeLoadersTime) {
    if (!E500Emulator::available() || !std::filesystem::exists(SWBOOT_FIRMWARE_BOOT_CODE)) {
        GTEST_SKIP() << "built without the emulated core or the firmware";
    }
    std::string output[2];
    for (sim::LoaderKind kind : {sim::LoaderKind::Native, sim::LoaderKind::Firmware}) {
        const bool firmware = kind == sim::LoaderKind::Firmware;
        SCOPED_TRACE(firmware ? "firmware" : "native");
        testing_support::TestBoard board(sim::BoardOptions{.loader = kind});
        sim::flashBootProbe(board.board().flash(), interop::readHostFile(SWBOOT_FIRMWARE_BOOT_CODE));
        board.typeVpdAnswers();
        board.typeLines({"2", "8"});
        int64_t lastSent = 0;
        int64_t pause = -1;
        testing_support::OnSent watcher(board, [&](sim::ScriptedLine& line, std::string_view) {
            const int64_t now = line.clock().nowMicros();
            if (pause < 0 && line.output().find("change your terminal baud rate.") != std::string::npos &&
                now - lastSent > 500000) {
                pause = now - lastSent;
            }
            lastSent = now;
        });
        board.run();
        EXPECT_GE(pause, 1000000) << board.diagnosticsText();
        EXPECT_LT(pause, 1100000);
        output[firmware] = testing_support::fromMark(board.output(), "[Boot Menu] 2");
    }
    EXPECT_NE(output[0].find("Setting baud rate to 115200"), std::string::npos) << output[0];
    EXPECT_EQ(output[1], output[0]);
}

}  // namespace
