// The flash translation layer's format record: what a format leaves in the
// first erase unit of the volume's flash window and what a mount looks for.
//
// Layout, all fields big-endian 32-bit words, at offset 0 of unit 0:
//
//   0  magic "FTLR"            24  noOfSpareUnits
//   4  layout version          28  vmAddressingLimit
//   8  record length (52)      32  noOfFatCopies
//  12  first unit of window    36  embeddedCisLength
//  16  units in the window     40  formatFlags
//  20  percentUse              44  bootImageLength
//                              48  CRC-32 of bytes 0..47
//
// An erased unit reads as all 0xFF and so never passes for a record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/volume.h"

namespace sim {

class FlashArray;

struct FormatRecord {
    static constexpr uint32_t MAGIC = 0x46544C52;  // "FTLR"
    static constexpr uint32_t VERSION = 1;
    static constexpr uint32_t LENGTH = 52;

    static constexpr uint32_t OFFSET_MAGIC = 0;
    static constexpr uint32_t OFFSET_VERSION = 4;
    static constexpr uint32_t OFFSET_LENGTH = 8;
    static constexpr uint32_t OFFSET_FIRST_UNIT = 12;
    static constexpr uint32_t OFFSET_UNIT_COUNT = 16;
    static constexpr uint32_t OFFSET_PERCENT_USE = 20;
    static constexpr uint32_t OFFSET_SPARE_UNITS = 24;
    static constexpr uint32_t OFFSET_VM_ADDRESSING_LIMIT = 28;
    static constexpr uint32_t OFFSET_FAT_COPIES = 32;
    static constexpr uint32_t OFFSET_EMBEDDED_CIS_LENGTH = 36;
    static constexpr uint32_t OFFSET_FORMAT_FLAGS = 40;
    static constexpr uint32_t OFFSET_BOOT_IMAGE_LENGTH = 44;
    static constexpr uint32_t OFFSET_CHECK = 48;

    uint32_t firstUnit = 0;
    uint32_t unitCount = 0;
    swboot::TffsFormatParams params;

    std::array<uint8_t, LENGTH> encode() const;
    // The record in the bytes, or nothing when they hold none (wrong magic,
    // version or length, or a check value that does not match).
    static std::optional<FormatRecord> decode(std::span<const uint8_t> bytes);
};

// The flash window of the volume: every unit below the boot code.
inline constexpr uint32_t VOLUME_FIRST_UNIT = 0;
inline constexpr uint32_t VOLUME_UNIT_COUNT = 124;
inline constexpr uint32_t VOLUME_WINDOW_SIZE = 0x01F00000;

// Reads the record at the start of the window; nothing when unit 0 holds
// none or holds one made for another window.
std::optional<FormatRecord> formatRecordRead(const FlashArray& flash);
// Writes the record into the (erased) start of the window.
void formatRecordWrite(FlashArray& flash, const FormatRecord& record);

}  // namespace sim
