// The volume's files in a host directory. Every access goes through
// directory descriptors with O_NOFOLLOW, so nothing outside the directory
// can be reached: a symbolic link is refused (ERRNO_IO), never followed.
// Entries the volume cannot use -- anything but regular files and
// directories, and names with characters FAT forbids -- are listed as
// Foreign. Host errors are mapped to the volume's error numbers.
#pragma once

#include <filesystem>

#include "host/volume_store.h"

namespace sim {

class PosixVolumeStore : public VolumeStore {
public:
    // Creates the directory when it is missing; throws std::runtime_error
    // when it cannot be created or is not a directory.
    explicit PosixVolumeStore(std::filesystem::path root);

    const std::filesystem::path& root() const { return root_; }

    int rootMake() override;
    int rootEmpty() override;
    int rootOpen(int& handle) override;
    int statAt(int directory, const std::string& name, EntryStatus& status) override;
    int fstat(int handle, EntryStatus& status) override;
    int directoryOpenAt(int directory, const std::string& name, int& handle) override;
    int fileOpenAt(int directory, const std::string& name, StoreAccess access, bool create, bool truncate,
                   int& handle) override;
    int mkdirAt(int directory, const std::string& name) override;
    int unlinkAt(int directory, const std::string& name, bool isDirectory) override;
    int renameAt(int fromDirectory, const std::string& fromName, int toDirectory, const std::string& toName) override;
    int list(int directory, std::vector<ListedEntry>& entries) override;
    int read(int handle, uint8_t* buffer, size_t length, size_t& count) override;
    int write(int handle, const uint8_t* data, size_t length, size_t& count) override;
    int position(int handle, uint64_t& position) override;
    int seek(int handle, uint64_t position) override;
    void mtimeSet(int handle, int64_t seconds) override;
    void close(int handle) override;

private:
    std::filesystem::path root_;
};

}  // namespace sim
