#include "common/text.h"

#include <cstring>

namespace swboot {

int32_t decimalToInt(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    int64_t value = 0;
    bool saturated = false;
    while (*p >= '0' && *p <= '9') {
        if (!saturated) {
            value = value * 10 + (*p - '0');
            if (value > INT64_C(0x80000000)) {
                saturated = true;
            }
        }
        ++p;
    }
    if (negative) {
        value = -value;
    }
    if (saturated || value > INT32_MAX) {
        return negative ? INT32_MIN : INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

bool textIsDecimal(const char* text) {
    const char* p = text;
    while (blank(*p)) {
        ++p;
    }
    if (*p == '+' || *p == '-') {
        ++p;
    }
    const char* digits = p;
    while (*p >= '0' && *p <= '9') {
        ++p;
    }
    if (p == digits) {
        return false;
    }
    while (blank(*p)) {
        ++p;
    }
    return *p == '\0';
}

uint32_t hexToUnsigned(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') {
        ++p;
    }
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit(p[2]) >= 0) {
        p += 2;
    }
    uint64_t value = 0;
    for (; digit(*p) >= 0; ++p) {
        value = value * 16 + static_cast<uint64_t>(digit(*p));
        if (value > UINT32_MAX) {
            return UINT32_MAX;
        }
    }
    return static_cast<uint32_t>(value);
}

char* textToken(char* text, const char* delimiters, char** state) {
    char* p = text != nullptr ? text : *state;
    if (p == nullptr) {
        return nullptr;
    }
    p += std::strspn(p, delimiters);
    if (*p == '\0') {
        *state = nullptr;
        return nullptr;
    }
    char* end = p + std::strcspn(p, delimiters);
    if (*end != '\0') {
        *end = '\0';
        *state = end + 1;
    } else {
        *state = nullptr;
    }
    return p;
}

void textCopy(char* field, size_t fieldSize, const char* source) {
    if (fieldSize == 0) {
        return;
    }
    size_t n = 0;
    while (n + 1 < fieldSize && source[n] != '\0') {
        field[n] = source[n];
        ++n;
    }
    field[n] = '\0';
}

bool textContains(const char* text, const char* part) {
    return std::strstr(text, part) != nullptr;
}

}  // namespace swboot
