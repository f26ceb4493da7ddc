#include "fatal/fatal.h"

#include <cstdio>
#include <cstring>

#include "board_support/polled_output.h"
#include "image/flashacc.h"
#include "loader.h"

namespace swboot {

namespace {

// Appends text within the buffer; the text is cut at its end.
void appendText(char* buffer, size_t size, size_t& length, const char* text) {
    while (*text != '\0' && length + 1 < size) {
        buffer[length++] = *text++;
    }
    buffer[length] = '\0';
}

void appendRangeLine(char* buffer, size_t size, size_t& length, const char* what, uint32_t value) {
    char line[64];
    std::snprintf(line, sizeof line, "%s 0x%x out of range\n", what, value);
    appendText(buffer, size, length, line);
}

bool inStackRange(uint32_t address) { return address >= STACK_VALID_LOWEST && address < TOP_OF_MEMORY; }

}  // namespace

Fatal::Fatal(Loader& loader) : loader_(loader) { loader_.p.cpu.machineCheckVectorSet(this); }

Fatal::~Fatal() { loader_.p.cpu.machineCheckVectorSet(nullptr); }

void Fatal::machineCheck() {
    if (entered_) {
        reset();
    }
    polledOutput(loader_.p.bus, loader_.p.cpu, SILICON_FAULT_TEXT);
    boardReboot(0);
    reset();
}

int Fatal::boardReboot(int /*startType*/) {
    if (entered_) {
        // A hook or a printer that ends up here again gets the reset
        // straight away, not a second round.
        reset();
    }
    entered_ = true;
    Cpu& cpu = loader_.p.cpu;
    cpu.intLock();
    cpu.sprWrite(SPR_BUCSR, (cpu.sprRead(SPR_BUCSR) & ~BUCSR_BPEN) | BUCSR_BBFI);
    cpu.sync();
    if (shutdownHook != nullptr) {
        shutdownHook->shutdown(0);
        shutdownHook->shutdown(1);
    }
    uint32_t tcr = cpu.sprRead(SPR_TCR);
    if (tcr & TCR_DIE) {
        cpu.sprWrite(SPR_TCR, tcr &= ~TCR_DIE);
    }
    if (tcr & TCR_FIE) {
        cpu.sprWrite(SPR_TCR, tcr &= ~TCR_FIE);
    }
    if (preRebootHook != nullptr) {
        preRebootHook->preReboot();
    }
    if (printExcMsg) {
        excMsgPrint(EXC_MSG_HEADER, "");
    }
    if (printStackTrace) {
        stackTracePrint(STACK_TRACE_HEADER, "", true);
    }
    if (resetBoard) {
        reset();
    }
    return 0;
}

void Fatal::reset() { loader_.board.boardReset(); }

void Fatal::excMsgPrint(const char* header, const char* trailer) {
    Bus& bus = loader_.p.bus;
    char buffer[EXC_MSG_BUFFER_SIZE];
    size_t length = 0;
    buffer[0] = '\0';
    appendText(buffer, sizeof buffer, length, header);
    long messageLength = static_cast<long>(bus.read16(EXC_MSG_POINTER_ADDRESS)) - EXC_MSG_TEXT_ADDRESS;
    // The trailer keeps its room; the message gets the rest.
    size_t room = sizeof buffer - 1 - length;
    size_t trailerLength = std::strlen(trailer);
    room = room > trailerLength ? room - trailerLength : 0;
    for (long i = 0; i < messageLength && static_cast<size_t>(i) < room; ++i) {
        buffer[length++] = static_cast<char>(bus.read8(EXC_MSG_TEXT_ADDRESS + static_cast<uint32_t>(i)));
    }
    buffer[length] = '\0';
    appendText(buffer, sizeof buffer, length, trailer);
    polledOutput(bus, loader_.p.cpu, buffer);
}

void Fatal::stackTracePrint(const char* header, const char* trailer, bool polled) {
    Cpu& cpu = loader_.p.cpu;
    char buffer[STACK_TRACE_BUFFER_SIZE];
    size_t length = 0;
    buffer[0] = '\0';
    appendText(buffer, sizeof buffer, length, header);
    stackWalk(cpu.instructionAddress(), cpu.stackPointer(), buffer, sizeof buffer, length);
    appendText(buffer, sizeof buffer, length, trailer);
    if (polled) {
        polledOutput(loader_.p.bus, cpu, buffer);
    } else {
        loader_.io.puts(buffer);
        loader_.io.flush();
    }
}

bool Fatal::wordRead(uint32_t address, uint32_t& word) {
    if (address % 4 != 0 || (address >= TOP_OF_MEMORY && address < FLASH_BASE)) {
        return false;
    }
    word = loader_.p.bus.read32(address);
    return true;
}

bool Fatal::prologueFind(uint32_t pc, uint32_t& function, uint32_t& slot) {
    // Instruction addresses ignore their two low bits.
    uint32_t address = pc & ~3u;
    uint32_t word = 0;
    bool found = false;
    for (int i = 0; i < PROLOGUE_SEARCH_WORDS; ++i, address -= 4) {
        if (!wordRead(address, word)) {
            return false;
        }
        if (word == INSN_MFLR_R0) {
            found = true;
            break;
        }
        if (address < 4) {
            return false;  // the search does not wrap into the top of the address space
        }
    }
    if (!found || address < 4 || !wordRead(address - 4, word) ||
        (word & INSN_DISPLACEMENT_MATCH_MASK) != INSN_STWU_R1_NEGATIVE) {
        return false;
    }
    function = address - 4;
    uint32_t next = function + 4;
    for (int i = 0; i < PROLOGUE_SEARCH_WORDS; ++i, next += 4) {
        if (next < function || !wordRead(next, word)) {
            return false;  // wrapped past the top, or left the memory
        }
        if ((word & INSN_DISPLACEMENT_MATCH_MASK) == INSN_STW_R0_R1) {
            slot = word & INSN_DISPLACEMENT_MASK & ~3u;
            return true;
        }
    }
    return false;
}

void Fatal::stackWalk(uint32_t pc, uint32_t sp, char* buffer, size_t size, size_t& length) {
    bool first = true;
    for (;;) {
        uint32_t function = 0;
        uint32_t slot = 0;
        uint32_t ra = 0;
        uint32_t callerSp = 0;
        if (!prologueFind(pc, function, slot) || !wordRead(sp + slot, ra) || !wordRead(sp, callerSp)) {
            return;
        }
        // This loader has no symbol table: the board's lookup leaves the
        // name empty.
        char name[SYMBOL_NAME_SIZE] = "";
        if (!first) {
            char line[SYMBOL_NAME_SIZE + 64];
            std::snprintf(line, sizeof line, "FUNC = 0x%x, PC = 0x%x (%s), SP = 0x%x\n", function, pc, name, sp);
            appendText(buffer, size, length, line);
        }
        if (!inStackRange(ra)) {
            appendRangeLine(buffer, size, length, "RA", ra);
            return;
        }
        if (!inStackRange(callerSp)) {
            appendRangeLine(buffer, size, length, "Caller SP", callerSp);
            return;
        }
        pc = ra;
        sp = callerSp;
        first = false;
        if (length >= STACK_TRACE_STOP) {
            return;
        }
    }
}

}  // namespace swboot
