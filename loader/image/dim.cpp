#include "image/dim.h"

#include <cstdio>
#include <cstring>

#include "common/file_io.h"
#include "common/handles.h"
#include "common/text.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr int FIELD_STATUS = 0;
constexpr int FIELD_NEXT_STATUS = 1;
constexpr int FIELD_FILE_NAME = 2;
constexpr int FIELD_COUNTER = 3;
constexpr int FIELD_DESCRIPTION = 4;
constexpr int FIELDS_PER_ENTRY = 5;
constexpr const char* COUNTER_ZERO = "0";
// Where the old image waits while the new one is moved into place.
constexpr const char* INSTALL_SIDE_SUFFIX = ".prev";

bool validImageName(const char* name) {
    return std::strcmp(name, DIM_IMAGE1) == 0 || std::strcmp(name, DIM_IMAGE2) == 0;
}

void fieldStore(DirectoryEntryFields& entry, int field, const char* text) {
    switch (field) {
        case FIELD_STATUS:
            textCopy(entry.status, sizeof entry.status, text);
            break;
        case FIELD_NEXT_STATUS:
            textCopy(entry.nextStatus, sizeof entry.nextStatus, text);
            break;
        case FIELD_FILE_NAME:
            textCopy(entry.fileName, sizeof entry.fileName, text);
            break;
        case FIELD_COUNTER:
            textCopy(entry.counter, sizeof entry.counter, text);
            break;
        case FIELD_DESCRIPTION:
            textCopy(entry.description, sizeof entry.description, text);
            break;
        default:
            break;
    }
}
}  // namespace

template <typename F>
void ImageDirectory::forEachLine(const char* buffer, size_t length, F&& onLine) {
    size_t start = 0;
    while (start < length) {
        const char* newline = static_cast<const char*>(
            std::memchr(buffer + start, '\n', length - start < DIM_LINE_MAX ? length - start : DIM_LINE_MAX));
        if (newline == nullptr) {
            return;
        }
        size_t lineLength = static_cast<size_t>(newline - (buffer + start));
        char line[DIM_LINE_MAX];
        std::memcpy(line, buffer + start, lineLength);
        line[lineLength] = '\0';
        if (!onLine(line)) {
            return;
        }
        start += lineLength + 1;
    }
}

int ImageDirectory::findSlot(const char* name) const {
    for (int i = 0; i < DIM_SLOTS; ++i) {
        if (slots_[i].fileName[0] != '\0' && std::strcmp(slots_[i].fileName, name) == 0) {
            return i;
        }
    }
    return -1;
}

bool ImageDirectory::activeEntryUnnamed() const {
    for (int i = 0; i < DIM_SLOTS; ++i) {
        if (slots_[i].fileName[0] == '\0' && std::strcmp(slots_[i].status, DIM_STATE_ACTIVE) == 0) {
            return true;
        }
    }
    return false;
}

int ImageDirectory::activeSlot() const {
    for (int i = 0; i < DIM_SLOTS; ++i) {
        if (slots_[i].fileName[0] != '\0' && std::strcmp(slots_[i].status, DIM_STATE_ACTIVE) == 0) {
            return i;
        }
    }
    return -1;
}

int ImageDirectory::dimInitialize() {
    Files& files = loader_.p.files;
    for (DirectoryEntryFields& entry : slots_) {
        entry = DirectoryEntryFields{};
    }
    count_ = 0;

    char buffer[DIM_FILE_MAX + 1] = {};
    long length = 0;
    {
        FileHandle file(files, files.open(DIM_FILE_NAME, OPEN_RDONLY, 0));
        if (!file.isOpen()) {
            dimImageAdd(DIM_IMAGE1);
            return DIM_NOT_FOUND;
        }
        bool failed = false;
        length = readFully(files, file.fd(), reinterpret_cast<uint8_t*>(buffer), DIM_FILE_MAX, &failed);
        if (failed) {
            return DIM_READ_ERROR;
        }
        if (length == 0) {
            return DIM_NOT_FOUND;
        }
    }

    int entry = 0;
    int field = 0;
    forEachLine(buffer, static_cast<size_t>(length), [&](const char* line) {
        if (std::strcmp(line, DIM_SEPARATOR) == 0) {
            ++entry;
            if (entry > DIM_SLOTS) {
                return false;
            }
            ++count_;
            field = 0;
            return true;
        }
        if (entry >= 1 && field < FIELDS_PER_ENTRY) {
            fieldStore(slots_[entry - 1], field, line);
        }
        if (entry >= 1) {
            ++field;
        }
        return true;
    });

    for (int i = 0; i < count_; ++i) {
        std::memcpy(slots_[i].status, slots_[i].nextStatus, sizeof slots_[i].status);
    }
    dimFileWrite();
    return DIM_OK;
}

int ImageDirectory::dimFileWrite() {
    Files& files = loader_.p.files;
    char text[DIM_FILE_MAX + 1] = {};
    size_t length = 0;
    int written = 0;
    for (int i = 0; i < DIM_SLOTS && written < count_; ++i) {
        const DirectoryEntryFields& e = slots_[i];
        if (e.fileName[0] == '\0') {
            continue;
        }
        int n = std::snprintf(text + length, sizeof text - length, "%s\n%s\n%s\n%s\n%s\n%s\n", DIM_SEPARATOR,
                              e.status, e.nextStatus, e.fileName, e.counter, e.description);
        if (n > 0) {
            length += static_cast<size_t>(n);
        }
        ++written;
    }

    // The new text is written whole under a name of its own and then renamed
    // over "boot.dim", so that a power cut at any point leaves either the
    // old directory or the new one, never none.
    files.remove(DIM_TEMP_FILE_NAME);
    long n = ERROR;
    {
        FileHandle file(files, files.creat(DIM_TEMP_FILE_NAME, OPEN_WRONLY));
        if (!file.isOpen()) {
            return ERROR;
        }
        n = files.write(file.fd(), reinterpret_cast<const uint8_t*>(text), length);
        if (file.close() != OK) {
            n = ERROR;
        }
    }
    if (n != static_cast<long>(length) || files.rename(DIM_TEMP_FILE_NAME, DIM_FILE_NAME) != OK) {
        files.remove(DIM_TEMP_FILE_NAME);
        return ERROR;
    }
    return static_cast<int>(n);
}

int ImageDirectory::dimImageAdd(const char* name) {
    if (!validImageName(name)) {
        return DIM_BAD_NAME;
    }
    if (count_ == 0) {
        count_ = 1;
        DirectoryEntryFields& e = slots_[0];
        e = DirectoryEntryFields{};
        textCopy(e.fileName, sizeof e.fileName, name);
        textCopy(e.counter, sizeof e.counter, COUNTER_ZERO);
        textCopy(e.status, sizeof e.status, DIM_STATE_ACTIVE);
        textCopy(e.nextStatus, sizeof e.nextStatus, DIM_STATE_ACTIVE);
        textCopy(e.description, sizeof e.description, DIM_DEFAULT_DESCRIPTION);
        dimFileWrite();
        return DIM_OK;
    }
    if (findSlot(name) >= 0) {
        return DIM_OK;
    }
    for (DirectoryEntryFields& e : slots_) {
        if (e.fileName[0] != '\0') {
            continue;
        }
        ++count_;
        e = DirectoryEntryFields{};
        textCopy(e.fileName, sizeof e.fileName, name);
        textCopy(e.counter, sizeof e.counter, COUNTER_ZERO);
        textCopy(e.status, sizeof e.status, DIM_STATE_BACKUP);
        textCopy(e.nextStatus, sizeof e.nextStatus, DIM_STATE_BACKUP);
        dimFileWrite();
        return DIM_OK;
    }
    return DIM_NO_SLOT;
}

int ImageDirectory::dimImageRemove(const char* name) {
    int slot = count_ == 0 ? -1 : findSlot(name);
    if (slot < 0) {
        return DIM_NOT_FOUND;
    }
    if (std::strcmp(slots_[slot].status, DIM_STATE_ACTIVE) == 0) {
        return DIM_IS_ACTIVE;
    }
    if (std::strcmp(slots_[slot].nextStatus, DIM_STATE_ACTIVE) == 0) {
        return DIM_SCHEDULED_ACTIVE;
    }
    slots_[slot] = DirectoryEntryFields{};
    --count_;
    dimFileWrite();
    return DIM_OK;
}

int ImageDirectory::dimImageActivate(const char* name) {
    if (count_ == 0 || !validImageName(name)) {
        return DIM_NOT_FOUND;
    }
    int slot = findSlot(name);
    if (slot < 0) {
        return DIM_NOT_FOUND;
    }
    if (std::strcmp(slots_[slot].nextStatus, DIM_STATE_ACTIVE) == 0) {
        return DIM_SCHEDULED_ACTIVE;
    }
    for (int i = 0; i < DIM_SLOTS; ++i) {
        if (i != slot && slots_[i].fileName[0] != '\0' && std::strcmp(slots_[i].nextStatus, DIM_STATE_ACTIVE) == 0) {
            textCopy(slots_[i].nextStatus, sizeof slots_[i].nextStatus, DIM_STATE_BACKUP);
            textCopy(slots_[i].counter, sizeof slots_[i].counter, COUNTER_ZERO);
            break;
        }
    }
    textCopy(slots_[slot].counter, sizeof slots_[slot].counter, COUNTER_ZERO);
    textCopy(slots_[slot].nextStatus, sizeof slots_[slot].nextStatus, DIM_STATE_ACTIVE);
    dimFileWrite();
    return DIM_OK;
}

int ImageDirectory::dimActiveImageGet(char* name) {
    int slot = count_ == 0 ? -1 : activeSlot();
    if (slot < 0) {
        return ERROR;
    }
    textCopy(name, DIM_FILE_NAME_SIZE, slots_[slot].fileName);
    return DIM_OK;
}

int ImageDirectory::dimBackupImageGet(char* name) {
    if (count_ == 0) {
        return ERROR;
    }
    for (const DirectoryEntryFields& e : slots_) {
        if (e.fileName[0] != '\0' && std::strcmp(e.status, DIM_STATE_BACKUP) == 0) {
            textCopy(name, DIM_FILE_NAME_SIZE, e.fileName);
            return DIM_OK;
        }
    }
    return ERROR;
}

int ImageDirectory::dimImageFind(const char* name, int& state) {
    state = (count_ != 0 && findSlot(name) >= 0) ? DIM_FIND_LISTED : DIM_FIND_NOT_LISTED;
    return DIM_OK;
}

int ImageDirectory::dimBackupStateGet() {
    if (count_ == 0) {
        return DIM_BACKUP_EMPTY;
    }
    for (const DirectoryEntryFields& e : slots_) {
        if (e.fileName[0] != '\0' && std::strcmp(e.status, DIM_STATE_BACKUP) == 0) {
            return std::strcmp(e.nextStatus, DIM_STATE_ACTIVE) == 0 ? DIM_BACKUP_SCHEDULED : DIM_BACKUP_KEEPS_ROLE;
        }
    }
    return DIM_BACKUP_NONE;
}

int ImageDirectory::dimImageRename(const char* name, const char* newName) {
    int slot = count_ == 0 ? -1 : findSlot(name);
    if (slot < 0) {
        return DIM_NOT_FOUND;
    }
    textCopy(slots_[slot].fileName, sizeof slots_[slot].fileName, newName);
    dimFileWrite();
    return DIM_OK;
}

int ImageDirectory::dimDescriptionSet(const char* name, const char* text) {
    int slot = count_ == 0 ? -1 : findSlot(name);
    if (slot < 0) {
        return DIM_NOT_FOUND;
    }
    textCopy(slots_[slot].description, sizeof slots_[slot].description, text);
    dimFileWrite();
    return DIM_OK;
}

int ImageDirectory::dimDescriptionGet(const char* name, char* text) {
    int slot = count_ == 0 ? -1 : findSlot(name);
    if (slot < 0) {
        return DIM_NOT_FOUND;
    }
    textCopy(text, DIM_DESCRIPTION_SIZE, slots_[slot].description);
    return DIM_OK;
}

int ImageDirectory::dimActiveCounterGet(int& value) {
    int slot = count_ == 0 ? -1 : activeSlot();
    if (slot < 0) {
        return ERROR;
    }
    value = decimalToInt(slots_[slot].counter);
    return DIM_OK;
}

int ImageDirectory::dimActiveCounterSet(int value) {
    int slot = count_ == 0 ? -1 : activeSlot();
    if (slot < 0) {
        return ERROR;
    }
    // The field holds four characters: larger counts stay at the largest
    // value it can show rather than losing their leading digits.
    if (value > 9999) {
        value = 9999;
    } else if (value < -999) {
        value = -999;
    }
    std::snprintf(slots_[slot].counter, sizeof slots_[slot].counter, "%d", value);
    dimFileWrite();
    return DIM_OK;
}

int ImageDirectory::dimFileShow() {
    Files& files = loader_.p.files;
    Stdio& io = loader_.io;
    FileHandle file(files, files.open(DIM_FILE_NAME, OPEN_RDONLY, 0));
    if (!file.isOpen()) {
        io.printf(" boot.dim doesn't exist on the disk \n");
        return -1;
    }
    char buffer[DIM_FILE_MAX + 1] = {};
    bool failed = false;
    long length = readFully(files, file.fd(), reinterpret_cast<uint8_t*>(buffer), DIM_FILE_MAX, &failed);
    if (failed) {
        io.printf(" boot.dim read error\n");
        return -2;
    }
    io.printf("\nsize is %d \n", static_cast<int>(length));
    if (length == 0) {
        io.printf(" boot.dim empty\n");
        return -3;
    }
    int number = 0;
    forEachLine(buffer, static_cast<size_t>(length), [&](const char* line) {
        io.printf("boot.dim %d :\t\t %s \n", ++number, line);
        return true;
    });
    return 0;
}

int ImageDirectory::backupImageActivate() {
    Loader& l = loader_;
    char name[DIM_FILE_NAME_SIZE] = {};
    if (dimBackupImageGet(name) != DIM_OK) {
        l.io.printf("No Backup Image available.\n");
        return 1;
    }
    dimImageActivate(name);
    dimInitialize();
    if (l.images.activeImageCrcCheck() == IMAGE_CRC_GOOD) {
        l.io.printf("Backup image - %s activated.\n", name);
        textCopy(l.activeImageName, sizeof l.activeImageName, name);
        return 0;
    }
    l.io.printf("Backup Image failed crc check. \n");
    return 1;
}

void ImageDirectory::imageInstallRecover() {
    Files& files = loader_.p.files;
    for (const char* imageName : {DIM_IMAGE1, DIM_IMAGE2}) {
        char sideName[DIM_FILE_NAME_SIZE + 8];
        std::snprintf(sideName, sizeof sideName, "%s%s", imageName, INSTALL_SIDE_SUFFIX);
        FileStatus status;
        if (files.stat(sideName, status) != OK) {
            continue;
        }
        if (files.stat(imageName, status) == OK) {
            // The new image reached its place; only the old one's removal
            // was left to do.
            files.remove(sideName);
        } else if (files.errnoGet() == ERRNO_NOT_FOUND) {
            files.rename(sideName, imageName);
        }
    }
}

int ImageDirectory::imageInstall(const char* receivedName, const char* imageName) {
    Loader& l = loader_;
    Files& files = l.p.files;
    int state = DIM_FIND_NOT_LISTED;
    dimImageFind(imageName, state);
    const bool wasListed = state == DIM_FIND_LISTED;
    if (!wasListed) {
        char backup[DIM_FILE_NAME_SIZE] = {};
        if (dimBackupImageGet(backup) == DIM_OK) {
            files.remove(backup);
        }
        int result = dimImageAdd(imageName);
        if (result < 0) {
            l.io.printf("Error adding the image %d \n", result);
            return result;
        }
    }

    // The stored image is moved aside, not deleted, until the new one is in
    // place: a failed move then puts it back and nothing is lost.
    char sideName[DIM_FILE_NAME_SIZE + 8];
    std::snprintf(sideName, sizeof sideName, "%s%s", imageName, INSTALL_SIDE_SUFFIX);
    FileStatus status;
    bool hadOld = false;
    if (files.stat(imageName, status) == OK) {
        files.remove(sideName);
        if (files.rename(imageName, sideName) != OK) {
            if (!wasListed) {
                dimImageRemove(imageName);
            }
            l.io.printf(" Error renaming the file \n");
            return ERROR;
        }
        hadOld = true;
    }
    if (files.rename(receivedName, imageName) == OK) {
        if (hadOld) {
            files.remove(sideName);
        }
        return 0;
    }
    // A name this install added leaves the directory again; a listed one
    // keeps its entry, which still describes the file put back.
    if (hadOld) {
        files.rename(sideName, imageName);
    }
    if (!wasListed || !hadOld) {
        dimImageRemove(imageName);
    }
    l.io.printf(" Error renaming the file \n");
    return ERROR;
}

}  // namespace swboot
