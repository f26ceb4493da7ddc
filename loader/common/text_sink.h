// Something that takes printf-style text: the console's standard output on
// the board, a file or a string in the host tools.
#pragma once

#include <cstdarg>

#if defined(__GNUC__)
#define SWBOOT_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define SWBOOT_PRINTF(fmt, args)
#endif

namespace swboot {

class TextSink {
public:
    virtual ~TextSink() = default;
    virtual int vprintf(const char* format, va_list args) = 0;
    int printf(const char* format, ...) SWBOOT_PRINTF(2, 3) {
        va_list args;
        va_start(args, format);
        int n = vprintf(format, args);
        va_end(args);
        return n;
    }
};

}  // namespace swboot
