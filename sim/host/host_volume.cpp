#include "host/host_volume.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "board/flash_array.h"
#include "platform/status.h"

namespace sim {

namespace {

using swboot::ERROR;
using swboot::OK;

constexpr uint32_t PERMISSION_BITS = 0777;
constexpr mode_t HOST_FILE_MODE = 0666;
constexpr mode_t HOST_DIRECTORY_MODE = 0777;
constexpr int HOST_DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int KNOWN_OPEN_FLAGS = swboot::OPEN_ACCMODE | swboot::OPEN_CREAT | swboot::OPEN_TRUNC;

uint64_t blocksOf(uint64_t bytes) { return (bytes + HostVolume::BLOCK_SIZE - 1) / HostVolume::BLOCK_SIZE; }
uint64_t roundToBlocks(uint64_t bytes) { return blocksOf(bytes) * HostVolume::BLOCK_SIZE; }

// A host descriptor, closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

// The error number the loader sees for a host error.
int hostError(int error) {
    switch (error) {
    case ENOENT:
        return swboot::ERRNO_NOT_FOUND;
    case ENOTDIR:
        return swboot::ERRNO_NOT_DIRECTORY;
    case EISDIR:
        return swboot::ERRNO_IS_DIRECTORY;
    case EEXIST:
        return swboot::ERRNO_EXISTS;
    case ENOTEMPTY:
        return swboot::ERRNO_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
        return swboot::ERRNO_NO_SPACE;
    case ENAMETOOLONG:
        return swboot::ERRNO_NAME_TOO_LONG;
    case EMFILE:
    case ENFILE:
        return swboot::ERRNO_TOO_MANY_OPEN;
    case ENOMEM:
        return swboot::ERRNO_NO_MEMORY;
    case EINVAL:
        return swboot::ERRNO_INVALID;
    case EBADF:
        return swboot::ERRNO_BAD_DESCRIPTOR;
    default:
        return swboot::ERRNO_IO;  // ELOOP (a symbolic link) among others
    }
}

enum class Kind { Missing, Regular, Directory, Foreign };

Kind kindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) {
        return Kind::Regular;
    }
    if (S_ISDIR(st.st_mode)) {
        return Kind::Directory;
    }
    return Kind::Foreign;
}

// Where a volume path lives on the host: a descriptor of its parent
// directory and its last component, or, for the root, the root's own
// descriptor and an empty leaf.
struct HostLocation {
    UniqueFd parent;
    std::string leaf;
    bool root() const { return leaf.empty(); }
    // The name to hand to the *at() calls for the entry itself.
    const char* at() const { return root() ? "." : leaf.c_str(); }
};

// Walks down to the parent of `path`, one directory descriptor at a time,
// never following a symbolic link. 0 or an error number.
int locate(const std::filesystem::path& hostRoot, const VolumePath& path, HostLocation& out) {
    UniqueFd directory(::open(hostRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        return swboot::ERRNO_IO;
    }
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        struct stat st {};
        if (fstatat(directory.get(), path[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return hostError(errno);
        }
        switch (kindOf(st)) {
        case Kind::Directory:
            break;
        case Kind::Regular:
            return swboot::ERRNO_NOT_DIRECTORY;
        default:
            return swboot::ERRNO_IO;
        }
        UniqueFd next(openat(directory.get(), path[i].c_str(), HOST_DIRECTORY_FLAGS));
        if (!next) {
            return hostError(errno);
        }
        directory = std::move(next);
    }
    out.parent = std::move(directory);
    out.leaf = path.empty() ? std::string() : path.back();
    return 0;
}

struct Entry {
    Kind kind = Kind::Missing;
    struct stat st {};
};

// The entry at a location; a missing entry is not an error. 0 or an error number.
int entryRead(const HostLocation& location, Entry& entry) {
    const int result = location.root() ? ::fstat(location.parent.get(), &entry.st)
                                       : fstatat(location.parent.get(), location.leaf.c_str(), &entry.st,
                                                 AT_SYMLINK_NOFOLLOW);
    if (result != 0) {
        if (errno == ENOENT) {
            entry.kind = Kind::Missing;
            return 0;
        }
        return hostError(errno);
    }
    entry.kind = kindOf(entry.st);
    return 0;
}

// locate() and entryRead() together. 0 or an error number.
int lookup(const std::filesystem::path& hostRoot, const VolumePath& path, HostLocation& location, Entry& entry) {
    const int error = locate(hostRoot, path, location);
    return error != 0 ? error : entryRead(location, entry);
}

// As lookup, for an entry that must exist as a regular file or directory:
// a missing one, or one the volume cannot use (a link, a socket, a name FAT
// cannot hold), is an error.
int lookupExisting(const std::filesystem::path& hostRoot, const VolumePath& path, HostLocation& location,
                   Entry& entry) {
    if (int error = lookup(hostRoot, path, location, entry); error != 0) {
        return error;
    }
    if (entry.kind == Kind::Missing) {
        return swboot::ERRNO_NOT_FOUND;
    }
    if (entry.kind == Kind::Foreign) {
        return swboot::ERRNO_IO;
    }
    return 0;
}

struct Listed {
    std::string name;
    Kind kind;
    struct stat st;
};

// The entries of an open host directory (not "." and ".."), sorted by
// name. Takes over the descriptor. False when the directory cannot be read.
bool directoryList(UniqueFd directory, std::vector<Listed>& out) {
    DIR* stream = fdopendir(directory.get());
    if (stream == nullptr) {
        return false;
    }
    directory.release();  // now owned by the stream
    bool good = true;
    errno = 0;
    while (struct dirent* d = ::readdir(stream)) {
        const std::string_view name(d->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        // A name the volume cannot address is as unusable as a link.
        Listed listed{std::string(name), Kind::Foreign, {}};
        if (volumeNameUsable(name) && fstatat(dirfd(stream), d->d_name, &listed.st, AT_SYMLINK_NOFOLLOW) == 0) {
            listed.kind = kindOf(listed.st);
        }
        out.push_back(std::move(listed));
        errno = 0;
    }
    if (errno != 0) {
        good = false;
    }
    closedir(stream);
    std::sort(out.begin(), out.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return good;
}

void statusFill(const struct stat& st, swboot::FileStatus& status) {
    status.mode = (S_ISDIR(st.st_mode) ? swboot::FILE_TYPE_DIRECTORY : swboot::FILE_TYPE_REGULAR) |
                  PERMISSION_BITS;
    status.size = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), UINT32_MAX));
    status.mtime = st.st_mtim.tv_sec;
}

std::string format(const char* pattern, auto... values) {
    char line[256];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

}  // namespace

HostVolume::HostVolume(FlashArray& flash, std::filesystem::path hostRoot, swboot::Clock& clock)
    : flash_(flash), hostRoot_(std::filesystem::absolute(hostRoot)), clock_(clock) {
    std::error_code error;
    std::filesystem::create_directories(hostRoot_, error);
    if (!std::filesystem::is_directory(hostRoot_, error)) {
        throw std::runtime_error("the volume directory " + hostRoot_.string() + " is not a usable directory");
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
            ::close(file->hostFd);
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

void HostVolume::stamp(int hostFd) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(clock_.time()), 0}};
    futimens(hostFd, times);
}

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
    HostLocation location;
    Entry entry;
    if (int error = lookup(hostRoot_, *path, location, entry); error != 0) {
        return fail(error);
    }

    const int hostAccess = access == swboot::OPEN_WRONLY ? O_WRONLY : access == swboot::OPEN_RDWR ? O_RDWR : O_RDONLY;
    UniqueFd hostFd;
    switch (entry.kind) {
    case Kind::Foreign:
        return fail(swboot::ERRNO_IO);
    case Kind::Directory:
        // A directory may be opened to look at it, never to change it.
        if (access != swboot::OPEN_RDONLY || truncating) {
            return fail(swboot::ERRNO_IS_DIRECTORY);
        }
        hostFd = UniqueFd(openat(location.parent.get(), location.at(), HOST_DIRECTORY_FLAGS));
        break;
    case Kind::Missing: {
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
        hostFd = UniqueFd(openat(location.parent.get(), location.at(),
                                 hostAccess | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, HOST_FILE_MODE));
        if (hostFd) {
            stamp(hostFd.get());
            stamp(location.parent.get());
        }
        if (cut == Cut::After) {
            powerCut_->cut("create of " + std::string(name) + " (done)");
        }
        break;
    }
    case Kind::Regular: {
        const Cut cut = truncating && entry.st.st_size > 0 ? cutAt() : Cut::None;
        if (cut == Cut::Before) {
            powerCut_->cut("truncate of " + std::string(name) + " (not done)");
        }
        hostFd = UniqueFd(openat(location.parent.get(), location.at(),
                                 hostAccess | O_NOFOLLOW | O_CLOEXEC | (truncating ? O_TRUNC : 0)));
        if (hostFd && truncating) {
            release(roundToBlocks(static_cast<uint64_t>(entry.st.st_size)));
            stamp(hostFd.get());
        }
        if (cut == Cut::After) {
            powerCut_->cut("truncate of " + std::string(name) + " (done)");
        }
        break;
    }
    }
    if (!hostFd) {
        return fail(hostError(errno));
    }

    struct stat st {};
    ::fstat(hostFd.get(), &st);
    OpenFile file;
    file.access = access;
    file.directory = entry.kind == Kind::Directory;
    file.device = st.st_dev;
    file.inode = st.st_ino;
    file.hostFd = hostFd.release();
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
    ssize_t count;
    do {
        count = ::read(file->hostFd, buffer, length);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        return fail(hostError(errno));
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
    struct stat before {};
    const off_t position = ::lseek(file->hostFd, 0, SEEK_CUR);
    if (::fstat(file->hostFd, &before) != 0 || position < 0) {
        return fail(hostError(errno));
    }

    // The file may grow into the free blocks and no further; a write that
    // does not fit is cut short at the last byte that does.
    const uint64_t oldSize = static_cast<uint64_t>(before.st_size);
    const uint64_t limit = std::min<uint64_t>(roundToBlocks(oldSize) + freeBytes(), UINT32_MAX);
    const uint64_t start = static_cast<uint64_t>(position);
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
    int error = 0;
    while (done < allowed) {
        const ssize_t count = ::write(file->hostFd, data + done, allowed - done);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = hostError(errno);
            break;
        }
        done += static_cast<size_t>(count);
    }

    struct stat after {};
    if (::fstat(file->hostFd, &after) == 0 && !file->detached) {
        const uint64_t newSize = static_cast<uint64_t>(after.st_size);
        used_ += roundToBlocks(newSize) - std::min(roundToBlocks(newSize), roundToBlocks(oldSize));
    }
    if (cutShort) {
        powerCut_->cut("write of " + std::to_string(length) + " bytes, " + std::to_string(done) + " kept");
    }
    if (done > 0) {
        stamp(file->hostFd);
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
    int64_t base = 0;
    switch (origin) {
    case swboot::SEEK_FROM_START:
        break;
    case swboot::SEEK_FROM_CURRENT:
        base = ::lseek(file->hostFd, 0, SEEK_CUR);
        break;
    case swboot::SEEK_FROM_END: {
        struct stat st {};
        base = ::fstat(file->hostFd, &st) == 0 ? st.st_size : -1;
        break;
    }
    default:
        return fail(swboot::ERRNO_INVALID);
    }
    if (base < 0) {
        return fail(hostError(errno));
    }
    // Positions stay within what a 32-bit file size can describe.
    const int64_t target = base + static_cast<int64_t>(offset);
    if (target < 0 || target > static_cast<int64_t>(UINT32_MAX)) {
        return fail(swboot::ERRNO_INVALID);
    }
    if (::lseek(file->hostFd, static_cast<off_t>(target), SEEK_SET) < 0) {
        return fail(hostError(errno));
    }
    return static_cast<long>(target);
}

int HostVolume::close(int fd) {
    OpenFile* file = descriptor(fd);
    if (file == nullptr) {
        return ERROR;
    }
    ::close(file->hostFd);
    files_[fd - FIRST_DESCRIPTOR].reset();
    return OK;
}

int HostVolume::fstat(int fd, swboot::FileStatus& status) {
    OpenFile* file = descriptor(fd);
    if (file == nullptr) {
        return ERROR;
    }
    struct stat st {};
    if (::fstat(file->hostFd, &st) != 0) {
        return fail(hostError(errno));
    }
    statusFill(st, status);
    return OK;
}

int HostVolume::stat(const char* name, swboot::FileStatus& status) {
    const auto path = resolve(name);
    if (!path) {
        return ERROR;
    }
    HostLocation location;
    Entry entry;
    if (int error = lookupExisting(hostRoot_, *path, location, entry); error != 0) {
        return fail(error);
    }
    statusFill(entry.st, status);
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
    HostLocation location;
    Entry entry;
    if (int error = lookupExisting(hostRoot_, *path, location, entry); error != 0) {
        return fail(error);
    }
    const Cut cut = entry.kind == Kind::Regular || entry.kind == Kind::Directory ? cutAt() : Cut::None;
    if (cut == Cut::Before) {
        powerCut_->cut("delete of " + std::string(name) + " (not done)");
    }
    switch (entry.kind) {
    case Kind::Regular:
        if (unlinkat(location.parent.get(), location.at(), 0) != 0) {
            return fail(hostError(errno));
        }
        release(roundToBlocks(static_cast<uint64_t>(entry.st.st_size)));
        detach(entry.st.st_dev, entry.st.st_ino);
        break;
    case Kind::Directory:
        if (unlinkat(location.parent.get(), location.at(), AT_REMOVEDIR) != 0) {
            return fail(errno == EEXIST ? swboot::ERRNO_NOT_EMPTY : hostError(errno));
        }
        release(BLOCK_SIZE);
        break;
    default:
        break;
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
    HostLocation source;
    HostLocation target;
    Entry sourceEntry;
    Entry targetEntry;
    if (int error = lookup(hostRoot_, *from, source, sourceEntry); error != 0) {
        return fail(error);
    }
    if (sourceEntry.kind == Kind::Missing) {
        return fail(swboot::ERRNO_NOT_FOUND);
    }
    if (sourceEntry.kind == Kind::Foreign) {
        return fail(swboot::ERRNO_IO);
    }
    if (*from == *to) {
        return OK;
    }
    if (int error = lookup(hostRoot_, *to, target, targetEntry); error != 0) {
        return fail(error);
    }
    if (targetEntry.kind == Kind::Foreign) {
        return fail(swboot::ERRNO_IO);
    }

    bool replacing = false;
    if (sourceEntry.kind == Kind::Regular) {
        // A file replaces a file of the new name, never a directory.
        if (targetEntry.kind == Kind::Directory) {
            return fail(swboot::ERRNO_IS_DIRECTORY);
        }
        replacing = targetEntry.kind == Kind::Regular && (targetEntry.st.st_ino != sourceEntry.st.st_ino ||
                                                          targetEntry.st.st_dev != sourceEntry.st.st_dev);
    } else {
        if (targetEntry.kind != Kind::Missing) {
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
    if (renameat(source.parent.get(), source.at(), target.parent.get(), target.at()) != 0) {
        return fail(hostError(errno));
    }
    if (cut == Cut::After) {
        powerCut_->cut("rename of " + std::string(oldName) + " to " + newName + " (done)");
    }
    if (replacing) {
        release(roundToBlocks(static_cast<uint64_t>(targetEntry.st.st_size)));
        detach(targetEntry.st.st_dev, targetEntry.st.st_ino);
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
    HostLocation location;
    Entry entry;
    if (int error = lookup(hostRoot_, *path, location, entry); error != 0) {
        return fail(error);
    }
    if (entry.kind != Kind::Missing) {
        return fail(swboot::ERRNO_EXISTS);
    }
    if (freeBytes() < BLOCK_SIZE) {
        return fail(swboot::ERRNO_NO_SPACE);
    }
    const Cut cut = cutAt();
    if (cut == Cut::Before) {
        powerCut_->cut("directory create of " + std::string(name) + " (not done)");
    }
    if (mkdirat(location.parent.get(), location.at(), HOST_DIRECTORY_MODE) != 0) {
        return fail(hostError(errno));
    }
    if (cut == Cut::After) {
        powerCut_->cut("directory create of " + std::string(name) + " (done)");
    }
    used_ += BLOCK_SIZE;
    if (UniqueFd created(openat(location.parent.get(), location.at(), HOST_DIRECTORY_FLAGS)); created) {
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
    HostLocation location;
    Entry entry;
    if (int error = lookupExisting(hostRoot_, *path, location, entry); error != 0) {
        return fail(error);
    }
    if (entry.kind != Kind::Directory) {
        return fail(swboot::ERRNO_NOT_DIRECTORY);
    }
    UniqueFd directory(openat(location.parent.get(), location.at(), HOST_DIRECTORY_FLAGS));
    if (!directory) {
        return fail(hostError(errno));
    }
    std::vector<Listed> listed;
    if (!directoryList(std::move(directory), listed)) {
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
        if (item.kind == Kind::Regular || item.kind == Kind::Directory) {
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
    HostLocation location;
    Entry entry;
    if (int error = lookupExisting(hostRoot_, *path, location, entry); error != 0) {
        return fail(error);
    }
    if (entry.kind != Kind::Directory) {
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
    std::error_code error;
    std::filesystem::create_directories(hostRoot_, error);
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

    // Empty the volume's directory. remove_all never follows a symbolic
    // link, it removes the link. The record is written last, so a format
    // that fails half-way leaves a medium that does not mount.
    std::error_code error;
    std::filesystem::create_directories(hostRoot_, error);
    std::filesystem::directory_iterator entries(hostRoot_, error);
    if (error) {
        return fail(swboot::ERRNO_IO);
    }
    for (const auto& item : entries) {
        std::filesystem::remove_all(item.path(), error);
        if (error) {
            return fail(swboot::ERRNO_IO);
        }
    }

    FormatRecord record;
    record.firstUnit = VOLUME_FIRST_UNIT;
    record.unitCount = VOLUME_UNIT_COUNT;
    record.params = params;
    formatRecordWrite(flash_, record);
    return OK;
}

HostVolume::TreeCount HostVolume::countTree() const {
    TreeCount count;
    // Depth-first over host directory descriptors, never following links.
    struct Pending {
        UniqueFd directory;
        VolumePath path;
    };
    std::vector<Pending> pending;
    UniqueFd root(::open(hostRoot_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root) {
        count.unreadable = true;
        return count;
    }
    pending.push_back({std::move(root), {}});
    while (!pending.empty()) {
        Pending current = std::move(pending.back());
        pending.pop_back();
        const int parent = current.directory.get();
        UniqueFd listing(fcntl(parent, F_DUPFD_CLOEXEC, 0));
        std::vector<Listed> listed;
        if (!listing || !directoryList(std::move(listing), listed)) {
            count.unreadable = true;
            continue;
        }
        for (auto& item : listed) {
            VolumePath path = current.path;
            path.push_back(item.name);
            switch (item.kind) {
            case Kind::Regular:
                count.usedBytes += roundToBlocks(static_cast<uint64_t>(item.st.st_size));
                ++count.files;
                break;
            case Kind::Directory: {
                count.usedBytes += BLOCK_SIZE;
                ++count.directories;
                UniqueFd child(openat(parent, item.name.c_str(), HOST_DIRECTORY_FLAGS));
                if (!child) {
                    count.unreadable = true;
                    break;
                }
                pending.push_back({std::move(child), std::move(path)});
                break;
            }
            default:
                count.foreign.push_back(volumePathName(path));
                break;
            }
        }
    }
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
    const bool onDevice = name.substr(0, VOLUME_DEVICE_BARE.size()) == VOLUME_DEVICE_BARE;
    VolumePath path;
    if (volumePathResolve(name, onDevice ? std::nullopt : std::optional<VolumePath>(VolumePath{}), path) != 0) {
        throw std::invalid_argument("not a name on the volume: " + std::string(name));
    }
    std::filesystem::path result = hostRoot_;
    for (const auto& component : path) {
        result /= component;
    }
    return result;
}

}  // namespace sim
