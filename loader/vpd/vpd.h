// Vital product data: the unit's 256-byte identity record in "vpd.bin",
// its display, and the generator that asks the operator for it.
//
// The record has no header: MAC address, serial number, description, date
// code, part number and revision at fixed offsets, text fields NUL-ended
// and zero-filled, everything else zero.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board_support/cpld_registers.h"
#include "common/text_sink.h"

namespace swboot {

class Loader;

inline constexpr const char* VPD_FILE_NAME = "vpd.bin";
// The new record is written here first and then renamed over the old one,
// so that "vpd.bin" is always a whole record.
inline constexpr const char* VPD_NEW_FILE_NAME = "vpd.new";

inline constexpr size_t VPD_RECORD_SIZE = 256;
inline constexpr size_t VPD_MAC_OFFSET = 0;
inline constexpr size_t VPD_MAC_SIZE = 6;
inline constexpr size_t VPD_SERIAL_OFFSET = 7;
inline constexpr size_t VPD_SERIAL_SIZE = 21;
inline constexpr size_t VPD_DESCRIPTION_OFFSET = 28;
inline constexpr size_t VPD_DESCRIPTION_SIZE = 80;
inline constexpr size_t VPD_DATE_CODE_OFFSET = 109;
inline constexpr size_t VPD_DATE_CODE_SIZE = 7;
inline constexpr size_t VPD_PART_NUMBER_OFFSET = 116;
inline constexpr size_t VPD_PART_NUMBER_SIZE = 13;
inline constexpr size_t VPD_REVISION_OFFSET = 129;
inline constexpr size_t VPD_REVISION_SIZE = 4;

// Longest answers the generator takes.
inline constexpr size_t VPD_MAC_DIGITS = 12;
inline constexpr size_t VPD_SERIAL_MAX = 20;
inline constexpr size_t VPD_DATE_CODE_MAX = 6;
inline constexpr size_t VPD_PART_NUMBER_MAX = 12;
inline constexpr size_t VPD_REVISION_MAX = 2;

// Variant bits of the CPLD's board-type register.
inline constexpr uint8_t BOARD_TYPE_FIBER_DC = 0x80;
inline constexpr int BOARD_TYPE_48_SHIFT = 4;
inline constexpr uint8_t BOARD_TYPE_48_MASK = 0x3;

// Prints 256 bytes as 16 rows: offset, 16 hex bytes, and a text column
// with "-" for bytes outside 0x20..0x7E.
void vpdDumpPrint(TextSink& out, const uint8_t* bytes);
// The product description for the board kind and board-type register.
const char* vpdDescription(int switchChipCount, uint8_t boardType);

class Vpd {
public:
    explicit Vpd(Loader& loader) : loader_(loader) {}

    // Shows the record: its dump and its fields. A missing file is created
    // empty and shows as zeros.
    void vpdShow();
    // Asks for the unit's data and stores the record; halts when the file
    // cannot be written.
    void vpdGenerate();

private:
    // Prints the prompt and reads one answer; its length.
    size_t answerRead(const char* prompt, char* buffer, int size);
    // Asks until the answer is no longer than the limit and, when asked,
    // holds only letters and digits.
    void textAsk(const char* prompt, char* buffer, int size, size_t limit, bool lettersAndDigits);
    void macAsk(uint8_t* mac);
    [[noreturn]] void writeFailed();

    Loader& loader_;
};

}  // namespace swboot
