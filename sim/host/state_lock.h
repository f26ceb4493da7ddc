// The lock of a board's state directory: one simulator at a time works on
// one board. An advisory lock (flock) on the file "lock" in the directory,
// which also holds the process id of its holder so that the next comer can
// name it. The lock goes with its holder however that ends, so a simulator
// that crashed never leaves its board locked.
#pragma once

#include <filesystem>

namespace sim {

class StateLock {
public:
    static constexpr const char* FILE_NAME = "lock";

    // Takes the lock of the directory, which must exist. Throws
    // std::runtime_error naming the process that holds it, or why the lock
    // file cannot be used.
    explicit StateLock(const std::filesystem::path& stateDir);
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace sim
