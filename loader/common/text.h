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

// Copies at most fieldSize-1 characters and always terminates the field.
void textCopy(char* field, size_t fieldSize, const char* source);

// True when the text contains the other text anywhere.
bool textContains(const char* text, const char* part);

}  // namespace swboot
