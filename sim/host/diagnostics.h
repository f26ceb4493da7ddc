// The simulator's own reports (hand-over, halts, traces, help), on its
// diagnostic output -- standard error, not the console line -- one line each.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

namespace sim {

class Diagnostics {
public:
    // Writes to the descriptor (standard error by default). With capture on,
    // lines are also kept for tests.
    explicit Diagnostics(int fd = 2) : fd_(fd) {}

    void line(const std::string& text);
    void linef(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void setQuiet(bool quiet) { quiet_ = quiet; }
    void setCapture(bool capture) { capture_ = capture; }
    const std::vector<std::string>& captured() const { return captured_; }

private:
    int fd_;
    bool quiet_ = false;
    bool capture_ = false;
    std::vector<std::string> captured_;
};

}  // namespace sim
