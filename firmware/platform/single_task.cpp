#include "single_task.h"

#include "platform/status.h"

namespace firmware {
namespace {

class OnlyTaskSemaphore : public swboot::BinarySemaphore {
public:
    explicit OnlyTaskSemaphore(swboot::Cpu& cpu) : cpu_(cpu) {}
    int take() override {
        if (!full_) {
            // Taken twice by the only task: it would wait for ever. The board
            // would hang here too; halting says so without spinning on a lock.
            cpu_.halt();
        }
        full_ = false;
        return swboot::OK;
    }
    int give() override {
        full_ = true;
        return swboot::OK;
    }

private:
    swboot::Cpu& cpu_;
    bool full_ = true;
};

}  // namespace

std::unique_ptr<swboot::BinarySemaphore> SingleTask::binarySemaphoreCreate() {
    return std::make_unique<OnlyTaskSemaphore>(cpu_);
}

}  // namespace firmware
