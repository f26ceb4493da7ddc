// The boot flash: two 28F128J3 parts side by side on the 32-bit bus at
// 0xFE000000, spoken to through 32-bit loads and stores. The top megabyte
// holds the boot code; below it lies the flash volume's window.
//
// Every command byte goes to both devices at once (upper byte of each
// 16-bit half), and every status word shows both devices' status registers.
// Also the flash access lock that serialises flash work with the event log.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/tasks.h"

namespace swboot {

class Loader;

inline constexpr uint32_t FLASH_BASE = 0xFE000000;
inline constexpr uint32_t FLASH_UNIT_SIZE = 0x40000;
inline constexpr uint32_t BOOT_FLASH_BASE = 0xFFF00000;
inline constexpr uint32_t BOOT_FLASH_LAST = 0xFFFFFFFF;
inline constexpr uint32_t BOOT_FLASH_SIZE = 0x100000;

// Command words (both devices).
inline constexpr uint32_t FLASH_CMD_READ_ARRAY = 0xFF00FF00;
inline constexpr uint32_t FLASH_CMD_CLEAR_STATUS = 0x50005000;
inline constexpr uint32_t FLASH_CMD_READ_STATUS = 0x70007000;
inline constexpr uint32_t FLASH_CMD_BLOCK_ERASE = 0x20002000;
inline constexpr uint32_t FLASH_CMD_WRITE_TO_BUFFER = 0xE800E800;
inline constexpr uint32_t FLASH_CMD_LOCK_SETUP = 0x60006000;
inline constexpr uint32_t FLASH_CMD_CONFIRM = 0xD000D000;

// Status bits (both devices).
inline constexpr uint32_t FLASH_STATUS_READY = 0x80008000;
inline constexpr uint32_t FLASH_STATUS_ERASE_ERROR = 0x20002000;
inline constexpr uint32_t FLASH_STATUS_PROGRAM_ERROR = 0x10001000;
inline constexpr uint32_t FLASH_STATUS_BIT2 = 0x04000400;

// One buffered program: 16 bus words, the 32-byte buffer of each device.
inline constexpr uint32_t FLASH_BUFFER_WORDS = 16;
inline constexpr uint32_t FLASH_ERASED_WORD = 0xFFFFFFFF;

// bootCodeUpdate results.
inline constexpr int BOOT_CODE_UPDATED = 0;
inline constexpr int BOOT_CODE_NO_FILE = 1;
inline constexpr int BOOT_CODE_ERASE_FAILED = 2;
inline constexpr int BOOT_CODE_FILE_REFUSED = 3;    // not a whole region with a reset vector, or unreadable: nothing erased
inline constexpr int BOOT_CODE_PROGRAM_FAILED = 4;  // the region does not read back as the file

// Status polls give up well past the datasheet's longest times (block
// erase 5 s, buffer program 654 us), so that a dead part cannot hang the
// loader.
inline constexpr int FLASH_ERASE_LIMIT_SECONDS = 10;
inline constexpr int FLASH_PROGRAM_LIMIT_SECONDS = 1;
// Polls made back to back before the poll starts giving up a tick between
// reads.
inline constexpr int FLASH_FAST_POLLS = 20000;

inline constexpr const char* FLASHACC_TAG = "flashacc.c";
inline constexpr int FLASHACC_LOCK_BITS_LINE = 122;
inline constexpr int FLASH_LOCK_BITS_READS = 12;
inline constexpr uint32_t BOOT_CODE_PIECE = 1024;
// The core's first fetch after reset is the last word of the boot code
// region; boot code the board can start from holds an unconditional branch
// there (primary opcode 18: "b", "ba", "bl" or "bla").
inline constexpr uint32_t RESET_VECTOR_OFFSET = BOOT_FLASH_SIZE - 4;
inline constexpr uint32_t PPC_PRIMARY_OPCODE_MASK = 0xFC000000;
inline constexpr uint32_t PPC_OPCODE_BRANCH = 0x48000000;
inline constexpr uint32_t BOOT_CODE_PROGRESS_STEP = 0x10000;

class FlashAccess {
public:
    explicit FlashAccess(Loader& loader) : loader_(loader) {}

    // The flash access lock: created available; taking it at interrupt
    // level, finding it taken after the semaphore was obtained, and giving
    // a lock that is free reset the board.
    void flashAccessInit();
    void flashAccessTake();
    void flashAccessGive();

    // The status word of both devices at the address.
    uint32_t flashStatusRead(uint32_t address);
    // Clears every block lock-bit of both devices; on success creates the
    // lock anew. Prints the time-out message after 12 reads otherwise.
    void flashLockBitsClear();
    // Erases the 256 KiB units covering first..last (nothing when they are
    // equal). An erase error resets the board.
    void flashBlocksErase(uint32_t first, uint32_t last);
    // Programs length bytes (rounded up to whole words) from the source
    // board address to the 4-byte aligned flash address, in buffered
    // programs that never cross a unit boundary. OK, or ERROR when a
    // program did not finish in time or the destination is not aligned.
    int flashProgram(uint32_t source, uint32_t destination, uint32_t length);

    // The boot code region.
    int bootFlashErase();
    int bootFlashWrite(uint32_t source, uint32_t offset, uint32_t length);
    // Writes the file into the boot code region; one of the BOOT_CODE_
    // results. The file is read and checked whole before anything is erased.
    int bootCodeUpdate(const char* fileName);

private:
    struct Poll {
        uint32_t status = 0;
        bool finished = false;
    };
    // Reads the status at the address until both devices are ready or the
    // limit has passed.
    Poll statusWaitReady(uint32_t address, int limitSeconds);

    Loader& loader_;
    std::unique_ptr<BinarySemaphore> semaphore_;
    bool lockFree_ = true;
};

}  // namespace swboot
