#include "e500_cpu.h"

#include <cstdio>

#include "board_bus.h"
#include "start/e500_regs.h"

namespace firmware {
namespace {

template <int Spr>
uint32_t spr() {
    uint32_t value;
    asm volatile("mfspr %0, %1" : "=r"(value) : "i"(Spr));
    return value;
}

template <int Spr>
void sprSet(uint32_t value) {
    asm volatile("mtspr %0, %1; isync" ::"i"(Spr), "r"(value) : "memory");
}

const char* exceptionName(uint32_t kind) {
    switch (kind) {
        case EXCEPTION_MACHINE_CHECK: return "Machine Check Exception";
        case EXCEPTION_DATA_STORAGE: return "Data Storage Exception";
        case EXCEPTION_INSTRUCTION_STORAGE: return "Instruction Storage Exception";
        case EXCEPTION_ALIGNMENT: return "Alignment Exception";
        case EXCEPTION_PROGRAM: return "Program Exception";
        case EXCEPTION_SYSTEM_CALL: return "System Call Exception";
        case EXCEPTION_DATA_TLB: return "Data TLB Miss Exception";
        case EXCEPTION_INSTRUCTION_TLB: return "Instruction TLB Miss Exception";
        case EXCEPTION_CRITICAL: return "Critical Input Exception";
        case EXCEPTION_WATCHDOG: return "Watchdog Timer Exception";
        case EXCEPTION_DEBUG: return "Debug Exception";
        case EXCEPTION_UNAVAILABLE: return "Unit Unavailable Exception";
        case EXCEPTION_SPE: return "SPE Exception";
        case EXCEPTION_PERFORMANCE_MONITOR: return "Performance Monitor Exception";
        default: return "Unexpected Exception";
    }
}

// The width in bits of the load or store an instruction makes, and whether
// it stores; zero bits for any other instruction.
struct Access {
    unsigned bits;
    bool store;
};

Access accessOf(uint32_t word) {
    constexpr uint32_t X_FORM = 31;
    switch (word >> 26) {
        case 32: case 33: return {32, false};                   // lwz, lwzu
        case 34: case 35: return {8, false};                    // lbz, lbzu
        case 36: case 37: return {32, true};                    // stw, stwu
        case 38: case 39: return {8, true};                     // stb, stbu
        case 40: case 41: case 42: case 43: return {16, false}; // lhz, lhzu, lha, lhau
        case 44: case 45: return {16, true};                    // sth, sthu
        case X_FORM: break;
        default: return {0, false};
    }
    switch ((word >> 1) & 0x3FF) {
        case 23: case 55: case 534: return {32, false};             // lwzx, lwzux, lwbrx
        case 87: case 119: return {8, false};                       // lbzx, lbzux
        case 279: case 311: case 343: case 375: case 790: return {16, false};  // lhzx, lhzux, lhax, lhaux, lhbrx
        case 151: case 183: case 662: return {32, true};            // stwx, stwux, stwbrx
        case 215: case 247: return {8, true};                       // stbx, stbux
        case 407: case 439: case 918: return {16, true};            // sthx, sthux, sthbrx
        default: return {0, false};
    }
}

// What made a machine check, in the words the board's reports use.
void machineCheckCause(char* text, size_t size, uint32_t pc, uint32_t mcsr) {
    if ((mcsr & (MCSR_BUS_RAERR | MCSR_BUS_WAERR)) == 0) {
        std::snprintf(text, size, (mcsr & MCSR_MCP) != 0 ? "machine check input" : "syndrome 0x%08x", mcsr);
        return;
    }
    const uint32_t address = spr<SPR_MCAR>();
    const Access access = accessOf(load32(pc));
    const char* direction = (mcsr & MCSR_BUS_WAERR) != 0 ? "write" : "read";
    if (access.bits == 0) {
        std::snprintf(text, size, "bus error: %s at 0x%08x", direction, address);
    } else {
        std::snprintf(text, size, "bus error: %u-bit %s at 0x%08x", access.bits, direction, address);
    }
}

}  // namespace

E500Cpu::E500Cpu() { sprSet<SPR_CPU_OBJECT>(reinterpret_cast<uint32_t>(this)); }

uint32_t E500Cpu::msrGet() {
    uint32_t value;
    asm volatile("mfmsr %0" : "=r"(value));
    return value;
}

void E500Cpu::msrSet(uint32_t value) { asm volatile("mtmsr %0; isync" ::"r"(value) : "memory"); }

uint32_t E500Cpu::sprRead(int number) {
    switch (number) {
        case swboot::SPR_TCR: return spr<swboot::SPR_TCR>();
        case swboot::SPR_L1CFG0: return spr<swboot::SPR_L1CFG0>();
        case swboot::SPR_L1CFG1: return spr<swboot::SPR_L1CFG1>();
        case swboot::SPR_HID0: return spr<swboot::SPR_HID0>();
        case swboot::SPR_HID1: return spr<swboot::SPR_HID1>();
        case swboot::SPR_L1CSR0: return spr<swboot::SPR_L1CSR0>();
        case swboot::SPR_L1CSR1: return spr<swboot::SPR_L1CSR1>();
        case swboot::SPR_BUCSR: return spr<swboot::SPR_BUCSR>();
        default: return 0;
    }
}

void E500Cpu::sprWrite(int number, uint32_t value) {
    switch (number) {
        case swboot::SPR_TCR: sprSet<swboot::SPR_TCR>(value); break;
        case swboot::SPR_HID0:
            asm volatile("msync; isync" ::: "memory");  // HID0 wants a quiet core
            sprSet<swboot::SPR_HID0>(value);
            break;
        case swboot::SPR_HID1:
            asm volatile("msync; isync" ::: "memory");
            sprSet<swboot::SPR_HID1>(value);
            break;
        case swboot::SPR_L1CSR0:
            asm volatile("msync; isync" ::: "memory");
            sprSet<swboot::SPR_L1CSR0>(value);
            break;
        case swboot::SPR_L1CSR1: sprSet<swboot::SPR_L1CSR1>(value); break;
        case swboot::SPR_BUCSR: sprSet<swboot::SPR_BUCSR>(value); break;
        default: break;  // configuration registers are read-only
    }
}

void E500Cpu::sync() { asm volatile("msync" ::: "memory"); }

int E500Cpu::intLock() {
    const uint32_t msr = msrGet();
    msrSet(msr & ~swboot::MSR_EE);
    return static_cast<int>(msr & swboot::MSR_EE);
}

void E500Cpu::intUnlock(int key) {
    if (static_cast<uint32_t>(key) & swboot::MSR_EE) {
        msrSet(msrGet() | swboot::MSR_EE);
    }
}

int E500Cpu::handOver(uint32_t entry, uint32_t argument) {
    // The operational code is called as a C function of one argument; it
    // owns the machine from here and normally does not return.
    auto code = reinterpret_cast<int (*)(uint32_t)>(entry);
    return code(argument);
}

// Not inlined: the address is the caller's return point, the stack
// pointer the caller's frame, which is where a stack walk starts.
__attribute__((noinline)) uint32_t E500Cpu::instructionAddress() {
    return reinterpret_cast<uint32_t>(__builtin_return_address(0));
}

__attribute__((noinline)) uint32_t E500Cpu::stackPointer() {
    uint32_t sp;
    asm volatile("mr %0, 1" : "=r"(sp));
    return sp;
}

void E500Cpu::halt() {
    intLock();
    for (;;) {
    }
}

void E500Cpu::messageWrite(const char* text) {
    uint32_t at = EXC_MSG_TEXT;
    for (; *text != '\0' && at < EXC_MSG_TEXT + EXC_MSG_TEXT_MAX; ++text, ++at) {
        store8(at, static_cast<uint8_t>(*text));
    }
    store16(EXC_MSG_POINTER, static_cast<uint16_t>(at));
}

void E500Cpu::exception(const ExceptionState& state) {
    char text[EXC_MSG_TEXT_MAX];
    if (state.kind == EXCEPTION_MACHINE_CHECK) {
        char cause[64];
        machineCheckCause(cause, sizeof cause, state.pc, state.mcsr);
        std::snprintf(text, sizeof text,
                      "%s\nCause: %s\nException program counter: 0x%08x\nMachine state register: 0x%08x\n",
                      exceptionName(state.kind), cause, state.pc, state.msr);
    } else {
        std::snprintf(text, sizeof text,
                      "%s\nException program counter: 0x%08x\nMachine state register: 0x%08x\n"
                      "Syndrome: 0x%08x\nData address: 0x%08x\n",
                      exceptionName(state.kind), state.pc, state.msr, state.esr, state.dear);
    }
    messageWrite(text);
    if (handler_ != nullptr) {
        handler_->machineCheck();
    }
    halt();
    for (;;) {
    }
}

}  // namespace firmware

extern "C" [[noreturn]] void firmwareException(uint32_t kind, uint32_t pc, uint32_t msr, uint32_t dear, uint32_t esr,
                                               uint32_t mcsr) {
    uint32_t object;
    asm volatile("mfspr %0, %1" : "=r"(object) : "i"(SPR_CPU_OBJECT));
    auto* cpu = reinterpret_cast<firmware::E500Cpu*>(object);
    cpu->exception({kind, pc, msr, dear, esr, mcsr});
}
