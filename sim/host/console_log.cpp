#include "host/console_log.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <stdexcept>

namespace sim {

ConsoleLog::ConsoleLog(std::unique_ptr<SerialLine> line, const std::filesystem::path& file, Diagnostics& diagnostics)
    : line_(std::move(line)), name_(file.string()), diagnostics_(diagnostics) {
    fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        throw std::runtime_error("cannot open the console log " + name_ + ": " + strerror(errno));
    }
}

ConsoleLog::~ConsoleLog() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void ConsoleLog::rawModeChanged(bool raw) {
    raw_ = raw;
    line_->rawModeChanged(raw);
}

void ConsoleLog::transmit(const uint8_t* data, size_t length) {
    if (!raw_ && fd_ >= 0) {
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::write(fd_, data + done, length - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                // The session goes on without its transcript rather than
                // stopping the board for it.
                diagnostics_.line("console log: cannot write " + name_ + ": " + strerror(errno) +
                                  "; the transcript stops here");
                ::close(fd_);
                fd_ = -1;
                break;
            }
            done += static_cast<size_t>(n);
        }
    }
    line_->transmit(data, length);
}

}  // namespace sim
