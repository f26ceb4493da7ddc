// The loader's files and flash volume on the firmware: every call becomes a
// request to the volume service, a device at 0xE0000000 that stands in for
// the flash file system. The request block lives in RAM; its address is
// written to the device's REQUEST register, and when that store completes
// the block holds the result. The protocol is described in
// docs/volume-service.md.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/volume.h"

namespace firmware {

namespace volume_service {
inline constexpr uint32_t BASE = 0xE0000000;
inline constexpr uint32_t REG_ID = 0x00;       // reads IDENTITY
inline constexpr uint32_t REG_REQUEST = 0x04;  // write: run the request block at this RAM address
inline constexpr uint32_t REG_STATUS = 0x08;   // read: STATUS_DONE, or why the block was refused
// write: the console driver's option word, each time it changes
inline constexpr uint32_t REG_CONSOLE_OPTIONS = 0x0C;
inline constexpr uint32_t IDENTITY = 0x564F4C31;  // "VOL1"
inline constexpr uint32_t STATUS_DONE = 0;

// The request block: big-endian 32-bit words at these offsets.
inline constexpr uint32_t BLOCK_OPERATION = 0;
inline constexpr uint32_t BLOCK_ARG0 = 4;
inline constexpr uint32_t BLOCK_ARG1 = 8;
inline constexpr uint32_t BLOCK_ARG2 = 12;
inline constexpr uint32_t BLOCK_NAME = 16;    // address of a NUL-terminated name
inline constexpr uint32_t BLOCK_NAME2 = 20;   // the second name (rename)
inline constexpr uint32_t BLOCK_BUFFER = 24;  // address of the data buffer
inline constexpr uint32_t BLOCK_LENGTH = 28;  // its length in bytes
inline constexpr uint32_t BLOCK_RESULT = 32;  // out: the call's return value
inline constexpr uint32_t BLOCK_ERRNO = 36;   // out: the volume's error number after the call
inline constexpr uint32_t BLOCK_OUT0 = 40;    // out: values returned beside the result
inline constexpr uint32_t BLOCK_OUT1 = 44;
inline constexpr uint32_t BLOCK_OUT2 = 48;
inline constexpr uint32_t BLOCK_OUT3 = 52;
inline constexpr uint32_t BLOCK_SIZE = 64;

enum Operation : uint32_t {
    OP_OPEN = 1,
    OP_CREAT = 2,
    OP_READ = 3,
    OP_WRITE = 4,
    OP_LSEEK = 5,
    OP_CLOSE = 6,
    OP_FSTAT = 7,
    OP_REMOVE = 8,
    OP_RENAME = 9,
    OP_STAT = 10,
    OP_MKDIR = 11,
    OP_OPENDIR = 12,
    OP_READDIR = 13,
    OP_CLOSEDIR = 14,
    OP_CHDIR = 15,
    OP_GETCWD = 16,
    OP_TFFS_CONFIG = 17,
    OP_TFFS_FORMAT = 18,
    OP_CHKDSK = 19,
    OP_VOLUME_SHOW = 20,
    OP_STATISTICS = 21,
};
}  // namespace volume_service

class VolumeClient : public swboot::Files, public swboot::Volume {
public:
    // Text the volume prints (check and display) arrives in a buffer of
    // this size and is written to the console.
    static constexpr size_t TEXT_BUFFER_SIZE = 4096;

    explicit VolumeClient(swboot::Console& console) : console_(console) {}

    // swboot::Files
    int open(const char* name, int flags, int mode) override;
    int creat(const char* name, int flags) override;
    long read(int fd, uint8_t* buffer, size_t length) override;
    long write(int fd, const uint8_t* data, size_t length) override;
    long lseek(int fd, long offset, int origin) override;
    int close(int fd) override;
    int fstat(int fd, swboot::FileStatus& status) override;
    int remove(const char* name) override;
    int rename(const char* oldName, const char* newName) override;
    int stat(const char* name, swboot::FileStatus& status) override;
    int mkdir(const char* name) override;
    int opendir(const char* name) override;
    int readdir(int dir, swboot::DirectoryEntry& entry) override;
    int closedir(int dir) override;
    int chdir(const char* name) override;
    int getcwd(char* buffer, size_t size) override;
    int errnoGet() override { return errno_; }

    // swboot::Volume
    int usrTffsConfig(int drive, int removable, const char* name) override;
    int tffsDevFormat(int drive, const swboot::TffsFormatParams& params) override;
    int dosFsChkDsk(const char* name, uint32_t mode) override;
    int volumeShow(const char* name, int level) override;
    int statistics(int fd, swboot::VolumeStatistics& statistics) override;

private:
    struct Request {
        uint32_t operation = 0;
        uint32_t arg0 = 0, arg1 = 0, arg2 = 0;
        const void* name = nullptr;
        const void* name2 = nullptr;
        const void* buffer = nullptr;
        uint32_t length = 0;
    };
    struct Reply {
        int32_t result = -1;
        uint32_t out[4] = {};
    };
    // Runs one request; a refused block counts as an I/O error.
    Reply call(const Request& request);
    void statusFrom(const Reply& reply, swboot::FileStatus& status) const;
    int printed(const Reply& reply);

    swboot::Console& console_;
    int errno_ = 0;
    alignas(16) uint8_t block_[volume_service::BLOCK_SIZE] = {};
    char text_[TEXT_BUFFER_SIZE] = {};
};

}  // namespace firmware
