// One instance of the boot loader: the module state of every subsystem and
// the platform it runs on. Whoever boots the board builds one and calls
// bootMain().
#pragma once

#include <cstdint>

#include "board_support/board.h"
#include "board_support/console_input.h"
#include "boot/boot_menu.h"
#include "boot/code_start.h"
#include "boot/shell.h"
#include "boot/startup.h"
#include "boot/utilities_menu.h"
#include "common/stdio.h"
#include "diag/flash_diags.h"
#include "hw/cpu_init.h"
#include "hw/ds1340.h"
#include "hw/i2c.h"
#include "diag/fs_test.h"
#include "diag/memory_tool.h"
#include "diag/sdram_test.h"
#include "eventlog/event_log.h"
#include "eventlog/text_log.h"
#include "fatal/fatal.h"
#include "hw/core_info.h"
#include "hw/pci_info.h"
#include "image/code_load.h"
#include "image/dim.h"
#include "image/flashacc.h"
#include "image/image_store.h"
#include "platform/platform.h"
#include "transfer/xmodem.h"
#include "vpd/vpd.h"

namespace swboot {

inline constexpr const char* BOOT_CONFIG_TAG = "bootConfig";
inline constexpr uint32_t CONSOLE_STARTUP_BAUD_RATE = 9600;

class Loader {
public:
    explicit Loader(const Platform& platform);
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    // Runs the boot loader from power-on: the board start-up that the
    // operating system does before the boot application, then bootMain.
    // Does not return on the board.
    void bootMain() {
        boardStart();
        startup.bootMain();
    }
    // The board start-up's part in the loader: the I2C controller and the
    // real-time clock's oscillator.
    void boardStart();

    Platform p;
    Stdio io;

    // Loader-wide values.
    uint32_t consoleBaudRate = CONSOLE_STARTUP_BAUD_RATE;
    int switchChipCount = 0;
    char activeImageName[DIM_FILE_NAME_SIZE] = {};

    Board board;
    ConsoleInput input;
    Fatal fatal;
    I2c i2c;
    Ds1340 rtc;
    CpuInit cpuInit;
    Vpd vpd;
    EventLog eventLog;
    TextLog textLog;
    ImageDirectory dim;
    ImageStore images;
    FlashAccess flash;
    Xmodem xmodem;
    CodeLoad codeLoad;
    Shell shell;
    CodeStart codeStart;
    FlashDiagnostics flashDiags;
    BootMenu menu;
    Startup startup;
    PciInfo pciInfo;
    CoreInfo coreInfo;
    SdramTest sdramTest;
    FsTest fsTest;
    MemoryTool memoryTool;
    UtilitiesMenu utilities;
};

}  // namespace swboot
