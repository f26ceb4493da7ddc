// An emulated PowerPC e500v2 core (the Unicorn engine, big-endian 32-bit
// PowerPC) on the board's bus. It runs either the code the loader handed
// the board to (run: entered as the loader calls the code) or, from reset,
// whatever the boot flash holds (powerOn: the loader built as firmware).
//
// The core sees the board, not a copy of it: the board's RAM is the
// engine's memory (the very bytes the loader inflated; where the board has
// RAM faults, the pages around them are reached through the bus, which
// applies them), and every other address goes through the board's bus
// decoding to the CPLD, the console UART and the other devices, so an
// access no device answers is the same bus error the loader would get.
//
// What the engine's e500v2 lacks is modelled here, instruction by
// instruction: the time base and decrementer (E500Timers; the engine would
// stop on them), the interrupt registers and the taking of interrupts
// (E500Interrupts: the engine reports an interrupt but runs no handler),
// and instruction fetch from the boot flash's last page, where the reset
// vector is (the engine fetches only from memory it holds: the page is
// its memory while the flash is in read array mode and the code runs
// there, and goes back to the bus once the code runs elsewhere). An
// interrupt whose vector the code has not set since reset stops the core
// with a report, as do instructions that are none of this core's; a bus
// error is a machine check (a checkstop, which resets the board, when
// machine checks are disabled). Board events raised by a device (the
// CPLD's reset request, the operator's keys on the console) stop the core
// and continue on their way once the engine is out of the picture; a
// machine check raised that way goes to the code's handler like a bus
// error.
//
// Not modelled: address translation (the engine applies none: effective
// addresses are physical), caches, the fixed-interval timer and the
// watchdog; the decrementer interrupt is taken between slices.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "board/e500_interrupts.h"
#include "board/e500_timers.h"
#include "board/memory_map.h"
#include "board/strataflash.h"

namespace sim {

class E500Emulator {
public:
    // The nominal speed of the core, for board time: an 833 MHz e500
    // retiring one instruction per cycle.
    static constexpr uint32_t INSTRUCTIONS_PER_MICROSECOND = 833;
    // Instructions run between calls of the slice hook.
    static constexpr uint64_t DEFAULT_SLICE = 1000000;
    // Where the core fetches its first instruction after reset, and the
    // boot flash page around it.
    static constexpr uint32_t RESET_VECTOR = 0xFFFFFFFC;
    static constexpr uint32_t BOOT_PAGE = 0xFFFFF000;
    static constexpr uint32_t BOOT_PAGE_SIZE = 0x1000;
    // The time base's rate on the board: a 333 MHz platform clock over 8.
    static constexpr uint64_t DEFAULT_TIME_BASE_HZ = 41666666;

    struct Entry {
        uint32_t address = 0;        // where the code starts
        uint32_t argument = 0;       // r3: the start mode
        uint32_t msr = 0;
        uint32_t hid0 = 0;
        uint32_t stackPointer = 0;   // r1; a zero back chain is written there
        uint32_t returnAddress = 0;  // LR: reaching it returns to the caller
    };

    struct Registers {
        std::array<uint32_t, 32> gpr{};
        uint32_t pc = 0;
        uint32_t lr = 0;
        uint32_t ctr = 0;
        uint32_t cr = 0;
        uint32_t xer = 0;
        uint32_t msr = 0;
    };

    enum class StopKind {
        Returned,            // the code returned to its caller; result in r3
        BusError,            // an access no device answers, or of a width it does not take
        IllegalInstruction,  // not an instruction this core executes
        Exception,           // any other exception the code raised (system call, trap, ...)
    };

    struct Stop {
        StopKind kind = StopKind::Returned;
        uint32_t result = 0;       // r3, for Returned
        std::string cause;         // what happened, in words
        uint32_t pc = 0;           // the instruction that stopped the core
        uint32_t instruction = 0;  // its word
        Registers registers;
    };

    // False when the simulator was built without the engine.
    static bool available();

    // The board's RAM is the first ramSize bytes of the bus (a multiple of
    // the engine's 4 KiB page).
    E500Emulator(MemoryMap& bus, uint32_t ramSize, uint64_t timeBaseHz = DEFAULT_TIME_BASE_HZ);
    ~E500Emulator();
    E500Emulator(const E500Emulator&) = delete;
    E500Emulator& operator=(const E500Emulator&) = delete;

    // Called after every slice of instructions with the count run in it,
    // so that the board can let time pass and serve the operator; it may
    // throw a board event, which ends the run.
    void setSliceHook(std::function<void(uint64_t instructions)> hook) { sliceHook_ = std::move(hook); }
    void setSliceLength(uint64_t instructions) { slice_ = instructions; }
    // Board time for the core's timers: called with the instructions run
    // since the last call and the time the core spent idling on its time
    // base (a loop that only reads it, which may let time jump), returns
    // the board time in microseconds. Without one, board time is the
    // instructions run at the core's nominal speed.
    using TimeHook = std::function<int64_t(uint64_t instructions, int64_t idleMicros)>;
    void setTimeHook(TimeHook hook) { timeHook_ = std::move(hook); }
    // Special registers the board keeps outside the engine, as its core's
    // profile has them (the L1 cache configuration and control registers,
    // whose values the engine's model does not share with the board's
    // part): mfspr and mtspr of a register `holds` names go to read and
    // write.
    struct RegisterFile {
        std::function<bool(int spr)> holds;
        std::function<uint32_t(int spr)> read;
        std::function<void(int spr, uint32_t value)> write;
    };
    void setRegisterFile(RegisterFile file) { registerFile_ = std::move(file); }
    // The flash whose boot page powerOn() fetches from.
    void setBootFlash(StrataFlash* flash) { bootFlash_ = flash; }
    // Calls hook (with the registers at that point) when the core, having
    // run code inside [base, base + size), first fetches from RAM below
    // base: where the loader built as firmware hands the board to the code
    // it started. The hook may throw a board event to end the run.
    void setHandoverWatch(uint32_t base, uint32_t size, std::function<void(const Registers&)> hook) {
        watchBase_ = base;
        watchSize_ = size;
        handoverHook_ = std::move(hook);
    }

    // Runs the code until it returns or the core stops. Board events raised
    // by devices or the slice hook propagate to the caller.
    Stop run(const Entry& entry);
    // The core comes out of reset: machine state zero, fetching at the
    // reset vector from the boot flash set with setBootFlash. Runs until the
    // core stops (a board event ends it too).
    Stop powerOn();

    // Instructions executed by run() so far.
    uint64_t instructionsExecuted() const { return executed_; }
    // The core's timers and interrupt registers (of the last run).
    E500Timers& timers() { return timers_; }
    E500Interrupts& interrupts() { return interrupts_; }

    // A report of a stop for people: what, where, the instruction and the
    // registers, one line each.
    static std::string describe(const Stop& stop);

    struct Engine;  // the engine's state; its callbacks reach this object

private:
    friend struct Engine;
    Stop execute(Engine& engine, uint32_t pc, uint32_t until);

    MemoryMap& bus_;
    uint32_t ramSize_ = 0;
    E500Timers timers_;
    E500Interrupts interrupts_;
    TimeHook timeHook_;
    StrataFlash* bootFlash_ = nullptr;
    RegisterFile registerFile_;
    uint32_t watchBase_ = 0;
    uint32_t watchSize_ = 0;
    std::function<void(const Registers&)> handoverHook_;
    std::function<void(uint64_t)> sliceHook_;
    uint64_t slice_ = DEFAULT_SLICE;
    uint64_t executed_ = 0;
    Engine* engine_ = nullptr;
};

}  // namespace sim
