// The PowerPC e500 core: special registers, interrupt lock, hand-over to
// started code, and the halt.
#pragma once

#include <cstdint>

namespace swboot {

// Machine state register bits.
inline constexpr uint32_t MSR_EE = 0x00008000;   // external interrupts
inline constexpr uint32_t MSR_CE = 0x00020000;   // critical interrupts
inline constexpr uint32_t MSR_ME = 0x00001000;   // machine checks enabled

// Special purpose register numbers.
inline constexpr int SPR_TCR = 340;
inline constexpr int SPR_L1CFG0 = 515;
inline constexpr int SPR_L1CFG1 = 516;
inline constexpr int SPR_HID0 = 1008;
inline constexpr int SPR_HID1 = 1009;
inline constexpr int SPR_L1CSR0 = 1010;
inline constexpr int SPR_L1CSR1 = 1011;
inline constexpr int SPR_BUCSR = 1013;

// Timer control register bits: the decrementer interrupt drives the system
// clock, the fixed-interval interrupt the auxiliary clock.
inline constexpr uint32_t TCR_DIE = 0x04000000;
inline constexpr uint32_t TCR_FIE = 0x00800000;

// Branch unit control and status register bits.
inline constexpr uint32_t BUCSR_BBFI = 0x00000200;  // branch buffer flash invalidate
inline constexpr uint32_t BUCSR_BPEN = 0x00000001;  // branch prediction enable

// L1CSR1 bits.
inline constexpr uint32_t L1CSR1_ICFI = 0x00000002;  // instruction cache flash invalidate

// What the processor runs when it takes a machine check: the handler that
// the loader puts in the machine-check vector. It does not return.
class MachineCheckHandler {
public:
    virtual ~MachineCheckHandler() = default;
    virtual void machineCheck() = 0;
};

class Cpu {
public:
    virtual ~Cpu() = default;

    virtual uint32_t msrGet() = 0;
    virtual void msrSet(uint32_t value) = 0;
    virtual uint32_t sprRead(int spr) = 0;
    virtual void sprWrite(int spr, uint32_t value) = 0;
    // Memory synchronisation (msync) and instruction synchronisation.
    virtual void sync() = 0;

    // Locks interrupts; returns the key that unlocks them.
    virtual int intLock() = 0;
    virtual void intUnlock(int key) = 0;

    // Calls code at the entry address with one argument. Returns only if
    // the code returns, with its result.
    virtual int handOver(uint32_t entry, uint32_t argument) = 0;

    // Puts a handler in the machine-check vector, or takes it out (null).
    virtual void machineCheckVectorSet(MachineCheckHandler* handler) = 0;
    // The instruction address and the stack pointer (r1) of the code that
    // asks: where a stack walk starts.
    virtual uint32_t instructionAddress() = 0;
    virtual uint32_t stackPointer() = 0;

    // Stops the loader for good: nothing further runs and the board is not
    // reset; the operator must reset it.
    [[noreturn]] virtual void halt() = 0;
};

}  // namespace swboot
