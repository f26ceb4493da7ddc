// The e500 core's interrupt registers and how the core takes an interrupt:
// the vector prefix and offsets (IVPR, IVORn), the save and restore pairs of
// the three interrupt classes (SRR0/1 for the base class, CSRR0/1 for the
// critical class, MCSRR0/1 for machine checks) and the syndrome registers
// (ESR, DEAR, MCSR, MCAR).
//
// Taking an interrupt: the class's pair gets the address to return to and
// the machine state, the state loses the enables the class masks, the
// syndrome registers get what happened, and the core goes on at IVPR's upper
// half with the IVOR's offset. The return instructions (rfi, rfci, rfmci)
// restore a class's pair.
//
// A core whose vector for an interrupt was never written since reset holds
// an undefined offset there; this model does not guess where that leads:
// vectorReady() says so and the emulator stops the core instead. A machine
// check with machine checks disabled in the state is a checkstop.
#pragma once

#include <cstdint>
#include <optional>

namespace sim {

class E500Interrupts {
public:
    // Special register numbers.
    static constexpr int SPR_SRR0 = 26;
    static constexpr int SPR_SRR1 = 27;
    static constexpr int SPR_CSRR0 = 58;
    static constexpr int SPR_CSRR1 = 59;
    static constexpr int SPR_DEAR = 61;
    static constexpr int SPR_ESR = 62;
    static constexpr int SPR_IVPR = 63;
    static constexpr int SPR_IVOR0 = 400;
    static constexpr int SPR_IVOR15 = 415;
    static constexpr int SPR_IVOR32 = 528;
    static constexpr int SPR_IVOR35 = 531;
    static constexpr int SPR_MCSRR0 = 570;
    static constexpr int SPR_MCSRR1 = 571;
    static constexpr int SPR_MCSR = 572;
    static constexpr int SPR_MCAR = 573;

    // Interrupts by their IVOR number.
    enum Kind : int {
        CRITICAL_INPUT = 0,
        MACHINE_CHECK = 1,
        DATA_STORAGE = 2,
        INSTRUCTION_STORAGE = 3,
        EXTERNAL_INPUT = 4,
        ALIGNMENT = 5,
        PROGRAM = 6,
        FLOATING_POINT_UNAVAILABLE = 7,
        SYSTEM_CALL = 8,
        DECREMENTER = 10,
        FIXED_INTERVAL_TIMER = 11,
        WATCHDOG = 12,
        DATA_TLB_ERROR = 13,
        INSTRUCTION_TLB_ERROR = 14,
        DEBUG = 15,
        SPE_UNAVAILABLE = 32,
    };

    // Machine state register bits.
    static constexpr uint32_t MSR_SPE = 0x02000000;
    static constexpr uint32_t MSR_WE = 0x00040000;
    static constexpr uint32_t MSR_CE = 0x00020000;
    static constexpr uint32_t MSR_EE = 0x00008000;
    static constexpr uint32_t MSR_PR = 0x00004000;
    static constexpr uint32_t MSR_FP = 0x00002000;
    static constexpr uint32_t MSR_ME = 0x00001000;
    static constexpr uint32_t MSR_DE = 0x00000200;

    // Exception syndrome register bits.
    static constexpr uint32_t ESR_PIL = 0x08000000;  // illegal instruction
    static constexpr uint32_t ESR_PPR = 0x04000000;  // privileged instruction
    static constexpr uint32_t ESR_PTR = 0x02000000;  // trap
    static constexpr uint32_t ESR_ST = 0x00800000;   // the access was a store
    static constexpr uint32_t ESR_SPV = 0x00000080;  // an SPE instruction

    // Machine check syndrome register bits.
    static constexpr uint32_t MCSR_MCP = 0x80000000;        // the machine check input pin
    static constexpr uint32_t MCSR_BUS_IAERR = 0x00000080;  // instruction fetch: no device answered
    static constexpr uint32_t MCSR_BUS_RAERR = 0x00000040;  // read: no device answered
    static constexpr uint32_t MCSR_BUS_WAERR = 0x00000020;  // write: no device answered

    struct Taken {
        uint32_t pc = 0;   // where the core goes on
        uint32_t msr = 0;     // the machine state it goes on with
    };

    void powerUp();

    // Special register access for mfspr and mtspr; false (and no change)
    // for a register this model does not hold.
    static bool holds(int spr);
    std::optional<uint32_t> read(int spr) const;
    bool write(int spr, uint32_t value);

    // True when software set the vector of this interrupt since reset.
    bool vectorReady(Kind kind) const;

    // The core takes an interrupt at pc (the address the handler returns
    // to) in machine state msr; the syndrome registers given are set, the
    // others keep what they hold.
    struct Syndrome {
        std::optional<uint32_t> esr;
        std::optional<uint32_t> dear;
        std::optional<uint32_t> mcsr;
        std::optional<uint32_t> mcar;
    };
    Taken take(Kind kind, uint32_t pc, uint32_t msr, const Syndrome& syndrome);

    // Returns from an interrupt of a class: where to go on, in which state.
    enum class Return { Base, Critical, MachineCheck };
    Taken returnFrom(Return from) const;

private:
    static int ivorIndex(int spr);  // -1 for a register that is no IVOR
    static constexpr int IVOR_COUNT = 20;  // IVOR0..15 and IVOR32..35

    uint32_t srr0_ = 0, srr1_ = 0, csrr0_ = 0, csrr1_ = 0, mcsrr0_ = 0, mcsrr1_ = 0;
    uint32_t dear_ = 0, esr_ = 0, mcsr_ = 0, mcar_ = 0, ivpr_ = 0;
    uint32_t ivor_[IVOR_COUNT] = {};
    uint32_t ivorWritten_ = 0;  // one bit per IVOR
    bool ivprWritten_ = false;
};

}  // namespace sim
