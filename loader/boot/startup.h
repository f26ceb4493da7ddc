// Startup sequence and boot decision.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

// Version banner parts.
inline constexpr const char* BOOT_VERSION_PREFIX = "01.00.";
inline constexpr int BOOT_BUILD_NUMBER = 45;
inline constexpr const char* BOOT_BUILD_DATE = "10-13-2006";

// Switch chips on PCI.
inline constexpr uint16_t SWITCH_CHIP_VENDOR = 0x14E4;
inline constexpr uint16_t SWITCH_CHIP_DEVICES[] = {0xB304, 0xB404, 0xB504, 0xB800};
inline constexpr int PCI_SCAN_DEVICES = 31;  // device 31 is never probed

inline constexpr int AUTOBOOT_START_CODE = 1;
inline constexpr int AUTOBOOT_BOOT_MENU = 2;
inline constexpr int AUTOBOOT_WAIT_SECONDS = 2;

class Startup {
public:
    explicit Startup(Loader& loader) : loader_(loader) {}

    // The boot application's main routine; does not return.
    void bootMain();
    void switchChipScan();
    // Mounts "/DskVol/", formatting the flash when the mount fails. OK, or
    // halts.
    int tffsPPCInit();
    // The two-second choice: 1 start the code, 2 enter the Boot Menu.
    int autoBootPrompt();

private:
    void lampTest();
    // Sets the system's calendar clock from the real-time clock.
    void calendarClockSet();
    // Makes sure "vpd.bin" exists, running the VPD generator when it does
    // not; halts when it still cannot be opened.
    void vpdFileCheck();
    // Renames "code.bin" to "image1" when there is no "image1".
    void defaultImageTake();

    Loader& loader_;
};

}  // namespace swboot
