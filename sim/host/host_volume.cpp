#include "host/host_volume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "board/flash_array.h"
#include "host/posix_volume_store.h"
#include "platform/status.h"

namespace sim {

namespace {

using swboot::ERROR;
using swboot::OK;

constexpr uint32_t PERMISSION_BITS = 0777;
constexpr int KNOWN_OPEN_FLAGS = swboot::OPEN_ACCMODE | swboot::OPEN_CREAT | swboot::OPEN_TRUNC;

uint64_t blocksOf(uint64_t bytes) { return (bytes + HostVolume::BLOCK_SIZE - 1) / HostVolume::BLOCK_SIZE; }
uint64_t roundToBlocks(uint64_t bytes) { return blocksOf(bytes) * HostVolume::BLOCK_SIZE; }

// Where a volume path lives in the store: a handle of its parent directory
// and its last component, or, for the root, the root's own handle and an
// empty leaf.
struct Location {
    explicit Location(VolumeStore& store) : parent(store) {}
    StoreHandle parent;
    std::string leaf;
    bool root() const { return leaf.empty(); }
    // The name to hand to the *At() calls for the entry itself.
    std::string at() const { return root() ? std::string(VolumeStore::SELF) : leaf; }
};

// Walks down to the parent of `path`, one directory handle at a time,
// never following a symbolic link. 0 or an error number.
int locate(VolumeStore& store, const VolumePath& path, Location& out) {
    StoreHandle directory(store);
    if (const int error = store.rootOpen(directory.out()); error != 0) {
        return error;
    }
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        EntryStatus status;
        if (const int error = store.statAt(directory.get(), path[i], status); error != 0) {
            return error;
        }
        switch (status.kind) {
        case EntryKind::Directory:
            break;
        case EntryKind::Missing:
            return swboot::ERRNO_NOT_FOUND;
        case EntryKind::Regular:
            return swboot::ERRNO_NOT_DIRECTORY;
        default:
            return swboot::ERRNO_IO;
        }
        StoreHandle next(store);
        if (const int error = store.directoryOpenAt(directory.get(), path[i], next.out()); error != 0) {
            return error;
        }
        directory = std::move(next);
    }
    out.parent = std::move(directory);
    out.leaf = path.empty() ? std::string() : path.back();
    return 0;
}

// The entry at a location; a missing entry is not an error. 0 or an error number.
int entryRead(VolumeStore& store, const Location& location, EntryStatus& entry) {
    return location.root() ? store.fstat(location.parent.get(), entry)
                           : store.statAt(location.parent.get(), location.leaf, entry);
}

// locate() and entryRead() together. 0 or an error number.
int lookup(VolumeStore& store, const VolumePath& path, Location& location, EntryStatus& entry) {
    const int error = locate(store, path, location);
    return error != 0 ? error : entryRead(store, location, entry);
}

// As lookup, for an entry that must exist as a regular file or directory:
// a missing one, or one the volume cannot use (a link, a socket, a name FAT
// cannot hold), is an error.
int lookupExisting(VolumeStore& store, const VolumePath& path, Location& location, EntryStatus& entry) {
    if (int error = lookup(store, path, location, entry); error != 0) {
        return error;
    }
    if (entry.kind == EntryKind::Missing) {
        return swboot::ERRNO_NOT_FOUND;
    }
    if (entry.kind == EntryKind::Foreign) {
        return swboot::ERRNO_IO;
    }
    return 0;
}

// A directory's size is 0, as in a FAT directory entry, whatever the host
// says of its own directories.
void statusFill(const EntryStatus& entry, swboot::FileStatus& status) {
    const bool directory = entry.kind == EntryKind::Directory;
    status.mode = (directory ? swboot::FILE_TYPE_DIRECTORY : swboot::FILE_TYPE_REGULAR) | PERMISSION_BITS;
    status.size = directory ? 0 : static_cast<uint32_t>(std::min<uint64_t>(entry.size, UINT32_MAX));
    status.mtime = entry.mtime;
}

std::string format(const char* pattern, auto... values) {
    char line[256];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

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

HostVolume::HostVolume(FlashArray& flash, std::filesystem::path hostRoot, swboot::Clock& clock)
    : HostVolume(flash, std::make_unique<PosixVolumeStore>(std::move(hostRoot)), clock) {}

HostVolume::HostVolume(FlashArray& flash, std::unique_ptr<VolumeStore> store, swboot::Clock& clock)
    : flash_(flash), store_(std::move(store)), clock_(clock) {
    if (const auto* host = dynamic_cast<const PosixVolumeStore*>(store_.get())) {
        hostRoot_ = host->root();
    }
}

HostVolume::~HostVolume() { closeAll(); }

int HostVolume::fail(int error) {
    errno_ = error;
    return ERROR;
}

bool HostVolume::injectedFailure(Operation op) {
    int& spared = failuresSpared_[static_cast<size_t>(op)];
    int& count = failures_[static_cast<size_t>(op)];
    if (count > 0 && spared > 0) {
        --spared;
        return false;
    }
    if (count <= 0) {
        return false;
    }
    --count;
    errno_ = swboot::ERRNO_IO;
    return true;
}

HostVolume::Cut HostVolume::cutAt() {
    if (powerCut_ == nullptr || !powerCut_->step()) {
        return Cut::None;
    }
    return powerCut_->random(2) == 0 ? Cut::Before : Cut::After;
}

void HostVolume::injectFailure(Operation op, int count, int spared) {
    failures_[static_cast<size_t>(op)] = count;
    failuresSpared_[static_cast<size_t>(op)] = spared;
}

std::optional<VolumePath> HostVolume::resolve(const char* name) {
    if (name == nullptr) {
        fail(swboot::ERRNO_INVALID);
        return std::nullopt;
    }
    VolumePath path;
    if (const int error = volumePathResolve(name, cwd_, path); error != 0) {
        fail(error);
        return std::nullopt;
    }
    if (!mounted_) {
        fail(swboot::ERRNO_NOT_FOUND);
        return std::nullopt;
    }
    return path;
}

HostVolume::OpenFile* HostVolume::descriptor(int fd) {
    const int index = fd - FIRST_DESCRIPTOR;
    if (index < 0 || index >= MAX_OPEN_FILES || !files_[index]) {
        fail(swboot::ERRNO_BAD_DESCRIPTOR);
        return nullptr;
    }
    return &*files_[index];
}

void HostVolume::closeAll() {
    for (auto& file : files_) {
        if (file) {
            store_->close(file->handle);
            file.reset();
        }
    }
    for (auto& directory : directories_) {
        directory = OpenDirectory{};
    }
}

void HostVolume::unmount() {
    closeAll();
    mounted_ = false;
    format_.reset();
    capacity_ = 0;
    used_ = 0;
}

void HostVolume::powerUp() {
    unmount();
    cwd_.reset();
    errno_ = 0;
}

void HostVolume::detach(uint64_t device, uint64_t inode) {
    for (auto& file : files_) {
        if (file && file->device == device && file->inode == inode) {
            file->detached = true;
        }
    }
}

void HostVolume::stamp(int handle) { store_->mtimeSet(handle, clock_.time()); }

int HostVolume::openCount() const {
    return static_cast<int>(std::count_if(files_.begin(), files_.end(), [](const auto& f) { return f.has_value(); }));
}

// ---------------------------------------------------------------- files

int HostVolume::open(const char* name, int flags, int /*mode*/) {
    const bool creating = (flags & swboot::OPEN_CREAT) != 0;
    const bool truncating = (flags & swboot::OPEN_TRUNC) != 0;
    const int access = flags & swboot::OPEN_ACCMODE;
    if (injectedFailure(creating ? Operation::Create : Operation::Open)) {
        return ERROR;
    }
    if ((flags & ~KNOWN_OPEN_FLAGS) != 0 || access == swboot::OPEN_ACCMODE) {
        return fail(swboot::ERRNO_INVALID);
    }
    const auto path = resolve(name);
    if (!path) {
        return ERROR;
    }
    const auto slot = std::find_if(files_.begin(), files_.end(), [](const auto& f) { return !f.has_value(); });
    if (slot == files_.end()) {
        return fail(swboot::ERRNO_TOO_MANY_OPEN);
    }
    Location location(*store_);
    EntryStatus entry;
    if (int error = lookup(*store_, *path, location, entry); error != 0) {
        return fail(error);
    }

    const StoreAccess storeAccess = access == swboot::OPEN_WRONLY ? StoreAccess::Write
                                    : access == swboot::OPEN_RDWR ? StoreAccess::ReadWrite
                                                                  : StoreAccess::Read;
    StoreHandle handle(*store_);
    int error = 0;
    switch (entry.kind) {
    case EntryKind::Foreign:
        return fail(swboot::ERRNO_IO);
    case EntryKind::Directory:
        // A directory may be opened to look at it, never to change it.
        if (access != swboot::OPEN_RDONLY || truncating) {
            return fail(swboot::ERRNO_IS_DIRECTORY);
        }
        error = store_->directoryOpenAt(location.parent.get(), location.at(), handle.out());
        break;
    case EntryKind::Missing: {
        if (!creating) {
            return fail(swboot::ERRNO_NOT_FOUND);
        }
        if (freeBytes() == 0) {
            return fail(swboot::ERRNO_NO_SPACE);
        }
        const Cut cut = cutAt();
        if (cut == Cut::Before) {
            powerCut_->cut("create of " + std::string(name) + " (not done)");
        }
        error = store_->fileOpenAt(location.parent.get(), location.at(), storeAccess, true, false, handle.out());
        if (handle) {
            stamp(handle.get());
            stamp(location.parent.get());
        }
        if (cut == Cut::After) {
            powerCut_->cut("create of " + std::string(name) + " (done)");
        }
        break;
    }
    case EntryKind::Regular: {
        const Cut cut = truncating && entry.size > 0 ? cutAt() : Cut::None;
        if (cut == Cut::Before) {
            powerCut_->cut("truncate of " + std::string(name) + " (not done)");
        }
        error = store_->fileOpenAt(location.parent.get(), location.at(), storeAccess, false, truncating, handle.out());
        if (handle && truncating) {
            release(roundToBlocks(entry.size));
            stamp(handle.get());
        }
        if (cut == Cut::After) {
            powerCut_->cut("truncate of " + std::string(name) + " (done)");
        }
        break;
    }
    }
    if (!handle) {
        return fail(error);
    }

    EntryStatus opened;
    store_->fstat(handle.get(), opened);
    OpenFile file;
    file.access = access;
    file.directory = entry.kind == EntryKind::Directory;
    file.device = opened.device;
    file.inode = opened.inode;
    file.handle = handle.release();
    *slot = file;
    return FIRST_DESCRIPTOR + static_cast<int>(slot - files_.begin());
}

int HostVolume::creat(const char* name, int flags) {
    return open(name, (flags & swboot::OPEN_ACCMODE) | swboot::OPEN_CREAT | swboot::OPEN_TRUNC, 0);
}

long HostVolume::read(int fd, uint8_t* buffer, size_t length) {
    if (injectedFailure(Operation::Read)) {
        return ERROR;
    }
    OpenFile* file = descriptor(fd);
    if (file == nullptr) {
        return ERROR;
    }
    if (file->access == swboot::OPEN_WRONLY) {
        return fail(swboot::ERRNO_BAD_DESCRIPTOR);
    }
    if (file->directory) {
        return fail(swboot::ERRNO_IS_DIRECTORY);
    }
    if (buffer == nullptr && length != 0) {
        return fail(swboot::ERRNO_INVALID);
    }
    size_t count = 0;
    if (const int error = store_->read(file->handle, buffer, length, count); error != 0) {
        return fail(error);
    }
    return static_cast<long>(count);
}

long HostVolume::write(int fd, const uint8_t* data, size_t length) {
    if (injectedFailure(Operation::Write)) {
        return ERROR;
    }
    OpenFile* file = descriptor(fd);
    if (file == nullptr) {
        return ERROR;
    }
    if (file->access == swboot::OPEN_RDONLY || file->directory) {
        return fail(swboot::ERRNO_BAD_DESCRIPTOR);
    }
    if (data == nullptr && length != 0) {
        return fail(swboot::ERRNO_INVALID);
    }
    if (length == 0) {
        return 0;
    }
    EntryStatus before;
    uint64_t start = 0;
    if (int error = store_->fstat(file->handle, before); error != 0) {
        return fail(error);
    }
    if (int error = store_->position(file->handle, start); error != 0) {
        return fail(error);
    }

    // The file may grow into the free blocks and no further; a write that
    // does not fit is cut short at the last byte that does.
    const uint64_t oldSize = before.size;
    const uint64_t limit = std::min<uint64_t>(roundToBlocks(oldSize) + freeBytes(), UINT32_MAX);
    size_t allowed = length;
    if (start + length > limit) {
        allowed = start < limit ? static_cast<size_t>(limit - start) : 0;
    }
    if (allowed == 0) {
        return fail(swboot::ERRNO_NO_SPACE);
    }

    // A write the power cuts short keeps a prefix of its bytes.
    bool cutShort = false;
    if (powerCut_ != nullptr && powerCut_->step()) {
        allowed = static_cast<size_t>(powerCut_->random(allowed));
        cutShort = true;
    }

    size_t done = 0;
    const int error = allowed > 0 ? store_->write(file->handle, data, allowed, done) : 0;

    EntryStatus after;
    if (store_->fstat(file->handle, after) == 0 && !file->detached) {
        used_ += roundToBlocks(after.size) - std::min(roundToBlocks(after.size), roundToBlocks(oldSize));
    }
    if (cutShort) {
        powerCut_->cut("write of " + std::to_string(length) + " bytes, " + std::to_string(done) + " kept");
    }
    if (done > 0) {
        stamp(file->handle);
        return static_cast<long>(done);
    }
    return fail(error);
}

long HostVolume::lseek(int fd, long offset, int origin) {
    OpenFile* file = descriptor(fd);
    if (file == nullptr) {
        return ERROR;
    }
    if (file->directory) {
        return fail(swboot::ERRNO_IS_DIRECTORY);
    }
    uint64_t base = 0;
    int error = 0;
    switch (origin) {
    case swboot::SEEK_FROM_START:
        break;
    case swboot::SEEK_FROM_CURRENT:
        error = store_->position(file->handle, base);
        break;
    case swboot::SEEK_FROM_END: {
        EntryStatus status;
        error = store_->fstat(file->handle, status);
        base = status.size;
        break;
    }
    default:
        return fail(swboot::ERRNO_INVALID);
    }
    if (error != 0) {
        return fail(error);
    }
    // Positions stay within what a 32-bit file size can describe.
    const int64_t target = static_cast<int64_t>(base) + static_cast<int64_t>(offset);
    if (target < 0 || target > static_cast<int64_t>(UINT32_MAX)) {
        return fail(swboot::ERRNO_INVALID);
    }
    if (int seekError = store_->seek(file->handle, static_cast<uint64_t>(target)); seekError != 0) {
        return fail(seekError);
    }
    return static_cast<long>(target);
}

int HostVolume::close(int fd) {
    OpenFile* file = descriptor(fd);
    if (file == nullptr) {
        return ERROR;
    }
    store_->close(file->handle);
    files_[fd - FIRST_DESCRIPTOR].reset();
    return OK;
}

int HostVolume::fstat(int fd, swboot::FileStatus& status) {
    OpenFile* file = descriptor(fd);
    if (file == nullptr) {
        return ERROR;
    }
    EntryStatus entry;
    if (int error = store_->fstat(file->handle, entry); error != 0) {
        return fail(error);
    }
    statusFill(entry, status);
    return OK;
}

int HostVolume::stat(const char* name, swboot::FileStatus& status) {
    const auto path = resolve(name);
    if (!path) {
        return ERROR;
    }
    Location location(*store_);
    EntryStatus entry;
    if (int error = lookupExisting(*store_, *path, location, entry); error != 0) {
        return fail(error);
    }
    statusFill(entry, status);
    return OK;
}

int HostVolume::remove(const char* name) {
    if (injectedFailure(Operation::Remove)) {
        return ERROR;
    }
    const auto path = resolve(name);
    if (!path) {
        return ERROR;
    }
    if (path->empty()) {
        return fail(swboot::ERRNO_INVALID);  // the volume's root stays
    }
    Location location(*store_);
    EntryStatus entry;
    if (int error = lookupExisting(*store_, *path, location, entry); error != 0) {
        return fail(error);
    }
    const Cut cut = cutAt();
    if (cut == Cut::Before) {
        powerCut_->cut("delete of " + std::string(name) + " (not done)");
    }
    const bool directory = entry.kind == EntryKind::Directory;
    if (int error = store_->unlinkAt(location.parent.get(), location.at(), directory); error != 0) {
        return fail(error);
    }
    if (directory) {
        release(BLOCK_SIZE);
    } else {
        release(roundToBlocks(entry.size));
        detach(entry.device, entry.inode);
    }
    stamp(location.parent.get());
    if (cut == Cut::After) {
        powerCut_->cut("delete of " + std::string(name) + " (done)");
    }
    return OK;
}

int HostVolume::rename(const char* oldName, const char* newName) {
    if (injectedFailure(Operation::Rename)) {
        return ERROR;
    }
    const auto from = resolve(oldName);
    if (!from) {
        return ERROR;
    }
    const auto to = resolve(newName);
    if (!to) {
        return ERROR;
    }
    if (from->empty() || to->empty()) {
        return fail(swboot::ERRNO_INVALID);
    }
    Location source(*store_);
    Location target(*store_);
    EntryStatus sourceEntry;
    EntryStatus targetEntry;
    if (int error = lookup(*store_, *from, source, sourceEntry); error != 0) {
        return fail(error);
    }
    if (sourceEntry.kind == EntryKind::Missing) {
        return fail(swboot::ERRNO_NOT_FOUND);
    }
    if (sourceEntry.kind == EntryKind::Foreign) {
        return fail(swboot::ERRNO_IO);
    }
    if (*from == *to) {
        return OK;
    }
    if (int error = lookup(*store_, *to, target, targetEntry); error != 0) {
        return fail(error);
    }
    if (targetEntry.kind == EntryKind::Foreign) {
        return fail(swboot::ERRNO_IO);
    }

    bool replacing = false;
    if (sourceEntry.kind == EntryKind::Regular) {
        // A file replaces a file of the new name, never a directory.
        if (targetEntry.kind == EntryKind::Directory) {
            return fail(swboot::ERRNO_IS_DIRECTORY);
        }
        replacing = targetEntry.kind == EntryKind::Regular &&
                    (targetEntry.inode != sourceEntry.inode || targetEntry.device != sourceEntry.device);
    } else {
        if (targetEntry.kind != EntryKind::Missing) {
            return fail(swboot::ERRNO_EXISTS);
        }
        // A directory cannot move into itself.
        if (to->size() > from->size() && std::equal(from->begin(), from->end(), to->begin())) {
            return fail(swboot::ERRNO_INVALID);
        }
    }
    // A rename the power cuts either happened or did not.
    const Cut cut = cutAt();
    if (cut == Cut::Before) {
        powerCut_->cut("rename of " + std::string(oldName) + " to " + newName + " (not done)");
    }
    if (int error = store_->renameAt(source.parent.get(), source.at(), target.parent.get(), target.at());
        error != 0) {
        return fail(error);
    }
    if (cut == Cut::After) {
        powerCut_->cut("rename of " + std::string(oldName) + " to " + newName + " (done)");
    }
    if (replacing) {
        release(roundToBlocks(targetEntry.size));
        detach(targetEntry.device, targetEntry.inode);
    }
    stamp(source.parent.get());
    stamp(target.parent.get());
    return OK;
}

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

// ---------------------------------------------------------------- directories

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

// ---------------------------------------------------------------- volume

int HostVolume::usrTffsConfig(int drive, int /*removable*/, const char* name) {
    if (drive != DRIVE || name == nullptr || !volumeDeviceNameIs(name)) {
        return fail(swboot::ERRNO_INVALID);
    }
    const auto record = formatRecordRead(flash_);
    if (!record) {
        // The medium lost its format (or never had one): whatever was
        // mounted is gone with it.
        unmount();
        return fail(swboot::ERRNO_IO);
    }
    if (mounted_) {
        return OK;
    }
    store_->rootMake();
    TreeCount count = countTree();
    if (count.unreadable) {
        return fail(swboot::ERRNO_IO);
    }
    format_ = record;
    capacity_ = uint64_t{VOLUME_WINDOW_SIZE} * record->params.percentUse / 100 / BLOCK_SIZE * BLOCK_SIZE;
    used_ = count.usedBytes;
    mounted_ = true;
    return OK;
}

int HostVolume::tffsDevFormat(int drive, const swboot::TffsFormatParams& params) {
    if (drive != DRIVE || params.percentUse == 0 || params.percentUse > 100) {
        return fail(swboot::ERRNO_INVALID);
    }
    unmount();
    for (uint32_t unit = VOLUME_FIRST_UNIT; unit < VOLUME_FIRST_UNIT + VOLUME_UNIT_COUNT; ++unit) {
        flash_.eraseUnit(unit);
    }

    // The record is written last, so a format that fails half-way leaves
    // a medium that does not mount.
    if (store_->rootEmpty() != 0) {
        return fail(swboot::ERRNO_IO);
    }

    FormatRecord record;
    record.firstUnit = VOLUME_FIRST_UNIT;
    record.unitCount = VOLUME_UNIT_COUNT;
    record.params = params;
    formatRecordWrite(flash_, record);
    return OK;
}

void HostVolume::walk(const std::function<void(const VolumePath&, const ListedEntry&)>& visit, bool& unreadable) const {
    // Depth-first over directory handles, never following links.
    struct Pending {
        StoreHandle directory;
        VolumePath path;
    };
    std::vector<Pending> pending;
    StoreHandle root(*store_);
    if (store_->rootOpen(root.out()) != 0) {
        unreadable = true;
        return;
    }
    pending.push_back({std::move(root), {}});
    while (!pending.empty()) {
        Pending current = std::move(pending.back());
        pending.pop_back();
        std::vector<ListedEntry> listed;
        if (store_->list(current.directory.get(), listed) != 0) {
            unreadable = true;
            continue;
        }
        for (const auto& item : listed) {
            VolumePath path = current.path;
            path.push_back(item.name);
            visit(path, item);
            if (item.status.kind == EntryKind::Directory) {
                StoreHandle child(*store_);
                if (store_->directoryOpenAt(current.directory.get(), item.name, child.out()) != 0) {
                    unreadable = true;
                    continue;
                }
                pending.push_back({std::move(child), std::move(path)});
            }
        }
    }
}

HostVolume::TreeCount HostVolume::countTree() const {
    TreeCount count;
    walk(
        [&count](const VolumePath& path, const ListedEntry& item) {
            switch (item.status.kind) {
            case EntryKind::Regular:
                count.usedBytes += roundToBlocks(item.status.size);
                ++count.files;
                break;
            case EntryKind::Directory:
                count.usedBytes += BLOCK_SIZE;
                ++count.directories;
                break;
            default:
                count.foreign.push_back(volumePathName(path));
                break;
            }
        },
        count.unreadable);
    std::sort(count.foreign.begin(), count.foreign.end());
    return count;
}

void HostVolume::print(std::string_view text) {
    if (printer_) {
        printer_(text);
    }
}

int HostVolume::dosFsChkDsk(const char* name, uint32_t mode) {
    if (name == nullptr || !volumeDeviceNameIs(name) || !mounted_) {
        return fail(swboot::ERRNO_NOT_FOUND);
    }
    const bool verbose = (mode & CHKDSK_VERBOSITY_MASK) != 0;
    const bool repair = (mode & CHKDSK_LEVEL_MASK) >= CHKDSK_REPAIR;
    const TreeCount count = countTree();
    int problems = 0;

    if (verbose) {
        print(format("Checking volume \"%s\"\n", VOLUME_DEVICE_NAME.data()));
    }
    for (const auto& entry : count.foreign) {
        ++problems;
        if (verbose) {
            print("  unusable entry: " + entry + "\n");
        }
    }
    if (count.unreadable) {
        ++problems;
        if (verbose) {
            print("  part of the tree cannot be read\n");
        }
    }
    if (count.usedBytes != used_) {
        if (verbose) {
            print(format("  usage recorded %llu bytes, found %llu bytes%s\n",
                         static_cast<unsigned long long>(used_),
                         static_cast<unsigned long long>(count.usedBytes), repair ? ": corrected" : ""));
        }
        if (repair && !count.unreadable) {
            used_ = count.usedBytes;
        } else {
            ++problems;
        }
    }
    if (verbose) {
        print(format("  %u files, %u directories\n", count.files, count.directories));
        print(format("  %llu bytes used, %llu bytes free, %llu bytes total\n",
                     static_cast<unsigned long long>(used_), static_cast<unsigned long long>(freeBytes()),
                     static_cast<unsigned long long>(capacity_)));
    }
    return problems;
}

int HostVolume::volumeShow(const char* name, int level) {
    if (name == nullptr || !volumeDeviceNameIs(name)) {
        return fail(swboot::ERRNO_NOT_FOUND);
    }
    if (!mounted_) {
        print(format("volume \"%s\": not mounted\n", VOLUME_DEVICE_NAME.data()));
        return fail(swboot::ERRNO_NOT_FOUND);
    }
    const TreeCount count = countTree();
    const auto bytesLine = [this](const char* label, uint64_t bytes) {
        print(format("  %-12s%llu bytes (%llu blocks)\n", label, static_cast<unsigned long long>(bytes),
                     static_cast<unsigned long long>(bytes / BLOCK_SIZE)));
    };
    print(format("volume \"%s\": mounted\n", VOLUME_DEVICE_NAME.data()));
    print(format("  %-12s%u bytes\n", "block size:", BLOCK_SIZE));
    bytesLine("capacity:", capacity_);
    bytesLine("used:", used_);
    bytesLine("free:", freeBytes());
    print(format("  %-12s%u in %u directories\n", "files:", count.files, count.directories));
    if (level >= 2 && format_) {
        print(format("  %-12s0x%08X, %u units of 0x%X bytes\n", "window:",
                     FlashArray::BASE + format_->firstUnit * FlashArray::UNIT_SIZE, format_->unitCount,
                     FlashArray::UNIT_SIZE));
        print(format("  %-12s%u percent in use, %u spare units, %u FAT copies, flags 0x%X\n", "format:",
                     format_->params.percentUse, format_->params.noOfSpareUnits, format_->params.noOfFatCopies,
                     format_->params.formatFlags));
    }
    return OK;
}

int HostVolume::statistics(int fd, swboot::VolumeStatistics& statistics) {
    if (descriptor(fd) == nullptr) {
        return ERROR;
    }
    statistics.blockSize = BLOCK_SIZE;
    statistics.totalBlocks = static_cast<uint32_t>(capacity_ / BLOCK_SIZE);
    statistics.freeBlocks = static_cast<uint32_t>(freeBytes() / BLOCK_SIZE);
    return OK;
}

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
