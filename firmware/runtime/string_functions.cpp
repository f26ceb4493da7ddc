// The string and character functions of the firmware's C library.
//
// memcpy and memset move whole words when the alignment allows, because
// the loader copies and clears megabytes (staging area, inflated code) with
// them; the rest work byte by byte.

#include <cstdint>

#include "runtime/runtime.h"

// These functions are what the compiler's own calls to memcpy and memset end
// in on the firmware: the compiler must not turn their loops back into such
// calls, which would recurse.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-loop-distribute-patterns")
#endif

namespace fwrt {

namespace {

// A word that may hold any object's bytes, so the word loops below do not
// break the aliasing rules the optimiser relies on.
using Word = uint32_t __attribute__((may_alias));
constexpr uintptr_t WORD_MASK = sizeof(Word) - 1;

bool wordAligned(const void* pointer) { return (reinterpret_cast<uintptr_t>(pointer) & WORD_MASK) == 0; }

}  // namespace

void* memcpy(void* destination, const void* source, size_t length) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    if (wordAligned(to) && wordAligned(from)) {
        for (; length >= sizeof(Word); length -= sizeof(Word)) {
            *reinterpret_cast<Word*>(to) = *reinterpret_cast<const Word*>(from);
            to += sizeof(Word);
            from += sizeof(Word);
        }
    }
    while (length-- > 0) {
        *to++ = *from++;
    }
    return destination;
}

void* memmove(void* destination, const void* source, size_t length) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    // Forward unless the destination starts inside the source, where a
    // forward copy would overwrite bytes before reading them.
    if (to <= from || to >= from + length) {
        return memcpy(destination, source, length);
    }
    while (length-- > 0) {
        to[length] = from[length];
    }
    return destination;
}

void* memset(void* destination, int value, size_t length) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto byte = static_cast<unsigned char>(value);
    while (length > 0 && !wordAligned(to)) {
        *to++ = byte;
        --length;
    }
    const Word word = byte * 0x01010101u;
    for (; length >= sizeof(Word); length -= sizeof(Word)) {
        *reinterpret_cast<Word*>(to) = word;
        to += sizeof(Word);
    }
    while (length-- > 0) {
        *to++ = byte;
    }
    return destination;
}

int memcmp(const void* left, const void* right, size_t length) {
    const auto* a = static_cast<const unsigned char*>(left);
    const auto* b = static_cast<const unsigned char*>(right);
    for (size_t i = 0; i < length; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return 0;
}

void* memchr(const void* text, int value, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(text);
    const auto wanted = static_cast<unsigned char>(value);
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] == wanted) {
            return const_cast<unsigned char*>(bytes + i);
        }
    }
    return nullptr;
}

size_t strlen(const char* text) {
    size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

size_t strnlen(const char* text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length] != '\0') {
        ++length;
    }
    return length;
}

int strcmp(const char* left, const char* right) {
    // Characters compare as unsigned char, as the C library does.
    const auto* a = reinterpret_cast<const unsigned char*>(left);
    const auto* b = reinterpret_cast<const unsigned char*>(right);
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

char* strncpy(char* destination, const char* source, size_t size) {
    size_t i = 0;
    for (; i < size && source[i] != '\0'; ++i) {
        destination[i] = source[i];
    }
    // The rest of the field is filled with zeros, not just terminated.
    for (; i < size; ++i) {
        destination[i] = '\0';
    }
    return destination;
}

char* strchr(const char* text, int value) {
    const char wanted = static_cast<char>(value);
    for (;; ++text) {
        if (*text == wanted) {
            return const_cast<char*>(text);  // the terminator itself can be found
        }
        if (*text == '\0') {
            return nullptr;
        }
    }
}

char* strrchr(const char* text, int value) {
    const char wanted = static_cast<char>(value);
    const char* found = nullptr;
    for (;; ++text) {
        if (*text == wanted) {
            found = text;
        }
        if (*text == '\0') {
            return const_cast<char*>(found);
        }
    }
}

size_t strspn(const char* text, const char* accept) {
    size_t length = 0;
    while (text[length] != '\0' && strchr(accept, text[length]) != nullptr) {
        ++length;
    }
    return length;
}

size_t strcspn(const char* text, const char* reject) {
    size_t length = 0;
    while (text[length] != '\0' && strchr(reject, text[length]) == nullptr) {
        ++length;
    }
    return length;
}

char* strstr(const char* text, const char* pattern) {
    const size_t patternLength = strlen(pattern);
    // memcmp stops at the first difference, so it never reads past the
    // text's terminator, which differs from any character of the pattern.
    for (;; ++text) {
        if (memcmp(text, pattern, patternLength) == 0) {
            return const_cast<char*>(text);
        }
        if (*text == '\0') {
            return nullptr;
        }
    }
}

int tolower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

int toupper(int c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

}  // namespace fwrt
