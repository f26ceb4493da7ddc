// The firmware's small C library: the string, character, formatting and
// scanning functions the loader and inflate use, with the behaviour of the
// C library of the host form so that both forms print the same text.
//
// Everything here lives in namespace fwrt so that host tests can link it
// beside the host's own C library and compare the two. The firmware gets
// the standard C names from c_symbols.cpp, which forwards to these.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace fwrt {

// <string.h>
void* memcpy(void* destination, const void* source, size_t length);
void* memmove(void* destination, const void* source, size_t length);
void* memset(void* destination, int value, size_t length);
int memcmp(const void* left, const void* right, size_t length);
void* memchr(const void* text, int value, size_t length);
size_t strlen(const char* text);
size_t strnlen(const char* text, size_t limit);
int strcmp(const char* left, const char* right);
char* strncpy(char* destination, const char* source, size_t size);
char* strchr(const char* text, int value);
char* strrchr(const char* text, int value);
size_t strspn(const char* text, const char* accept);
size_t strcspn(const char* text, const char* reject);
char* strstr(const char* text, const char* pattern);

// <ctype.h>, "C" locale: only the ASCII letters change case.
int tolower(int c);
int toupper(int c);

// <stdio.h> formatting. Conversions d i u o x X c s p %, flags - + space #
// 0, width and precision as numbers or *, lengths hh h l ll j z t. The
// result is the length of the whole text, even when it was cut short to
// fit the buffer (size 0 writes nothing, the buffer may then be null).
int vsnprintf(char* buffer, size_t size, const char* format, va_list args);
int snprintf(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

// <stdio.h> scanning. Conversions d i u o x X c s % n, assignment
// suppression *, widths, lengths hh h l ll j z t. The result is the number
// of assignments, or -1 (EOF) when the text ended before the first
// conversion.
int vsscanf(const char* text, const char* format, va_list args);
int sscanf(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));

}  // namespace fwrt

// The platform's fatal stop for what the runtime cannot report to a caller
// (an allocation in operator new that fails, a library precondition that
// would throw on a host): prints the reason and halts the board. Provided
// by the firmware's platform; used only by the firmware's symbol files.
extern "C" [[noreturn]] void firmwareAbort(const char* reason);
