// Names on the flash volume, resolved lexically the way the I/O system and
// the FAT file system see them: a device prefix or the current directory,
// components split at "/" (or "\"), "." dropped, ".." taking one component
// back but never above the volume's root. The result is a list of plain
// components below the root, so it can never name anything outside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The volume's device name, and its form without the closing "/".
inline constexpr std::string_view VOLUME_DEVICE_NAME = "/DskVol/";
inline constexpr std::string_view VOLUME_DEVICE_BARE = "/DskVol";

// Components below the volume's root; empty for the root itself.
using VolumePath = std::vector<std::string>;

// Resolves a name. `cwd` is the current directory when it is on the volume,
// nothing when it is "/" (not on any device), which makes relative names
// fail. Returns 0 with the path in `out`, or an error number:
// ERRNO_NOT_FOUND for other devices, host paths and relative names without
// a current directory on the volume, ERRNO_NAME_TOO_LONG for names or
// components that are too long, ERRNO_INVALID for characters a FAT name
// cannot hold.
int volumePathResolve(std::string_view name, const std::optional<VolumePath>& cwd, VolumePath& out);

// The full name: "/DskVol/" for the root, else "/DskVol/files/image1".
std::string volumePathName(const VolumePath& path);

// True when a directory entry of this name can be reached through the
// volume: a plain component without separators or forbidden characters.
bool volumeNameUsable(std::string_view component);

// True when `name` names the device itself ("/DskVol/" or "/DskVol").
bool volumeDeviceNameIs(std::string_view name);

}  // namespace sim
