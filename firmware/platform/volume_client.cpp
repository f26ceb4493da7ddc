#include "volume_client.h"

#include "board_bus.h"
#include "common/bytes.h"
#include "platform/status.h"

namespace firmware {

using namespace volume_service;

namespace {

uint32_t addressOf(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

}  // namespace

VolumeClient::Reply VolumeClient::call(const Request& request) {
    using swboot::putBe32;
    putBe32(block_ + BLOCK_OPERATION, request.operation);
    putBe32(block_ + BLOCK_ARG0, request.arg0);
    putBe32(block_ + BLOCK_ARG1, request.arg1);
    putBe32(block_ + BLOCK_ARG2, request.arg2);
    putBe32(block_ + BLOCK_NAME, addressOf(request.name));
    putBe32(block_ + BLOCK_NAME2, addressOf(request.name2));
    putBe32(block_ + BLOCK_BUFFER, addressOf(request.buffer));
    putBe32(block_ + BLOCK_LENGTH, request.length);
    putBe32(block_ + BLOCK_RESULT, static_cast<uint32_t>(swboot::ERROR));
    putBe32(block_ + BLOCK_ERRNO, swboot::ERRNO_IO);
    // The block and the buffers must be in RAM before the device reads them.
    memoryBarrier();
    store32(BASE + REG_REQUEST, addressOf(block_));
    memoryBarrier();
    Reply reply;
    if (load32(BASE + REG_STATUS) != STATUS_DONE) {
        errno_ = swboot::ERRNO_IO;
        return reply;
    }
    reply.result = static_cast<int32_t>(swboot::getBe32(block_ + BLOCK_RESULT));
    errno_ = static_cast<int>(swboot::getBe32(block_ + BLOCK_ERRNO));
    for (uint32_t i = 0; i < 4; ++i) {
        reply.out[i] = swboot::getBe32(block_ + BLOCK_OUT0 + 4 * i);
    }
    return reply;
}

int VolumeClient::open(const char* name, int flags, int mode) {
    return call({OP_OPEN, static_cast<uint32_t>(flags), static_cast<uint32_t>(mode), 0, name}).result;
}

int VolumeClient::creat(const char* name, int flags) {
    return call({OP_CREAT, static_cast<uint32_t>(flags), 0, 0, name}).result;
}

long VolumeClient::read(int fd, uint8_t* buffer, size_t length) {
    Request request{OP_READ, static_cast<uint32_t>(fd)};
    request.buffer = buffer;
    request.length = static_cast<uint32_t>(length);
    return call(request).result;
}

long VolumeClient::write(int fd, const uint8_t* data, size_t length) {
    Request request{OP_WRITE, static_cast<uint32_t>(fd)};
    request.buffer = data;
    request.length = static_cast<uint32_t>(length);
    return call(request).result;
}

long VolumeClient::lseek(int fd, long offset, int origin) {
    return call({OP_LSEEK, static_cast<uint32_t>(fd), static_cast<uint32_t>(offset), static_cast<uint32_t>(origin)})
        .result;
}

int VolumeClient::close(int fd) { return call({OP_CLOSE, static_cast<uint32_t>(fd)}).result; }

void VolumeClient::statusFrom(const Reply& reply, swboot::FileStatus& status) const {
    status.mode = reply.out[0];
    status.size = reply.out[1];
    status.mtime = static_cast<int64_t>((static_cast<uint64_t>(reply.out[2]) << 32) | reply.out[3]);
}

int VolumeClient::fstat(int fd, swboot::FileStatus& status) {
    const Reply reply = call({OP_FSTAT, static_cast<uint32_t>(fd)});
    if (reply.result == swboot::OK) {
        statusFrom(reply, status);
    }
    return reply.result;
}

int VolumeClient::remove(const char* name) { return call({OP_REMOVE, 0, 0, 0, name}).result; }

int VolumeClient::rename(const char* oldName, const char* newName) {
    return call({OP_RENAME, 0, 0, 0, oldName, newName}).result;
}

int VolumeClient::stat(const char* name, swboot::FileStatus& status) {
    const Reply reply = call({OP_STAT, 0, 0, 0, name});
    if (reply.result == swboot::OK) {
        statusFrom(reply, status);
    }
    return reply.result;
}

int VolumeClient::mkdir(const char* name) { return call({OP_MKDIR, 0, 0, 0, name}).result; }

int VolumeClient::opendir(const char* name) { return call({OP_OPENDIR, 0, 0, 0, name}).result; }

int VolumeClient::readdir(int dir, swboot::DirectoryEntry& entry) {
    Request request{OP_READDIR, static_cast<uint32_t>(dir)};
    request.buffer = entry.name;
    request.length = sizeof entry.name;
    return call(request).result;
}

int VolumeClient::closedir(int dir) { return call({OP_CLOSEDIR, static_cast<uint32_t>(dir)}).result; }

int VolumeClient::chdir(const char* name) { return call({OP_CHDIR, 0, 0, 0, name}).result; }

int VolumeClient::getcwd(char* buffer, size_t size) {
    Request request{OP_GETCWD};
    request.buffer = buffer;
    request.length = static_cast<uint32_t>(size);
    return call(request).result;
}

int VolumeClient::usrTffsConfig(int drive, int removable, const char* name) {
    return call({OP_TFFS_CONFIG, static_cast<uint32_t>(drive), static_cast<uint32_t>(removable), 0, name}).result;
}

int VolumeClient::tffsDevFormat(int drive, const swboot::TffsFormatParams& params) {
    // The parameters travel as seven big-endian words, in declaration order.
    uint8_t words[7 * 4];
    const uint32_t values[7] = {params.bootImageLength, params.percentUse,       params.noOfSpareUnits,
                                params.vmAddressingLimit, params.noOfFatCopies, params.embeddedCisLength,
                                params.formatFlags};
    for (int i = 0; i < 7; ++i) {
        swboot::putBe32(words + 4 * i, values[i]);
    }
    Request request{OP_TFFS_FORMAT, static_cast<uint32_t>(drive)};
    request.buffer = words;
    request.length = sizeof words;
    return call(request).result;
}

int VolumeClient::printed(const Reply& reply) {
    size_t length = reply.out[0];
    if (length > sizeof text_) {
        length = sizeof text_;
    }
    console_.write(reinterpret_cast<const uint8_t*>(text_), length);
    return reply.result;
}

int VolumeClient::dosFsChkDsk(const char* name, uint32_t mode) {
    Request request{OP_CHKDSK, mode, 0, 0, name};
    request.buffer = text_;
    request.length = sizeof text_;
    return printed(call(request));
}

int VolumeClient::volumeShow(const char* name, int level) {
    Request request{OP_VOLUME_SHOW, static_cast<uint32_t>(level), 0, 0, name};
    request.buffer = text_;
    request.length = sizeof text_;
    return printed(call(request));
}

int VolumeClient::statistics(int fd, swboot::VolumeStatistics& statistics) {
    const Reply reply = call({OP_STATISTICS, static_cast<uint32_t>(fd)});
    if (reply.result == swboot::OK) {
        statistics.blockSize = reply.out[0];
        statistics.totalBlocks = reply.out[1];
        statistics.freeBlocks = reply.out[2];
    }
    return reply.result;
}

}  // namespace firmware
