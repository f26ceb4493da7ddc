#include "boot/boot_menu.h"

#include <cstring>

#include "board_support/cpld_registers.h"
#include "common/handles.h"
#include "common/text.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr const char* BOOT_CODE_FILE = "bootcode.bin";
constexpr const char* TEST_FILE = "testfile";
constexpr const char* VOLUME_ROOT = "/DskVol/";
constexpr const char* CONFIG_NAME_STARTUP = "startup-config";
constexpr const char* CONFIG_NAME_SUFFIX = ".cfg";
constexpr int CHOICE_UTILITIES = 30;

bool yes(char answer) { return answer == 'y' || answer == 'Y'; }

}  // namespace

void BootMenu::optionList() {
    Stdio& io = loader_.io;
    io.printf("Options available\n");
    io.printf("1  - Start operational code\n");
    io.printf("2  - Change baud rate\n");
    io.printf("3  - Retrieve event log using XMODEM\n");
    io.printf("4  - Load new operational code using XMODEM\n");
    io.printf("5  - Display operational code vital product data\n");
    io.printf("6  - Run flash diagnostics\n");
    io.printf("7  - Update boot code\n");
    io.printf("8  - Delete operational code\n");
    io.printf("9  - Reset the system\n");
    io.printf("10 - Restore configuration to factory defaults (delete config files)\n");
    io.printf("11 - Activate Backup Image\n");
}

void BootMenu::factoryDefaultsRestore() {
    Files& files = loader_.p.files;
    char cwd[PATH_MAX_LENGTH + 1] = {};
    if (files.getcwd(cwd, sizeof cwd) != OK) {
        loader_.io.printf("Could not open directory?!\n\n");
        return;
    }
    DirectoryHandle dir(files, files.opendir(cwd));
    if (!dir.isOpen()) {
        loader_.io.printf("Could not open directory?!\n\n");
        return;
    }
    DirectoryEntry entry;
    while (files.readdir(dir.dir(), entry) == OK) {
        FileStatus status;
        if (files.stat(entry.name, status) != OK || !fileIsRegular(status)) {
            continue;
        }
        if (textContains(entry.name, CONFIG_NAME_STARTUP)) {
            files.remove(entry.name);
        }
        if (textContains(entry.name, CONFIG_NAME_SUFFIX)) {
            files.remove(entry.name);
        }
    }
}

void BootMenu::choice(unsigned number, int& codeInvalid) {
    Loader& l = loader_;
    Stdio& io = l.io;
    switch (number) {
        case 1:
            if (codeInvalid) {
                io.printf("ERROR: Operational code CRC is not valid, you must load new code.\n\n");
            } else {
                l.codeStart.opCodeStart(START_MODE_NORMAL);
            }
            break;
        case 2:
            l.input.baudRateMenu();
            break;
        case 3:
            io.printf("Sending event log, start XMODEM receive.....\n");
            l.p.clock.taskDelay(LOG_RETRIEVE_DELAY_TICKS);
            l.eventLog.log_retrieve();
            break;
        case 4:
            if (l.codeLoad.codeLoadXmodem(DEVICE_TARGET_ID) != 0) {
                codeInvalid = 1;
                io.printf("Error loading code...\n");
            } else {
                codeInvalid = l.images.activeImageCrcCheck();
            }
            break;
        case 5:
            if (codeInvalid) {
                io.printf("\nERROR: Operational code CRC is not valid.\n");
            } else {
                l.images.imageHeaderShow();
            }
            break;
        case 6:
            io.printf("\n\nDo you wish to run flash diagnostics? (Boot code region will not be tested.) (y/n): ");
            io.flush();
            if (yes(l.input.menuAnswerRead())) {
                l.flash.flashLockBitsClear();
                l.flashDiags.run_flash_diags();
            }
            break;
        case 7: {
            FileHandle file(l.p.files, l.p.files.open(BOOT_CODE_FILE, OPEN_RDWR, 0));
            if (!file.isOpen()) {
                io.printf("\nERROR: Could not open file %s\n", BOOT_CODE_FILE);
                break;
            }
            file.close();
            io.printf("Do you wish to update Boot Code? (y/n) ");
            io.flush();
            if (yes(l.input.menuAnswerRead())) {
                l.flash.flashLockBitsClear();
                if (l.flash.bootCodeUpdate(BOOT_CODE_FILE) != 0) {
                    io.printf("\nERROR: Could not update boot code\n");
                } else {
                    io.printf("Boot code updated\n");
                }
            } else {
                io.printf("\n\nUpdate aborted.\n");
            }
            break;
        }
        case 8:
            io.printf("\nAre you SURE you want to delete operational code : %s ? (y/n):", l.activeImageName);
            io.flush();
            if (yes(l.input.menuAnswerRead())) {
                l.p.files.remove(l.activeImageName);
                codeInvalid = 1;
                io.printf("Operational code deleted...\n");
            } else {
                io.printf("Code not deleted.\n");
            }
            break;
        case 9:
            io.printf("\nAre you SURE you want to reset the system? (y/n):");
            io.flush();
            if (yes(l.input.menuAnswerRead())) {
                l.board.boardReset();
            }
            break;
        case 10:
            factoryDefaultsRestore();
            break;
        case 11:
            if (l.dim.backupImageActivate() != 0) {
                io.printf("Failed to activate Backup Image.\n");
            }
            break;
        case 12: {
            l.shell.pwd();
            io.printf("Attempting to create test file...\n");
            FileHandle file(l.p.files, l.p.files.creat(TEST_FILE, OPEN_RDWR));
            if (!file.isOpen()) {
                io.printf("creat returned ERROR.\n");
            }
            file.close();
            l.shell.pwd();
            l.images.activeImageCrcCheck();
            break;
        }
        case 13:
            l.shell.pwd();
            l.images.activeImageCrcCheck();
            break;
        case 14:
            l.shell.pwd();
            l.shell.cd(VOLUME_ROOT);
            l.shell.pwd();
            io.flush();
            l.shell.llr(".");
            break;
        case 15:
            l.dim.dimFileShow();
            break;
        case CHOICE_UTILITIES:
            l.utilities.bootUtilitiesMenu();
            break;
        case MENU_CHOICE_LIST:
            optionList();
            break;
        default:
            break;
    }
}

void BootMenu::bootMenuRun(int codeInvalid) {
    Loader& l = loader_;
    Stdio& io = l.io;
    l.p.files.remove(BOOT_CODE_FILE);
    if (l.dim.dimActiveImageGet(l.activeImageName) != DIM_OK) {
        // The checks at startup used the first image in this case too.
        textCopy(l.activeImageName, sizeof l.activeImageName, DIM_IMAGE1);
    }
    if (codeInvalid == 1) {
        l.p.bus.write8(CPLD_LED_REGISTER_1, LED_PATTERN_FAULT);
        io.printf("Operational code CRC is invalid.\n");
    } else if (l.startup.autoBootPrompt() == AUTOBOOT_START_CODE) {
        l.codeStart.opCodeStart(START_MODE_NORMAL);
    }
    unsigned current = MENU_CHOICE_LIST;
    for (;;) {
        io.flush();
        choice(current, codeInvalid);
        io.printf("[Boot Menu] ");
        io.flush();
        current = l.input.menuNumberRead();
    }
}

}  // namespace swboot
