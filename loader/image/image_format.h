// Byte layout of OPR images and STK containers.
//
// An OPR image is a 1220-byte image header followed by the data of its
// components; an STK container wraps several OPR images for different
// targets. Both carry the image CRC-16 of the rest of the file in their
// first two bytes. Fields are big-endian and read by offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/bytes.h"

namespace swboot {

inline constexpr uint32_t IMAGE_HEADER_SIZE = 1220;
inline constexpr uint32_t IMAGE_SIZE_MAX = 0x1000000;
inline constexpr uint32_t DEVICE_TARGET_ID = 0x00508541;

// Image header field offsets.
inline constexpr size_t IMAGE_CRC_OFFSET = 0;
inline constexpr size_t IMAGE_TARGET_OFFSET = 4;
inline constexpr size_t IMAGE_SIZE_OFFSET = 8;
inline constexpr size_t IMAGE_COMPONENT_COUNT_OFFSET = 12;
inline constexpr size_t IMAGE_COMPONENT_TABLE_OFFSET = 16;
inline constexpr size_t IMAGE_COMPONENTS_MAX = 16;
inline constexpr size_t COMPONENT_DESCRIPTOR_SIZE = 48;
inline constexpr size_t IMAGE_VPD_REL_OFFSET = 784;
inline constexpr size_t IMAGE_VPD_VER_OFFSET = 785;
inline constexpr size_t IMAGE_VPD_MAINT_LVL_OFFSET = 786;
inline constexpr size_t IMAGE_VPD_BUILD_NUM_OFFSET = 787;
inline constexpr size_t IMAGE_TIMESTAMP_OFFSET = 788;
inline constexpr size_t IMAGE_TIMESTAMP_SIZE = 32;
inline constexpr size_t IMAGE_FILE_OFFSET = 820;
inline constexpr size_t IMAGE_FILE_SIZE = 400;

// Component descriptor field offsets, from the descriptor's start.
inline constexpr size_t COMPONENT_CRC_OFFSET = 0;
inline constexpr size_t COMPONENT_VERSION_OFFSET = 8;
inline constexpr size_t COMPONENT_SIZE_OFFSET = 12;
inline constexpr size_t COMPONENT_DATA_OFFSET = 16;
inline constexpr size_t COMPONENT_LOAD_ADDRESS_OFFSET = 20;
inline constexpr size_t COMPONENT_FLASH_FLAG_OFFSET = 28;

inline constexpr size_t COMPONENT_OPERATIONAL_CODE = 0;
inline constexpr size_t COMPONENT_BOOT_CODE = 1;

// STK container.
inline constexpr uint16_t STK_SIGNATURE_16 = 0xAA55;      // bytes 2-3
inline constexpr uint32_t STK_SIGNATURE_32 = 0x2288BB66;  // bytes 4-7
inline constexpr size_t STK_ENTRY_COUNT_OFFSET = 8;
inline constexpr size_t STK_SIZE_OFFSET = 12;
inline constexpr size_t STK_HEADER_LENGTH_OFFSET = 20;
inline constexpr size_t STK_ENTRY_TABLE_OFFSET = 88;
inline constexpr size_t STK_ENTRY_SIZE = 28;
inline constexpr size_t STK_ENTRY_IMAGE_OFFSET = 0;
inline constexpr size_t STK_ENTRY_TARGET_OFFSET = 4;
inline constexpr size_t STK_HEADER_LENGTH_MAX = 316;
inline constexpr size_t STK_ENTRIES_MAX = (STK_HEADER_LENGTH_MAX - STK_ENTRY_TABLE_OFFSET) / STK_ENTRY_SIZE;
// Bytes read to tell a container from an image: the fixed part up to the entry table.
inline constexpr size_t STK_FIXED_PART_SIZE = STK_ENTRY_TABLE_OFFSET;

// True when the first eight bytes of a file carry the container signature.
inline bool stkSignaturePresent(const uint8_t* first8) {
    return getBe16(first8 + 2) == STK_SIGNATURE_16 && getBe32(first8 + 4) == STK_SIGNATURE_32;
}

// Length covered by a file's CRC, from its first 16 bytes: the container's
// Size for a container, else the image's Size.
inline uint32_t imageCheckedLength(const uint8_t* first16) {
    return stkSignaturePresent(first16) ? getBe32(first16 + STK_SIZE_OFFSET)
                                        : getBe32(first16 + IMAGE_SIZE_OFFSET);
}

// The image header of an OPR image, kept as its bytes.
class ImageHeader {
public:
    uint8_t bytes[IMAGE_HEADER_SIZE] = {};

    void clear() { std::memset(bytes, 0, sizeof bytes); }

    uint16_t crc() const { return getBe16(bytes + IMAGE_CRC_OFFSET); }
    uint32_t targetDevice() const { return getBe32(bytes + IMAGE_TARGET_OFFSET); }
    uint32_t size() const { return getBe32(bytes + IMAGE_SIZE_OFFSET); }
    uint32_t componentCount() const { return getBe32(bytes + IMAGE_COMPONENT_COUNT_OFFSET); }

    uint16_t componentCrc(size_t i) const { return getBe16(descriptor(i) + COMPONENT_CRC_OFFSET); }
    uint32_t componentVersion(size_t i) const { return getBe32(descriptor(i) + COMPONENT_VERSION_OFFSET); }
    uint32_t componentSize(size_t i) const { return getBe32(descriptor(i) + COMPONENT_SIZE_OFFSET); }
    uint32_t componentOffset(size_t i) const { return getBe32(descriptor(i) + COMPONENT_DATA_OFFSET); }
    uint32_t componentLoadAddress(size_t i) const {
        return getBe32(descriptor(i) + COMPONENT_LOAD_ADDRESS_OFFSET);
    }
    uint32_t componentFlashFlag(size_t i) const {
        return getBe32(descriptor(i) + COMPONENT_FLASH_FLAG_OFFSET);
    }
    void setComponentOffset(size_t i, uint32_t offset) {
        putBe32(descriptor(i) + COMPONENT_DATA_OFFSET, offset);
    }

    uint8_t vpdRel() const { return bytes[IMAGE_VPD_REL_OFFSET]; }
    uint8_t vpdVer() const { return bytes[IMAGE_VPD_VER_OFFSET]; }
    uint8_t vpdMaintLvl() const { return bytes[IMAGE_VPD_MAINT_LVL_OFFSET]; }
    uint8_t vpdBuildNum() const { return bytes[IMAGE_VPD_BUILD_NUM_OFFSET]; }

    // The text fields, cut at their field's end when the image gives no
    // terminating zero. The buffers must hold the field size plus one.
    void timestamp(char (&text)[IMAGE_TIMESTAMP_SIZE + 1]) const {
        fieldText(IMAGE_TIMESTAMP_OFFSET, IMAGE_TIMESTAMP_SIZE, text);
    }
    void fileText(char (&text)[IMAGE_FILE_SIZE + 1]) const {
        fieldText(IMAGE_FILE_OFFSET, IMAGE_FILE_SIZE, text);
    }

private:
    const uint8_t* descriptor(size_t i) const {
        return bytes + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE * (i % IMAGE_COMPONENTS_MAX);
    }
    uint8_t* descriptor(size_t i) {
        return bytes + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE * (i % IMAGE_COMPONENTS_MAX);
    }
    void fieldText(size_t offset, size_t size, char* text) const {
        std::memcpy(text, bytes + offset, size);
        text[size] = '\0';
    }
};

}  // namespace swboot

namespace swboot {

// Board memory that started code may be inflated into: RAM from 0 to the
// top of memory, less the staging area that holds the image file while its
// code is inflated.
inline constexpr uint32_t RAM_TOP = 0x10000000;
inline constexpr uint32_t STAGING_AREA_BASE = 0x02000000;
inline constexpr uint32_t STAGING_AREA_SIZE = 0x01000000;

// The end (exclusive) of the memory that code inflated to the load address
// may fill, or 0 when the load address itself is not allowed.
inline uint32_t inflateLimit(uint32_t loadAddress) {
    if (loadAddress < STAGING_AREA_BASE) {
        return STAGING_AREA_BASE;
    }
    if (loadAddress >= STAGING_AREA_BASE + STAGING_AREA_SIZE && loadAddress < RAM_TOP) {
        return RAM_TOP;
    }
    return 0;
}

}  // namespace swboot
