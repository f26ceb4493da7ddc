#include "vpd/vpd.h"

#include <cstdio>
#include <cstring>

#include "loader.h"

namespace swboot {

namespace {

constexpr size_t DUMP_ROW = 16;
constexpr size_t DUMP_TEXT_SIZE = 80;
constexpr int VPD_FILE_MODE = 0;
constexpr int FIBER_BOARD_CHIPS = 1;

// Answer buffers: the longest answer and its line end just fit.
constexpr int MAC_ANSWER_SIZE = 14;
constexpr int SERIAL_ANSWER_SIZE = 22;
constexpr int DATE_CODE_ANSWER_SIZE = 8;
constexpr int PART_NUMBER_ANSWER_SIZE = 14;
constexpr int REVISION_ANSWER_SIZE = 4;

bool letterOrDigit(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void fieldPut(uint8_t* record, size_t offset, size_t size, const char* text) {
    size_t length = std::strlen(text);
    std::memcpy(record + offset, text, length < size ? length : size - 1);
}

// A text field of a record read from the file, cut to its slot.
struct Field {
    char text[VPD_DESCRIPTION_SIZE + 1] = {};
    Field(const uint8_t* record, size_t offset, size_t size) { std::memcpy(text, record + offset, size); }
};

}  // namespace

void vpdDumpPrint(TextSink& out, const uint8_t* bytes) {
    char text[DUMP_TEXT_SIZE] = {};
    for (size_t i = 0; i < VPD_RECORD_SIZE; ++i) {
        if (i % DUMP_ROW == 0) {
            out.printf("%s", text);
            std::memset(text, 0, sizeof text);
            out.printf("\n%02x ", static_cast<unsigned>(i));
        }
        out.printf("%02x ", bytes[i]);
        text[i % DUMP_ROW] = (bytes[i] >= 0x20 && bytes[i] <= 0x7E) ? static_cast<char>(bytes[i]) : '-';
    }
    out.printf("%s", text);
}

const char* vpdDescription(int switchChipCount, uint8_t boardType) {
    if (switchChipCount == FIBER_BOARD_CHIPS) {
        return (boardType & BOARD_TYPE_FIBER_DC) ? "Kestrix Q24 DC Zevirera Fiber Switch"
                                                 : "Kestrix Q24 Zevirera Fiber Switch";
    }
    static const char* const descriptions[] = {
        "Kestrix Q48 Zevirera Stackable Non-POE Switch",
        "Kestrix Q48 DC Zevirera Stackable Non-POE Switch",
        "Kestrix Q48 DC Zevirera Stackable POE Switch",
        "Kestrix Q48 Zevirera Stackable POE Switch",
    };
    return descriptions[(boardType >> BOARD_TYPE_48_SHIFT) & BOARD_TYPE_48_MASK];
}

void Vpd::vpdShow() {
    Files& files = loader_.p.files;
    Stdio& io = loader_.io;
    uint8_t record[VPD_RECORD_SIZE] = {};
    int fd = files.open(VPD_FILE_NAME, OPEN_CREAT | OPEN_RDWR, VPD_FILE_MODE);
    if (fd < 0) {
        io.printf("Error - could not open VPD file!\n");
        return;
    }
    if (files.read(fd, record, sizeof record) == ERROR) {
        io.printf("Error - could not read VPD from file system!\n");
        files.close(fd);
        return;
    }
    files.close(fd);

    io.printf("\n");
    vpdDumpPrint(io, record);
    io.printf("\n");
    const uint8_t* mac = record + VPD_MAC_OFFSET;
    io.printf("     MAC Addr: %02x-%02x-%02x-%02x-%02x-%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    io.printf("Serial Number: %s\n", Field(record, VPD_SERIAL_OFFSET, VPD_SERIAL_SIZE).text);
    io.printf("  Description: %s\n", Field(record, VPD_DESCRIPTION_OFFSET, VPD_DESCRIPTION_SIZE).text);
    io.printf("       Date: %s\n", Field(record, VPD_DATE_CODE_OFFSET, VPD_DATE_CODE_SIZE).text);
    io.printf("  Part Number: %s\n", Field(record, VPD_PART_NUMBER_OFFSET, VPD_PART_NUMBER_SIZE).text);
    io.printf("     Revision: %s\n\n", Field(record, VPD_REVISION_OFFSET, VPD_REVISION_SIZE).text);
}

size_t Vpd::answerRead(const char* prompt, char* buffer, int size) {
    Stdio& io = loader_.io;
    io.flush();
    io.printf("%s", prompt);
    std::memset(buffer, 0, static_cast<size_t>(size));
    io.fgets(buffer, size);
    size_t length = std::strlen(buffer);
    if (length == static_cast<size_t>(size - 1) && std::strchr(buffer, '\n') == nullptr) {
        // The line did not fit: what is left of it is not the next answer.
        char rest[1];
        io.lineRead(rest, sizeof rest);
    }
    if (char* cr = std::strchr(buffer, '\r')) {
        *cr = '\0';
    }
    if (char* lf = std::strchr(buffer, '\n')) {
        *lf = '\0';
    }
    return std::strlen(buffer);
}

void Vpd::textAsk(const char* prompt, char* buffer, int size, size_t limit, bool lettersAndDigits) {
    Stdio& io = loader_.io;
    for (;;) {
        size_t length = answerRead(prompt, buffer, size);
        if (length > limit) {
            io.printf("\nLength must be no greater than %d chars.", static_cast<int>(limit));
            continue;
        }
        const char* illegal = nullptr;
        for (size_t i = 0; lettersAndDigits && i < length && illegal == nullptr; ++i) {
            if (!letterOrDigit(buffer[i])) {
                illegal = buffer + i;
            }
        }
        if (illegal != nullptr) {
            io.printf("\nIllegal char %c in input.\n\n", *illegal);
            continue;
        }
        return;
    }
}

void Vpd::macAsk(uint8_t* mac) {
    Stdio& io = loader_.io;
    char answer[MAC_ANSWER_SIZE];
    for (;;) {
        size_t length =
            answerRead("\n\nEnter the six byte starting MAC address (example: 000629328140)\n-> ", answer,
                       sizeof answer);
        if (length != VPD_MAC_DIGITS) {
            io.printf("ERROR: Invalid MAC address length.\n\n");
            continue;
        }
        bool valid = true;
        for (size_t i = 0; i < VPD_MAC_SIZE && valid; ++i) {
            int high = hexValue(answer[2 * i]);
            int low = hexValue(answer[2 * i + 1]);
            valid = high >= 0 && low >= 0;
            mac[i] = static_cast<uint8_t>((high << 4) | low);
        }
        if (!valid) {
            io.printf("ERROR: Invalid characters in the MAC address.\n\n");
            continue;
        }
        io.printf("Entered MAC: ");
        for (size_t i = 0; i < VPD_MAC_SIZE; ++i) {
            io.printf(i + 1 < VPD_MAC_SIZE ? "%02X:" : "%02X ", mac[i]);
        }
        io.printf("\n");
        return;
    }
}

void Vpd::writeFailed() {
    loader_.io.printf("Error - could not write VPD to file system!\n");
    loader_.io.printf("System halting!\n\n");
    loader_.board.halt();
}

void Vpd::vpdGenerate() {
    uint8_t mac[VPD_MAC_SIZE] = {};
    char serial[SERIAL_ANSWER_SIZE] = {};
    char dateCode[DATE_CODE_ANSWER_SIZE] = {};
    char partNumber[PART_NUMBER_ANSWER_SIZE] = {};
    char revision[REVISION_ANSWER_SIZE] = {};
    char description[VPD_DESCRIPTION_SIZE] = {};

    macAsk(mac);
    char prompt[64];
    std::snprintf(prompt, sizeof prompt, "\nEnter a serial number (no greater than %d chars) -> ",
                  static_cast<int>(VPD_SERIAL_MAX));
    textAsk(prompt, serial, sizeof serial, VPD_SERIAL_MAX, true);
    textAsk("\nEnter a date code in the form MMYYYY -> ", dateCode, sizeof dateCode, VPD_DATE_CODE_MAX, true);
    textAsk("\nEnter a Part Number -> ", partNumber, sizeof partNumber, VPD_PART_NUMBER_MAX, false);
    textAsk("\nEnter a Revision -> ", revision, sizeof revision, VPD_REVISION_MAX, true);

    uint8_t boardType = loader_.p.bus.read8(CPLD_BOARD_TYPE);
    std::strncpy(description, vpdDescription(loader_.switchChipCount, boardType), sizeof description - 1);

    uint8_t record[VPD_RECORD_SIZE] = {};
    std::memcpy(record + VPD_MAC_OFFSET, mac, VPD_MAC_SIZE);
    fieldPut(record, VPD_SERIAL_OFFSET, VPD_SERIAL_SIZE, serial);
    fieldPut(record, VPD_DESCRIPTION_OFFSET, VPD_DESCRIPTION_SIZE, description);
    fieldPut(record, VPD_DATE_CODE_OFFSET, VPD_DATE_CODE_SIZE, dateCode);
    fieldPut(record, VPD_PART_NUMBER_OFFSET, VPD_PART_NUMBER_SIZE, partNumber);
    fieldPut(record, VPD_REVISION_OFFSET, VPD_REVISION_SIZE, revision);

    Files& files = loader_.p.files;
    int fd = files.open(VPD_NEW_FILE_NAME, OPEN_CREAT | OPEN_RDWR | OPEN_TRUNC, VPD_FILE_MODE);
    if (fd < 0) {
        loader_.io.printf("Error - could not open VPD!\n");
        loader_.io.printf("System halting!\n\n");
        loader_.board.halt();
    }
    // A short write is as much a failure as an error: the old record stays.
    bool written = files.write(fd, record, sizeof record) == static_cast<long>(sizeof record);
    written = files.close(fd) == OK && written;
    if (!written || files.rename(VPD_NEW_FILE_NAME, VPD_FILE_NAME) != OK) {
        files.remove(VPD_NEW_FILE_NAME);
        writeFailed();
    }
}

}  // namespace swboot
