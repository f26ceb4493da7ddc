// Factory provisioning of a simulated board: what the factory lays down
// before a unit first ships. The state directory gets a formatted flash
// volume holding the unit's vital product data record ("vpd.bin", from the
// board profile's values) and a demo operational code image ("image1",
// with a boot code component), so that the first power-on shows the normal
// boot road.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "board/board_profile.h"
#include "vpd/vpd.h"

namespace sim {

// The VPD record's layout is the loader's own.
using swboot::VPD_RECORD_SIZE;
using swboot::VPD_MAC_OFFSET;
using swboot::VPD_MAC_SIZE;
using swboot::VPD_SERIAL_OFFSET;
using swboot::VPD_SERIAL_SIZE;
using swboot::VPD_DESCRIPTION_OFFSET;
using swboot::VPD_DESCRIPTION_SIZE;
using swboot::VPD_DATE_CODE_OFFSET;
using swboot::VPD_DATE_CODE_SIZE;
using swboot::VPD_PART_NUMBER_OFFSET;
using swboot::VPD_PART_NUMBER_SIZE;
using swboot::VPD_REVISION_OFFSET;
using swboot::VPD_REVISION_SIZE;

// Where the demo code runs.
inline constexpr uint32_t DEMO_CODE_LOAD_ADDRESS = 0x00010000;
inline constexpr size_t DEMO_CODE_SIZE = 512 * 1024;
inline constexpr size_t DEMO_BOOT_CODE_SIZE = 1024 * 1024;  // the whole boot code region

// Number of switch chips the loader will count on this board's PCI bus.
int switchChipCount(const BoardProfile& profile);
// The product description a factory writes for this board.
std::string productDescription(const BoardProfile& profile);
// The VPD record for the profile's values; throws std::invalid_argument
// naming a value that does not fit its field or its rules.
std::array<uint8_t, VPD_RECORD_SIZE> vpdRecord(const BoardProfile& profile);

// The demo operational code built for the board's e500 at the build of the
// simulator; empty when the cross compiler was missing then.
std::span<const uint8_t> demoCodeBinary();
// The demo operational code (the built one, or deterministic placeholder
// bytes without it) and boot code (deterministic contents).
std::vector<uint8_t> demoOperationalCode();
std::vector<uint8_t> demoBootCode();
// The demo image file, as swboot-image would build it.
std::vector<uint8_t> demoImage();

// Provisions the state directory. Refuses (std::runtime_error) a directory
// that already holds a board unless overwrite is set, since provisioning
// formats the volume.
void provisionBoard(const std::filesystem::path& stateDir, const BoardProfile& profile, bool overwrite);

}  // namespace sim
