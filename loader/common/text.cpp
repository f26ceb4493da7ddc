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
