// The PowerPC e500 core as the loader touches it: the machine state
// register, the special registers it reads and writes (HID0/1, L1 cache
// control and configuration, the timer control and the branch unit),
// memory synchronisation, the interrupt lock, the machine-check vector, the
// call into started code, and the halt.
//
// The model records what a hand-over needs checked: the machine state at
// the call, whether the instruction cache was flash-invalidated in the
// right order (ICFI written clear, sync, written set, sync), and HID0.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include "platform/cpu.h"

namespace sim {

class E500Core : public swboot::Cpu {
public:
    struct Registers {
        uint32_t msr = 0x00029000;  // CE, EE and ME set, as the kernel runs
        std::map<int, uint32_t> spr;
    };

    struct Handover {
        uint32_t entry = 0;
        uint32_t startMode = 0;
        uint32_t msr = 0;
        uint32_t hid0 = 0;
        uint32_t l1csr1 = 0;
        bool icacheInvalidated = false;
    };

    // Where the core fetches its first instruction after reset.
    static constexpr uint32_t RESET_VECTOR = 0xFFFFFFFC;

    explicit E500Core(const Registers& powerOn);

    // Why the core cannot start from this first instruction, or an empty
    // text when it is an unconditional branch ("b", "ba", "bl", "bla"), the
    // only thing that can sit in the last word of the address space.
    static std::string resetVectorProblem(uint32_t instruction);

    // Where the code stood when the board hands the processor to the
    // machine-check handler: what instructionAddress() and stackPointer()
    // report from then on.
    void setFrame(uint32_t pc, uint32_t sp) {
        pc_ = pc;
        sp_ = sp;
    }
    // Takes a machine check: clears the interrupt and machine-check enables
    // and calls the handler in the vector. Throws BoardReset when there is
    // no handler or it returns; a machine check inside the handler is the
    // board's to catch (a checkstop).
    [[noreturn]] void takeMachineCheck();
    bool machineCheckVectored() const { return vector_ != nullptr; }

    // The board decides what a call into code means and what a halt does.
    void setHandoverHandler(std::function<int(const Handover&)> handler) { handover_ = std::move(handler); }
    void setHaltHandler(std::function<void()> handler) { halt_ = std::move(handler); }

    void powerUp();

    // swboot::Cpu
    uint32_t msrGet() override { return msr_; }
    void msrSet(uint32_t value) override { msr_ = value; }
    uint32_t sprRead(int spr) override;
    void sprWrite(int spr, uint32_t value) override;
    void sync() override;
    int intLock() override;
    void intUnlock(int key) override;
    int handOver(uint32_t entry, uint32_t argument) override;
    void machineCheckVectorSet(swboot::MachineCheckHandler* handler) override { vector_ = handler; }
    uint32_t instructionAddress() override { return pc_; }
    uint32_t stackPointer() override { return sp_; }
    [[noreturn]] void halt() override;

    // Control face.
    const Handover& lastHandover() const { return last_; }
    int handoverCount() const { return handovers_; }

private:
    enum class IcacheStep { Idle, ClearWritten, ClearSynced, SetWritten, Done };

    Registers powerOn_;
    uint32_t msr_ = 0;
    std::map<int, uint32_t> spr_;
    IcacheStep icache_ = IcacheStep::Idle;
    Handover last_;
    int handovers_ = 0;
    std::function<int(const Handover&)> handover_;
    std::function<void()> halt_;
    swboot::MachineCheckHandler* vector_ = nullptr;
    uint32_t pc_ = 0;
    uint32_t sp_ = 0;
};

}  // namespace sim
