// Directory operations of the host volume: create, list, change to and
// name the current directory.
#include "host/host_volume.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "host/host_volume_lookup.h"
#include "platform/status.h"

namespace sim {

namespace {

using swboot::ERROR;
using swboot::OK;

}  // namespace

int HostVolume::mkdir(const char* name) {
    if (injectedFailure(Operation::Mkdir)) {
        return ERROR;
    }
    const auto path = resolve(name);
    if (!path) {
        return ERROR;
    }
    if (path->empty()) {
        return fail(swboot::ERRNO_EXISTS);
    }
    Location location(*store_);
    EntryStatus entry;
    if (int error = lookup(*store_, *path, location, entry); error != 0) {
        return fail(error);
    }
    if (entry.kind != EntryKind::Missing) {
        return fail(swboot::ERRNO_EXISTS);
    }
    if (freeBytes() < BLOCK_SIZE) {
        return fail(swboot::ERRNO_NO_SPACE);
    }
    const Cut cut = cutAt();
    if (cut == Cut::Before) {
        powerCut_->cut("directory create of " + std::string(name) + " (not done)");
    }
    if (int error = store_->mkdirAt(location.parent.get(), location.at()); error != 0) {
        return fail(error);
    }
    if (cut == Cut::After) {
        powerCut_->cut("directory create of " + std::string(name) + " (done)");
    }
    used_ += BLOCK_SIZE;
    if (StoreHandle created(*store_);
        store_->directoryOpenAt(location.parent.get(), location.at(), created.out()) == 0) {
        stamp(created.get());
    }
    stamp(location.parent.get());
    return OK;
}

int HostVolume::opendir(const char* name) {
    const auto path = resolve(name);
    if (!path) {
        return ERROR;
    }
    const auto slot = std::find_if(directories_.begin(), directories_.end(), [](const auto& d) { return !d.used; });
    if (slot == directories_.end()) {
        return fail(swboot::ERRNO_TOO_MANY_OPEN);
    }
    Location location(*store_);
    EntryStatus entry;
    if (int error = lookupExisting(*store_, *path, location, entry); error != 0) {
        return fail(error);
    }
    if (entry.kind != EntryKind::Directory) {
        return fail(swboot::ERRNO_NOT_DIRECTORY);
    }
    StoreHandle directory(*store_);
    if (int error = store_->directoryOpenAt(location.parent.get(), location.at(), directory.out()); error != 0) {
        return fail(error);
    }
    std::vector<ListedEntry> listed;
    if (store_->list(directory.get(), listed) != 0) {
        return fail(swboot::ERRNO_IO);
    }

    // The entries are taken when the directory is opened, so removing
    // entries while reading (as the factory-defaults cleanup does) is safe.
    OpenDirectory opened;
    opened.used = true;
    if (!path->empty()) {
        // A FAT subdirectory starts with its "." and ".." entries.
        opened.names = {".", ".."};
    }
    for (auto& item : listed) {
        if (item.status.kind == EntryKind::Regular || item.status.kind == EntryKind::Directory) {
            opened.names.push_back(std::move(item.name));
        }
    }
    *slot = std::move(opened);
    return static_cast<int>(slot - directories_.begin());
}

int HostVolume::readdir(int dir, swboot::DirectoryEntry& entry) {
    if (dir < 0 || dir >= MAX_OPEN_DIRECTORIES || !directories_[dir].used) {
        return fail(swboot::ERRNO_BAD_DESCRIPTOR);
    }
    OpenDirectory& directory = directories_[dir];
    if (directory.next >= directory.names.size()) {
        return ERROR;
    }
    const std::string& name = directory.names[directory.next++];
    const size_t length = std::min(name.size(), sizeof entry.name - 1);
    std::memcpy(entry.name, name.data(), length);
    entry.name[length] = '\0';
    return OK;
}

int HostVolume::closedir(int dir) {
    if (dir < 0 || dir >= MAX_OPEN_DIRECTORIES || !directories_[dir].used) {
        return fail(swboot::ERRNO_BAD_DESCRIPTOR);
    }
    directories_[dir] = OpenDirectory{};
    return OK;
}

int HostVolume::chdir(const char* name) {
    const auto path = resolve(name);
    if (!path) {
        return ERROR;
    }
    Location location(*store_);
    EntryStatus entry;
    if (int error = lookupExisting(*store_, *path, location, entry); error != 0) {
        return fail(error);
    }
    if (entry.kind != EntryKind::Directory) {
        return fail(swboot::ERRNO_NOT_DIRECTORY);
    }
    cwd_ = *path;
    return OK;
}

int HostVolume::getcwd(char* buffer, size_t size) {
    const std::string name = cwd_ ? volumePathName(*cwd_) : std::string("/");
    if (buffer == nullptr || name.size() + 1 > size) {
        return fail(swboot::ERRNO_INVALID);
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return OK;
}

}  // namespace sim
