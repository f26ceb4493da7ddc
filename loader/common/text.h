// Small text helpers with the C library's semantics where the loader relies
// on them, and bounded copies into the loader's fixed text fields.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

// Decimal conversion in the manner of atoi/strtol on the board (32-bit
// long): leading blanks and a sign are allowed, conversion stops at the
// first non-digit, no digits give 0, values beyond the range saturate.
int32_t decimalToInt(const char* text);

// True when decimalToInt reads the text as a number rather than as 0 for
// want of one: after leading blanks and an optional sign, one or more
// decimal digits, followed by nothing but blanks.
bool textIsDecimal(const char* text);

// Unsigned hexadecimal conversion in the manner of strtoul with base 16 on
// the board: leading blanks and an optional 0x are allowed, conversion stops
// at the first character that is not a hex digit, no digits (or a null
// text) give 0, values beyond 32 bits saturate.
uint32_t hexToUnsigned(const char* text);

// Re-entrant tokeniser in the manner of strtok_r: the first call passes the
// text, later calls null with the same state. Runs of delimiters separate
// tokens; null when no token is left. The text is changed in place.
char* textToken(char* text, const char* delimiters, char** state);

// Copies at most fieldSize-1 characters and always terminates the field.
void textCopy(char* field, size_t fieldSize, const char* source);

// True when the text contains the other text anywhere.
bool textContains(const char* text, const char* part);

}  // namespace swboot
