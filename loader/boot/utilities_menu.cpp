#include "boot/utilities_menu.h"

#include <cstdio>

#include "board_support/cpld_registers.h"
#include "common/text.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr const char* VOLUME_NAME = "/DskVol/";
constexpr int VOLUME_SHOW_LEVEL = 2;
constexpr uint32_t CHKDSK_MODE = 0x202;
constexpr const char* UPLOAD_ARGUMENTS = "cbske %s";
constexpr const char* UPLOAD_IMAGE = "image1";
// The first two erase units of the flash volume's window: erasing them
// takes the volume's format away.
constexpr uint32_t VOLUME_ERASE_START = 0xFE000000;
constexpr uint32_t VOLUME_ERASE_END = 0xFE040000;

constexpr uint8_t FIBER_VARIANT_BIT = 0x80;
constexpr int COPPER_VARIANT_SHIFT = 4;
constexpr uint8_t COPPER_VARIANT_MASK = 0x3;
constexpr uint8_t MODULE_TYPE_MASK = 0x7;
constexpr int MODULE_TYPE_BITS_PER_SLOT = 4;

const char* const COPPER_BOARD_TYPES[] = {
    "\nBoard type: Kestrix Zevirera Q48A-R\n",
    "\nBoard type: Kestrix Zevirera Q48A-DC-R\n",
    "\nBoard type: Kestrix Zevirera Q48P-DC-R\n",
    "\nBoard type: Kestrix Zevirera Q48P-R\n",
};
const char* const FIBER_BOARD_TYPES[] = {
    "\nBoard type: Kestrix Zevirera Q24F\n",
    "\nBoard type: Kestrix Zevirera Q24F-DC\n",
};

struct RevisionText {
    uint8_t code;
    const char* text;
};
constexpr RevisionText BOARD_REVISIONS[] = {
    {0, "\nBoard Revision: Revision A\n"}, {1, "\nBoard Revision: Revision B\n"},
    {2, "\nBoard Revision: Revision C\n"}, {3, "\nBoard Revision: Revision D\n"},
    {7, "\nBoard Revision: Revision Pilot\n"}, {8, "\nBoard Revision: Revision MP\n"},
};

// The text of each module type code; null for the unknown codes.
const char* const MODULE_TYPES[] = {"XFP\n", "Stacking 12G\n", "Stacking 24G\n", "CX4\n", nullptr, nullptr, nullptr,
                                    "NC\n"};

// A field is present when it holds a digit (after blanks and a sign).
bool fieldPresent(const char* field) {
    if (field == nullptr) {
        return false;
    }
    while (*field == ' ' || *field == '\t') {
        ++field;
    }
    if (*field == '+' || *field == '-') {
        ++field;
    }
    return *field >= '0' && *field <= '9';
}

}  // namespace

void UtilitiesMenu::optionList() {
    Stdio& io = loader_.io;
    io.printf("\nBoot code utilities menu\nOptions are:\n");
    io.printf("1  - Read/Write memory\n");
    io.printf("2  - Display PCI bus\n");
    io.printf("3  - Display PCI bus details\n");
    io.printf("4  - Display core info and bus speeds\n");
    io.printf("5  - Display file system details\n");
    io.printf("6  - RAM test\n");
    io.printf("7  - File system directory listing\n");
    io.printf("8  - Generate and store VPD info\n");
    io.printf("9  - CPLD diagnostics\n");
    io.printf("10 - Switch diagnostics\n");
    io.printf("11 - Format file system\n");
    io.printf("12 - File system test\n");
    io.printf("13 - Print VPD info\n");
    io.printf("14 - Check Filesystem\n");
    io.printf("15 - Upload Image in FFS\n");
    io.printf("16 - Read Temperature Monitor\n");
    io.printf("17 - Read I2C devices\n");
    io.printf("18 - HW modules\n");
    io.printf("19 - Read RTC\n");
    io.printf("20 - Set RTC\n");
    io.printf("0  - Return to main menu");
    io.printf("\nSelect option (0-20): ");
}


void UtilitiesMenu::bootUtilitiesMenu() {
    Stdio& io = loader_.io;
    for (;;) {
        optionList();
        io.flush();
        uint8_t number = loader_.input.menuNumberRead();
        if (number == 0) {
            return;
        }
        if (number <= UTILITIES_CHOICE_LAST) {
            choice(number);
        }
    }
}

void UtilitiesMenu::choice(uint8_t number) {
    Loader& l = loader_;
    Stdio& io = l.io;
    switch (number) {
        case 1:
            l.memoryTool.memoryTool();
            break;
        case 2:
            l.pciInfo.pciDeviceList(false);
            break;
        case 3:
            l.pciInfo.pciDeviceList(true);
            break;
        case 4:
            l.coreInfo.coreInfoShow();
            break;
        case 5:
            io.flush();
            l.p.volume.volumeShow(VOLUME_NAME, VOLUME_SHOW_LEVEL);
            break;
        case 6:
            l.sdramTest.sdramTest();
            break;
        case 7:
            l.fsTest.dirListingShow();
            break;
        case 8:
            l.vpd.vpdGenerate();
            break;
        case 9:
            boardIdentityShow();
            break;
        case 10:
            l.codeStart.opCodeStart(START_MODE_SWITCH_DIAGNOSTICS);
            break;
        case 11:
            // The parts leave the factory with every block locked, and a
            // locked block refuses the erase (which resets the board), so the
            // lock bits are cleared first, as before the other flash writers.
            l.flash.flashLockBitsClear();
            l.flash.flashBlocksErase(VOLUME_ERASE_START, VOLUME_ERASE_END);
            l.startup.tffsPPCInit();
            break;
        case 12:
            l.fsTest.fsTest();
            break;
        case 13:
            l.vpd.vpdShow();
            break;
        case 14: {
            io.flush();
            int status = l.p.volume.dosFsChkDsk(VOLUME_NAME, CHKDSK_MODE);
            if (status == OK) {
                io.printf("dosFsChkDsk successful.\n");
            } else if (status == ERROR) {
                io.printf("dosFsChkDsk not supported in this build.\n");
            } else {
                io.printf("dosFsChkDsk returned %x.\n", static_cast<unsigned>(status));
            }
            break;
        }
        case 15: {
            char arguments[32];
            std::snprintf(arguments, sizeof arguments, UPLOAD_ARGUMENTS, UPLOAD_IMAGE);
            l.xmodem.xmodem(arguments);
            break;
        }
        case 16:
            l.cpuInit.temperatureShow();
            break;
        case 17:
            l.cpuInit.i2cDevicesShow();
            break;
        case 18:
            l.cpuInit.hwModulesShow();
            break;
        case 19:
            l.rtc.ds1340_tod_show();
            break;
        case 20:
            rtcSetFromConsole();
            break;
        default:
            break;
    }
}

void UtilitiesMenu::boardIdentityShow() {
    Stdio& io = loader_.io;
    Bus& bus = loader_.p.bus;

    io.printf("\n");
    const uint8_t fans = bus.read8(CPLD_FAN_STATUS);
    for (int n = 0; n < FAN_COUNT; ++n) {
        io.printf("Fan %d : %s\n", n, ((fans >> n) & 1) ? "working" : "stopped");
    }

    const uint8_t presence = bus.read8(CPLD_MODULE_PRESENCE);
    const uint8_t types = bus.read8(CPLD_MODULE_TYPE);
    io.printf("\nModule   Present   Type\n");
    for (int n = 0; n < MODULE_SLOT_COUNT; ++n) {
        io.printf("%-9d", n);
        if ((presence >> n) & 1) {
            io.printf("absent");
            io.printf("\n");
            continue;
        }
        io.printf("present   ");
        const uint8_t code = (types >> (MODULE_TYPE_BITS_PER_SLOT * n)) & MODULE_TYPE_MASK;
        if (MODULE_TYPES[code] != nullptr) {
            io.printf("%s", MODULE_TYPES[code]);
        } else {
            io.printf("Read an unknown type of %02x\n", code);
        }
    }

    const uint8_t boardType = bus.read8(CPLD_BOARD_TYPE);
    if (loader_.switchChipCount == 1) {
        io.printf("%s", FIBER_BOARD_TYPES[(boardType & FIBER_VARIANT_BIT) ? 1 : 0]);
    } else {
        io.printf("%s", COPPER_BOARD_TYPES[(boardType >> COPPER_VARIANT_SHIFT) & COPPER_VARIANT_MASK]);
    }

    const uint8_t revision = bus.read8(CPLD_BOARD_REVISION);
    const char* revisionText = nullptr;
    for (const RevisionText& r : BOARD_REVISIONS) {
        if (r.code == revision) {
            revisionText = r.text;
        }
    }
    if (revisionText != nullptr) {
        io.printf("%s", revisionText);
    } else {
        io.printf("\nRead an unknown Board revision of %02x\n", revision);
    }

    io.printf("\nBoard PLD Revision: %d\n\n", bus.read8(CPLD_PLD_REVISION));
}

int UtilitiesMenu::daysInMonth(int month, int year) {
    static const int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return DAYS[month - 1] + (month == 2 && leap ? 1 : 0);
}

RtcEntry UtilitiesMenu::rtcEntryParse(char* line) {
    RtcEntry entry;
    char* state = nullptr;
    int* const fields[] = {&entry.month, &entry.day, &entry.year, &entry.hour, &entry.minute, &entry.second};
    const char* const delimiters[] = {"-", "-", " ", ":", ":", " "};
    for (int i = 0; i < 6; ++i) {
        const char* token = textToken(i == 0 ? line : nullptr, delimiters[i], &state);
        if (!fieldPresent(token)) {
            break;
        }
        *fields[i] = decimalToInt(token);
        entry.fields = i + 1;
    }
    return entry;
}

void UtilitiesMenu::rtcSetFromConsole() {
    Stdio& io = loader_.io;
    io.printf("Enter date and time as follows: mm-dd-yyyy h:m:s (24-hour format)\n");
    io.flush();
    char line[RTC_LINE_SIZE];
    if (io.fgets(line, sizeof line) == nullptr) {
        io.printf("\n\nError reading from stream!\nReal Time Clock not set.\n");
        return;
    }
    const RtcEntry e = rtcEntryParse(line);
    // Each field in turn: one that is missing, or out of range, ends the
    // dialogue with the clock untouched.
    const struct {
        int value;
        int min;
        int max;
        const char* message;
    } checks[] = {
        {e.month, 1, 12, "\nMonth value of %d is invalid\n\n"},
        {e.day, 1, daysInMonth(e.month, e.year), "\nDay value of %d is invalid\n\n"},
        {e.year, INT32_MIN, INT32_MAX, nullptr},
        {e.hour, 0, 23, "\nHour value of %d is invalid\n\n"},
        {e.minute, 0, 59, "\nMinute value of %d is invalid\n\n"},
        {e.second, 0, 59, "\nSecond value of %d is invalid\n\n"},
    };
    for (int i = 0; i < 6; ++i) {
        if (i >= e.fields) {
            io.printf("\nDate and time incomplete: %d of the 6 fields mm-dd-yyyy h:m:s given.\n"
                      "Real Time Clock not set.\n\n",
                      e.fields);
            return;
        }
        if (checks[i].message != nullptr && (checks[i].value < checks[i].min || checks[i].value > checks[i].max)) {
            io.printf(checks[i].message, checks[i].value);
            return;
        }
    }
    if (loader_.rtc.ds1340_tod_set(e.year, e.month, e.day, e.hour, e.minute, e.second) != OK) {
        io.printf("%s:%d: ds1340_tod_set() failed\n", BOOT_CONFIG_TAG, __LINE__);
    }
}

}  // namespace swboot
