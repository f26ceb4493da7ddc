// Task services of the operating system: identity, interrupt context,
// binary semaphores and the termination signal.
#pragma once

#include <cstdint>
#include <memory>

namespace swboot {

class BinarySemaphore {
public:
    virtual ~BinarySemaphore() = default;
    // Takes the semaphore, waiting without limit. OK or ERROR.
    virtual int take() = 0;
    // Gives it back. OK or ERROR.
    virtual int give() = 0;
};

// Receives the termination signal (signal 15) while installed.
class TerminationHandler {
public:
    virtual ~TerminationHandler() = default;
    virtual void terminate() = 0;
};

class Tasks {
public:
    virtual ~Tasks() = default;

    // Identifier of the calling task.
    virtual uint32_t taskIdSelf() = 0;
    // True when called at interrupt level.
    virtual bool intContext() = 0;
    // A binary semaphore, created full (available) with first-in first-out
    // waiting; null when none can be created.
    virtual std::unique_ptr<BinarySemaphore> binarySemaphoreCreate() = 0;
    // Installs a handler for the termination signal and returns the one it
    // replaces (null for the default action).
    virtual TerminationHandler* terminationHandlerSet(TerminationHandler* handler) = 0;
};

}  // namespace swboot
