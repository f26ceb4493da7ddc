// Where the flash volume's files are kept: the few host file system
// operations HostVolume is built on, all relative to directory handles so
// that no path ever leaves the volume's root. PosixVolumeStore keeps the
// files in a host directory; MemoryVolumeStore keeps them in memory, for
// boards that are made and thrown away many times a second (fuzzing).
//
// Every operation returns 0 or the volume's error number (swboot::ERRNO_*).
// Handles are small non-negative numbers, valid until close(). An open
// file stays readable and writable after its entry is removed or replaced,
// as on POSIX: the volume relies on it to stop counting such a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Foreign: an entry the volume cannot use (a symbolic link, a socket, a
// name a FAT volume cannot hold).
enum class EntryKind { Missing, Regular, Directory, Foreign };

struct EntryStatus {
    EntryKind kind = EntryKind::Missing;
    uint64_t size = 0;
    int64_t mtime = 0;  // seconds
    // Together they tell one file from another.
    uint64_t device = 0;
    uint64_t inode = 0;
};

struct ListedEntry {
    std::string name;
    EntryStatus status;
};

enum class StoreAccess { Read, Write, ReadWrite };

class VolumeStore {
public:
    // The name that stands for a directory itself in the *At() calls.
    static constexpr const char* SELF = ".";

    VolumeStore() = default;
    virtual ~VolumeStore() = default;
    VolumeStore(const VolumeStore&) = delete;
    VolumeStore& operator=(const VolumeStore&) = delete;

    // Makes the root directory when it is missing.
    virtual int rootMake() = 0;
    // Removes everything below the root, making the root when it is missing.
    virtual int rootEmpty() = 0;
    virtual int rootOpen(int& handle) = 0;

    // The entry `name` of the directory, never following a link; a missing
    // entry is kind Missing, not an error.
    virtual int statAt(int directory, const std::string& name, EntryStatus& status) = 0;
    virtual int fstat(int handle, EntryStatus& status) = 0;
    // Opens the directory `name` (or SELF) of the directory; a link is refused.
    virtual int directoryOpenAt(int directory, const std::string& name, int& handle) = 0;
    // Opens the regular file `name` of the directory at position 0; with
    // `create` it makes a new one and fails with ERRNO_EXISTS when there is
    // one. A link is refused.
    virtual int fileOpenAt(int directory, const std::string& name, StoreAccess access, bool create, bool truncate,
                           int& handle) = 0;
    virtual int mkdirAt(int directory, const std::string& name) = 0;
    // Removes a file, or an empty directory when `directory` is set.
    virtual int unlinkAt(int directory, const std::string& name, bool isDirectory) = 0;
    // Moves an entry, replacing a file (or an empty directory) of the new name.
    virtual int renameAt(int fromDirectory, const std::string& fromName, int toDirectory,
                         const std::string& toName) = 0;
    // The entries of a directory but "." and "..", sorted by name.
    virtual int list(int directory, std::vector<ListedEntry>& entries) = 0;

    // Reads up to `length` bytes at the position and moves it on.
    virtual int read(int handle, uint8_t* buffer, size_t length, size_t& count) = 0;
    // Writes the bytes at the position (a position past the end leaves
    // zeros between); `count` is what was written before any error.
    virtual int write(int handle, const uint8_t* data, size_t length, size_t& count) = 0;
    virtual int position(int handle, uint64_t& position) = 0;
    virtual int seek(int handle, uint64_t position) = 0;
    virtual void mtimeSet(int handle, int64_t seconds) = 0;
    virtual void close(int handle) = 0;
};

// A store handle, closed when it goes out of scope.
class StoreHandle {
public:
    explicit StoreHandle(VolumeStore& store) : store_(&store) {}
    ~StoreHandle() { reset(); }
    StoreHandle(StoreHandle&& other) noexcept : store_(other.store_), handle_(other.release()) {}
    StoreHandle& operator=(StoreHandle&& other) noexcept {
        if (this != &other) {
            reset();
            store_ = other.store_;
            handle_ = other.release();
        }
        return *this;
    }
    StoreHandle(const StoreHandle&) = delete;
    StoreHandle& operator=(const StoreHandle&) = delete;

    int get() const { return handle_; }
    // Where an opening call puts the new handle; closes the one held.
    int& out() {
        reset();
        return handle_;
    }
    int release() {
        const int handle = handle_;
        handle_ = -1;
        return handle;
    }
    explicit operator bool() const { return handle_ >= 0; }
    void reset() {
        if (handle_ >= 0) {
            store_->close(handle_);
            handle_ = -1;
        }
    }

private:
    VolumeStore* store_;
    int handle_ = -1;
};

}  // namespace sim
