#include "host/sim_tasks.h"

#include "board/board_events.h"
#include "platform/status.h"

namespace sim {

namespace {

class SingleTaskSemaphore : public swboot::BinarySemaphore {
public:
    explicit SingleTaskSemaphore(std::function<void()>& deadlock) : deadlock_(deadlock) {}
    int take() override {
        if (!full_) {
            // Only one task runs: nobody could ever give it back.
            if (deadlock_) {
                deadlock_();
            }
            throw BoardPowerOff{"semaphore taken twice by the only task", 3};
        }
        full_ = false;
        return swboot::OK;
    }
    int give() override {
        full_ = true;
        return swboot::OK;
    }

private:
    std::function<void()>& deadlock_;
    bool full_ = true;
};

}  // namespace

std::unique_ptr<swboot::BinarySemaphore> SimTasks::binarySemaphoreCreate() {
    return std::make_unique<SingleTaskSemaphore>(deadlock_);
}

swboot::TerminationHandler* SimTasks::terminationHandlerSet(swboot::TerminationHandler* handler) {
    swboot::TerminationHandler* previous = handler_;
    handler_ = handler;
    return previous;
}

bool SimTasks::deliverTermination() {
    if (handler_ == nullptr) {
        return false;
    }
    handler_->terminate();
    return true;
}

}  // namespace sim
