// An emulated PowerPC e500v2 core (the Unicorn engine, big-endian 32-bit
// PowerPC) that runs the code the loader handed the board to.
//
// The core sees the board, not a copy of it: the board's RAM is the
// engine's memory (the very bytes the loader inflated; where the board has
// RAM faults, the pages around them are reached through the bus, which
// applies them), and every other address goes through the board's bus
// decoding to the CPLD, the console UART and the other devices, so an
// access no device answers is the same bus error the loader would get. The core is entered as the loader calls
// the code: at the entry address with the start mode in r3, the machine
// state register and HID0 as the loader left them, a stack in RAM and a
// return address that brings a returning call back to the loader.
//
// What the engine's e500v2 does not have is kept away from it: it has no
// time base or decrementer (reading them would bring the engine down), so
// instructions that touch them stop the core with a report instead, as
// illegal instructions, exceptions and bus errors do. Board events raised
// by a device (the CPLD's reset request, the operator's reset or quit keys
// on the console) stop the core and continue on their way once the engine
// is out of the picture.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "board/memory_map.h"

namespace sim {

class E500Emulator {
public:
    // The nominal speed of the core, for board time: an 833 MHz e500
    // retiring one instruction per cycle.
    static constexpr uint32_t INSTRUCTIONS_PER_MICROSECOND = 833;
    // Instructions run between calls of the slice hook.
    static constexpr uint64_t DEFAULT_SLICE = 1000000;

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
    E500Emulator(MemoryMap& bus, uint32_t ramSize);
    ~E500Emulator();
    E500Emulator(const E500Emulator&) = delete;
    E500Emulator& operator=(const E500Emulator&) = delete;

    // Called after every slice of instructions with the count run in it,
    // so that the board can let time pass and serve the operator; it may
    // throw a board event, which ends the run.
    void setSliceHook(std::function<void(uint64_t instructions)> hook) { sliceHook_ = std::move(hook); }
    void setSliceLength(uint64_t instructions) { slice_ = instructions; }

    // Runs the code until it returns or the core stops. Board events raised
    // by devices or the slice hook propagate to the caller.
    Stop run(const Entry& entry);

    // Instructions executed by run() so far.
    uint64_t instructionsExecuted() const { return executed_; }

    // A report of a stop for people: what, where, the instruction and the
    // registers, one line each.
    static std::string describe(const Stop& stop);

    struct Engine;  // the engine's state; its callbacks reach this object

private:
    friend struct Engine;

    MemoryMap& bus_;
    uint32_t ramSize_ = 0;
    std::function<void(uint64_t)> sliceHook_;
    uint64_t slice_ = DEFAULT_SLICE;
    uint64_t executed_ = 0;
    Engine* engine_ = nullptr;
};

}  // namespace sim
