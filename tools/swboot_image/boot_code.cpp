#include "boot_code.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <zlib.h>

#include "common/bytes.h"

namespace swboot::tool {

namespace {

constexpr uint32_t BRANCH_OPCODE = 0x48000000;  // primary opcode 18, AA = 0, LK = 0
constexpr uint32_t PRIMARY_OPCODE_MASK = 0xFC000000;
constexpr uint32_t BRANCH_OFFSET_MASK = 0x03FFFFFC;
constexpr uint32_t BODY_SIZE = 0x30000;
constexpr uint32_t STUB_WORDS = 16;
constexpr const char* BODY_TEXT = "swboot boot code\n";

}  // namespace

uint32_t branchInstruction(uint32_t from, uint32_t to) {
    return BRANCH_OPCODE | ((to - from) & BRANCH_OFFSET_MASK);
}

std::vector<uint8_t> bootCodeBuild(uint32_t seed) {
    std::vector<uint8_t> code(BOOT_CODE_REGION_SIZE, 0xFF);
    std::memcpy(code.data(), BODY_TEXT, std::strlen(BODY_TEXT));
    uint32_t state = seed;
    for (uint32_t offset = 32; offset < BODY_SIZE; offset += 4) {
        state = state * 1664525u + 1013904223u;
        // Instruction-like words: a handful of primary opcodes, varied operands.
        putBe32(code.data() + offset, ((0x38u + ((state >> 29) & 0x7)) << 24) | ((state >> 8) & 0x00FFFFFF));
    }
    // The reset page: set up, then branch to the body at the region's start.
    const uint32_t page = BOOT_PAGE_BASE - BOOT_CODE_REGION_BASE;
    for (uint32_t i = 0; i + 1 < STUB_WORDS; ++i) {
        putBe32(code.data() + page + 4 * i, 0x60000000);  // nop
    }
    putBe32(code.data() + page + 4 * (STUB_WORDS - 1),
            branchInstruction(BOOT_PAGE_BASE + 4 * (STUB_WORDS - 1), BOOT_CODE_REGION_BASE + 32));
    putBe32(code.data() + (RESET_VECTOR - BOOT_CODE_REGION_BASE), branchInstruction(RESET_VECTOR, BOOT_PAGE_BASE));
    bootCodeSeal(code);
    return code;
}

uint32_t bootCodeCheckValue(std::span<const uint8_t> region) {
    const auto part = [](uLong crc, std::span<const uint8_t> bytes) {
        return crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
    };
    const size_t after = std::min<size_t>(region.size(), CHECK_WORD_OFFSET + 4);
    uLong crc = part(crc32(0L, Z_NULL, 0), region.first(std::min<size_t>(region.size(), CHECK_WORD_OFFSET)));
    return static_cast<uint32_t>(part(crc, region.subspan(after)));
}

void bootCodeSeal(std::span<uint8_t> region) {
    putBe32(region.data() + CHECK_WORD_OFFSET, bootCodeCheckValue(region));
}

std::string bootCodeCheckProblem(std::span<const uint8_t> region) {
    if (region.size() < CHECK_WORD_OFFSET + 4) {
        return "too short to hold its check word";
    }
    const uint32_t held = getBe32(region.data() + CHECK_WORD_OFFSET);
    const uint32_t computed = bootCodeCheckValue(region);
    if (held == computed) {
        return {};
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  "its check word holds 0x%08x but the region's CRC-32 is 0x%08x: it is not one whole boot code",
                  held, computed);
    return text;
}

std::string bootCodeStartProblem(std::span<const uint8_t> code) {
    if (code.size() != BOOT_CODE_REGION_SIZE) {
        return std::to_string(code.size()) + " bytes, not the " + std::to_string(BOOT_CODE_REGION_SIZE) +
               "-byte boot code region: once written, the reset vector at its last word is left erased";
    }
    const uint32_t vector = getBe32(code.data() + (RESET_VECTOR - BOOT_CODE_REGION_BASE));
    if ((vector & PRIMARY_OPCODE_MASK) != BRANCH_OPCODE) {
        char text[96];
        std::snprintf(text, sizeof text, "its last word (the reset vector) is 0x%08x, not an unconditional branch",
                      vector);
        return text;
    }
    return {};
}

}  // namespace swboot::tool
