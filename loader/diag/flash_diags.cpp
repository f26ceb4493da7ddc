#include "diag/flash_diags.h"

#include "common/bytes.h"
#include "common/handles.h"
#include "image/flashacc.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr uint32_t WORD_BYTES = 4;
constexpr uint32_t SECTOR_WORDS = FLASH_DIAG_SECTOR_SIZE / WORD_BYTES;

uint32_t sectorAddress(uint32_t sector) { return FLASH_DIAG_BASE + sector * FLASH_DIAG_SECTOR_SIZE; }
uint32_t pattern(uint32_t sector, uint32_t word) { return (sector << FLASH_DIAG_SECTOR_SHIFT) | word; }

}  // namespace

bool FlashDiagnostics::sectorVerify(uint32_t sector, uint8_t* buffer, bool erased, const char* errorLine) {
    Bus& bus = loader_.p.bus;
    const uint32_t base = sectorAddress(sector);
    for (uint32_t i = 0; i < SECTOR_WORDS; ++i) {
        putBe32(buffer + WORD_BYTES * i, bus.read32(base + WORD_BYTES * i));
    }
    for (uint32_t i = 0; i < SECTOR_WORDS; ++i) {
        const uint32_t got = getBe32(buffer + WORD_BYTES * i);
        const uint32_t expected = erased ? FLASH_ERASED_WORD : pattern(sector, i);
        if (got != expected) {
            loader_.io.printf(errorLine, sector, i);
            if (erased) {
                loader_.io.printf("Expected 0xFFFFFFFF, got 0x%08x\n", got);
            } else {
                loader_.io.printf("Expected 0x%08x, got 0x%08x\n", expected, got);
            }
            return false;
        }
    }
    return true;
}

void FlashDiagnostics::run_flash_diags() {
    Loader& l = loader_;
    Stdio& io = l.io;
    io.printf("\n\nInput number of diagnostic iterations -> ");
    io.flush();
    // A count of 0 runs until a reset, so a slip of the keyboard that would
    // read as 0 is refused rather than wearing the flash out.
    uint8_t typed = 0;
    if (!l.input.menuCountRead(typed)) {
        io.printf("\nERROR: The number of iterations must be a number. Test not run.\n");
        return;
    }
    uint32_t count = typed;
    io.printf("Testing 2 x 28F128J3 base: 0x%08x\n", FLASH_DIAG_BASE);
    MemoryHandle buffer(l.p.memory, FLASH_DIAG_SECTOR_SIZE);
    if (!buffer) {
        io.printf("run_flash_diags: Out of memory\n");
        return;
    }
    const char* const writeError = "Verify error, sector: %d, offset: 0x%x\n";
    const char* const eraseError = "Verify error,, sector: %d, offset: 0x%x\n";
    do {
        io.printf("Iterations remaining = %d\n\n", static_cast<int>(count));
        for (uint32_t s = 0; s < FLASH_DIAG_SECTORS; ++s) {
            const uint32_t address = sectorAddress(s);
            io.printf("Erasing sector %d\n", s);
            io.flush();
            l.flash.flashBlocksErase(address, address + FLASH_DIAG_SECTOR_SIZE - 1);
            io.printf("Verify sector %d erased\n", s);
            if (!sectorVerify(s, buffer.data(), true, writeError)) {
                return;
            }
            for (uint32_t i = 0; i < SECTOR_WORDS; ++i) {
                putBe32(buffer.data() + WORD_BYTES * i, pattern(s, i));
            }
            io.printf("Writing sector %d\n", s);
            io.flush();
            l.flash.flashProgram(buffer.address(), address, FLASH_DIAG_SECTOR_SIZE);
        }
        for (uint32_t s = 0; s < FLASH_DIAG_SECTORS; ++s) {
            const uint32_t address = sectorAddress(s);
            io.printf("Verify sector %d\n", s);
            l.p.bus.write32(FLASH_DIAG_BASE, FLASH_CMD_READ_ARRAY);
            if (!sectorVerify(s, buffer.data(), false, writeError)) {
                return;
            }
            io.printf("Erasing sector %d\n", s);
            io.flush();
            l.flash.flashBlocksErase(address, address + FLASH_DIAG_SECTOR_SIZE - 1);
            io.printf("Verify sector %d erased\n", s);
            if (!sectorVerify(s, buffer.data(), true, eraseError)) {
                return;
            }
        }
        --count;
    } while (count != 0);
    io.printf("Flash Diagnostics passed\n");
}

}  // namespace swboot
