// The text log: syslog-style lines in fixed 592-byte slots of the startup
// log (the first 32 lines of a boot, "slog0.txt") and the operation log
// (later lines, 32 slots round-robin, "olog0.txt"), kept over three boots
// by a rotation at startup, and collected into one file on request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "eventlog/log_format.h"
#include "platform/tasks.h"

namespace swboot {

class Loader;

// Results of the text log operations.
inline constexpr int LOG_TEXT_OK = 0;
inline constexpr int LOG_TEXT_NOT_STORED = 2;
inline constexpr int LOG_TEXT_FILE_MODE = 0644;
// The formatted line before it is cut to a slot.
inline constexpr size_t LOG_TEXT_FORMAT_SIZE = 1024;

class TextLog {
public:
    explicit TextLog(Loader& loader) : loader_(loader) {}
    TextLog(const TextLog&) = delete;
    TextLog& operator=(const TextLog&) = delete;

    // Formats one line (priority facility * 8 + severity, time, task,
    // source and sequence number before the message) and stores it; 0, or 2
    // when nothing was stored.
    int log_text_line(int facility, int severity, const char* sourceName, int line, const char* message);
    // Stores a line in the next slot; 0, or 2 when the text is empty, no
    // file is set up yet or the file cannot be opened.
    int log_text_store(const char* text, size_t length);
    // Once per boot: generation 1 becomes 2, 0 becomes 1, and new empty
    // generation-0 files are made. 0, or 2 when one cannot be created.
    int log_text_rotate();
    // Writes the three generations' logs, oldest first, into the file; 0,
    // or 2 when it cannot be created.
    int log_text_collect(const char* outputName);

    // The sequence number of the next line: into the place (2 when none is
    // given, else 0), as the result, or set back to 0.
    int log_text_seq_get(uint32_t* place);
    uint32_t log_text_seq() const { return sequence_; }
    void log_text_seq_reset();

    const char* startupFileName() const { return startupName_; }
    const char* operationFileName() const { return operationName_; }

private:
    Loader& loader_;
    char startupName_[LOG_TEXT_NAME_SIZE] = {};
    char operationName_[LOG_TEXT_NAME_SIZE] = {};
    uint32_t sequence_ = 0;
    bool rotated_ = false;
    std::unique_ptr<BinarySemaphore> lock_;
};

}  // namespace swboot
