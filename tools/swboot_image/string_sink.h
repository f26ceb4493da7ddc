// A TextSink that collects printf-style text in a string, so that the field
// lines the loader prints can be written to any stream or compared in tests.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/text_sink.h"

namespace swboot::tool {

class StringSink : public TextSink {
public:
    using TextSink::printf;
    int vprintf(const char* format, va_list args) override {
        va_list again;
        va_copy(again, args);
        int n = std::vsnprintf(nullptr, 0, format, args);
        if (n > 0) {
            size_t start = text_.size();
            text_.resize(start + static_cast<size_t>(n) + 1);
            std::vsnprintf(text_.data() + start, static_cast<size_t>(n) + 1, format, again);
            text_.resize(start + static_cast<size_t>(n));
        }
        va_end(again);
        return n;
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace swboot::tool
