// The image directory: which of the two image files is active and which is
// the backup, kept in "boot.dim" and in a table of two entries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

class Loader;

inline constexpr const char* DIM_FILE_NAME = "boot.dim";
// Where a new directory is written before it replaces "boot.dim".
inline constexpr const char* DIM_TEMP_FILE_NAME = "boot.dim.new";
inline constexpr const char* DIM_SEPARATOR = "---IMAGE---";
inline constexpr const char* DIM_STATE_ACTIVE = "active";
inline constexpr const char* DIM_STATE_BACKUP = "backup";
inline constexpr const char* DIM_IMAGE1 = "image1";
inline constexpr const char* DIM_IMAGE2 = "image2";
inline constexpr const char* DIM_DEFAULT_DESCRIPTION = "default image";

inline constexpr size_t DIM_STATUS_SIZE = 15;
inline constexpr size_t DIM_FILE_NAME_SIZE = 40;
inline constexpr size_t DIM_COUNTER_SIZE = 5;
inline constexpr size_t DIM_DESCRIPTION_SIZE = 256;
inline constexpr size_t DIM_FILE_MAX = 1024;
inline constexpr size_t DIM_LINE_MAX = 256;   // a line's newline must come within this
inline constexpr int DIM_SLOTS = 2;

// Result codes.
inline constexpr int DIM_OK = 0;
inline constexpr int DIM_READ_ERROR = 1;
inline constexpr int DIM_NOT_FOUND = 3;
inline constexpr int DIM_SCHEDULED_ACTIVE = 7;
inline constexpr int DIM_IS_ACTIVE = 8;
inline constexpr int DIM_BAD_NAME = -3;
inline constexpr int DIM_NO_SLOT = -1;
inline constexpr int DIM_FIND_LISTED = 2;
inline constexpr int DIM_FIND_NOT_LISTED = 3;
inline constexpr int DIM_BACKUP_EMPTY = 1;
inline constexpr int DIM_BACKUP_NONE = 3;
inline constexpr int DIM_BACKUP_KEEPS_ROLE = 4;
inline constexpr int DIM_BACKUP_SCHEDULED = 5;

struct DirectoryEntryFields {
    char status[DIM_STATUS_SIZE] = {};
    char nextStatus[DIM_STATUS_SIZE] = {};
    char fileName[DIM_FILE_NAME_SIZE] = {};
    char counter[DIM_COUNTER_SIZE] = {};
    char description[DIM_DESCRIPTION_SIZE] = {};
};

class ImageDirectory {
public:
    explicit ImageDirectory(Loader& loader) : loader_(loader) {}

    int dimInitialize();
    int dimFileWrite();
    int dimImageAdd(const char* name);
    int dimImageRemove(const char* name);
    int dimImageActivate(const char* name);
    int dimActiveImageGet(char* name);   // name: 40 bytes
    int dimBackupImageGet(char* name);   // name: 40 bytes
    int dimImageFind(const char* name, int& state);
    int dimBackupStateGet();
    int dimImageRename(const char* name, const char* newName);
    int dimDescriptionSet(const char* name, const char* text);
    int dimDescriptionGet(const char* name, char* text);   // text: 256 bytes
    int dimActiveCounterGet(int& value);
    int dimActiveCounterSet(int value);
    int dimFileShow();
    int backupImageActivate();
    int imageInstall(const char* receivedName, const char* imageName);
    // Finishes an install that the power cut short: an image moved aside
    // whose own file is missing is put back; one whose file is in place is
    // deleted. Run at startup before the directory is read.
    void imageInstallRecover();
    // True when an entry is active but names no file: the active image is
    // then as good as failed.
    bool activeEntryUnnamed() const;

    // Read-only view for tests and displays.
    int entryCount() const { return count_; }
    const DirectoryEntryFields& slot(int i) const { return slots_[i]; }

private:
    int findSlot(const char* name) const;
    int activeSlot() const;
    // Splits the buffer into lines by the directory's rules and hands each
    // to the callback; stops at the first line without a newline in reach.
    template <typename F>
    static void forEachLine(const char* buffer, size_t length, F&& onLine);

    Loader& loader_;
    int count_ = 0;
    DirectoryEntryFields slots_[DIM_SLOTS];
};

}  // namespace swboot
