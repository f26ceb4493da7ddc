// The fatal path: the board reboot routine that every reboot passes
// through, the machine-check handler in front of it, and its two printers,
// the exception message left by the operating system's exception handling
// and a trace of the call stack. Everything goes straight to the console
// UART by polling, with interrupts locked, and ends in the CPLD reset.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/cpu.h"

namespace swboot {

class Loader;

// The exception message area in low memory: the operating system writes
// its text from 0x4302 on and keeps the address just past the text in the
// 16-bit word at 0x4300 (the area is low memory, so 16 bits hold it); a
// word of 0x4300, or anything up to 0x4302, means no message.
inline constexpr uint32_t EXC_MSG_POINTER_ADDRESS = 0x4300;
inline constexpr uint32_t EXC_MSG_TEXT_ADDRESS = 0x4302;

inline constexpr size_t EXC_MSG_BUFFER_SIZE = 1040;
inline constexpr size_t STACK_TRACE_BUFFER_SIZE = 2048;
// The walk takes no further frame once this much of its buffer is used.
inline constexpr size_t STACK_TRACE_STOP = 1920;
inline constexpr size_t SYMBOL_NAME_SIZE = 128;

// The stack walk takes addresses from 0x100 up to the top of the 256 MiB of
// RAM as valid.
inline constexpr uint32_t STACK_VALID_LOWEST = 0x100;
inline constexpr uint32_t TOP_OF_MEMORY = 0x10000000;
// Words the walk searches for a prologue, backwards and forwards.
inline constexpr int PROLOGUE_SEARCH_WORDS = 4096;

// PowerPC instructions of a function prologue.
inline constexpr uint32_t INSN_MFLR_R0 = 0x7C0802A6;
inline constexpr uint32_t INSN_STWU_R1_NEGATIVE = 0x94218000;  // stwu r1,-N(r1)
inline constexpr uint32_t INSN_STW_R0_R1 = 0x90010000;         // stw r0,N(r1)
inline constexpr uint32_t INSN_DISPLACEMENT_MATCH_MASK = 0xFFFF8000;
inline constexpr uint32_t INSN_DISPLACEMENT_MASK = 0x7FFF;

inline constexpr const char* SILICON_FAULT_TEXT =
    "Silicon fault detected, possible machine state corruption.\nSystem rebooted to limit damage.";
inline constexpr const char* EXC_MSG_HEADER = "\n--- Exception Message ---\n";
inline constexpr const char* STACK_TRACE_HEADER = "\n--- Stack Trace ---\n";

// The operating system's shutdown hook, called with 0 and then 1.
class ShutdownHook {
public:
    virtual ~ShutdownHook() = default;
    virtual void shutdown(int phase) = 0;
};

// The board's hook just before the reboot output.
class PreRebootHook {
public:
    virtual ~PreRebootHook() = default;
    virtual void preReboot() = 0;
};

class Fatal : public MachineCheckHandler {
public:
    // Puts the machine-check handler in the processor's vector for the
    // life of the loader.
    explicit Fatal(Loader& loader);
    ~Fatal() override;
    Fatal(const Fatal&) = delete;
    Fatal& operator=(const Fatal&) = delete;

    // The machine-check handler: the silicon fault report, then the reboot.
    void machineCheck() override;

    // The board reboot routine. Returns 0 only when resetting is switched
    // off; the start type is not used.
    int boardReboot(int startType);

    // Prints the header, the exception message area's text and the trailer
    // with polled output.
    void excMsgPrint(const char* header, const char* trailer);
    // Prints the header, one line per frame of the stack of the caller and
    // the trailer: with polled output, or else on standard output.
    void stackTracePrint(const char* header, const char* trailer, bool polled);

    // The enable settings of the reboot routine, all on in this system.
    bool printExcMsg = true;
    bool printStackTrace = true;
    bool resetBoard = true;
    // Hooks the operating system and the board may install.
    ShutdownHook* shutdownHook = nullptr;
    PreRebootHook* preRebootHook = nullptr;

private:
    // Appends one line per frame from PC and SP on (the first frame not
    // printed) to the text of the given length in the buffer.
    void stackWalk(uint32_t pc, uint32_t sp, char* buffer, size_t size, size_t& length);
    // A word the walk may read: aligned, in RAM or in the boot flash.
    // False ends the walk instead of a bus error inside the fatal path.
    bool wordRead(uint32_t address, uint32_t& word);
    // Finds the function holding PC (its stwu) and the displacement of its
    // return address slot.
    bool prologueFind(uint32_t pc, uint32_t& function, uint32_t& slot);
    [[noreturn]] void reset();

    Loader& loader_;
    bool entered_ = false;  // the reboot path has begun: nothing enters it twice
};

}  // namespace swboot
