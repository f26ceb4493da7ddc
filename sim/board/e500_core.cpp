#include "board/e500_core.h"

#include <cstdio>

#include "board/board_events.h"

namespace sim {

using namespace swboot;

namespace {

constexpr uint32_t PRIMARY_OPCODE_SHIFT = 26;
constexpr uint32_t OPCODE_BRANCH = 18;
constexpr uint32_t ERASED_WORD = 0xFFFFFFFF;

}  // namespace

std::string E500Core::resetVectorProblem(uint32_t instruction) {
    if ((instruction >> PRIMARY_OPCODE_SHIFT) == OPCODE_BRANCH) {
        return {};
    }
    char text[160];
    if (instruction == ERASED_WORD) {
        std::snprintf(text, sizeof text,
                      "the reset vector 0x%08x is erased (0xffffffff): there is no boot code to start", RESET_VECTOR);
    } else {
        std::snprintf(text, sizeof text,
                      "the reset vector 0x%08x holds 0x%08x, not an unconditional branch: the boot code is damaged",
                      RESET_VECTOR, instruction);
    }
    return text;
}

E500Core::E500Core(const Registers& powerOn) : powerOn_(powerOn) { powerUp(); }

void E500Core::powerUp() {
    msr_ = powerOn_.msr;
    spr_ = powerOn_.spr;
    for (int spr : {SPR_L1CFG0, SPR_L1CFG1, SPR_HID0, SPR_HID1, SPR_L1CSR0, SPR_L1CSR1}) {
        spr_.emplace(spr, 0);
    }
    // The kernel runs its system clock on the decrementer and predicts
    // branches; the auxiliary clock is not started.
    spr_.emplace(SPR_TCR, TCR_DIE);
    spr_.emplace(SPR_BUCSR, BUCSR_BPEN);
    icache_ = IcacheStep::Idle;
    pc_ = 0;
    sp_ = 0;
}

uint32_t E500Core::sprRead(int spr) {
    auto it = spr_.find(spr);
    if (it == spr_.end()) {
        throw BoardMachineCheck{"read of special register " + std::to_string(spr) + ", which this core does not have"};
    }
    return it->second;
}

void E500Core::sprWrite(int spr, uint32_t value) {
    auto it = spr_.find(spr);
    if (it == spr_.end()) {
        throw BoardMachineCheck{"write of special register " + std::to_string(spr) + ", which this core does not have"};
    }
    if (spr == SPR_L1CSR1) {
        bool set = (value & L1CSR1_ICFI) != 0;
        if (!set) {
            icache_ = IcacheStep::ClearWritten;
        } else if (icache_ == IcacheStep::ClearSynced) {
            icache_ = IcacheStep::SetWritten;
        } else {
            icache_ = IcacheStep::Idle;
        }
        // The invalidation completes at once; the bit reads back clear.
        it->second = value & ~L1CSR1_ICFI;
        return;
    }
    if (spr == SPR_BUCSR) {
        it->second = value & ~BUCSR_BBFI;
        return;
    }
    it->second = value;
}

void E500Core::sync() {
    if (icache_ == IcacheStep::ClearWritten) {
        icache_ = IcacheStep::ClearSynced;
    } else if (icache_ == IcacheStep::SetWritten) {
        icache_ = IcacheStep::Done;
    }
}

int E500Core::intLock() {
    int key = static_cast<int>(msr_ & (MSR_EE | MSR_CE));
    msr_ &= ~MSR_EE;
    return key;
}

void E500Core::intUnlock(int key) { msr_ |= static_cast<uint32_t>(key) & MSR_EE; }

int E500Core::handOver(uint32_t entry, uint32_t argument) {
    last_.entry = entry;
    last_.startMode = argument;
    last_.msr = msr_;
    last_.hid0 = spr_[SPR_HID0];
    last_.l1csr1 = spr_[SPR_L1CSR1];
    last_.icacheInvalidated = icache_ == IcacheStep::Done;
    ++handovers_;
    icache_ = IcacheStep::Idle;
    if (handover_) {
        return handover_(last_);
    }
    return static_cast<int>(argument);
}

void E500Core::takeMachineCheck() {
    msr_ &= ~(MSR_EE | MSR_CE | MSR_ME);
    if (vector_ == nullptr) {
        throw BoardReset{"machine check with no handler in the vector"};
    }
    vector_->machineCheck();
    throw BoardReset{"the machine-check handler returned"};
}

void E500Core::halt() {
    if (halt_) {
        halt_();
    }
    throw BoardPowerOff{"halted", 3};
}

}  // namespace sim
