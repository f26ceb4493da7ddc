// Standard input and output of the loader's task, both on the console line.
//
// Output is line-buffered: a call whose text holds a line feed sends the
// whole buffer, anything else waits for the next line feed or an explicit
// flush(), as prompts do. Standard error is not buffered. Input keeps the
// bytes that the console delivered but that a reader did not take yet, as
// the C library's stdin does.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "common/text_sink.h"
#include "platform/console.h"

namespace swboot {

class Stdio : public TextSink {
public:
    explicit Stdio(Console& console) : console_(console) {}
    Stdio(const Stdio&) = delete;
    Stdio& operator=(const Stdio&) = delete;

    using TextSink::printf;
    int vprintf(const char* format, va_list args) override;
    // Writes text as it stands (fputs on stdout).
    void puts(const char* text);
    // Formatted output on standard error.
    int eprintf(const char* format, ...) SWBOOT_PRINTF(2, 3);
    // Sends what is buffered. OK, or ERROR when the console refused it.
    int flush();

    // Reads one line into the buffer (at most size-1 characters), without
    // its line end. The rest of a longer line is read and discarded. False
    // when nothing could be read.
    bool lineRead(char* buffer, size_t size);
    // The C library's fgets: at most size-1 characters, the line feed kept
    // when it fits; the rest of a longer line stays in the input for the
    // next reader. Null when nothing could be read.
    char* fgets(char* buffer, int size);
    // Waits for standard input to become readable (select on descriptor 0):
    // 1 readable, 0 timeout, ERROR.
    int inputWait(int64_t microseconds);

private:
    void write(const char* text, size_t length);
    // One byte of input: 0..255, or -1 when nothing could be read.
    int inputByte();

    Console& console_;
    char out_[1024] = {};
    size_t outLength_ = 0;
    uint8_t in_[256] = {};
    size_t inStart_ = 0;
    size_t inEnd_ = 0;
};

}  // namespace swboot
