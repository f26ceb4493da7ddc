#include "boot/startup.h"

#include <cstdio>
#include <cstring>

#include "board_support/cpld_registers.h"
#include "common/calendar.h"
#include "common/text.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr int LAMP_STEP_TICKS = 5;
constexpr int DISPLAY_STEP_TICKS = 3;
constexpr int STARTUP_BLANK_LINES = 25;
constexpr int TFFS_DRIVE = 0;
constexpr const char* VOLUME_NAME = "/DskVol/";
constexpr const char* FILES_DIRECTORY = "files/";
constexpr const char* DEFAULT_IMAGE_FILE = "code.bin";
constexpr size_t BACKUP_NAME_SIZE = 32;

}  // namespace

void Startup::lampTest() {
    Bus& bus = loader_.p.bus;
    Clock& clock = loader_.p.clock;
    bus.write8(CPLD_RESET_CONTROL, CPLD_RESET_RUN);
    const struct {
        uint32_t reg;
        uint8_t on1;
        uint8_t on2;
    } steps[] = {
        {CPLD_LED_REGISTER_1, LED_LAMP_B1, LED_LAMP_A1},
        {CPLD_LED_REGISTER_2, LED_LAMP_B1, LED_LAMP_A1},
        {CPLD_LED_REGISTER_1, LED_LAMP_B2, LED_LAMP_A2},
        {CPLD_LED_REGISTER_2, LED_LAMP_B2, LED_LAMP_A2},
    };
    for (const auto& step : steps) {
        for (uint8_t value : {step.on1, LED_OFF, step.on2, LED_OFF}) {
            bus.write8(step.reg, value);
            clock.taskDelay(LAMP_STEP_TICKS);
        }
    }
    for (uint32_t reg : {CPLD_UNIT_DISPLAY_1, CPLD_UNIT_DISPLAY_2}) {
        for (uint8_t digit = 0; digit <= 15; ++digit) {
            bus.write8(reg, static_cast<uint8_t>(UNIT_DISPLAY_DIGIT_BASE + digit));
            clock.taskDelay(DISPLAY_STEP_TICKS);
        }
    }
    bus.write8(CPLD_LED_REGISTER_1, LED_PATTERN_RUNNING);
    bus.write8(CPLD_UNIT_DISPLAY_1, UNIT_DISPLAY_DIGIT_BASE);
    bus.write8(CPLD_UNIT_DISPLAY_2, UNIT_DISPLAY_DIGIT_BASE);
    bus.write8(CPLD_REGISTER_3, CPLD_REGISTER_3_STARTUP);
}

void Startup::calendarClockSet() {
    uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    loader_.rtc.ds1340_tod_get(year, month, day, hour, minute, second);
    BrokenDownTime time;
    time.year = static_cast<int>(year);
    time.month = static_cast<int>(month);
    time.day = static_cast<int>(day);
    time.hour = static_cast<int>(hour);
    time.minute = static_cast<int>(minute);
    time.second = static_cast<int>(second);
    loader_.p.clock.clockSettime(calendarSeconds(time), 0);
}

void Startup::vpdFileCheck() {
    Files& files = loader_.p.files;
    int fd = files.open(VPD_FILE_NAME, OPEN_RDONLY, 0);
    if (fd < 0) {
        loader_.io.printf("Could not open VPD file:  %s\n", VPD_FILE_NAME);
        loader_.vpd.vpdGenerate();
        fd = files.open(VPD_FILE_NAME, OPEN_RDONLY, 0);
        if (fd < 0) {
            loader_.io.printf("Could not open VPD file:  %s\n", VPD_FILE_NAME);
            loader_.io.printf("System halting...\n");
            loader_.board.halt();
        }
    }
    files.close(fd);
}

void Startup::switchChipScan() {
    Pci& pci = loader_.p.pci;
    for (int bus = 0; bus <= 255; ++bus) {
        for (int device = 0; device < PCI_SCAN_DEVICES; ++device) {
            uint16_t vendor = pci.configRead16(bus, device, 0, PCI_CFG_VENDOR_ID);
            uint16_t id = pci.configRead16(bus, device, 0, PCI_CFG_DEVICE_ID);
            if (vendor != SWITCH_CHIP_VENDOR) {
                continue;
            }
            for (uint16_t chip : SWITCH_CHIP_DEVICES) {
                if (id == chip) {
                    ++loader_.switchChipCount;
                    break;
                }
            }
        }
    }
}

int Startup::tffsPPCInit() {
    Volume& volume = loader_.p.volume;
    Stdio& io = loader_.io;
    int status = volume.usrTffsConfig(TFFS_DRIVE, 0, VOLUME_NAME);
    if (status == OK) {
        return OK;
    }
    io.printf("usrTffsConfig returned 0x%x, formatting...\n", static_cast<unsigned>(status));
    io.flush();
    TffsFormatParams params;
    status = volume.tffsDevFormat(TFFS_DRIVE, params);
    if (status != OK) {
        io.printf("tffsDevFormat returned 0x%x\n", static_cast<unsigned>(status));
        loader_.board.halt();
    }
    status = volume.usrTffsConfig(TFFS_DRIVE, 0, VOLUME_NAME);
    if (status != OK) {
        io.printf("usrTffsConfig returned 0x%x\n", static_cast<unsigned>(status));
        loader_.board.halt();
    }
    io.printf("\n\nTFFS Formatted....Device details...\n");
    return OK;
}

void Startup::defaultImageTake() {
    // "code.bin" becomes the default image only where there is none: an
    // existing "image1" is kept, and "code.bin" left alone.
    Files& files = loader_.p.files;
    FileStatus status;
    if (files.stat(DIM_IMAGE1, status) != OK && files.errnoGet() == ERRNO_NOT_FOUND) {
        files.rename(DEFAULT_IMAGE_FILE, DIM_IMAGE1);
    }
}

int Startup::autoBootPrompt() {
    Stdio& io = loader_.io;
    for (;;) {
        io.printf("Select an option. If no selection in 2 seconds then\n");
        io.printf("operational code will start.\n\n");
        io.printf("1 - Start operational code.\n");
        io.printf("2 - Start Boot Menu.\n");
        io.printf("Select (1, 2):");
        io.flush();
        if (io.inputWait(static_cast<int64_t>(AUTOBOOT_WAIT_SECONDS) * 1000000) != 1) {
            io.printf("\n");
            return AUTOBOOT_START_CODE;
        }
        char line[CONSOLE_LINE_SIZE] = {};
        if (!io.lineRead(line, sizeof line)) {
            return AUTOBOOT_START_CODE;
        }
        io.printf("\n");
        if (line[0] == '\0') {
            return AUTOBOOT_START_CODE;
        }
        const char first[2] = {line[0], '\0'};
        int answer = decimalToInt(first);
        if (answer == AUTOBOOT_BOOT_MENU || answer == AUTOBOOT_START_CODE) {
            return answer;
        }
    }
}

void Startup::bootMain() {
    Loader& l = loader_;
    Stdio& io = l.io;

    // The board support knows the core clock before anything else runs.
    l.coreInfo.ccbFrequencyGet();
    lampTest();
    switchChipScan();

    Console& console = l.p.console;
    console.optionsSet(console.optionsGet() & ~OPT_MON_TRAP);
    l.consoleBaudRate = CONSOLE_STARTUP_BAUD_RATE;
    if (console.baudRateSet(CONSOLE_STARTUP_BAUD_RATE) != OK) {
        io.printf("%s:%d: Attempt to set baudrate to 9600 failed\n", BOOT_CONFIG_TAG, __LINE__);
    }

    io.flush();
    for (int i = 0; i < STARTUP_BLANK_LINES; ++i) {
        io.printf("\n");
    }

    l.flash.flashAccessInit();
    calendarClockSet();

    if (tffsPPCInit() != OK) {
        io.printf("\n\nERROR: tffsPPCInit failed.\n       Boot cannot continue.\n"
                  "       Code halted. Manual reset required.\n\n");
        loader_.board.halt();
    }

    Files& files = l.p.files;
    if (files.chdir(VOLUME_NAME) != OK) {
        io.printf("TFFS: chdir failed.\n");
    }
    files.mkdir(FILES_DIRECTORY);
    l.shell.cd(FILES_DIRECTORY);

    vpdFileCheck();
    l.eventLog.log_init(LOG_SIZE_BYTES, LOG_INIT_FIRST, LOG_INIT_LEVEL, LOG_INIT_FURTHER_1, LOG_INIT_FURTHER_2);
    l.textLog.log_text_rotate();

    l.dim.imageInstallRecover();
    // Without a directory, "code.bin" is taken as the default image before
    // the directory that names it is written, so that a power cut between
    // the two never leaves a directory naming a file that is not there.
    FileStatus status;
    if (files.stat(DIM_FILE_NAME, status) != OK && files.errnoGet() == ERRNO_NOT_FOUND) {
        defaultImageTake();
    }
    int result = l.dim.dimInitialize();
    if (result != 0) {
        io.printf("dimInitialize returned %d \n", result);
        defaultImageTake();
        io.printf("adding the default image - %s to the list\n", DIM_IMAGE1);
        result = l.dim.dimImageAdd(DIM_IMAGE1);
        if (result < 0) {
            io.printf("dimImageAdd returned %d \n", result);
        }
    }

    char version[64];
    std::snprintf(version, sizeof version, "Version %s%02d %s\n\n", BOOT_VERSION_PREFIX, BOOT_BUILD_NUMBER,
                  BOOT_BUILD_DATE);
    io.printf("Boot Menu %s\n", version);
    io.flush();

    int codeInvalid = 0;
    if (l.images.activeImageCrcCheck() != IMAGE_CRC_GOOD) {
        io.printf(" active image failed crc check. activating backup image \n");
        char backup[BACKUP_NAME_SIZE] = {};
        char name[DIM_FILE_NAME_SIZE] = {};
        if (l.dim.dimBackupImageGet(name) != DIM_OK) {
            codeInvalid = 1;
            io.printf(" Backup Image doesn't exist \n");
        } else {
            textCopy(backup, sizeof backup, name);
            l.dim.dimImageActivate(backup);
            l.dim.dimInitialize();
            if (l.images.activeImageCrcCheck() != IMAGE_CRC_GOOD) {
                codeInvalid = 1;
                io.printf(" backup image failed crc check. \n");
            }
        }
    }

    l.menu.bootMenuRun(codeInvalid);
}

}  // namespace swboot
