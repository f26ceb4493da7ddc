// Task services for the loader's single task: its identity, the interrupt
// level (never, the loader runs at task level), binary semaphores, and the
// termination signal, which the simulator delivers when the host sends it
// SIGTERM.
#pragma once

#include <atomic>
#include <functional>

#include "platform/tasks.h"

namespace sim {

class SimTasks : public swboot::Tasks {
public:
    static constexpr uint32_t LOADER_TASK_ID = 0x00FFE000;

    // Called when a semaphore take would wait for ever (nothing else runs to
    // give it); expected not to return.
    void setDeadlockHandler(std::function<void()> handler) { deadlock_ = std::move(handler); }

    void powerUp() { handler_ = nullptr; }
    // The host asked for termination: runs the installed handler, if any,
    // and tells the caller whether one ran.
    bool deliverTermination();
    swboot::TerminationHandler* terminationHandler() const { return handler_; }

    uint32_t taskIdSelf() override { return LOADER_TASK_ID; }
    bool intContext() override { return false; }
    std::unique_ptr<swboot::BinarySemaphore> binarySemaphoreCreate() override;
    swboot::TerminationHandler* terminationHandlerSet(swboot::TerminationHandler* handler) override;

private:
    swboot::TerminationHandler* handler_ = nullptr;
    std::function<void()> deadlock_;
};

}  // namespace sim
