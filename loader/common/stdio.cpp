#include "common/stdio.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/status.h"

namespace swboot {

int Stdio::vprintf(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) {
        return n;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        write(small, static_cast<size_t>(n));
    } else {
        std::string large(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(large.data(), large.size(), format, args);
        write(large.data(), static_cast<size_t>(n));
    }
    return n;
}

void Stdio::puts(const char* text) { write(text, std::strlen(text)); }

int Stdio::eprintf(const char* format, ...) {
    flush();
    char text[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0) {
        size_t length = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
        console_.write(reinterpret_cast<const uint8_t*>(text), length);
    }
    return n;
}

void Stdio::write(const char* text, size_t length) {
    bool lineEnd = std::memchr(text, '\n', length) != nullptr;
    while (length > 0) {
        size_t room = sizeof out_ - outLength_;
        size_t take = length < room ? length : room;
        std::memcpy(out_ + outLength_, text, take);
        outLength_ += take;
        text += take;
        length -= take;
        if (outLength_ == sizeof out_) {
            flush();
        }
    }
    if (lineEnd) {
        flush();
    }
}

int Stdio::flush() {
    int result = OK;
    size_t sent = 0;
    while (sent < outLength_) {
        long n = console_.write(reinterpret_cast<const uint8_t*>(out_) + sent, outLength_ - sent);
        if (n <= 0) {
            result = ERROR;
            break;
        }
        sent += static_cast<size_t>(n);
    }
    outLength_ = 0;
    return result;
}

int Stdio::inputByte() {
    if (inStart_ == inEnd_) {
        long n = console_.read(in_, sizeof in_);
        if (n <= 0) {
            return -1;
        }
        inStart_ = 0;
        inEnd_ = static_cast<size_t>(n);
    }
    return in_[inStart_++];
}

bool Stdio::lineRead(char* buffer, size_t size) {
    flush();
    size_t count = 0;
    bool any = false;
    for (;;) {
        int c = inputByte();
        if (c < 0) {
            break;
        }
        any = true;
        if (c == '\n') {
            break;
        }
        if (count + 1 < size) {
            buffer[count++] = static_cast<char>(c);
        }
    }
    if (size > 0) {
        buffer[count] = '\0';
    }
    return any;
}

char* Stdio::fgets(char* buffer, int size) {
    flush();
    if (size <= 0) {
        return nullptr;
    }
    int count = 0;
    while (count + 1 < size) {
        int c = inputByte();
        if (c < 0) {
            break;
        }
        buffer[count++] = static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    buffer[count] = '\0';
    return count > 0 ? buffer : nullptr;
}

int Stdio::inputWait(int64_t microseconds) {
    if (inStart_ != inEnd_) {
        return 1;
    }
    return console_.waitReadable(microseconds);
}

}  // namespace swboot
