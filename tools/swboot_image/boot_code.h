// Boot code of the shape the board starts from: exactly the 1 MiB boot code
// region (0xFFF00000 to 0xFFFFFFFF), a body of code at its start, erased
// (0xFF) filler, and in the last 4 KiB page -- the only page the e500 core
// maps at reset -- a short start-up stub, with the reset vector at
// 0xFFFFFFFC an unconditional branch back to the start of that page.
//
// The body opens with a check word: the CRC-32 of the whole region with the
// check word's own four bytes left out, by which a copy of the region can be
// told whole. Starting does not depend on it: a boot code made elsewhere has
// none, and the simulated board tells a region an update left torn by what
// happened to its flash blocks.
//
// swboot-image puts it into images built without a boot code file, and the
// simulated board's factory programs it into a new flash.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace swboot::tool {

inline constexpr uint32_t BOOT_CODE_REGION_BASE = 0xFFF00000;
inline constexpr uint32_t BOOT_CODE_REGION_SIZE = 0x00100000;
inline constexpr uint32_t BOOT_PAGE_BASE = 0xFFFFF000;
inline constexpr uint32_t RESET_VECTOR = 0xFFFFFFFC;
inline constexpr uint32_t CHECK_WORD_OFFSET = 28;

// An unconditional relative branch ("b") at the address to the target.
uint32_t branchInstruction(uint32_t from, uint32_t to);

// The boot code; the seed varies the body so that two builds can be told
// apart, the shape is always the same.
std::vector<uint8_t> bootCodeBuild(uint32_t seed);

// The CRC-32 the check word must hold for this region.
uint32_t bootCodeCheckValue(std::span<const uint8_t> region);
// Writes the check word for the rest of the region.
void bootCodeSeal(std::span<uint8_t> region);
// Why the region's check word does not match, or an empty text.
std::string bootCodeCheckProblem(std::span<const uint8_t> region);

// Whether the board could start from this boot code once option 7 has
// written it: the update erases the whole region first, so the code must
// fill the region and end with an unconditional branch at the reset vector
// (what option 7 checks before it erases anything).
// Empty text when it can, otherwise why not.
std::string bootCodeStartProblem(std::span<const uint8_t> code);

}  // namespace swboot::tool
