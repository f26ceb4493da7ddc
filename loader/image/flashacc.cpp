#include "image/flashacc.h"

#include <algorithm>

#include "common/bytes.h"
#include "common/handles.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr uint32_t WORD_BYTES = 4;
constexpr uint32_t COUNT_WORD_SHIFT_HIGH = 24;
constexpr uint32_t COUNT_WORD_SHIFT_LOW = 8;
constexpr uint64_t ADDRESS_SPACE_END = 0x100000000ull;

}  // namespace

void FlashAccess::flashAccessInit() {
    semaphore_ = loader_.p.tasks.binarySemaphoreCreate();
    lockFree_ = true;
}

void FlashAccess::flashAccessTake() {
    if (loader_.p.tasks.intContext() || !semaphore_) {
        loader_.board.boardReset();
    }
    semaphore_->take();
    if (!lockFree_) {
        loader_.board.boardReset();
    }
    lockFree_ = false;
}

void FlashAccess::flashAccessGive() {
    if (lockFree_ || !semaphore_) {
        loader_.board.boardReset();
    }
    lockFree_ = true;
    semaphore_->give();
}

uint32_t FlashAccess::flashStatusRead(uint32_t address) {
    Bus& bus = loader_.p.bus;
    bus.write32(address, FLASH_CMD_READ_STATUS);
    return bus.read32(address);
}

FlashAccess::Poll FlashAccess::statusWaitReady(uint32_t address, int limitSeconds) {
    Clock& clock = loader_.p.clock;
    const uint32_t start = clock.tickGet();
    const uint32_t limit = static_cast<uint32_t>(limitSeconds * clock.clockRate());
    for (int polls = 1;; ++polls) {
        const uint32_t status = flashStatusRead(address);
        if ((status & FLASH_STATUS_READY) == FLASH_STATUS_READY) {
            return {status, true};
        }
        if (clock.tickGet() - start >= limit) {
            return {status, false};
        }
        if (polls >= FLASH_FAST_POLLS) {
            clock.taskDelay(1);
        }
    }
}

void FlashAccess::flashLockBitsClear() {
    Bus& bus = loader_.p.bus;
    Clock& clock = loader_.p.clock;
    for (uint32_t command : {FLASH_CMD_READ_ARRAY, FLASH_CMD_CLEAR_STATUS, FLASH_CMD_LOCK_SETUP, FLASH_CMD_CONFIRM}) {
        bus.write32(BOOT_FLASH_BASE, command);
    }
    uint32_t status = flashStatusRead(BOOT_FLASH_BASE);
    int reads = 1;
    while (status != FLASH_STATUS_READY) {
        clock.taskDelay(clock.clockRate() / 10);
        if (reads == FLASH_LOCK_BITS_READS) {
            loader_.io.printf("\n\n%s:%d - Clear Block Lock-Bits Time expired!\n\n", FLASHACC_TAG,
                              FLASHACC_LOCK_BITS_LINE);
            return;
        }
        status = flashStatusRead(BOOT_FLASH_BASE);
        ++reads;
    }
    bus.write32(BOOT_FLASH_BASE, FLASH_CMD_CLEAR_STATUS);
    bus.write32(BOOT_FLASH_BASE, FLASH_CMD_READ_ARRAY);
    flashAccessInit();
}

void FlashAccess::flashBlocksErase(uint32_t first, uint32_t last) {
    if (first == last) {
        return;
    }
    Bus& bus = loader_.p.bus;
    Clock& clock = loader_.p.clock;
    const uint32_t units = (last - first) / FLASH_UNIT_SIZE + 1;
    const uint64_t start = first & ~(FLASH_UNIT_SIZE - 1);
    for (uint32_t i = 0; i < units; ++i) {
        const uint64_t unit = start + uint64_t{i} * FLASH_UNIT_SIZE;
        if (unit < FLASH_BASE || unit >= ADDRESS_SPACE_END) {
            // A range that runs past the flash (or wraps round the top of
            // the address space) would send erase commands into RAM.
            return;
        }
        const auto address = static_cast<uint32_t>(unit);
        bus.write32(address, FLASH_CMD_CLEAR_STATUS);
        bus.write32(address, FLASH_CMD_BLOCK_ERASE);
        bus.write32(address, FLASH_CMD_CONFIRM);
        const Poll poll = statusWaitReady(address, FLASH_ERASE_LIMIT_SECONDS);
        if (!poll.finished) {
            loader_.io.printf("\nFlash erase at 0x%08x did not finish (status 0x%08x); resetting.\n", address,
                              poll.status);
            loader_.io.flush();
            loader_.board.boardReset();
        }
        if ((poll.status & FLASH_STATUS_ERASE_ERROR) != 0) {
            loader_.board.boardReset();
        }
        const uint32_t began = clock.tickGet();
        const auto limit = static_cast<uint32_t>(FLASH_ERASE_LIMIT_SECONDS * clock.clockRate());
        for (int reads = 1;; ++reads) {
            bus.write32(address, FLASH_CMD_READ_ARRAY);
            if (bus.read32(address) == FLASH_ERASED_WORD) {
                break;
            }
            if (clock.tickGet() - began >= limit) {
                loader_.io.printf("\nFlash at 0x%08x does not read as erased; resetting.\n", address);
                loader_.io.flush();
                loader_.board.boardReset();
            }
            if (reads >= FLASH_FAST_POLLS) {
                clock.taskDelay(1);
            }
        }
    }
}

int FlashAccess::flashProgram(uint32_t source, uint32_t destination, uint32_t length) {
    if (destination % WORD_BYTES != 0) {
        return ERROR;
    }
    Bus& bus = loader_.p.bus;
    const uint64_t total = (uint64_t{length} + WORD_BYTES - 1) & ~uint64_t{WORD_BYTES - 1};
    std::span<uint8_t> from = bus.ramView(source, total);
    uint64_t p = 0;
    while (p < total) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(FLASH_BUFFER_WORDS, (total - p) / WORD_BYTES));
        const uint64_t at = uint64_t{destination} + p;
        const uint64_t unitEnd = (at | (FLASH_UNIT_SIZE - 1)) + 1;
        if (at + uint64_t{n} * WORD_BYTES > unitEnd) {
            n = static_cast<uint32_t>((unitEnd - at) / WORD_BYTES);
        }
        const auto address = static_cast<uint32_t>(at);
        bus.write32(address, FLASH_CMD_CLEAR_STATUS);
        bus.write32(address, FLASH_CMD_WRITE_TO_BUFFER);
        bus.write32(address, ((n - 1) << COUNT_WORD_SHIFT_HIGH) | ((n - 1) << COUNT_WORD_SHIFT_LOW));
        for (uint32_t k = 0; k < n; ++k) {
            const uint64_t offset = p + uint64_t{k} * WORD_BYTES;
            const uint32_t word = from.empty() ? bus.read32(static_cast<uint32_t>(source + offset))
                                               : getBe32(from.data() + offset);
            bus.write32(address + k * WORD_BYTES, word);
        }
        bus.write32(address, FLASH_CMD_CONFIRM);
        const Poll poll = statusWaitReady(address, FLASH_PROGRAM_LIMIT_SECONDS);
        if (!poll.finished) {
            bus.write32(address, FLASH_CMD_READ_ARRAY);
            return ERROR;
        }
        if ((poll.status & FLASH_STATUS_PROGRAM_ERROR) != 0 && (poll.status & FLASH_STATUS_BIT2) != 0) {
            bus.write32(address, FLASH_CMD_CONFIRM);
        }
        bus.write32(address, FLASH_CMD_READ_ARRAY);
        p += uint64_t{n} * WORD_BYTES;
    }
    return OK;
}

int FlashAccess::bootFlashErase() {
    flashBlocksErase(BOOT_FLASH_BASE, BOOT_FLASH_LAST);
    return 0;
}

int FlashAccess::bootFlashWrite(uint32_t source, uint32_t offset, uint32_t length) {
    return flashProgram(source, offset - BOOT_FLASH_SIZE, length);
}

int FlashAccess::bootCodeUpdate(const char* fileName) {
    Loader& l = loader_;
    Stdio& io = l.io;
    Files& files = l.p.files;
    FileHandle file(files, files.open(fileName, OPEN_RDONLY, 0));
    if (!file.isOpen()) {
        return BOOT_CODE_NO_FILE;
    }
    FileStatus status;
    if (files.fstat(file.fd(), status) != OK) {
        io.printf("ERROR: cannot tell the size of %s; the boot flash was not changed.\n", fileName);
        return BOOT_CODE_FILE_REFUSED;
    }
    const uint32_t size = status.size;
    if (size == 0) {
        io.printf("ERROR: %s is empty; the boot flash was not changed.\n", fileName);
        return BOOT_CODE_FILE_REFUSED;
    }
    if (size > BOOT_FLASH_SIZE) {
        io.printf("ERROR: %s is %u bytes, more than the %u-byte boot code region; the boot flash was not changed.\n",
                  fileName, size, BOOT_FLASH_SIZE);
        return BOOT_CODE_FILE_REFUSED;
    }
    // The file is written from the start of the region, so anything shorter
    // leaves the reset vector erased and the board unable to start.
    if (size < BOOT_FLASH_SIZE) {
        io.printf("ERROR: %s is %u bytes, less than the %u-byte boot code region: the reset vector at its end "
                  "would be left erased and the board could not start; the boot flash was not changed.\n",
                  fileName, size, BOOT_FLASH_SIZE);
        return BOOT_CODE_FILE_REFUSED;
    }
    const uint32_t words = (size + WORD_BYTES - 1) & ~(WORD_BYTES - 1);
    MemoryHandle code(l.p.memory, words);
    if (!code) {
        io.printf("ERROR: no memory to hold %s (%u bytes); the boot flash was not changed.\n", fileName, size);
        return BOOT_CODE_FILE_REFUSED;
    }
    // The whole replacement is in hand before anything is erased.
    std::fill(code.data() + size, code.data() + words, uint8_t{0xFF});
    for (uint32_t got = 0; got < size;) {
        const uint32_t piece = std::min(BOOT_CODE_PIECE, size - got);
        const long n = files.read(file.fd(), code.data() + got, piece);
        if (n != static_cast<long>(piece)) {
            io.printf("ERROR: only %u of the %u bytes of %s could be read; the boot flash was not changed.\n",
                      got + (n > 0 ? static_cast<uint32_t>(n) : 0), size, fileName);
            return BOOT_CODE_FILE_REFUSED;
        }
        got += piece;
    }
    const uint32_t resetVector = getBe32(code.data() + RESET_VECTOR_OFFSET);
    if ((resetVector & PPC_PRIMARY_OPCODE_MASK) != PPC_OPCODE_BRANCH) {
        io.printf("ERROR: the reset vector at the end of %s is 0x%08x, not a branch: the board could not start "
                  "from it; the boot flash was not changed.\n",
                  fileName, resetVector);
        return BOOT_CODE_FILE_REFUSED;
    }

    flashAccessTake();
    io.printf("Erasing Boot Flash.....");
    io.flush();
    if (bootFlashErase() != 0) {
        io.printf("\nBoot Flash erase FAILURE. \n");
        flashAccessGive();
        return BOOT_CODE_ERASE_FAILED;
    }
    io.printf("Done.\n");
    io.flush();
    for (uint32_t written = 0; written < size;) {
        const uint32_t piece = std::min(BOOT_CODE_PIECE, size - written);
        if (bootFlashWrite(code.address() + written, written, piece) != OK) {
            break;  // the read-back below reports it
        }
        written += piece;
        if (written % BOOT_CODE_PROGRESS_STEP == 0) {
            io.printf("Wrote 0x%x bytes.\n", written);
            io.flush();
        }
    }

    Bus& bus = l.p.bus;
    bus.write32(BOOT_FLASH_BASE, FLASH_CMD_READ_ARRAY);
    for (uint32_t offset = 0; offset < size; offset += WORD_BYTES) {
        uint8_t flash[WORD_BYTES];
        putBe32(flash, bus.read32(BOOT_FLASH_BASE + offset));
        for (uint32_t i = 0; i < WORD_BYTES && offset + i < size; ++i) {
            if (flash[i] != code.data()[offset + i]) {
                io.printf("ERROR: the boot flash differs from %s at offset 0x%x (0x%02x, expected 0x%02x).\n",
                          fileName, offset + i, flash[i], code.data()[offset + i]);
                flashAccessGive();
                return BOOT_CODE_PROGRAM_FAILED;
            }
        }
    }
    flashAccessGive();
    return BOOT_CODE_UPDATED;
}

}  // namespace swboot
