// Owners of platform resources, so that every path out of a routine -- a
// board reset included -- gives back what it took.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/files.h"
#include "platform/memory.h"

namespace swboot {

class FileHandle {
public:
    FileHandle(Files& files, int fd) : files_(&files), fd_(fd) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept
        : files_(other.files_), fd_(std::exchange(other.fd_, -1)) {}

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // Closes now; the result of the close.
    int close() {
        int result = 0;
        if (fd_ >= 0) {
            result = files_->close(fd_);
            fd_ = -1;
        }
        return result;
    }

private:
    Files* files_;
    int fd_;
};

class DirectoryHandle {
public:
    DirectoryHandle(Files& files, int dir) : files_(&files), dir_(dir) {}
    ~DirectoryHandle() {
        if (dir_ >= 0) {
            files_->closedir(dir_);
        }
    }
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;

    int dir() const { return dir_; }
    bool isOpen() const { return dir_ >= 0; }

private:
    Files* files_;
    int dir_;
};

class MemoryHandle {
public:
    MemoryHandle(Memory& memory, size_t size) : memory_(&memory), block_(memory.allocate(size)) {}
    ~MemoryHandle() {
        if (block_) {
            memory_->free(block_.address);
        }
    }
    MemoryHandle(const MemoryHandle&) = delete;
    MemoryHandle& operator=(const MemoryHandle&) = delete;

    // A block whose bytes cannot be handed out is no use for work on
    // bytes: it counts as memory that could not be had.
    explicit operator bool() const { return block_ && !block_.bytes.empty(); }
    uint32_t address() const { return block_.address; }
    uint8_t* data() const { return block_.bytes.data(); }
    size_t size() const { return block_.bytes.size(); }

private:
    Memory* memory_;
    MemoryBlock block_;
};

}  // namespace swboot
