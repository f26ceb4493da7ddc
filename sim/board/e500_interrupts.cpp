#include "board/e500_interrupts.h"

namespace sim {

namespace {

constexpr uint32_t IVPR_MASK = 0xFFFF0000;
constexpr uint32_t IVOR_MASK = 0x0000FFF0;
constexpr int FIRST_UPPER_IVOR = 16;  // the index of IVOR32

}  // namespace

void E500Interrupts::powerUp() { *this = E500Interrupts{}; }

int E500Interrupts::ivorIndex(int spr) {
    if (spr >= SPR_IVOR0 && spr <= SPR_IVOR15) {
        return spr - SPR_IVOR0;
    }
    if (spr >= SPR_IVOR32 && spr <= SPR_IVOR35) {
        return FIRST_UPPER_IVOR + spr - SPR_IVOR32;
    }
    return -1;
}

bool E500Interrupts::holds(int spr) {
    switch (spr) {
        case SPR_SRR0:
        case SPR_SRR1:
        case SPR_CSRR0:
        case SPR_CSRR1:
        case SPR_DEAR:
        case SPR_ESR:
        case SPR_IVPR:
        case SPR_MCSRR0:
        case SPR_MCSRR1:
        case SPR_MCSR:
        case SPR_MCAR:
            return true;
        default:
            return ivorIndex(spr) >= 0;
    }
}

std::optional<uint32_t> E500Interrupts::read(int spr) const {
    switch (spr) {
        case SPR_SRR0:
            return srr0_;
        case SPR_SRR1:
            return srr1_;
        case SPR_CSRR0:
            return csrr0_;
        case SPR_CSRR1:
            return csrr1_;
        case SPR_DEAR:
            return dear_;
        case SPR_ESR:
            return esr_;
        case SPR_IVPR:
            return ivpr_;
        case SPR_MCSRR0:
            return mcsrr0_;
        case SPR_MCSRR1:
            return mcsrr1_;
        case SPR_MCSR:
            return mcsr_;
        case SPR_MCAR:
            return mcar_;
        default:
            break;
    }
    const int index = ivorIndex(spr);
    if (index < 0) {
        return std::nullopt;
    }
    return ivor_[index];
}

bool E500Interrupts::write(int spr, uint32_t value) {
    switch (spr) {
        case SPR_SRR0:
            srr0_ = value;
            return true;
        case SPR_SRR1:
            srr1_ = value;
            return true;
        case SPR_CSRR0:
            csrr0_ = value;
            return true;
        case SPR_CSRR1:
            csrr1_ = value;
            return true;
        case SPR_DEAR:
            dear_ = value;
            return true;
        case SPR_ESR:
            esr_ = value;
            return true;
        case SPR_IVPR:
            ivpr_ = value & IVPR_MASK;
            ivprWritten_ = true;
            return true;
        case SPR_MCSRR0:
            mcsrr0_ = value;
            return true;
        case SPR_MCSRR1:
            mcsrr1_ = value;
            return true;
        case SPR_MCSR:
            mcsr_ &= ~value;  // write one to clear
            return true;
        case SPR_MCAR:
            return true;  // read-only
        default:
            break;
    }
    const int index = ivorIndex(spr);
    if (index < 0) {
        return false;
    }
    ivor_[index] = value & IVOR_MASK;
    ivorWritten_ |= 1u << index;
    return true;
}

bool E500Interrupts::vectorReady(Kind kind) const {
    const int index = kind >= SPE_UNAVAILABLE ? FIRST_UPPER_IVOR + (kind - SPE_UNAVAILABLE) : kind;
    return ivprWritten_ && (ivorWritten_ & (1u << index)) != 0;
}

E500Interrupts::Taken E500Interrupts::take(Kind kind, uint32_t pc, uint32_t msr, const Syndrome& syndrome) {
    Taken taken;
    const int index = kind >= SPE_UNAVAILABLE ? FIRST_UPPER_IVOR + (kind - SPE_UNAVAILABLE) : kind;
    taken.pc = ivpr_ | ivor_[index];
    switch (kind) {
        case MACHINE_CHECK:
            mcsrr0_ = pc;
            mcsrr1_ = msr;
            taken.msr = 0;  // machine checks too are off in the handler
            break;
        case CRITICAL_INPUT:
        case WATCHDOG:
        case DEBUG:
            csrr0_ = pc;
            csrr1_ = msr;
            taken.msr = msr & MSR_ME;
            break;
        default:
            srr0_ = pc;
            srr1_ = msr;
            taken.msr = msr & (MSR_CE | MSR_ME | MSR_DE);
            break;
    }
    if (syndrome.esr) {
        esr_ = *syndrome.esr;
    }
    if (syndrome.dear) {
        dear_ = *syndrome.dear;
    }
    if (syndrome.mcsr) {
        mcsr_ |= *syndrome.mcsr;
    }
    if (syndrome.mcar) {
        mcar_ = *syndrome.mcar;
    }
    return taken;
}

E500Interrupts::Taken E500Interrupts::returnFrom(Return from) const {
    switch (from) {
        case Return::Critical:
            return {csrr0_, csrr1_};
        case Return::MachineCheck:
            return {mcsrr0_, mcsrr1_};
        case Return::Base:
            break;
    }
    return {srr0_, srr1_};
}

}  // namespace sim
