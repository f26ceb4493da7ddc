#include "board/volume_service.h"

#include <optional>
#include <vector>

#include "platform/console.h"
#include "platform/status.h"

namespace sim {

using namespace swboot;

// One request being served: the block's fields, and what goes back.
struct VolumeService::Call {
    VolumeService& service;
    uint32_t block;
    int32_t result = ERROR;
    int error = 0;            // set by a check of the request; else the volume's
    uint32_t out[4] = {};

    uint32_t field(uint32_t offset) const { return service.word(block + offset); }
    int32_t argument(uint32_t offset) const { return static_cast<int32_t>(field(offset)); }

    // The NUL-terminated name whose address is in the field; nothing (and
    // the error) when it does not lie in RAM or is too long.
    std::optional<std::string> name(uint32_t offset) {
        const uint32_t address = field(offset);
        std::string text;
        for (uint32_t i = 0; i < NAME_LIMIT; ++i) {
            if (!service.inRam(address + i, 1) || address + i < address) {
                error = ERRNO_INVALID;
                return std::nullopt;
            }
            const char c = static_cast<char>(service.ram_.load(address + i, 1));
            if (c == '\0') {
                return text;
            }
            text.push_back(c);
        }
        error = ERRNO_NAME_TOO_LONG;
        return std::nullopt;
    }

    // The buffer's address and length, when the whole buffer lies in RAM.
    bool buffer(uint32_t& address, uint32_t& length) {
        address = field(BLOCK_BUFFER);
        length = field(BLOCK_LENGTH);
        if (length != 0 && !service.inRam(address, length)) {
            error = ERRNO_INVALID;
            return false;
        }
        return true;
    }

    std::vector<uint8_t> bytesIn(uint32_t address, uint32_t length) const {
        std::vector<uint8_t> bytes(length);
        for (uint32_t i = 0; i < length; ++i) {
            bytes[i] = static_cast<uint8_t>(service.ram_.load(address + i, 1));
        }
        return bytes;
    }

    void bytesOut(uint32_t address, const uint8_t* bytes, size_t length) const {
        for (size_t i = 0; i < length; ++i) {
            service.ram_.store(address + static_cast<uint32_t>(i), 1, bytes[i]);
        }
    }

    // A NUL-terminated text into the buffer; false (EINVAL) when it does
    // not fit.
    bool textOut(std::string_view text) {
        uint32_t address = 0;
        uint32_t length = 0;
        if (!buffer(address, length)) {
            return false;
        }
        if (text.size() + 1 > length) {
            error = ERRNO_INVALID;
            return false;
        }
        bytesOut(address, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        service.ram_.store(address + static_cast<uint32_t>(text.size()), 1, 0);
        return true;
    }

    void statusOut(const FileStatus& status) {
        out[0] = status.mode;
        out[1] = status.size;
        out[2] = static_cast<uint32_t>(static_cast<uint64_t>(status.mtime) >> 32);
        out[3] = static_cast<uint32_t>(status.mtime);
    }
};

VolumeService::VolumeService(Ram& ram, Files& files, Volume& volume, PrinterSwap printerSwap)
    : ram_(ram), files_(files), volume_(volume), printerSwap_(std::move(printerSwap)), consoleOptions_(OPT_TERMINAL) {}

bool VolumeService::inRam(uint32_t address, uint32_t length) const {
    return length != 0 && static_cast<uint64_t>(address) + length <= 0x100000000ull && ram_.contains(address, length);
}

uint32_t VolumeService::read32(uint32_t offset) const {
    switch (offset) {
        case REG_ID:
            return IDENTITY;
        case REG_STATUS:
            return status_;
        case REG_CONSOLE_OPTIONS:
            return consoleOptions_;
        default:
            return 0;
    }
}

void VolumeService::write32(uint32_t offset, uint32_t value) {
    if (offset == REG_REQUEST) {
        run(value);
    } else if (offset == REG_CONSOLE_OPTIONS) {
        consoleOptionsSet(value);
    }
}

void VolumeService::powerUp() {
    status_ = STATUS_DONE;
    consoleOptionsSet(OPT_TERMINAL);
}

void VolumeService::consoleOptionsSet(uint32_t options) {
    const bool wasRaw = consoleOptions_ == OPT_RAW;
    consoleOptions_ = options;
    if (wasRaw != (options == OPT_RAW) && rawModeHook_) {
        rawModeHook_(options == OPT_RAW);
    }
}

void VolumeService::run(uint32_t blockAddress) {
    if (blockAddress % BLOCK_ALIGNMENT != 0 || !inRam(blockAddress, BLOCK_SIZE)) {
        status_ = STATUS_BAD_BLOCK;
        return;
    }
    const uint32_t operation = word(blockAddress + BLOCK_OPERATION);
    if (operation < OP_OPEN || operation > OPERATION_LAST) {
        status_ = STATUS_BAD_OPERATION;
        return;
    }
    status_ = STATUS_DONE;
    ++served_;
    Call call{*this, blockAddress};
    const int32_t arg0 = call.argument(BLOCK_ARG0);
    const int32_t arg1 = call.argument(BLOCK_ARG1);
    const int32_t arg2 = call.argument(BLOCK_ARG2);
    uint32_t address = 0;
    uint32_t length = 0;

    switch (operation) {
        case OP_OPEN:
        case OP_CREAT:
        case OP_REMOVE:
        case OP_MKDIR:
        case OP_OPENDIR:
        case OP_CHDIR:
        case OP_STAT:
        case OP_TFFS_CONFIG: {
            const std::optional<std::string> name = call.name(BLOCK_NAME);
            if (!name) {
                break;
            }
            const char* n = name->c_str();
            FileStatus status;
            switch (operation) {
                case OP_OPEN: call.result = files_.open(n, arg0, arg1); break;
                case OP_CREAT: call.result = files_.creat(n, arg0); break;
                case OP_REMOVE: call.result = files_.remove(n); break;
                case OP_MKDIR: call.result = files_.mkdir(n); break;
                case OP_OPENDIR: call.result = files_.opendir(n); break;
                case OP_CHDIR: call.result = files_.chdir(n); break;
                case OP_TFFS_CONFIG: call.result = volume_.usrTffsConfig(arg0, arg1, n); break;
                default:
                    call.result = files_.stat(n, status);
                    if (call.result == OK) {
                        call.statusOut(status);
                    }
                    break;
            }
            break;
        }
        case OP_RENAME: {
            const std::optional<std::string> from = call.name(BLOCK_NAME);
            const std::optional<std::string> to = from ? call.name(BLOCK_NAME2) : std::nullopt;
            if (to) {
                call.result = files_.rename(from->c_str(), to->c_str());
            }
            break;
        }
        case OP_READ:
            if (call.buffer(address, length)) {
                std::vector<uint8_t> bytes(length);
                const long n = files_.read(arg0, bytes.data(), length);
                if (n > 0) {
                    call.bytesOut(address, bytes.data(), static_cast<size_t>(n));
                }
                call.result = static_cast<int32_t>(n);
            }
            break;
        case OP_WRITE:
            if (call.buffer(address, length)) {
                const std::vector<uint8_t> bytes = call.bytesIn(address, length);
                call.result = static_cast<int32_t>(files_.write(arg0, bytes.data(), length));
            }
            break;
        case OP_LSEEK:
            call.result = static_cast<int32_t>(files_.lseek(arg0, arg1, arg2));
            break;
        case OP_CLOSE:
            call.result = files_.close(arg0);
            break;
        case OP_CLOSEDIR:
            call.result = files_.closedir(arg0);
            break;
        case OP_FSTAT: {
            FileStatus status;
            call.result = files_.fstat(arg0, status);
            if (call.result == OK) {
                call.statusOut(status);
            }
            break;
        }
        case OP_READDIR: {
            DirectoryEntry entry{};
            const int result = files_.readdir(arg0, entry);
            if (result == OK) {
                entry.name[sizeof entry.name - 1] = '\0';
                call.result = call.textOut(entry.name) ? OK : ERROR;
            } else {
                call.result = result;
            }
            break;
        }
        case OP_GETCWD: {
            char cwd[PATH_MAX_LENGTH + 1] = {};
            if (files_.getcwd(cwd, sizeof cwd) == OK) {
                cwd[sizeof cwd - 1] = '\0';
                call.result = call.textOut(cwd) ? OK : ERROR;
            }
            break;
        }
        case OP_TFFS_FORMAT:
            if (call.buffer(address, length)) {
                if (length < 4 * FORMAT_PARAMETER_WORDS) {
                    call.error = ERRNO_INVALID;
                    break;
                }
                uint32_t words[FORMAT_PARAMETER_WORDS];
                for (uint32_t i = 0; i < FORMAT_PARAMETER_WORDS; ++i) {
                    words[i] = word(address + 4 * i);
                }
                const TffsFormatParams params{words[0], words[1], words[2], words[3], words[4], words[5], words[6]};
                call.result = volume_.tffsDevFormat(arg0, params);
            }
            break;
        case OP_CHKDSK:
        case OP_VOLUME_SHOW: {
            const std::optional<std::string> name = call.name(BLOCK_NAME);
            if (!name || !call.buffer(address, length)) {
                break;
            }
            std::string text;
            Printer previous = printerSwap_([&text](std::string_view piece) { text.append(piece); });
            call.result = operation == OP_CHKDSK ? volume_.dosFsChkDsk(name->c_str(), static_cast<uint32_t>(arg0))
                                                 : volume_.volumeShow(name->c_str(), arg0);
            printerSwap_(std::move(previous));
            call.bytesOut(address, reinterpret_cast<const uint8_t*>(text.data()),
                          std::min<size_t>(text.size(), length));
            call.out[0] = static_cast<uint32_t>(text.size());
            break;
        }
        case OP_STATISTICS: {
            VolumeStatistics statistics;
            call.result = volume_.statistics(arg0, statistics);
            if (call.result == OK) {
                call.out[0] = statistics.blockSize;
                call.out[1] = statistics.totalBlocks;
                call.out[2] = statistics.freeBlocks;
            }
            break;
        }
        default:
            break;
    }

    ram_.store(blockAddress + BLOCK_RESULT, 4, static_cast<uint32_t>(call.result));
    ram_.store(blockAddress + BLOCK_ERRNO, 4,
               static_cast<uint32_t>(call.error != 0 ? call.error : files_.errnoGet()));
    for (uint32_t i = 0; i < 4; ++i) {
        ram_.store(blockAddress + BLOCK_OUT0 + 4 * i, 4, call.out[i]);
    }
}

}  // namespace sim
