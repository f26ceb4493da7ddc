// The processor as the loader sees it on the board: the machine state and
// special registers through mfmsr/mtmsr and mfspr/mtspr, interrupt locking,
// the call into the operational code, and the exception vectors' way back
// into the loader.
//
// The exception vectors (start/vectors.S) have no context but the core's
// registers: the object's address sits in an OS scratch register (SPRG3)
// from construction on, so a fatal exception reaches the handler the loader
// installed after writing the exception message where the loader's reboot
// path reads it.
#pragma once

#include <cstdint>

#include "platform/cpu.h"

namespace firmware {

class E500Cpu : public swboot::Cpu {
public:
    // The operating system's exception message area in low memory: a 16-bit
    // pointer to the end of the text, then the text.
    static constexpr uint32_t EXC_MSG_POINTER = 0x4300;
    static constexpr uint32_t EXC_MSG_TEXT = 0x4302;
    static constexpr uint32_t EXC_MSG_TEXT_MAX = 1024;

    E500Cpu();
    E500Cpu(const E500Cpu&) = delete;
    E500Cpu& operator=(const E500Cpu&) = delete;

    uint32_t msrGet() override;
    void msrSet(uint32_t value) override;
    // The special registers the loader names; others read 0 and ignore writes.
    uint32_t sprRead(int spr) override;
    void sprWrite(int spr, uint32_t value) override;
    void sync() override;
    int intLock() override;
    void intUnlock(int key) override;
    int handOver(uint32_t entry, uint32_t argument) override;
    void machineCheckVectorSet(swboot::MachineCheckHandler* handler) override { handler_ = handler; }
    uint32_t instructionAddress() override;
    uint32_t stackPointer() override;
    [[noreturn]] void halt() override;

    // An exception as the vectors hand it over: its kind, the address and
    // machine state its class saved (base, critical or machine check save
    // registers), and the syndrome registers.
    struct ExceptionState {
        uint32_t kind, pc, msr, dear, esr, mcsr;
    };
    // From the vectors: records the exception message and enters the
    // loader's handler. Does not return.
    [[noreturn]] void exception(const ExceptionState& state);

private:
    void messageWrite(const char* text);

    swboot::MachineCheckHandler* handler_ = nullptr;
};

}  // namespace firmware
