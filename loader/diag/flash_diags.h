// Boot flash diagnostics: erase, write and verify every 256 KiB sector of
// the flash below the boot code region, a chosen number of times. It
// destroys the flash volume's window; the next startup formats it.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

inline constexpr uint32_t FLASH_DIAG_BASE = 0xFE000000;
inline constexpr uint32_t FLASH_DIAG_SECTORS = 124;
inline constexpr uint32_t FLASH_DIAG_SECTOR_SIZE = 0x40000;
inline constexpr uint32_t FLASH_DIAG_SECTOR_SHIFT = 24;

class FlashDiagnostics {
public:
    explicit FlashDiagnostics(Loader& loader) : loader_(loader) {}

    // Asks for the number of passes and runs them; prints its progress and
    // its result.
    void run_flash_diags();

private:
    // Copies the sector into the buffer and checks every word against the
    // pattern (or the erased value); prints the two failure lines and
    // returns false at the first difference.
    bool sectorVerify(uint32_t sector, uint8_t* buffer, bool erased, const char* erasedHeading);

    Loader& loader_;
};

}  // namespace swboot
