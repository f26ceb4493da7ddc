#include "host/exception_stage.h"

#include <cstdio>

namespace sim {

namespace {

constexpr uint32_t INSN_NOP = 0x60000000;
constexpr uint32_t INSN_MFLR_R0 = 0x7C0802A6;
constexpr uint32_t INSN_MTLR_R0 = 0x7C0803A6;
constexpr uint32_t INSN_BLR = 0x4E800020;
constexpr uint32_t INSN_STWU_R1 = 0x94210000;   // stwu r1,d(r1)
constexpr uint32_t INSN_STW_R0_R1 = 0x90010000; // stw r0,d(r1)
constexpr uint32_t INSN_LWZ_R0_R1 = 0x80010000; // lwz r0,d(r1)
constexpr uint32_t INSN_ADDI_R1_R1 = 0x38210000;
constexpr uint32_t INSN_LWZ_R3_R9 = 0x80690000; // lwz r3,0(r9): the faulting load
constexpr uint32_t INSN_BL = 0x48000001;
constexpr uint32_t BRANCH_OFFSET_MASK = 0x03FFFFFC;

// The loader's call path at a machine check, outermost first: where each
// function starts in the code, its frame size, and where the call to the
// next one returns to (for the innermost, where it stands).
struct Function {
    const char* name;
    uint32_t entry;
    uint32_t frameSize;
    uint32_t returnOffset;
};

constexpr Function CALL_PATH[] = {
    {"romStart", 0x00100, 0x20, 0x68},
    {"usrRoot", 0x01a40, 0x50, 0x1d4},
    {"bootMain", 0x0c318, 0x70, 0x3a0},
    {"bootMenuRun", 0x0d6f4, 0x40, 0x27c},
    {"interrupted routine", 0x14b20, 0x90, 0x10c},
    {"machine-check handler", 0x2e400, 0x30, 0x34},
    {"boardReboot", 0x2e4a0, 0x20, 0x90},
    {"stackTracePrint", 0x2e620, 0x830, 0x6c},
};
constexpr size_t INTERRUPTED = 4;

uint32_t low16(int32_t value) { return static_cast<uint32_t>(value) & 0xFFFF; }

// The code of one function: its prologue, filler, the call (or the
// faulting load) just before the return point, and its epilogue.
void functionLay(swboot::Bus& bus, const Function& f, uint32_t callee, bool faulting) {
    uint32_t base = LOADER_TEXT_BASE + f.entry;
    int32_t size = static_cast<int32_t>(f.frameSize);
    bus.write32(base, INSN_STWU_R1 | low16(-size));
    bus.write32(base + 4, INSN_MFLR_R0);
    bus.write32(base + 8, INSN_STW_R0_R1 | low16(size + 4));
    for (uint32_t at = base + 12; at < base + f.returnOffset - 4; at += 4) {
        bus.write32(at, INSN_NOP);
    }
    uint32_t call = base + f.returnOffset - 4;
    bus.write32(call, faulting ? INSN_LWZ_R3_R9 : INSN_BL | ((callee - call) & BRANCH_OFFSET_MASK));
    uint32_t back = base + f.returnOffset;
    bus.write32(back, INSN_LWZ_R0_R1 | low16(size + 4));
    bus.write32(back + 4, INSN_MTLR_R0);
    bus.write32(back + 8, INSN_ADDI_R1_R1 | low16(size));
    bus.write32(back + 12, INSN_BLR);
}

}  // namespace

void excMsgAreaClear(swboot::Bus& bus) { bus.write16(EXC_MSG_POINTER, static_cast<uint16_t>(EXC_MSG_POINTER)); }

ExceptionStage machineCheckStage(swboot::Bus& bus, const std::string& cause, uint32_t msr) {
    constexpr size_t DEPTH = sizeof CALL_PATH / sizeof CALL_PATH[0];
    ExceptionStage stage;
    // The stack: the start-up's frame at the top holds the end of the back
    // chain and, in its return address slot, where romStart returns to.
    uint32_t outerSp = LOADER_STACK_TOP;
    uint32_t returnAddress = BOOT_START_RETURN;
    bus.write32(outerSp, 0);
    for (size_t i = 0; i < DEPTH; ++i) {
        const Function& f = CALL_PATH[i];
        uint32_t sp = outerSp - f.frameSize;
        bus.write32(sp, outerSp);
        bus.write32(outerSp + 4, returnAddress);
        uint32_t callee = i + 1 < DEPTH ? LOADER_TEXT_BASE + CALL_PATH[i + 1].entry : 0;
        functionLay(bus, f, callee, i == INTERRUPTED);
        returnAddress = LOADER_TEXT_BASE + f.entry + f.returnOffset;
        if (i == INTERRUPTED) {
            stage.faultPc = returnAddress - 4;
        }
        outerSp = sp;
        stage.pc = returnAddress;
        stage.sp = sp;
    }

    char text[EXC_MSG_TEXT_MAX + 1];
    int n = std::snprintf(text, sizeof text,
                          "Machine Check Exception\nCause: %s\nException program counter: 0x%08x\n"
                          "Machine state register: 0x%08x\n",
                          cause.c_str(), stage.faultPc, msr);
    size_t length = n < 0 ? 0 : static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
    for (size_t i = 0; i < length; ++i) {
        bus.write8(EXC_MSG_TEXT + static_cast<uint32_t>(i), static_cast<uint8_t>(text[i]));
    }
    bus.write16(EXC_MSG_POINTER, static_cast<uint16_t>(EXC_MSG_TEXT + length));
    return stage;
}

}  // namespace sim
