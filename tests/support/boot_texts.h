// Texts the boot spine tests compare against: image directories as
// "boot.dim" holds them, and the Boot Menu's own lines.
#pragma once

#include <string>
#include <string_view>

namespace testing_support::boot {

// image1 active and no backup: the directory a fresh board writes.
inline const std::string DEFAULT_DIM = "---IMAGE---\nactive\nactive\nimage1\n0\ndefault image\n";
inline const std::string BACKUP_ENTRY = "---IMAGE---\nbackup\nbackup\nimage2\n0\n\n";
inline const std::string TWO_IMAGES = DEFAULT_DIM + BACKUP_ENTRY;
// TWO_IMAGES with the roles swapped: image2 active, image1 the backup.
inline const std::string SWAPPED_IMAGES =
    "---IMAGE---\nbackup\nbackup\nimage1\n0\ndefault image\n---IMAGE---\nactive\nactive\nimage2\n0\n\n";

// The VPD generator's dialogue for the answers typeVpdAnswers() types, as
// the console shows it (prompts, echoed answers, the MAC address echo).
inline const std::string VPD_DIALOGUE =
    "\n\nEnter the six byte starting MAC address (example: 000629328140)\n-> 000629328140\n"
    "Entered MAC: 00:06:29:32:81:40 \n"
    "\nEnter a serial number (no greater than 20 chars) -> SIM0000001\n"
    "\nEnter a date code in the form MMYYYY -> 102006\n"
    "\nEnter a Part Number -> 10K7901\n"
    "\nEnter a Revision -> A\n";

inline const std::string BANNER = "Boot Menu Version 01.00.45 10-13-2006\n\n\n";
inline const std::string OPTION_LIST =
    "Options available\n"
    "1  - Start operational code\n"
    "2  - Change baud rate\n"
    "3  - Retrieve event log using XMODEM\n"
    "4  - Load new operational code using XMODEM\n"
    "5  - Display operational code vital product data\n"
    "6  - Run flash diagnostics\n"
    "7  - Update boot code\n"
    "8  - Delete operational code\n"
    "9  - Reset the system\n"
    "10 - Restore configuration to factory defaults (delete config files)\n"
    "11 - Activate Backup Image\n";
inline const std::string PROMPT = "[Boot Menu] ";

// The boot code update's progress over the whole region: a line for every
// 64 KiB written.
inline std::string bootCodeWriteProgress() {
    std::string lines;
    for (char digit : std::string_view("123456789abcdef")) {
        lines += std::string("Wrote 0x") + digit + "0000 bytes.\n";
    }
    return lines + "Wrote 0x100000 bytes.\n";
}

}  // namespace testing_support::boot
