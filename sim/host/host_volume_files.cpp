// File operations of the host volume: open, create, read, write, seek,
// close, status, delete and rename, each a persistent step where it
// changes the volume, with the capacity held on growth.
#include "host/host_volume.h"

#include <algorithm>
#include <string>

#include "host/host_volume_lookup.h"
#include "platform/status.h"

namespace sim {

namespace {

using swboot::ERROR;
using swboot::OK;

constexpr uint32_t PERMISSION_BITS = 0777;
constexpr int KNOWN_OPEN_FLAGS = swboot::OPEN_ACCMODE | swboot::OPEN_CREAT | swboot::OPEN_TRUNC;

// A directory's size is 0, as in a FAT directory entry, whatever the host
// says of its own directories.
void statusFill(const EntryStatus& entry, swboot::FileStatus& status) {
    const bool directory = entry.kind == EntryKind::Directory;
    status.mode = (directory ? swboot::FILE_TYPE_DIRECTORY : swboot::FILE_TYPE_REGULAR) | PERMISSION_BITS;
    status.size = directory ? 0 : static_cast<uint32_t>(std::min<uint64_t>(entry.size, UINT32_MAX));
    status.mtime = entry.mtime;
}

}  // namespace

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
    const int error = store_->read(file->handle, buffer, length, count);
    if (transferHook_) {
        transferHook_();
    }
    if (error != 0) {
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
    if (transferHook_) {
        transferHook_();
    }
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

}  // namespace sim
