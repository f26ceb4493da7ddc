#include "host/state_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace sim {

namespace {

constexpr size_t PID_TEXT_SIZE = 24;

// The holder's process id as it wrote it, or 0 when the file does not hold one.
long holderOf(int fd) {
    char text[PID_TEXT_SIZE] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (got <= 0) {
        return 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return end != text && pid > 0 ? pid : 0;
}

}  // namespace

StateLock::StateLock(const std::filesystem::path& stateDir) {
    const std::filesystem::path file = stateDir / FILE_NAME;
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        throw std::runtime_error("cannot open the lock file " + file.string() + ": " + std::strerror(errno));
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const long holder = holderOf(fd_);
        ::close(fd_);
        fd_ = -1;
        if (error != EWOULDBLOCK) {
            throw std::runtime_error("cannot lock the state directory " + stateDir.string() + ": " +
                                     std::strerror(error));
        }
        const std::string who = holder == static_cast<long>(::getpid()) ? "another board of this process (" +
                                                                               std::to_string(holder) + ")"
                                : holder != 0 ? "process " + std::to_string(holder)
                                              : "another process";
        throw std::runtime_error("the state directory " + stateDir.string() + " is in use by " + who +
                                 "; one simulator at a time runs a board");
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the holder cannot be named.
    }
}

StateLock::~StateLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

}  // namespace sim
