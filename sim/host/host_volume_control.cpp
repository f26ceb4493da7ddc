// The host volume's control face for the simulator and tests: host paths,
// planting and reading files behind the volume's back, listing what is stored.
#include "host/host_volume.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "host/host_volume_lookup.h"

namespace sim {

namespace {

// A volume name of the control face: relative names are taken from the
// root. Throws std::invalid_argument for a name that is not on the volume.
VolumePath controlPath(std::string_view name) {
    const bool onDevice = name.substr(0, VOLUME_DEVICE_BARE.size()) == VOLUME_DEVICE_BARE;
    VolumePath path;
    if (volumePathResolve(name, onDevice ? std::nullopt : std::optional<VolumePath>(VolumePath{}), path) != 0) {
        throw std::invalid_argument("not a name on the volume: " + std::string(name));
    }
    return path;
}

}  // namespace

std::filesystem::path HostVolume::hostPath(std::string_view name) const {
    const VolumePath path = controlPath(name);
    if (hostRoot_.empty()) {
        throw std::logic_error("the volume is kept in memory, not in a host directory");
    }
    std::filesystem::path result = hostRoot_;
    for (const auto& component : path) {
        result /= component;
    }
    return result;
}

void HostVolume::filePlant(std::string_view name, std::string_view bytes) {
    const VolumePath path = controlPath(name);
    if (path.empty()) {
        throw std::invalid_argument("the volume's root is not a file");
    }
    // Missing directories on the way are made, as by "mkdir -p".
    store_->rootMake();
    StoreHandle directory(*store_);
    int error = store_->rootOpen(directory.out());
    for (size_t i = 0; error == 0 && i + 1 < path.size(); ++i) {
        EntryStatus status;
        error = store_->statAt(directory.get(), path[i], status);
        if (error == 0 && status.kind == EntryKind::Missing) {
            error = store_->mkdirAt(directory.get(), path[i]);
        }
        StoreHandle next(*store_);
        if (error == 0) {
            error = store_->directoryOpenAt(directory.get(), path[i], next.out());
        }
        directory = std::move(next);
    }
    EntryStatus leaf;
    if (error == 0) {
        error = store_->statAt(directory.get(), path.back(), leaf);
    }
    StoreHandle file(*store_);
    if (error == 0) {
        error = store_->fileOpenAt(directory.get(), path.back(), StoreAccess::Write, leaf.kind == EntryKind::Missing,
                                   true, file.out());
    }
    size_t written = 0;
    if (error == 0) {
        error = store_->write(file.get(), reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), written);
    }
    if (error != 0) {
        throw std::runtime_error("cannot plant " + std::string(name) + " on the volume");
    }
    stamp(file.get());
}

std::optional<std::string> HostVolume::fileContent(std::string_view name) const {
    Location location(*store_);
    EntryStatus entry;
    if (lookup(*store_, controlPath(name), location, entry) != 0 || entry.kind != EntryKind::Regular) {
        return std::nullopt;
    }
    StoreHandle file(*store_);
    if (store_->fileOpenAt(location.parent.get(), location.at(), StoreAccess::Read, false, false, file.out()) != 0) {
        return std::nullopt;
    }
    std::string bytes(entry.size, '\0');
    size_t done = 0;
    for (size_t count = 1; done < bytes.size() && count > 0; done += count) {
        if (store_->read(file.get(), reinterpret_cast<uint8_t*>(bytes.data() + done), bytes.size() - done, count) !=
            0) {
            return std::nullopt;
        }
    }
    bytes.resize(done);
    return bytes;
}

bool HostVolume::entryExists(std::string_view name) const {
    Location location(*store_);
    EntryStatus entry;
    return lookup(*store_, controlPath(name), location, entry) == 0 && entry.kind != EntryKind::Missing;
}

std::vector<std::string> HostVolume::storedFiles() const {
    std::vector<std::string> names;
    bool unreadable = false;
    walk(
        [&names](const VolumePath& path, const ListedEntry& item) {
            if (item.status.kind == EntryKind::Regular) {
                names.push_back(volumePathName(path));
            }
        },
        unreadable);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace sim
