#include "host/posix_volume_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "host/host_volume_paths.h"
#include "platform/files.h"

namespace sim {

namespace {

constexpr mode_t HOST_FILE_MODE = 0666;
constexpr mode_t HOST_DIRECTORY_MODE = 0777;
constexpr int HOST_DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

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

void statusFill(const struct stat& st, EntryStatus& status) {
    status.kind = S_ISREG(st.st_mode)   ? EntryKind::Regular
                  : S_ISDIR(st.st_mode) ? EntryKind::Directory
                                        : EntryKind::Foreign;
    status.size = static_cast<uint64_t>(st.st_size);
    status.mtime = st.st_mtim.tv_sec;
    status.device = st.st_dev;
    status.inode = st.st_ino;
}

// 0 when a call that returns 0 or -1 with errno worked, else the error number.
int checked(int result) { return result == 0 ? 0 : hostError(errno); }

}  // namespace

PosixVolumeStore::PosixVolumeStore(std::filesystem::path root) : root_(std::filesystem::absolute(root)) {
    std::error_code error;
    std::filesystem::create_directories(root_, error);
    if (!std::filesystem::is_directory(root_, error)) {
        throw std::runtime_error("the volume directory " + root_.string() + " is not a usable directory");
    }
}

int PosixVolumeStore::rootMake() {
    std::error_code error;
    std::filesystem::create_directories(root_, error);
    return 0;
}

int PosixVolumeStore::rootEmpty() {
    // remove_all never follows a symbolic link, it removes the link.
    std::error_code error;
    std::filesystem::create_directories(root_, error);
    std::filesystem::directory_iterator entries(root_, error);
    if (error) {
        return swboot::ERRNO_IO;
    }
    for (const auto& item : entries) {
        std::filesystem::remove_all(item.path(), error);
        if (error) {
            return swboot::ERRNO_IO;
        }
    }
    return 0;
}

int PosixVolumeStore::rootOpen(int& handle) {
    const int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return swboot::ERRNO_IO;
    }
    handle = fd;
    return 0;
}

int PosixVolumeStore::statAt(int directory, const std::string& name, EntryStatus& status) {
    struct stat st {};
    if (fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            status = EntryStatus{};
            return 0;
        }
        return hostError(errno);
    }
    statusFill(st, status);
    return 0;
}

int PosixVolumeStore::fstat(int handle, EntryStatus& status) {
    struct stat st {};
    if (::fstat(handle, &st) != 0) {
        return hostError(errno);
    }
    statusFill(st, status);
    return 0;
}

int PosixVolumeStore::directoryOpenAt(int directory, const std::string& name, int& handle) {
    const int fd = openat(directory, name.c_str(), HOST_DIRECTORY_FLAGS);
    if (fd < 0) {
        return hostError(errno);
    }
    handle = fd;
    return 0;
}

int PosixVolumeStore::fileOpenAt(int directory, const std::string& name, StoreAccess access, bool create,
                                 bool truncate, int& handle) {
    int flags = access == StoreAccess::Write ? O_WRONLY : access == StoreAccess::ReadWrite ? O_RDWR : O_RDONLY;
    flags |= O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0) | (truncate ? O_TRUNC : 0);
    const int fd = openat(directory, name.c_str(), flags, HOST_FILE_MODE);
    if (fd < 0) {
        return hostError(errno);
    }
    handle = fd;
    return 0;
}

int PosixVolumeStore::mkdirAt(int directory, const std::string& name) {
    return checked(mkdirat(directory, name.c_str(), HOST_DIRECTORY_MODE));
}

int PosixVolumeStore::unlinkAt(int directory, const std::string& name, bool isDirectory) {
    if (unlinkat(directory, name.c_str(), isDirectory ? AT_REMOVEDIR : 0) == 0) {
        return 0;
    }
    // Some file systems say EEXIST for a directory that is not empty.
    return isDirectory && errno == EEXIST ? swboot::ERRNO_NOT_EMPTY : hostError(errno);
}

int PosixVolumeStore::renameAt(int fromDirectory, const std::string& fromName, int toDirectory,
                               const std::string& toName) {
    return checked(renameat(fromDirectory, fromName.c_str(), toDirectory, toName.c_str()));
}

int PosixVolumeStore::list(int directory, std::vector<ListedEntry>& entries) {
    const int fd = fcntl(directory, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        return swboot::ERRNO_IO;
    }
    DIR* stream = fdopendir(fd);
    if (stream == nullptr) {
        ::close(fd);
        return swboot::ERRNO_IO;
    }
    rewinddir(stream);  // the duplicate shares the position of the handle
    errno = 0;
    while (struct dirent* d = ::readdir(stream)) {
        const std::string_view name(d->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        // A name the volume cannot address is as unusable as a link.
        ListedEntry listed{std::string(name), {}};
        listed.status.kind = EntryKind::Foreign;
        struct stat st {};
        if (volumeNameUsable(name) && fstatat(dirfd(stream), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            statusFill(st, listed.status);
        }
        entries.push_back(std::move(listed));
        errno = 0;
    }
    const int error = errno != 0 ? swboot::ERRNO_IO : 0;
    closedir(stream);
    std::sort(entries.begin(), entries.end(), [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
    return error;
}

int PosixVolumeStore::read(int handle, uint8_t* buffer, size_t length, size_t& count) {
    ssize_t result;
    do {
        result = ::read(handle, buffer, length);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return hostError(errno);
    }
    count = static_cast<size_t>(result);
    return 0;
}

int PosixVolumeStore::write(int handle, const uint8_t* data, size_t length, size_t& count) {
    count = 0;
    while (count < length) {
        const ssize_t result = ::write(handle, data + count, length - count);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return hostError(errno);
        }
        count += static_cast<size_t>(result);
    }
    return 0;
}

int PosixVolumeStore::position(int handle, uint64_t& position) {
    const off_t at = ::lseek(handle, 0, SEEK_CUR);
    if (at < 0) {
        return hostError(errno);
    }
    position = static_cast<uint64_t>(at);
    return 0;
}

int PosixVolumeStore::seek(int handle, uint64_t position) {
    return ::lseek(handle, static_cast<off_t>(position), SEEK_SET) < 0 ? hostError(errno) : 0;
}

void PosixVolumeStore::mtimeSet(int handle, int64_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    futimens(handle, times);
}

void PosixVolumeStore::close(int handle) { ::close(handle); }

}  // namespace sim
