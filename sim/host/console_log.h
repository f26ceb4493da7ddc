// A transcript of the console (--console-log FILE): wraps the line the
// board is connected to and appends to the file everything the board sends
// down it -- its messages, and what was typed as the board echoes it --
// as a terminal on the line shows it. Each piece is written at once, so
// that a session that ends badly is still on disk. The protocol bytes of a
// file transfer (the driver in raw mode) are left out, and so are the
// simulator's own messages, which never pass the line.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "host/diagnostics.h"
#include "host/serial_line.h"

namespace sim {

class ConsoleLog : public SerialLine {
public:
    // Opens the file for appending (creating it). Throws std::runtime_error
    // naming the file when it cannot be opened.
    ConsoleLog(std::unique_ptr<SerialLine> line, const std::filesystem::path& file, Diagnostics& diagnostics);
    ~ConsoleLog() override;
    ConsoleLog(const ConsoleLog&) = delete;
    ConsoleLog& operator=(const ConsoleLog&) = delete;

    long receive(uint8_t* buffer, size_t length) override { return line_->receive(buffer, length); }
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override {
        line_->waitInput(deadlineMicros, readerWaiting);
    }
    void transmit(const uint8_t* data, size_t length) override;
    bool interactive() const override { return line_->interactive(); }
    void speedChanged(uint32_t bitsPerSecond) override { line_->speedChanged(bitsPerSecond); }
    void rawModeChanged(bool raw) override;

private:
    std::unique_ptr<SerialLine> line_;
    std::string name_;
    Diagnostics& diagnostics_;
    int fd_ = -1;
    bool raw_ = false;
};

}  // namespace sim
