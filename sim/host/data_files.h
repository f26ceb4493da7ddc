// Where the simulator finds the data it ships with: the board profiles,
// the demo operational code and, where the firmware is built, its boot
// code. An installed program (bin/swboot-sim) finds them under
// share/swboot of its own prefix; a program run from its build tree finds
// them in the source and build trees it was built from. Nothing else is
// searched, so an installed simulator never depends on a build tree.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// The directory the running program was started from.
std::filesystem::path programDirectory();

// Where the data is laid out, for a program in the given directory.
struct DataLayout {
    std::filesystem::path profiles;     // NAME.toml
    std::filesystem::path demoCode;     // demo.bin
    std::filesystem::path firmware;     // bootcode.bin
};
DataLayout dataLayout(const std::filesystem::path& programDir);

// A shipped board profile by name ("fiber" or "fiber.toml"), if there is one.
std::optional<std::filesystem::path> shippedProfile(const std::string& name);
// The names of the shipped profiles, sorted.
std::vector<std::string> shippedProfileNames();
// A shipped data file ("demo.bin", "bootcode.bin"), if it is there.
std::optional<std::filesystem::path> shippedDataFile(const std::string& name);

}  // namespace sim
