// printf-style formatting of the firmware's C library (vsnprintf and
// snprintf), matching the host C library's output for every conversion the
// loader uses, so that both forms of the loader print the same text.

#include <climits>
#include <cstdint>

#include "runtime/runtime.h"

namespace fwrt {

namespace {

// The text being built: characters past the buffer are counted but not
// stored, so the caller learns the length the whole text needs.
class Output {
public:
    Output(char* buffer, size_t size) : buffer_(buffer), size_(size) {}
    void put(char c) {
        if (length_ + 1 < size_) {
            buffer_[length_] = c;
        }
        ++length_;
    }
    void put(const char* text, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            put(text[i]);
        }
    }
    void repeat(char c, int count) {
        for (; count > 0; --count) {
            put(c);
        }
    }
    // Terminates the text; the length it needs, or -1 beyond INT_MAX.
    int finish() {
        if (size_ > 0) {
            buffer_[length_ < size_ ? length_ : size_ - 1] = '\0';
        }
        return length_ > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(length_);
    }

private:
    char* buffer_;
    size_t size_;
    size_t length_ = 0;
};

enum class Length { Default, Char, Short, Long, LongLong, Max, Size, PointerDifference };

struct Conversion {
    bool left = false;       // '-'
    bool plus = false;       // '+'
    bool space = false;      // ' '
    bool alternate = false;  // '#'
    bool zero = false;       // '0'
    int width = 0;
    int precision = -1;      // -1: none given
    Length length = Length::Default;
};

const char* numberRead(const char* p, int& value) {
    value = 0;
    while (*p >= '0' && *p <= '9') {
        // Saturates, so that an absurd width cannot wrap to a negative one.
        value = value > (INT_MAX - 9) / 10 ? INT_MAX : value * 10 + (*p - '0');
        ++p;
    }
    return p;
}

// The argument of a signed conversion, widened.
long long signedArgument(Length length, va_list& args) {
    switch (length) {
    case Length::Char: return static_cast<signed char>(va_arg(args, int));
    case Length::Short: return static_cast<short>(va_arg(args, int));
    case Length::Long: return va_arg(args, long);
    case Length::LongLong: return va_arg(args, long long);
    case Length::Max: return va_arg(args, intmax_t);
    case Length::Size:
    case Length::PointerDifference: return va_arg(args, ptrdiff_t);
    case Length::Default: break;
    }
    return va_arg(args, int);
}

// The argument of an unsigned conversion, widened.
unsigned long long unsignedArgument(Length length, va_list& args) {
    switch (length) {
    case Length::Char: return static_cast<unsigned char>(va_arg(args, unsigned));
    case Length::Short: return static_cast<unsigned short>(va_arg(args, unsigned));
    case Length::Long: return va_arg(args, unsigned long);
    case Length::LongLong: return va_arg(args, unsigned long long);
    case Length::Max: return va_arg(args, uintmax_t);
    case Length::Size:
    case Length::PointerDifference: return va_arg(args, size_t);
    case Length::Default: break;
    }
    return va_arg(args, unsigned);
}

// Digits of a value, written backwards from the end of the buffer; the
// count written. On the 32-bit core a 64-bit division is a library call,
// so values that fit a word are converted with word arithmetic.
template <typename Unsigned>
int digitsWrite(Unsigned value, unsigned base, const char* digitSet, char* end) {
    int count = 0;
    do {
        *--end = digitSet[value % base];
        value /= base;
        ++count;
    } while (value != 0);
    return count;
}

void integerFormat(Output& out, const Conversion& c, unsigned long long magnitude, bool negative, bool isSigned,
                   unsigned base, bool upper) {
    char digits[24];  // 22 octal digits hold 64 bits
    char* end = digits + sizeof digits;
    const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    int count = 0;
    // An explicit precision of 0 prints no digits for the value 0.
    if (magnitude != 0 || c.precision != 0) {
        count = magnitude <= UINT32_MAX ? digitsWrite(static_cast<uint32_t>(magnitude), base, digitSet, end)
                                        : digitsWrite(magnitude, base, digitSet, end);
    }
    int zeros = c.precision > count ? c.precision - count : 0;
    // '#' with octal: the first digit printed is a 0.
    if (c.alternate && base == 8 && zeros == 0 && (count == 0 || end[-count] != '0')) {
        zeros = 1;
    }
    char prefix[2];
    int prefixLength = 0;
    if (negative) {
        prefix[prefixLength++] = '-';
    } else if (isSigned && c.plus) {
        prefix[prefixLength++] = '+';
    } else if (isSigned && c.space) {
        prefix[prefixLength++] = ' ';
    }
    // '#' with hexadecimal: 0x before a value that is not 0.
    if (c.alternate && base == 16 && magnitude != 0) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = upper ? 'X' : 'x';
    }
    int padding = c.width - (prefixLength + zeros + count);
    // The '0' flag pads with zeros after the sign, unless '-' or a
    // precision is given.
    if (c.zero && !c.left && c.precision < 0 && padding > 0) {
        zeros += padding;
        padding = 0;
    }
    if (!c.left) {
        out.repeat(' ', padding);
    }
    out.put(prefix, static_cast<size_t>(prefixLength));
    out.repeat('0', zeros);
    out.put(end - count, static_cast<size_t>(count));
    if (c.left) {
        out.repeat(' ', padding);
    }
}

void textFormat(Output& out, const Conversion& c, const char* text, size_t length) {
    int padding = c.width > static_cast<int>(length) ? c.width - static_cast<int>(length) : 0;
    if (!c.left) {
        out.repeat(' ', padding);
    }
    out.put(text, length);
    if (c.left) {
        out.repeat(' ', padding);
    }
}

}  // namespace

int vsnprintf(char* buffer, size_t size, const char* format, va_list args) {
    Output out(buffer, size);
    va_list list;
    // A copy, so that the helpers can take arguments through a reference on
    // every ABI (va_list is an array type on some).
    va_copy(list, args);
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out.put(*p);
            continue;
        }
        const char* start = p++;
        Conversion c;
        for (;; ++p) {
            if (*p == '-') {
                c.left = true;
            } else if (*p == '+') {
                c.plus = true;
            } else if (*p == ' ') {
                c.space = true;
            } else if (*p == '#') {
                c.alternate = true;
            } else if (*p == '0') {
                c.zero = true;
            } else {
                break;
            }
        }
        if (*p == '*') {
            int width = va_arg(list, int);
            // A negative width from the arguments is a '-' flag and a width.
            if (width < 0) {
                c.left = true;
                width = width == INT_MIN ? INT_MAX : -width;
            }
            c.width = width;
            ++p;
        } else {
            p = numberRead(p, c.width);
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                int precision = va_arg(list, int);
                c.precision = precision < 0 ? -1 : precision;  // negative: as if none was given
                ++p;
            } else {
                p = numberRead(p, c.precision);
            }
        }
        switch (*p) {
        case 'h':
            c.length = p[1] == 'h' ? Length::Char : Length::Short;
            p += p[1] == 'h' ? 2 : 1;
            break;
        case 'l':
            c.length = p[1] == 'l' ? Length::LongLong : Length::Long;
            p += p[1] == 'l' ? 2 : 1;
            break;
        case 'j': c.length = Length::Max; ++p; break;
        case 'z': c.length = Length::Size; ++p; break;
        case 't': c.length = Length::PointerDifference; ++p; break;
        default: break;
        }
        switch (*p) {
        case 'd':
        case 'i': {
            long long value = signedArgument(c.length, list);
            // The magnitude in unsigned arithmetic, which also holds that
            // of the most negative value.
            unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                                     : static_cast<unsigned long long>(value);
            integerFormat(out, c, magnitude, value < 0, true, 10, false);
            break;
        }
        case 'u': integerFormat(out, c, unsignedArgument(c.length, list), false, false, 10, false); break;
        case 'o': integerFormat(out, c, unsignedArgument(c.length, list), false, false, 8, false); break;
        case 'x': integerFormat(out, c, unsignedArgument(c.length, list), false, false, 16, false); break;
        case 'X': integerFormat(out, c, unsignedArgument(c.length, list), false, false, 16, true); break;
        case 'p': {
            const void* pointer = va_arg(list, void*);
            if (pointer == nullptr) {
                textFormat(out, c, "(nil)", 5);
            } else {
                c.alternate = true;
                integerFormat(out, c, reinterpret_cast<uintptr_t>(pointer), false, false, 16, false);
            }
            break;
        }
        case 'c': {
            // A character 0 is written and counted like any other.
            const char character = static_cast<char>(va_arg(list, int));
            textFormat(out, c, &character, 1);
            break;
        }
        case 's': {
            const char* text = va_arg(list, const char*);
            if (text == nullptr) {
                // As the host library: the placeholder when it fits the
                // precision, else nothing.
                text = c.precision < 0 || c.precision >= 6 ? "(null)" : "";
            }
            size_t length = c.precision < 0 ? strlen(text) : strnlen(text, static_cast<size_t>(c.precision));
            textFormat(out, c, text, length);
            break;
        }
        case '%': out.put('%'); break;
        default:
            // Not a conversion of ours: the text is written as it stands.
            if (*p == '\0') {
                out.put(start, static_cast<size_t>(p - start));
                --p;
            } else {
                out.put(start, static_cast<size_t>(p + 1 - start));
            }
            break;
        }
    }
    va_end(list);
    return out.finish();
}

int snprintf(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

}  // namespace fwrt
