// The operating system's task services for the firmware, where the loader
// is the only task: a fixed task identifier, no interrupt level (the loader
// runs with interrupts masked and handles nothing at interrupt level), and
// binary semaphores that can only be taken when available, since no other
// task could ever give one back. There are no signals on the board's
// console, so the termination handler is only kept.
#pragma once

#include "platform/cpu.h"
#include "platform/tasks.h"

namespace firmware {

class SingleTask : public swboot::Tasks {
public:
    // The identifier the loader's task reports.
    static constexpr uint32_t TASK_ID = 0x0FFF0000;

    explicit SingleTask(swboot::Cpu& cpu) : cpu_(cpu) {}

    uint32_t taskIdSelf() override { return TASK_ID; }
    bool intContext() override { return false; }
    std::unique_ptr<swboot::BinarySemaphore> binarySemaphoreCreate() override;
    swboot::TerminationHandler* terminationHandlerSet(swboot::TerminationHandler* handler) override {
        swboot::TerminationHandler* previous = handler_;
        handler_ = handler;
        return previous;
    }

private:
    swboot::Cpu& cpu_;
    swboot::TerminationHandler* handler_ = nullptr;
};

}  // namespace firmware
