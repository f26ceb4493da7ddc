// What the operating system's exception handling leaves in board memory
// when the processor takes a machine check, before it calls the loader's
// handler: the exception text in the message area at 0x4302 with the
// message pointer (the 16-bit word at 0x4300) just past it, and the call
// stack of the loader as PowerPC code keeps it -- the loader's code copied
// into the top megabyte of RAM, each function opening with the prologue
// "stwu r1,-N(r1); mflr r0; stw r0,N+4(r1)", and its task stack below the
// top of RAM with back chains and saved return addresses. The outermost
// function was called by the boot code's start-up in the boot flash
// (return address 0xfff00100), where a trace of this stack ends.
#pragma once

#include <cstdint>
#include <string>

#include "platform/bus.h"

namespace sim {

inline constexpr uint32_t EXC_MSG_POINTER = 0x4300;
inline constexpr uint32_t EXC_MSG_TEXT = 0x4302;
// The longest exception text written.
inline constexpr size_t EXC_MSG_TEXT_MAX = 1000;
// Where the loader's code runs from and where its task's stack starts.
inline constexpr uint32_t LOADER_TEXT_BASE = 0x0FF00000;
inline constexpr uint32_t LOADER_STACK_TOP = 0x0FFFFF00;
// The return address into the boot code's start-up.
inline constexpr uint32_t BOOT_START_RETURN = 0xFFF00100;

struct ExceptionStage {
    uint32_t pc = 0;  // inside the loader's stack trace printer
    uint32_t sp = 0;  // the printer's frame
    uint32_t faultPc = 0;  // the instruction that took the machine check
};

// The operating system at power-on: an empty message area.
void excMsgAreaClear(swboot::Bus& bus);
// Writes the exception text naming the cause and lays down the loader's
// frames from its start to the stack trace printer.
ExceptionStage machineCheckStage(swboot::Bus& bus, const std::string& cause, uint32_t msr);

}  // namespace sim
