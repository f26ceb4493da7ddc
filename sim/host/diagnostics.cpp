#include "host/diagnostics.h"

#include <unistd.h>

#include <cstdio>

namespace sim {

void Diagnostics::line(const std::string& text) {
    if (capture_) {
        captured_.push_back(text);
    }
    if (quiet_) {
        return;
    }
    // A terminal in raw mode needs the carriage return spelt out.
    std::string out = text + (isatty(fd_) ? "\r\n" : "\n");
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::write(fd_, out.data() + done, out.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
}

void Diagnostics::linef(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    line(text);
}

}  // namespace sim
