// The board's I/O system file layer and its one flash volume "/DskVol/",
// kept as a directory on the host or, for fuzzing, in memory (see
// VolumeStore: both behave the same as far as the loader can tell).
//
// What is modelled:
// - the flash translation layer's format lives in the first erase unit of
//   the flash window (FlashArray unit 0): a mount fails while that unit holds
//   no valid format record, and a format erases the 31 MiB window below the
//   boot code, writes the record and empties the volume;
// - an unmounted volume has no files;
// - a program or erase of the window through the flash model, by anyone but
//   the volume's own format, loses the volume's files at once;
// - names resolve lexically below the volume's root; nothing outside the
//   host directory can be reached (no host path, no "..", no symbolic link:
//   every access goes through the store's directory handles);
// - a capacity of percentUse of the window, counted FAT-like: a regular file
//   takes its size rounded up to 512-byte blocks, a directory one block;
//   writes past the capacity are cut short, then fail;
// - modification times from the board's clock;
// - descriptor and directory handle limits of the I/O system.
//
// Entries of the host directory that cannot exist on a FAT volume --
// anything but regular files and directories (symbolic links, sockets, ...)
// and names with characters FAT forbids -- are skipped by listings, fail
// every access, and are reported by the disk check.
//
// Used by one loader task at a time; not thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board/power_cut.h"
#include "host/host_volume_format.h"
#include "host/host_volume_paths.h"
#include "host/volume_store.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/volume.h"

namespace sim {

class FlashArray;

class HostVolume : public swboot::Files, public swboot::Volume {
public:
    static constexpr int FIRST_DESCRIPTOR = 3;  // 0, 1 and 2 are the console
    static constexpr int MAX_OPEN_FILES = 32;
    static constexpr int MAX_OPEN_DIRECTORIES = 16;
    static constexpr uint32_t BLOCK_SIZE = 512;
    static constexpr int DRIVE = 0;

    // dosFsChkDsk mode: the low byte is the repair level, the next byte the
    // verbosity (0 prints nothing, anything else prints a summary).
    static constexpr uint32_t CHKDSK_LEVEL_MASK = 0x00FF;
    static constexpr uint32_t CHKDSK_REPAIR = 0x0002;  // adopt the recounted usage
    static constexpr uint32_t CHKDSK_VERBOSITY_MASK = 0xFF00;

    // Operations that injectFailure() can make fail. Create covers creat()
    // and open() with OPEN_CREAT; Open covers open() without it.
    enum class Operation { Open, Create, Read, Write, Rename, Remove, Mkdir };
    static constexpr size_t OPERATION_COUNT = 7;

    // The files in the host directory hostRoot, created when it is missing;
    // throws std::runtime_error when it cannot be created or is not a
    // directory.
    HostVolume(FlashArray& flash, std::filesystem::path hostRoot, swboot::Clock& clock);
    // The files in the store (a MemoryVolumeStore, say).
    HostVolume(FlashArray& flash, std::unique_ptr<VolumeStore> store, swboot::Clock& clock);
    ~HostVolume() override;
    HostVolume(const HostVolume&) = delete;
    HostVolume& operator=(const HostVolume&) = delete;

    // Called after a read put bytes into the caller's buffer and before a
    // write takes them from it: the board's RAM applies its faults to them.
    void setTransferHook(std::function<void()> hook) { transferHook_ = std::move(hook); }

    // Where volumeShow and dosFsChkDsk print; lines end in "\n".
    void setPrinter(std::function<void(std::string_view)> printer) { printer_ = std::move(printer); }

    // The flash model changes a unit: a program or erase of the volume's
    // window by anyone but the volume itself destroys what the flash
    // translation layer kept there, so the volume unmounts and its files are
    // gone at once (a damaged format record then fails the next mount).
    void mediumChanging(uint32_t unit);

    // Board reset: closes every descriptor and directory handle, unmounts,
    // and sets the current directory back to "/". Files stay.
    void powerUp();

    // swboot::Files
    int open(const char* name, int flags, int mode) override;
    int creat(const char* name, int flags) override;
    long read(int fd, uint8_t* buffer, size_t length) override;
    long write(int fd, const uint8_t* data, size_t length) override;
    long lseek(int fd, long offset, int origin) override;
    int close(int fd) override;
    int fstat(int fd, swboot::FileStatus& status) override;
    int remove(const char* name) override;
    int rename(const char* oldName, const char* newName) override;
    int stat(const char* name, swboot::FileStatus& status) override;
    int mkdir(const char* name) override;
    int opendir(const char* name) override;
    // At the end of the directory: ERROR, with errnoGet() left unchanged.
    int readdir(int dir, swboot::DirectoryEntry& entry) override;
    int closedir(int dir) override;
    int chdir(const char* name) override;
    int getcwd(char* buffer, size_t size) override;
    int errnoGet() override { return errno_; }

    // swboot::Volume
    // Mounting checks the format record every time: a mounted volume whose
    // record was erased is unmounted by the next mount attempt.
    int usrTffsConfig(int drive, int removable, const char* name) override;
    // Unmounts first; the next mount sees an empty volume.
    int tffsDevFormat(int drive, const swboot::TffsFormatParams& params) override;
    // OK when the tree holds only files and directories and the usage
    // matches; otherwise the number of problems left; ERROR when unmounted.
    int dosFsChkDsk(const char* name, uint32_t mode) override;
    int volumeShow(const char* name, int level) override;
    int statistics(int fd, swboot::VolumeStatistics& statistics) override;

    // Control face for the simulator and tests.
    // The host path of a volume name ("files/image1" or "/DskVol/files/image1");
    // relative names are taken from the volume's root. Throws
    // std::invalid_argument for a name that is not on the volume, and
    // std::logic_error when the volume is in memory.
    std::filesystem::path hostPath(std::string_view name) const;
    // Empty when the volume is in memory.
    const std::filesystem::path& hostRoot() const { return hostRoot_; }
    // Behind the volume's back, mounted or not, with names as for hostPath:
    // - puts a file with the bytes there (and the directories on the way),
    //   dated by the board's clock; the usage does not count it until the
    //   next mount or disk check; throws std::runtime_error when it cannot;
    void filePlant(std::string_view name, std::string_view bytes);
    // - the bytes of a regular file, nothing when there is none;
    std::optional<std::string> fileContent(std::string_view name) const;
    // - whether there is an entry of that name, of any kind;
    bool entryExists(std::string_view name) const;
    // - the names of every regular file ("/DskVol/files/image1"), sorted.
    std::vector<std::string> storedFiles() const;
    bool mounted() const { return mounted_; }
    // Bytes in use and the capacity of the mounted volume (0 while unmounted).
    uint64_t usedBytes() const { return used_; }
    uint64_t capacityBytes() const { return mounted_ ? capacity_ : 0; }
    int openCount() const;
    // Why the stored files cannot be the formatted volume's: they take more
    // than its capacity (naming the largest file and the sizes); empty when
    // they fit or the flash holds no format.
    std::string capacityProblem() const;
    // After `spared` more calls that work, the next `count` calls of the
    // operation fail with ERRNO_IO before they change anything.
    void injectFailure(Operation op, int count = 1, int spared = 0);
    // Every create, write, truncate, rename, delete and directory create
    // that changes the volume counts as one persistent step of the power
    // supply, which may fail in its middle: a write keeps a prefix of its
    // bytes, anything else happened or did not.
    void setPowerCut(PowerCut* powerCut) { powerCut_ = powerCut; }

private:
    struct OpenFile {
        int handle = -1;  // of the store
        int access = 0;  // OPEN_RDONLY, OPEN_WRONLY or OPEN_RDWR
        bool directory = false;
        bool detached = false;  // removed or replaced while open: no longer counted
        uint64_t device = 0;
        uint64_t inode = 0;
    };
    struct OpenDirectory {
        bool used = false;
        std::vector<std::string> names;
        size_t next = 0;
    };
    struct TreeCount {
        uint64_t usedBytes = 0;
        uint32_t files = 0;
        uint32_t directories = 0;
        std::vector<std::string> foreign;  // volume names of unusable entries
        bool unreadable = false;
    };
    enum class Cut { None, Before, After };
    // Counts a persistent step; when the power fails at it, whether it
    // fails before or after the step is done.
    Cut cutAt();
    int fail(int error);
    bool injectedFailure(Operation op);
    // Resolves a name on the mounted volume, or sets errno and gives nothing.
    std::optional<VolumePath> resolve(const char* name);
    OpenFile* descriptor(int fd);
    void closeAll();
    void unmount();
    // A file takes its size rounded up to whole blocks.
    static constexpr uint64_t roundToBlocks(uint64_t bytes) { return (bytes + BLOCK_SIZE - 1) / BLOCK_SIZE * BLOCK_SIZE; }
    // The capacity a format record gives: its share of the window, in blocks.
    static uint64_t capacityOf(const FormatRecord& record) {
        return uint64_t{VOLUME_WINDOW_SIZE} * record.params.percentUse / 100 / BLOCK_SIZE * BLOCK_SIZE;
    }
    uint64_t freeBytes() const { return used_ < capacity_ ? capacity_ - used_ : 0; }
    void release(uint64_t bytes) { used_ = used_ > bytes ? used_ - bytes : 0; }
    // Descriptors of a file that leaves the volume stop counting its growth.
    void detach(uint64_t device, uint64_t inode);
    // Sets the modification time of an open file or directory of the store.
    void stamp(int handle);
    // Every entry below the root, parents before their entries.
    void walk(const std::function<void(const VolumePath&, const ListedEntry&)>& visit, bool& unreadable) const;
    TreeCount countTree() const;
    void print(std::string_view text);

    FlashArray& flash_;
    std::unique_ptr<VolumeStore> store_;
    std::filesystem::path hostRoot_;  // of a store in a host directory
    swboot::Clock& clock_;
    std::function<void(std::string_view)> printer_;
    PowerCut* powerCut_ = nullptr;
    std::function<void()> transferHook_;

    bool mounted_ = false;
    bool formatting_ = false;   // the volume's own erases and record write
    bool mediumLost_ = false;   // emptied by a change of the medium, not mounted since
    std::optional<FormatRecord> format_;
    uint64_t capacity_ = 0;
    uint64_t used_ = 0;
    std::optional<VolumePath> cwd_;
    std::array<std::optional<OpenFile>, MAX_OPEN_FILES> files_{};
    std::array<OpenDirectory, MAX_OPEN_DIRECTORIES> directories_{};
    std::array<int, OPERATION_COUNT> failures_{};
    std::array<int, OPERATION_COUNT> failuresSpared_{};
    int errno_ = 0;
};

}  // namespace sim
