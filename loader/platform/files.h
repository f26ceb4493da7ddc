// Files and directories of the I/O system.
//
// Names are resolved against the current directory unless they start with a
// device name such as "/DskVol/". Operations return ERROR on failure and
// leave the reason in errnoGet().
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

// open() flags.
inline constexpr int OPEN_RDONLY = 0x0000;
inline constexpr int OPEN_WRONLY = 0x0001;
inline constexpr int OPEN_RDWR = 0x0002;
inline constexpr int OPEN_ACCMODE = 0x0003;
inline constexpr int OPEN_CREAT = 0x0200;
inline constexpr int OPEN_TRUNC = 0x0400;

// lseek() origins.
inline constexpr int SEEK_FROM_START = 0;
inline constexpr int SEEK_FROM_CURRENT = 1;
inline constexpr int SEEK_FROM_END = 2;

// File type bits of FileStatus::mode.
inline constexpr uint32_t FILE_TYPE_MASK = 0xF000;
inline constexpr uint32_t FILE_TYPE_DIRECTORY = 0x4000;
inline constexpr uint32_t FILE_TYPE_REGULAR = 0x8000;

// Error numbers left in errnoGet().
inline constexpr int ERRNO_NOT_FOUND = 2;
inline constexpr int ERRNO_IO = 5;
inline constexpr int ERRNO_BAD_DESCRIPTOR = 9;
inline constexpr int ERRNO_NO_MEMORY = 12;
inline constexpr int ERRNO_EXISTS = 17;
inline constexpr int ERRNO_NOT_DIRECTORY = 20;
inline constexpr int ERRNO_IS_DIRECTORY = 21;
inline constexpr int ERRNO_INVALID = 22;
inline constexpr int ERRNO_TOO_MANY_OPEN = 24;
inline constexpr int ERRNO_NO_SPACE = 28;
inline constexpr int ERRNO_NAME_TOO_LONG = 36;
inline constexpr int ERRNO_NOT_EMPTY = 39;

inline constexpr size_t PATH_MAX_LENGTH = 256;
inline constexpr size_t NAME_MAX_LENGTH = 255;

struct FileStatus {
    uint32_t mode = 0;   // file type bits and permission bits
    uint32_t size = 0;   // bytes
    int64_t mtime = 0;   // modification time, calendar seconds
};

inline bool fileIsDirectory(const FileStatus& s) {
    return (s.mode & FILE_TYPE_MASK) == FILE_TYPE_DIRECTORY;
}
inline bool fileIsRegular(const FileStatus& s) {
    return (s.mode & FILE_TYPE_MASK) == FILE_TYPE_REGULAR;
}

struct DirectoryEntry {
    char name[NAME_MAX_LENGTH + 1];
};

class Files {
public:
    virtual ~Files() = default;

    // A descriptor (3 or above), or ERROR.
    virtual int open(const char* name, int flags, int mode) = 0;
    // Creates or truncates a file for writing; a descriptor, or ERROR.
    virtual int creat(const char* name, int flags) = 0;
    // Byte counts; 0 at end of file; ERROR on failure.
    virtual long read(int fd, uint8_t* buffer, size_t length) = 0;
    virtual long write(int fd, const uint8_t* data, size_t length) = 0;
    // The new position, or ERROR.
    virtual long lseek(int fd, long offset, int origin) = 0;
    virtual int close(int fd) = 0;
    virtual int fstat(int fd, FileStatus& status) = 0;

    virtual int remove(const char* name) = 0;
    virtual int rename(const char* oldName, const char* newName) = 0;
    virtual int stat(const char* name, FileStatus& status) = 0;
    virtual int mkdir(const char* name) = 0;

    // Directory reading: a handle (0 or above), or ERROR; readdir gives
    // OK with the next entry or ERROR at the end.
    virtual int opendir(const char* name) = 0;
    virtual int readdir(int dir, DirectoryEntry& entry) = 0;
    virtual int closedir(int dir) = 0;

    virtual int chdir(const char* name) = 0;
    // Copies the current directory's name; OK or ERROR when it does not fit.
    virtual int getcwd(char* buffer, size_t size) = 0;

    // The reason for the last failure.
    virtual int errnoGet() = 0;
};

}  // namespace swboot
