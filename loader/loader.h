// One instance of the boot loader: the module state of every subsystem and
// the platform it runs on. Whoever boots the board builds one and calls
// bootMain().
#pragma once

#include <cstdint>

#include "boot/boot_menu.h"
#include "boot/code_start.h"
#include "boot/console_input.h"
#include "boot/shell.h"
#include "boot/startup.h"
#include "boot/utilities_menu.h"
#include "common/stdio.h"
#include "diag/fs_test.h"
#include "diag/memory_tool.h"
#include "diag/sdram_test.h"
#include "eventlog/event_log.h"
#include "eventlog/text_log.h"
#include "hw/core_info.h"
#include "hw/pci_info.h"
#include "image/code_load.h"
#include "image/dim.h"
#include "image/image_store.h"
#include "platform/platform.h"
#include "transfer/xmodem.h"

namespace swboot {

inline constexpr const char* BOOT_CONFIG_TAG = "bootConfig";
inline constexpr uint32_t CONSOLE_STARTUP_BAUD_RATE = 9600;

class Loader {
public:
    explicit Loader(const Platform& platform);
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    // Runs the boot loader from power-on. Does not return on the board.
    void bootMain() { startup.bootMain(); }

    Platform p;
    Stdio io;

    // Loader-wide values.
    uint32_t consoleBaudRate = CONSOLE_STARTUP_BAUD_RATE;
    int switchChipCount = 0;
    char activeImageName[DIM_FILE_NAME_SIZE] = {};

    EventLog eventLog;
    TextLog textLog;
    ImageDirectory dim;
    ImageStore images;
    Xmodem xmodem;
    CodeLoad codeLoad;
    Shell shell;
    ConsoleInput input;
    CodeStart codeStart;
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
