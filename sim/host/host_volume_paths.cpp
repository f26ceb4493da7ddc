#include "host/host_volume_paths.h"

#include "platform/files.h"

namespace sim {

namespace {

bool separatorIs(char c) { return c == '/' || c == '\\'; }

// Characters a FAT long name cannot hold ("/" and "\" separate components).
bool nameCharacterForbidden(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
        return true;
    }
    switch (c) {
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        return false;
    }
}

// 0 when a plain component (not "." or "..") can be held by the volume.
int componentError(std::string_view component) {
    if (component.size() > swboot::NAME_MAX_LENGTH) {
        return swboot::ERRNO_NAME_TOO_LONG;
    }
    for (char c : component) {
        if (nameCharacterForbidden(c)) {
            return swboot::ERRNO_INVALID;
        }
    }
    return 0;
}

}  // namespace

bool volumeNameUsable(std::string_view component) {
    if (component.empty() || component == "." || component == "..") {
        return false;
    }
    for (char c : component) {
        if (separatorIs(c)) {
            return false;
        }
    }
    return componentError(component) == 0;
}

bool volumeDeviceNameIs(std::string_view name) {
    return name == VOLUME_DEVICE_NAME || name == VOLUME_DEVICE_BARE;
}

int volumePathResolve(std::string_view name, const std::optional<VolumePath>& cwd, VolumePath& out) {
    if (name.empty()) {
        return swboot::ERRNO_NOT_FOUND;
    }
    if (name.size() > swboot::PATH_MAX_LENGTH) {
        return swboot::ERRNO_NAME_TOO_LONG;
    }

    VolumePath path;
    std::string_view rest;
    if (name.substr(0, VOLUME_DEVICE_BARE.size()) == VOLUME_DEVICE_BARE &&
        (name.size() == VOLUME_DEVICE_BARE.size() || separatorIs(name[VOLUME_DEVICE_BARE.size()]))) {
        rest = name.substr(VOLUME_DEVICE_BARE.size());
    } else if (separatorIs(name[0])) {
        // Another device, or a host path: nothing of the volume.
        return swboot::ERRNO_NOT_FOUND;
    } else if (!cwd) {
        return swboot::ERRNO_NOT_FOUND;
    } else {
        path = *cwd;
        rest = name;
    }

    size_t pos = 0;
    while (pos < rest.size()) {
        while (pos < rest.size() && separatorIs(rest[pos])) {
            ++pos;
        }
        size_t end = pos;
        while (end < rest.size() && !separatorIs(rest[end])) {
            ++end;
        }
        const std::string_view component = rest.substr(pos, end - pos);
        pos = end;
        if (component.empty() || component == ".") {
            continue;
        }
        if (component == "..") {
            if (!path.empty()) {
                path.pop_back();
            }
            continue;
        }
        if (const int error = componentError(component); error != 0) {
            return error;
        }
        path.emplace_back(component);
    }

    // Every name the volume hands out (getcwd among them) must fit too.
    if (volumePathName(path).size() > swboot::PATH_MAX_LENGTH) {
        return swboot::ERRNO_NAME_TOO_LONG;
    }
    out = std::move(path);
    return 0;
}

std::string volumePathName(const VolumePath& path) {
    if (path.empty()) {
        return std::string(VOLUME_DEVICE_NAME);
    }
    std::string name(VOLUME_DEVICE_BARE);
    for (const auto& component : path) {
        name += '/';
        name += component;
    }
    return name;
}

}  // namespace sim
