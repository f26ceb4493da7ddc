// The volume service at 0xE0000000: a paravirtual device through which
// firmware running on the emulated core reaches the board's flash volume,
// standing in for the operating system's flash file system. The firmware
// writes a request block into RAM and its address into REQUEST; the call
// runs on the volume before the store completes and its result is written
// back into the block. The protocol is described in docs/volume-service.md.
//
// Requests come from code the simulator does not trust: the block, every
// name and every buffer must lie wholly in RAM, names must end within
// NAME_LIMIT bytes, and the volume itself checks descriptors and keeps
// every path inside the volume. A block that cannot be read is refused
// (STATUS says why) and nothing is written; anything wrong inside a
// readable block is answered with ERROR and an error number.
//
// The same window takes the firmware's console driver's option word: the
// terminal driver the firmware carries stands in for the operating system's,
// and the simulator treats the line as it does under the native loader's
// driver (a file transfer's bytes, sent with the option word 0, are kept
// out of the console log and metered).
//
// Modelled: the four 32-bit registers; other widths are bus errors (the
// board's address decoder), other offsets read 0 and ignore writes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "board/ram.h"
#include "platform/files.h"
#include "platform/volume.h"

namespace sim {

class VolumeService {
public:
    static constexpr uint32_t BASE = 0xE0000000;
    static constexpr uint32_t SIZE = 0x1000;

    static constexpr uint32_t REG_ID = 0x00;
    static constexpr uint32_t REG_REQUEST = 0x04;
    static constexpr uint32_t REG_STATUS = 0x08;
    static constexpr uint32_t REG_CONSOLE_OPTIONS = 0x0C;
    static constexpr uint32_t IDENTITY = 0x564F4C31;  // "VOL1"

    static constexpr uint32_t STATUS_DONE = 0;
    static constexpr uint32_t STATUS_BAD_BLOCK = 1;      // not in RAM, or not 16-byte aligned
    static constexpr uint32_t STATUS_BAD_OPERATION = 2;  // unknown operation number

    // Request block fields (big-endian words).
    static constexpr uint32_t BLOCK_OPERATION = 0;
    static constexpr uint32_t BLOCK_ARG0 = 4;
    static constexpr uint32_t BLOCK_ARG1 = 8;
    static constexpr uint32_t BLOCK_ARG2 = 12;
    static constexpr uint32_t BLOCK_NAME = 16;
    static constexpr uint32_t BLOCK_NAME2 = 20;
    static constexpr uint32_t BLOCK_BUFFER = 24;
    static constexpr uint32_t BLOCK_LENGTH = 28;
    static constexpr uint32_t BLOCK_RESULT = 32;
    static constexpr uint32_t BLOCK_ERRNO = 36;
    static constexpr uint32_t BLOCK_OUT0 = 40;
    static constexpr uint32_t BLOCK_SIZE = 64;
    static constexpr uint32_t BLOCK_ALIGNMENT = 16;
    // A name's bytes with its NUL.
    static constexpr uint32_t NAME_LIMIT = 256;
    static constexpr uint32_t FORMAT_PARAMETER_WORDS = 7;

    enum Operation : uint32_t {
        OP_OPEN = 1,
        OP_CREAT,
        OP_READ,
        OP_WRITE,
        OP_LSEEK,
        OP_CLOSE,
        OP_FSTAT,
        OP_REMOVE,
        OP_RENAME,
        OP_STAT,
        OP_MKDIR,
        OP_OPENDIR,
        OP_READDIR,
        OP_CLOSEDIR,
        OP_CHDIR,
        OP_GETCWD,
        OP_TFFS_CONFIG,
        OP_TFFS_FORMAT,
        OP_CHKDSK,
        OP_VOLUME_SHOW,
        OP_STATISTICS,
        OPERATION_LAST = OP_STATISTICS,
    };

    using Printer = std::function<void(std::string_view)>;
    // Installs a printer for the volume's text and returns the one it
    // replaces (the check and the display print; the text goes to the
    // request's buffer instead of the console).
    using PrinterSwap = std::function<Printer(Printer)>;

    VolumeService(Ram& ram, swboot::Files& files, swboot::Volume& volume, PrinterSwap printerSwap);

    uint32_t read32(uint32_t offset) const;
    void write32(uint32_t offset, uint32_t value);
    // The console driver's options as a power-on leaves them (the terminal
    // options); a console left raw is reported as leaving raw mode.
    void powerUp();
    // Called with true when the console's option word becomes 0 (raw mode)
    // and with false when it stops being 0.
    void setRawModeHook(std::function<void(bool raw)> hook) { rawModeHook_ = std::move(hook); }
    uint32_t requestsServed() const { return served_; }

private:
    struct Call;
    void run(uint32_t blockAddress);
    bool inRam(uint32_t address, uint32_t length) const;
    uint32_t word(uint32_t address) const { return ram_.load(address, 4); }

    Ram& ram_;
    swboot::Files& files_;
    swboot::Volume& volume_;
    PrinterSwap printerSwap_;
    void consoleOptionsSet(uint32_t options);

    uint32_t status_ = STATUS_DONE;
    uint32_t served_ = 0;
    uint32_t consoleOptions_;
    std::function<void(bool)> rawModeHook_;
};

}  // namespace sim
