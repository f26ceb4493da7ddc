// scanf-style reading of the firmware's C library (vsscanf and sscanf),
// following the host C library's rules for what a conversion takes from
// the text and for the count it returns, so that both forms of the loader
// read the same values from the same text (a YMODEM header, for one).

#include <climits>
#include <cstdint>

#include "runtime/runtime.h"

namespace fwrt {

namespace {

enum class Length { Default, Char, Short, Long, LongLong, Max, Size, PointerDifference };

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Value of a digit in a base, or -1.
int digitValue(char c, unsigned base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

// The number the text holds, as the host library's strtol/strtoul family
// gives it: out of range, a signed value saturates at the limits of long
// (long long for the wider lengths), an unsigned one at the maximum; a
// negative unsigned value wraps around.
unsigned long long numberValue(unsigned long long magnitude, bool overflow, bool negative, bool isSigned, bool wide) {
    if (isSigned) {
        const unsigned long long maximum = wide ? LLONG_MAX : LONG_MAX;
        if (overflow || magnitude > maximum + (negative ? 1 : 0)) {
            return negative ? 0ULL - maximum - 1 : maximum;  // the minimum is -(maximum + 1)
        }
        return negative ? 0ULL - magnitude : magnitude;
    }
    const unsigned long long maximum = wide ? ULLONG_MAX : ULONG_MAX;
    if (overflow || magnitude > maximum) {
        return maximum;
    }
    return (negative ? 0ULL - magnitude : magnitude) & maximum;
}

void integerStore(Length length, unsigned long long value, va_list& args) {
    switch (length) {
    case Length::Char: *va_arg(args, char*) = static_cast<char>(value); break;
    case Length::Short: *va_arg(args, short*) = static_cast<short>(value); break;
    case Length::Long: *va_arg(args, long*) = static_cast<long>(value); break;
    case Length::LongLong: *va_arg(args, long long*) = static_cast<long long>(value); break;
    case Length::Max: *va_arg(args, intmax_t*) = static_cast<intmax_t>(value); break;
    case Length::Size: *va_arg(args, size_t*) = static_cast<size_t>(value); break;
    case Length::PointerDifference: *va_arg(args, ptrdiff_t*) = static_cast<ptrdiff_t>(value); break;
    case Length::Default: *va_arg(args, int*) = static_cast<int>(value); break;
    }
}

// Whether a length's objects are wider than long, which decides between
// the long and the long long conversions.
bool wide(Length length) {
    switch (length) {
    case Length::LongLong: return sizeof(long long) > sizeof(long);
    case Length::Max: return sizeof(intmax_t) > sizeof(long);
    case Length::Size: return sizeof(size_t) > sizeof(long);
    case Length::PointerDifference: return sizeof(ptrdiff_t) > sizeof(long);
    default: return false;
    }
}

}  // namespace

int vsscanf(const char* text, const char* format, va_list args) {
    va_list list;
    va_copy(list, args);
    const char* in = text;
    int done = 0;
    // The text ended where a directive still needed some: the count, or EOF
    // when nothing was assigned yet.
    bool inputFailure = false;
    bool skipSpace = false;
    for (const char* f = format; *f != '\0'; ++f) {
        if (isSpace(*f)) {
            skipSpace = true;
            continue;
        }
        if (*f != '%' || f[1] == '%') {
            if (*f == '%') {
                ++f;
            }
            if (skipSpace || *f == '%') {
                while (isSpace(*in)) {
                    ++in;
                }
                skipSpace = false;
            }
            if (*in == '\0') {
                inputFailure = true;
                break;
            }
            if (*in != *f) {
                break;
            }
            ++in;
            continue;
        }
        ++f;
        bool suppress = false;
        if (*f == '*') {
            suppress = true;
            ++f;
        }
        int width = 0;  // 0: no limit
        while (*f >= '0' && *f <= '9') {
            width = width > (INT_MAX - 9) / 10 ? INT_MAX : width * 10 + (*f - '0');
            ++f;
        }
        Length length = Length::Default;
        switch (*f) {
        case 'h':
            length = f[1] == 'h' ? Length::Char : Length::Short;
            f += f[1] == 'h' ? 2 : 1;
            break;
        case 'l':
            length = f[1] == 'l' ? Length::LongLong : Length::Long;
            f += f[1] == 'l' ? 2 : 1;
            break;
        case 'j': length = Length::Max; ++f; break;
        case 'z': length = Length::Size; ++f; break;
        case 't': length = Length::PointerDifference; ++f; break;
        default: break;
        }
        const char conversion = *f;
        if (conversion == '\0') {
            break;
        }
        // Conversions other than %c and %n start at the next non-space;
        // those two only after a space in the format.
        if (skipSpace || (conversion != 'c' && conversion != 'n')) {
            while (isSpace(*in)) {
                ++in;
            }
        }
        skipSpace = false;
        if (conversion == 'n') {
            if (!suppress) {
                integerStore(length, static_cast<unsigned long long>(in - text), list);
            }
            continue;
        }
        if (*in == '\0') {
            inputFailure = true;
            break;
        }
        if (conversion == 'c' || conversion == 's') {
            if (width == 0) {
                width = conversion == 'c' ? 1 : INT_MAX;
            }
            char* to = suppress ? nullptr : va_arg(list, char*);
            int taken = 0;
            for (; taken < width && *in != '\0' && (conversion == 'c' || !isSpace(*in)); ++taken) {
                if (to != nullptr) {
                    *to++ = *in;
                }
                ++in;
            }
            if (to != nullptr && conversion == 's') {
                *to = '\0';
            }
            done += suppress ? 0 : 1;
            continue;
        }
        unsigned base = 0;
        bool isSigned = false;
        switch (conversion) {
        case 'd': base = 10; isSigned = true; break;
        case 'i': base = 0; isSigned = true; break;
        case 'u': base = 10; break;
        case 'o': base = 8; break;
        case 'x':
        case 'X': base = 16; break;
        default: va_end(list); return done;  // not a conversion of ours: a matching failure
        }
        // The number as the host library reads it: a sign, then for base 16
        // (or 0) an optional 0x, then digits, all within the width. Only
        // the first character after the number is left in the text, so "0x"
        // with no hexadecimal digit after it reads as 0 and takes the x.
        int left = width == 0 ? -1 : width;
        bool negative = false;
        bool anyDigit = false;
        if (*in == '-' || *in == '+') {
            negative = *in == '-';
            ++in;
            --left;
        }
        if (left != 0 && *in == '0') {
            anyDigit = true;
            ++in;
            --left;
            if (left != 0 && (*in == 'x' || *in == 'X') && (base == 0 || base == 16)) {
                base = 16;
                ++in;
                --left;
            } else if (base == 0) {
                base = 8;
            }
        }
        if (base == 0) {
            base = 10;
        }
        unsigned long long magnitude = 0;
        bool overflow = false;
        for (int digit; left != 0 && (digit = digitValue(*in, base)) >= 0; ++in, --left) {
            anyDigit = true;
            if (magnitude > (ULLONG_MAX - static_cast<unsigned>(digit)) / base) {
                overflow = true;
            }
            magnitude = magnitude * base + static_cast<unsigned>(digit);
        }
        if (!anyDigit) {
            break;  // a matching failure: no number here
        }
        if (!suppress) {
            integerStore(length, numberValue(magnitude, overflow, negative, isSigned, wide(length)), list);
            ++done;
        }
    }
    va_end(list);
    return inputFailure && done == 0 ? -1 : done;
}

int sscanf(const char* text, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsscanf(text, format, args);
    va_end(args);
    return n;
}

}  // namespace fwrt
