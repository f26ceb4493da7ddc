#include "text_format.h"

#include <cstdarg>
#include <cstdio>

namespace swboot::tool {

std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), pattern, again);
        text.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return text;
}

}  // namespace swboot::tool
