// The flash volume, each test once with its files in a host directory and
// once in memory.
#include "host/host_volume.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/flash_array.h"
#include "host/memory_volume_store.h"
#include "host/posix_volume_store.h"
#include "host/sim_clock.h"
#include "platform/status.h"
#include "support/test_board.h"

namespace {

namespace fs = std::filesystem;
using sim::FlashArray;
using sim::HostVolume;
using swboot::ERROR;
using swboot::OK;

constexpr int64_t JUNE_20_2007 = 1182348189;  // 2007-06-20 14:03:09 UTC

std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

enum class Side { Host, Memory };

std::unique_ptr<sim::VolumeStore> storeOn(Side side, const fs::path& hostRoot) {
    if (side == Side::Memory) {
        return std::make_unique<sim::MemoryVolumeStore>();
    }
    return std::make_unique<sim::PosixVolumeStore>(hostRoot);
}

class HostVolumeTest : public ::testing::TestWithParam<Side> {
protected:
    HostVolumeTest() : scratch_(dir_.path()), volume_(flash_, storeOn(GetParam(), scratch_ / "volume"), clock_) {
        volume_.setPrinter([this](std::string_view text) { printed_ += text; });
    }

    // What is about the host directory itself is left out in memory.
    static bool inMemory() { return GetParam() == Side::Memory; }

    void formatAndMount(uint32_t percentUse = 99) {
        swboot::TffsFormatParams params;
        params.percentUse = percentUse;
        ASSERT_EQ(volume_.tffsDevFormat(0, params), OK);
        ASSERT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);
        ASSERT_EQ(volume_.chdir("/DskVol/"), OK);
    }

    long write(int fd, std::string_view text) {
        return volume_.write(fd, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    // Creates (or replaces) a file with the content; the byte count written.
    long put(const char* name, const std::string& content) {
        const int fd = volume_.creat(name, swboot::OPEN_RDWR);
        if (fd == ERROR) {
            return ERROR;
        }
        const long written = write(fd, content);
        EXPECT_EQ(volume_.close(fd), OK);
        return written;
    }

    std::string get(const char* name) {
        const int fd = volume_.open(name, swboot::OPEN_RDONLY, 0);
        if (fd == ERROR) {
            return "<error>";
        }
        std::string content;
        uint8_t buffer[100];
        long count;
        while ((count = volume_.read(fd, buffer, sizeof buffer)) > 0) {
            content.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(count));
        }
        EXPECT_EQ(count, 0);
        EXPECT_EQ(volume_.close(fd), OK);
        return content;
    }

    std::vector<std::string> list(const char* name) {
        std::vector<std::string> names;
        const int dir = volume_.opendir(name);
        EXPECT_GE(dir, 0);
        swboot::DirectoryEntry entry;
        while (volume_.readdir(dir, entry) == OK) {
            names.emplace_back(entry.name);
        }
        EXPECT_EQ(volume_.closedir(dir), OK);
        return names;
    }

    // The call returned ERROR and left the error number.
    ::testing::AssertionResult failed(long result, int expectedErrno) {
        if (result != ERROR) {
            return ::testing::AssertionFailure() << "returned " << result;
        }
        if (volume_.errnoGet() != expectedErrno) {
            return ::testing::AssertionFailure() << "error number " << volume_.errnoGet() << ", not " << expectedErrno;
        }
        return ::testing::AssertionSuccess();
    }

    std::string cwd() {
        char buffer[swboot::PATH_MAX_LENGTH + 1];
        EXPECT_EQ(volume_.getcwd(buffer, sizeof buffer), OK);
        return buffer;
    }

    std::string printed_;  // what the volume printed
    testing_support::TempDir dir_;
    sim::VirtualClock clock_{JUNE_20_2007};
    FlashArray flash_;
    fs::path scratch_;
    HostVolume volume_;
};

// The volume formatted and mounted, "/DskVol/" the current directory.
class MountedVolumeTest : public HostVolumeTest {
protected:
    void SetUp() override { formatAndMount(); }
};

// ---------------------------------------------------------------- mount and format

TEST_P(HostVolumeTest, FormatEmptiesTheVolumeWithoutFollowingLinksOrMakesIt) {
    const fs::path outside = scratch_ / "outside";
    volume_.filePlant("files/deep/log", "old");
    volume_.filePlant("files/image1", "code");
    if (!inMemory()) {
        fs::create_directory(outside);
        interop::writeHostFile(outside / "keep", bytes("not the volume's"));
        fs::create_directory_symlink(outside, volume_.hostRoot() / "files" / "link");
    }

    formatAndMount();
    EXPECT_EQ(volume_.usedBytes(), 0u);
    EXPECT_TRUE(list("/DskVol/").empty());
    if (!inMemory()) {
        EXPECT_TRUE(fs::is_empty(volume_.hostRoot()));
        EXPECT_EQ(interop::readHostFile(outside / "keep"), bytes("not the volume's"));
        // A missing host directory is made again.
        fs::remove_all(volume_.hostRoot());
        formatAndMount();
    }
    EXPECT_EQ(put("a", "x"), 1);
}

TEST_P(MountedVolumeTest, MountingAgainKeepsOpenFilesAndOtherDrivesAndNamesAreRefused) {
    const int fd = volume_.creat("a", swboot::OPEN_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);
    EXPECT_EQ(write(fd, "ab"), 2);
    EXPECT_EQ(volume_.close(fd), OK);
    EXPECT_EQ(cwd(), "/DskVol/");

    volume_.powerUp();
    EXPECT_EQ(volume_.usrTffsConfig(1, 0, "/DskVol/"), ERROR);
    EXPECT_EQ(volume_.usrTffsConfig(0, 0, "/flash/"), ERROR);
    EXPECT_EQ(volume_.usrTffsConfig(0, 0, nullptr), ERROR);
    EXPECT_FALSE(volume_.mounted());
    EXPECT_NE(volume_.tffsDevFormat(1, {}), OK);
    EXPECT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);
}

TEST_P(MountedVolumeTest, AChangeOfTheWindowLosesTheFilesAtOnceAndADamagedRecordFailsTheMount) {
    ASSERT_EQ(volume_.mkdir("files"), OK);
    ASSERT_EQ(put("files/image1", "code"), 4);
    const int fd = volume_.open("files/image1", swboot::OPEN_RDONLY, 0);
    ASSERT_GE(fd, 0);

    // The boot code region is no part of the volume.
    flash_.eraseUnit(sim::VOLUME_UNIT_COUNT);
    EXPECT_TRUE(volume_.mounted());
    EXPECT_EQ(volume_.openCount(), 1);

    // An erase of the window takes the volume at once, files and all.
    flash_.eraseUnit(0);
    EXPECT_FALSE(volume_.mounted());
    EXPECT_EQ(volume_.openCount(), 0);
    EXPECT_FALSE(volume_.entryExists("files/image1"));
    EXPECT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), ERROR);

    ASSERT_EQ(volume_.tffsDevFormat(0, {}), OK);
    ASSERT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);
    ASSERT_EQ(put("image1", "code"), 4);
    // A unit past the record: the record holds, the files are gone.
    const uint8_t programmed[] = {0x00};
    flash_.program(sim::VOLUME_WINDOW_SIZE - 1, programmed);
    EXPECT_FALSE(volume_.mounted());
    EXPECT_TRUE(volume_.storedFiles().empty());
    EXPECT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);

    ASSERT_EQ(volume_.tffsDevFormat(0, {}), OK);
    ASSERT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);
    EXPECT_FALSE(volume_.entryExists("files"));

    // A single cleared bit anywhere in the record spoils it.
    const uint8_t cleared[] = {0xFE};
    flash_.program(sim::FormatRecord::OFFSET_PERCENT_USE + 3, cleared);
    EXPECT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), ERROR);
}

TEST_P(HostVolumeTest, FormatErasesTheVolumeWindowNeverTheBootCodeAndRecordsItsParameters) {
    const std::vector<uint8_t> pattern(16, 0x5A);
    for (uint32_t unit : {1u, 60u, 123u, 124u, 125u, 126u, 127u}) {
        flash_.program(unit * FlashArray::UNIT_SIZE + 100, pattern);
    }
    swboot::TffsFormatParams params;
    params.noOfSpareUnits = 3;
    params.formatFlags = 0x21;
    ASSERT_EQ(volume_.tffsDevFormat(0, params), OK);
    for (uint32_t unit = 1; unit < sim::VOLUME_UNIT_COUNT; ++unit) {
        EXPECT_TRUE(flash_.unitErased(unit)) << unit;
    }
    for (uint32_t unit = sim::VOLUME_UNIT_COUNT; unit < FlashArray::UNIT_COUNT; ++unit) {
        EXPECT_EQ(flash_.read8(unit * FlashArray::UNIT_SIZE + 100), 0x5A) << unit;
    }
    const auto record = sim::formatRecordRead(flash_);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->params.noOfSpareUnits, 3u);
    EXPECT_EQ(record->params.formatFlags, 0x21u);
    EXPECT_EQ(record->params.percentUse, 99u);
    // Big-endian on the medium.
    EXPECT_EQ(flash_.read8(sim::FormatRecord::OFFSET_SPARE_UNITS + 3), 3);
    EXPECT_EQ(flash_.read8(sim::FormatRecord::OFFSET_SPARE_UNITS), 0);
}

// ---------------------------------------------------------------- names

TEST_P(HostVolumeTest, RelativeNamesNeedACurrentDirectoryOnTheVolume) {
    ASSERT_EQ(volume_.tffsDevFormat(0, {}), OK);
    ASSERT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);
    EXPECT_EQ(cwd(), "/");
    EXPECT_TRUE(failed(volume_.creat("x", swboot::OPEN_RDWR), swboot::ERRNO_NOT_FOUND));
    EXPECT_EQ(volume_.mkdir("files"), ERROR);
    EXPECT_TRUE(list("/DskVol/").empty());

    ASSERT_EQ(volume_.chdir("/DskVol"), OK);
    EXPECT_EQ(cwd(), "/DskVol/");
    ASSERT_EQ(volume_.mkdir("files/"), OK);
    ASSERT_EQ(volume_.chdir("files"), OK);
    EXPECT_EQ(cwd(), "/DskVol/files");
    EXPECT_EQ(put("vpd.bin", "v"), 1);
    EXPECT_TRUE(volume_.entryExists("files/vpd.bin"));
    ASSERT_EQ(volume_.chdir("../.."), OK);
    EXPECT_EQ(cwd(), "/DskVol/");
    EXPECT_TRUE(failed(volume_.chdir("files/vpd.bin"), swboot::ERRNO_NOT_DIRECTORY));
    EXPECT_TRUE(failed(volume_.chdir("nowhere"), swboot::ERRNO_NOT_FOUND));
    EXPECT_EQ(cwd(), "/DskVol/");

    char small[9];
    EXPECT_EQ(volume_.getcwd(small, sizeof small), OK);
    EXPECT_EQ(volume_.getcwd(small, sizeof small - 1), ERROR);
}

TEST_P(MountedVolumeTest, DotDotNeverLeavesTheVolume) {
    ASSERT_EQ(volume_.mkdir("files"), OK);
    ASSERT_EQ(volume_.chdir("files"), OK);
    EXPECT_EQ(put("../../../escape1", "1"), 1);
    EXPECT_EQ(put("/DskVol/../escape2", "2"), 1);
    EXPECT_EQ(put("/DskVol/files/../../../../escape3", "3"), 1);
    EXPECT_EQ(put("..\\..\\escape4", "4"), 1);
    for (const char* name : {"escape1", "escape2", "escape3", "escape4"}) {
        EXPECT_TRUE(volume_.entryExists(name)) << name;
        EXPECT_FALSE(fs::exists(scratch_ / name)) << name;
    }
    // Host paths and other devices are not the volume.
    const std::string hostName = (scratch_ / "host_file").string();
    EXPECT_EQ(volume_.creat(hostName.c_str(), swboot::OPEN_RDWR), ERROR);
    EXPECT_EQ(volume_.creat("/tyCo/0", swboot::OPEN_RDWR), ERROR);
    EXPECT_TRUE(failed(volume_.creat("/DskVolume/x", swboot::OPEN_RDWR), swboot::ERRNO_NOT_FOUND));
    EXPECT_FALSE(fs::exists(scratch_ / "host_file"));
}

// What only a host directory can hold: links and names made beside the volume.
class HostDirectoryVolumeTest : public MountedVolumeTest {};

TEST_P(HostDirectoryVolumeTest, SymbolicLinksAreNeverFollowed) {
    const fs::path outside = scratch_ / "outside";
    fs::create_directory(outside);
    interop::writeHostFile(outside / "secret", bytes("host data"));
    fs::create_directory_symlink(outside, volume_.hostRoot() / "dirlink");
    fs::create_symlink(outside / "secret", volume_.hostRoot() / "filelink");
    interop::writeHostFile(volume_.hostRoot() / "bad:name", bytes("unreachable"));

    EXPECT_TRUE(failed(volume_.open("dirlink/secret", swboot::OPEN_RDONLY, 0), swboot::ERRNO_IO));
    EXPECT_EQ(volume_.creat("dirlink/new", swboot::OPEN_RDWR), ERROR);
    EXPECT_EQ(volume_.open("filelink", swboot::OPEN_RDWR, 0), ERROR);
    EXPECT_EQ(volume_.creat("filelink", swboot::OPEN_RDWR), ERROR);
    EXPECT_EQ(volume_.chdir("dirlink"), ERROR);
    EXPECT_EQ(volume_.opendir("dirlink"), ERROR);
    EXPECT_EQ(volume_.mkdir("dirlink/sub"), ERROR);
    ASSERT_EQ(put("mine", "volume data"), 11);
    EXPECT_EQ(volume_.rename("mine", "filelink"), ERROR);
    EXPECT_EQ(volume_.rename("filelink", "mine2"), ERROR);
    EXPECT_EQ(volume_.remove("filelink"), ERROR);
    swboot::FileStatus status;
    EXPECT_EQ(volume_.stat("filelink", status), ERROR);

    EXPECT_EQ(interop::readHostFile(outside / "secret"), bytes("host data"));
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    EXPECT_EQ(list("/DskVol/"), std::vector<std::string>{"mine"});
    EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0), 3);  // two links, one name FAT cannot hold
}

TEST_P(MountedVolumeTest, OverlongAndForbiddenNamesAreRefused) {
    const std::string longComponent(swboot::NAME_MAX_LENGTH + 1, 'n');
    EXPECT_TRUE(failed(volume_.creat(longComponent.c_str(), swboot::OPEN_RDWR), swboot::ERRNO_NAME_TOO_LONG));
    std::string longPath;
    while (longPath.size() <= swboot::PATH_MAX_LENGTH) {
        longPath += "dir/";
    }
    EXPECT_TRUE(failed(volume_.mkdir(longPath.c_str()), swboot::ERRNO_NAME_TOO_LONG));
    EXPECT_TRUE(failed(volume_.creat("a:b", swboot::OPEN_RDWR), swboot::ERRNO_INVALID));
    EXPECT_EQ(volume_.creat("", swboot::OPEN_RDWR), ERROR);
    EXPECT_TRUE(list("/DskVol/").empty());
}

TEST_P(HostVolumeTest, HostPathMapsVolumeNamesBelowTheRoot) {
    EXPECT_THROW(volume_.hostPath("/etc/passwd"), std::invalid_argument);
    if (inMemory()) {
        EXPECT_THROW(volume_.hostPath("files/image1"), std::logic_error);
        return;
    }
    EXPECT_EQ(volume_.hostPath("files/image1"), volume_.hostRoot() / "files" / "image1");
    EXPECT_EQ(volume_.hostPath("/DskVol/files/../boot.dim"), volume_.hostRoot() / "boot.dim");
    EXPECT_EQ(volume_.hostPath("../../x"), volume_.hostRoot() / "x");
}

// ---------------------------------------------------------------- files

TEST_P(MountedVolumeTest, FilesRoundTripThroughCreateWriteSeekAndRead) {
    const int fd = volume_.creat("image1", swboot::OPEN_RDWR);
    EXPECT_EQ(fd, HostVolume::FIRST_DESCRIPTOR);
    EXPECT_EQ(write(fd, "0123456789"), 10);
    EXPECT_EQ(volume_.lseek(fd, 4, swboot::SEEK_FROM_START), 4);
    uint8_t buffer[4] = {};
    EXPECT_EQ(volume_.read(fd, buffer, 3), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "456");
    EXPECT_EQ(volume_.lseek(fd, -2, swboot::SEEK_FROM_END), 8);
    EXPECT_EQ(volume_.lseek(fd, 1, swboot::SEEK_FROM_CURRENT), 9);
    EXPECT_EQ(write(fd, "XY"), 2);
    EXPECT_TRUE(failed(volume_.lseek(fd, -20, swboot::SEEK_FROM_CURRENT), swboot::ERRNO_INVALID));
    swboot::FileStatus status;
    ASSERT_EQ(volume_.fstat(fd, status), OK);
    EXPECT_EQ(status.size, 11u);
    EXPECT_TRUE(swboot::fileIsRegular(status));
    EXPECT_EQ(status.mode & 0777u, 0777u);
    EXPECT_EQ(volume_.close(fd), OK);
    EXPECT_TRUE(failed(volume_.close(fd), swboot::ERRNO_BAD_DESCRIPTOR));
    EXPECT_EQ(get("/DskVol/image1"), "012345678XY");
    EXPECT_EQ(volume_.fileContent("image1"), "012345678XY");
}

TEST_P(MountedVolumeTest, AccessModesAreEnforced) {
    ASSERT_EQ(put("f", "abc"), 3);
    uint8_t byte = 0;
    const int readOnly = volume_.open("f", swboot::OPEN_RDONLY, 0);
    EXPECT_TRUE(failed(volume_.write(readOnly, &byte, 1), swboot::ERRNO_BAD_DESCRIPTOR));
    const int writeOnly = volume_.open("f", swboot::OPEN_WRONLY, 0);
    EXPECT_TRUE(failed(volume_.read(writeOnly, &byte, 1), swboot::ERRNO_BAD_DESCRIPTOR));
    EXPECT_TRUE(failed(volume_.read(99, &byte, 1), swboot::ERRNO_BAD_DESCRIPTOR));
    EXPECT_TRUE(failed(volume_.open("f", swboot::OPEN_ACCMODE, 0), swboot::ERRNO_INVALID));
    EXPECT_TRUE(failed(volume_.open("missing", swboot::OPEN_RDWR, 0), swboot::ERRNO_NOT_FOUND));
    EXPECT_TRUE(failed(volume_.open("nodir/new", swboot::OPEN_RDWR | swboot::OPEN_CREAT, 0), swboot::ERRNO_NOT_FOUND));
    EXPECT_TRUE(failed(volume_.open("f/new", swboot::OPEN_RDWR | swboot::OPEN_CREAT, 0), swboot::ERRNO_NOT_DIRECTORY));

    // Without OPEN_TRUNC an existing file keeps its content.
    const int keep = volume_.open("f", swboot::OPEN_RDWR | swboot::OPEN_CREAT, 0);
    ASSERT_GE(keep, 0);
    EXPECT_EQ(volume_.close(keep), OK);
    EXPECT_EQ(get("f"), "abc");
}

TEST_P(MountedVolumeTest, DirectoriesOpenOnlyForReading) {
    ASSERT_EQ(volume_.mkdir("files"), OK);
    EXPECT_TRUE(failed(volume_.open("files", swboot::OPEN_RDWR, 0), swboot::ERRNO_IS_DIRECTORY));
    EXPECT_TRUE(failed(volume_.creat("files", swboot::OPEN_RDWR), swboot::ERRNO_IS_DIRECTORY));
    const int fd = volume_.open("files", swboot::OPEN_RDONLY, 0);
    ASSERT_GE(fd, 0);
    uint8_t byte;
    EXPECT_EQ(volume_.read(fd, &byte, 1), ERROR);
    swboot::FileStatus status;
    ASSERT_EQ(volume_.fstat(fd, status), OK);
    EXPECT_TRUE(swboot::fileIsDirectory(status));
    EXPECT_EQ(volume_.close(fd), OK);
    EXPECT_TRUE(failed(volume_.mkdir("files"), swboot::ERRNO_EXISTS));
}

TEST_P(MountedVolumeTest, DescriptorsStartAtThreeAndAreLimited) {
    ASSERT_EQ(put("f", "x"), 1);
    std::set<int> descriptors;
    for (int i = 0; i < HostVolume::MAX_OPEN_FILES; ++i) {
        const int fd = volume_.open("f", swboot::OPEN_RDONLY, 0);
        ASSERT_GE(fd, HostVolume::FIRST_DESCRIPTOR);
        descriptors.insert(fd);
    }
    EXPECT_EQ(descriptors.size(), size_t{HostVolume::MAX_OPEN_FILES});
    EXPECT_TRUE(failed(volume_.open("f", swboot::OPEN_RDONLY, 0), swboot::ERRNO_TOO_MANY_OPEN));
    EXPECT_EQ(volume_.creat("g", swboot::OPEN_RDWR), ERROR);
    EXPECT_FALSE(volume_.entryExists("g"));  // refused before anything was made
    EXPECT_EQ(volume_.close(*descriptors.begin()), OK);
    EXPECT_EQ(volume_.open("f", swboot::OPEN_RDONLY, 0), *descriptors.begin());
}

TEST_P(MountedVolumeTest, RenameMovesAndReplacesFiles) {
    ASSERT_EQ(volume_.mkdir("files"), OK);
    ASSERT_EQ(put("files/xcode.bin", std::string(1500, 'n')), 1500);
    ASSERT_EQ(put("files/image1", std::string(3000, 'o')), 3000);
    EXPECT_EQ(volume_.usedBytes(), 512u + 1536u + 3072u);

    EXPECT_EQ(volume_.rename("files/xcode.bin", "/DskVol/files/image1"), OK);
    EXPECT_EQ(get("files/image1"), std::string(1500, 'n'));
    EXPECT_EQ(volume_.usedBytes(), 512u + 1536u);

    EXPECT_TRUE(failed(volume_.rename("files/xcode.bin", "files/image2"), swboot::ERRNO_NOT_FOUND));
    EXPECT_TRUE(failed(volume_.rename("files/image1", "files"), swboot::ERRNO_IS_DIRECTORY));
    EXPECT_TRUE(failed(volume_.rename("files/image1", "nodir/image1"), swboot::ERRNO_NOT_FOUND));

    ASSERT_EQ(volume_.mkdir("other"), OK);
    EXPECT_TRUE(failed(volume_.rename("files", "other"), swboot::ERRNO_EXISTS));
    EXPECT_TRUE(failed(volume_.rename("files", "files/sub"), swboot::ERRNO_INVALID));
    EXPECT_EQ(volume_.rename("files", "moved"), OK);
    EXPECT_EQ(get("moved/image1"), std::string(1500, 'n'));
    EXPECT_EQ(volume_.usedBytes(), 512u + 512u + 1536u);
}

TEST_P(MountedVolumeTest, RemoveTakesFilesAndOnlyEmptyDirectories) {
    ASSERT_EQ(volume_.mkdir("files"), OK);
    ASSERT_EQ(put("files/log2.bin", "log"), 3);
    EXPECT_TRUE(failed(volume_.remove("files"), swboot::ERRNO_NOT_EMPTY));
    EXPECT_EQ(volume_.remove("files/log2.bin"), OK);
    EXPECT_TRUE(failed(volume_.remove("files/log2.bin"), swboot::ERRNO_NOT_FOUND));
    EXPECT_EQ(volume_.remove("files"), OK);
    EXPECT_EQ(volume_.remove("/DskVol/"), ERROR);
    EXPECT_EQ(volume_.usedBytes(), 0u);
    EXPECT_TRUE(list("/DskVol/").empty());
}

// ---------------------------------------------------------------- directory reading

TEST_P(MountedVolumeTest, DirectoriesReadSortedWithDotEntriesInSubdirectories) {
    ASSERT_EQ(volume_.mkdir("files"), OK);
    for (const char* name : {"files/vpd.bin", "files/boot.dim", "files/image1", "files/Zeta", "top"}) {
        ASSERT_EQ(put(name, "x"), 1);
    }
    ASSERT_EQ(volume_.mkdir("files/sub"), OK);
    EXPECT_EQ(list("/DskVol/"), (std::vector<std::string>{"files", "top"}));
    EXPECT_EQ(list("files"),
              (std::vector<std::string>{".", "..", "Zeta", "boot.dim", "image1", "sub", "vpd.bin"}));
    EXPECT_TRUE(failed(volume_.opendir("top"), swboot::ERRNO_NOT_DIRECTORY));
    EXPECT_TRUE(failed(volume_.opendir("none"), swboot::ERRNO_NOT_FOUND));
}

TEST_P(MountedVolumeTest, EntriesCanBeRemovedWhileTheDirectoryIsRead) {
    for (const char* name : {"a.cfg", "b.cfg", "c.cfg"}) {
        ASSERT_EQ(put(name, "x"), 1);
    }
    const int dir = volume_.opendir("/DskVol/");
    ASSERT_GE(dir, 0);
    swboot::DirectoryEntry entry;
    int seen = 0;
    while (volume_.readdir(dir, entry) == OK) {
        EXPECT_EQ(volume_.remove(entry.name), OK) << entry.name;
        ++seen;
    }
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(volume_.closedir(dir), OK);
    EXPECT_TRUE(failed(volume_.readdir(dir, entry), swboot::ERRNO_BAD_DESCRIPTOR));
}

TEST_P(MountedVolumeTest, DirectoryHandlesAreLimited) {
    std::vector<int> handles;
    for (int i = 0; i < HostVolume::MAX_OPEN_DIRECTORIES; ++i) {
        handles.push_back(volume_.opendir("/DskVol/"));
        ASSERT_GE(handles.back(), 0);
    }
    EXPECT_TRUE(failed(volume_.opendir("/DskVol/"), swboot::ERRNO_TOO_MANY_OPEN));
    EXPECT_EQ(volume_.closedir(handles[5]), OK);
    EXPECT_EQ(volume_.opendir("/DskVol/"), handles[5]);
}

// ---------------------------------------------------------------- capacity

TEST_P(MountedVolumeTest, CapacityIsNinetyNinePercentOfTheWindowInBlocks) {
    EXPECT_EQ(volume_.capacityBytes(), 0x01F00000ull * 99 / 100 / 512 * 512);
    ASSERT_EQ(put("a", std::string(513, 'a')), 513);
    const int fd = volume_.creat("dummy1", swboot::OPEN_RDWR);
    swboot::VolumeStatistics stats;
    ASSERT_EQ(volume_.statistics(fd, stats), OK);
    EXPECT_EQ(stats.blockSize, 512u);
    EXPECT_EQ(stats.totalBlocks, 62853u);
    EXPECT_EQ(stats.freeBlocks, 62853u - 2u);
    EXPECT_EQ(volume_.close(fd), OK);
    EXPECT_EQ(volume_.statistics(fd, stats), ERROR);
}

TEST_P(HostVolumeTest, AFullVolumeCutsWritesShortThenRefusesThem) {
    formatAndMount(1);  // a small volume keeps the test quick
    const uint64_t capacity = volume_.capacityBytes();
    ASSERT_EQ(capacity, 0x01F00000ull / 100 / 512 * 512);
    ASSERT_EQ(volume_.mkdir("files"), OK);

    const std::string big(capacity, 'b');
    const int fd = volume_.creat("files/big", swboot::OPEN_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, big), static_cast<long>(capacity - 512));
    EXPECT_EQ(volume_.usedBytes(), capacity);
    EXPECT_TRUE(failed(write(fd, "z"), swboot::ERRNO_NO_SPACE));
    // Rewriting blocks the file already has needs no space.
    EXPECT_EQ(volume_.lseek(fd, 0, swboot::SEEK_FROM_START), 0);
    EXPECT_EQ(write(fd, "B"), 1);
    EXPECT_EQ(volume_.close(fd), OK);

    EXPECT_TRUE(failed(volume_.creat("files/small", swboot::OPEN_RDWR), swboot::ERRNO_NO_SPACE));
    EXPECT_TRUE(failed(volume_.mkdir("more"), swboot::ERRNO_NO_SPACE));

    EXPECT_EQ(volume_.remove("files/big"), OK);
    EXPECT_EQ(volume_.usedBytes(), 512u);
    EXPECT_EQ(put("files/small", "back"), 4);
    EXPECT_EQ(volume_.usedBytes(), 1024u);
    EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0), OK);
}

TEST_P(MountedVolumeTest, TruncatingAndReplacingGiveSpaceBack) {
    ASSERT_EQ(put("log", std::string(2000, 'l')), 2000);
    EXPECT_EQ(volume_.usedBytes(), 2048u);
    ASSERT_EQ(put("log", "short"), 5);  // creat truncates
    EXPECT_EQ(volume_.usedBytes(), 512u);

    // A file removed while open no longer counts, whatever is written to it.
    const int fd = volume_.open("log", swboot::OPEN_RDWR, 0);
    ASSERT_EQ(volume_.remove("log"), OK);
    EXPECT_EQ(volume_.usedBytes(), 0u);
    EXPECT_EQ(write(fd, std::string(4000, 'x')), 4000);
    EXPECT_EQ(volume_.usedBytes(), 0u);
    EXPECT_EQ(volume_.close(fd), OK);
    EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0), OK);
}

// ---------------------------------------------------------------- times

TEST_P(MountedVolumeTest, ModificationTimesComeFromTheBoardClock) {
    swboot::FileStatus status;
    const int fd = volume_.creat("image1", swboot::OPEN_RDWR);
    ASSERT_EQ(volume_.fstat(fd, status), OK);
    EXPECT_EQ(status.mtime, JUNE_20_2007);

    clock_.clockSettime(JUNE_20_2007 + 3600, 0);
    ASSERT_EQ(write(fd, "abc"), 3);
    EXPECT_EQ(volume_.close(fd), OK);
    ASSERT_EQ(volume_.stat("image1", status), OK);
    EXPECT_EQ(status.mtime, JUNE_20_2007 + 3600);

    clock_.clockSettime(JUNE_20_2007 + 7200, 0);
    ASSERT_GE(volume_.close(volume_.creat("image1", swboot::OPEN_WRONLY)), OK);
    ASSERT_EQ(volume_.stat("image1", status), OK);
    EXPECT_EQ(status.mtime, JUNE_20_2007 + 7200);

    // Reading and renaming change nothing.
    clock_.clockSettime(JUNE_20_2007 + 9000, 0);
    EXPECT_EQ(get("image1"), "");
    ASSERT_EQ(volume_.rename("image1", "image2"), OK);
    ASSERT_EQ(volume_.stat("image2", status), OK);
    EXPECT_EQ(status.mtime, JUNE_20_2007 + 7200);

    ASSERT_EQ(volume_.mkdir("files"), OK);
    ASSERT_EQ(volume_.stat("files", status), OK);
    EXPECT_EQ(status.mtime, JUNE_20_2007 + 9000);
    ASSERT_EQ(volume_.stat("/DskVol/", status), OK);
    EXPECT_EQ(status.mtime, JUNE_20_2007 + 9000);
}

// ---------------------------------------------------------------- faults and reset

TEST_P(MountedVolumeTest, InjectedFailuresChangeNothing) {
    ASSERT_EQ(put("xcode.bin", "new code"), 8);
    ASSERT_EQ(put("image1", "old code"), 8);

    volume_.injectFailure(HostVolume::Operation::Rename);
    EXPECT_TRUE(failed(volume_.rename("xcode.bin", "image1"), swboot::ERRNO_IO));
    EXPECT_EQ(get("image1"), "old code");
    EXPECT_EQ(get("xcode.bin"), "new code");
    EXPECT_EQ(volume_.rename("xcode.bin", "image1"), OK);  // only the next one failed
    EXPECT_EQ(get("image1"), "new code");

    volume_.injectFailure(HostVolume::Operation::Write, 2);
    const int fd = volume_.open("image1", swboot::OPEN_RDWR, 0);
    EXPECT_EQ(write(fd, "X"), ERROR);
    EXPECT_EQ(write(fd, "X"), ERROR);
    EXPECT_EQ(write(fd, "N"), 1);
    EXPECT_EQ(volume_.close(fd), OK);
    EXPECT_EQ(get("image1"), "New code");

    volume_.injectFailure(HostVolume::Operation::Create);
    EXPECT_EQ(volume_.creat("image1", swboot::OPEN_RDWR), ERROR);
    EXPECT_EQ(get("image1"), "New code");  // not truncated
    volume_.injectFailure(HostVolume::Operation::Remove);
    EXPECT_EQ(volume_.remove("image1"), ERROR);
    volume_.injectFailure(HostVolume::Operation::Mkdir);
    EXPECT_EQ(volume_.mkdir("files"), ERROR);
    volume_.injectFailure(HostVolume::Operation::Open);
    EXPECT_EQ(volume_.open("image1", swboot::OPEN_RDONLY, 0), ERROR);
    volume_.injectFailure(HostVolume::Operation::Read);
    const int reader = volume_.open("image1", swboot::OPEN_RDONLY, 0);
    uint8_t byte;
    EXPECT_EQ(volume_.read(reader, &byte, 1), ERROR);
    EXPECT_EQ(volume_.close(reader), OK);
    EXPECT_EQ(list("/DskVol/"), std::vector<std::string>{"image1"});
}

// A power cut in the middle of a change leaves it done or not done -- a
// write keeps a prefix of its bytes -- and the seeds make both happen.
TEST_P(MountedVolumeTest, PowerCutsLeaveEachChangeDoneOrNotDone) {
    const std::string old = "old code";
    const std::string added = "0123456789";
    struct Change {
        const char* name;
        std::function<void(HostVolume&, int fd)> run;
        std::function<bool(HostVolume&)> done;
    };
    const Change changes[] = {
        {"create", [](HostVolume& v, int) { v.creat("new", swboot::OPEN_RDWR); },
         [](HostVolume& v) { return v.entryExists("new"); }},
        {"truncate", [](HostVolume& v, int) { v.creat("old", swboot::OPEN_RDWR); },
         [](HostVolume& v) { return v.fileContent("old") == ""; }},
        {"rename", [](HostVolume& v, int) { v.rename("old", "dir/moved"); },
         [](HostVolume& v) { return v.entryExists("dir/moved") && !v.entryExists("old"); }},
        {"remove", [](HostVolume& v, int) { v.remove("old"); }, [](HostVolume& v) { return !v.entryExists("old"); }},
        {"mkdir", [](HostVolume& v, int) { v.mkdir("sub"); }, [](HostVolume& v) { return v.entryExists("sub"); }},
        {"write",
         [&added](HostVolume& v, int fd) {
             v.write(fd, reinterpret_cast<const uint8_t*>(added.data()), added.size());
         },
         [&](HostVolume& v) {
             const std::string content = v.fileContent("old").value_or("");
             return content.size() >= old.size() && content.size() < old.size() + added.size() &&
                    content == old + added.substr(0, content.size() - old.size());
         }},
    };
    sim::PowerCut power;
    volume_.setPowerCut(&power);
    for (const Change& change : changes) {
        std::set<bool> outcomes;
        for (uint64_t seed = 0; seed < 8; ++seed) {
            formatAndMount();
            ASSERT_EQ(put("old", old), 8);
            ASSERT_EQ(volume_.mkdir("dir"), OK);
            const int fd = volume_.open("old", swboot::OPEN_RDWR, 0);
            ASSERT_EQ(volume_.lseek(fd, 0, swboot::SEEK_FROM_END), 8);
            power.armAfter(1, seed);
            EXPECT_THROW(change.run(volume_, fd), sim::BoardPowerCut) << change.name;
            volume_.powerUp();
            ASSERT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);
            const bool done = change.done(volume_);
            outcomes.insert(done);
            if (!done && std::string(change.name) != "write") {
                // Not done means nothing changed.
                EXPECT_EQ(volume_.fileContent("old"), old) << change.name;
                EXPECT_EQ(volume_.storedFiles(), std::vector<std::string>{"/DskVol/old"}) << change.name;
            }
            EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0), OK) << change.name;
        }
        EXPECT_EQ(outcomes.size(), std::string(change.name) == "write" ? 1u : 2u) << change.name;
    }
}

TEST_P(MountedVolumeTest, PowerUpClosesEverythingAndUnmountsButKeepsFiles) {
    ASSERT_EQ(volume_.mkdir("files"), OK);
    ASSERT_EQ(volume_.chdir("files"), OK);
    ASSERT_EQ(put("image1", std::string(700, 'i')), 700);
    ASSERT_EQ(put("empty", ""), 0);
    const int fd = volume_.open("image1", swboot::OPEN_RDONLY, 0);
    const int dir = volume_.opendir(".");
    ASSERT_GE(fd, 0);
    ASSERT_GE(dir, 0);

    volume_.powerUp();
    EXPECT_FALSE(volume_.mounted());
    EXPECT_EQ(volume_.openCount(), 0);
    EXPECT_EQ(cwd(), "/");
    uint8_t byte;
    EXPECT_TRUE(failed(volume_.read(fd, &byte, 1), swboot::ERRNO_BAD_DESCRIPTOR));
    swboot::DirectoryEntry entry;
    EXPECT_EQ(volume_.readdir(dir, entry), ERROR);
    // Nothing on it is reached until it is mounted again.
    swboot::FileStatus status;
    EXPECT_TRUE(failed(volume_.stat("/DskVol/files/image1", status), swboot::ERRNO_NOT_FOUND));
    EXPECT_EQ(volume_.open("/DskVol/files/image1", swboot::OPEN_RDONLY, 0), ERROR);
    EXPECT_EQ(volume_.creat("/DskVol/new", swboot::OPEN_RDWR), ERROR);
    EXPECT_TRUE(failed(volume_.chdir("/DskVol/"), swboot::ERRNO_NOT_FOUND));

    // Mounting counts what is stored: the directory, the file in whole blocks, nothing for the empty one.
    ASSERT_EQ(volume_.usrTffsConfig(0, 0, "/DskVol/"), OK);
    EXPECT_EQ(volume_.usedBytes(), 512u + 1024u);
    EXPECT_EQ(get("/DskVol/files/image1"), std::string(700, 'i'));
}

// ---------------------------------------------------------------- check and display

TEST_P(HostVolumeTest, DiskCheckFindsAndRepairsAUsageMismatch) {
    EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0x202), ERROR);
    formatAndMount();
    ASSERT_EQ(put("image1", "x"), 1);
    EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0x202), OK);

    volume_.filePlant("planted", std::string(600, 'p'));  // behind the volume's back
    EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0x001), 1);
    EXPECT_EQ(volume_.usedBytes(), 512u);
    printed_.clear();
    EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0x202), OK);
    EXPECT_EQ(volume_.usedBytes(), 512u + 1024u);
    EXPECT_NE(printed_.find("corrected"), std::string::npos) << printed_;
    EXPECT_EQ(printed_.back(), '\n');
    EXPECT_EQ(volume_.dosFsChkDsk("/DskVol/", 0x001), OK);
}

TEST_P(HostVolumeTest, VolumeShowDescribesTheVolume) {
    EXPECT_EQ(volume_.volumeShow("/DskVol/", 2), ERROR);
    EXPECT_NE(printed_.find("not mounted"), std::string::npos) << printed_;

    formatAndMount();
    ASSERT_EQ(volume_.mkdir("files"), OK);
    ASSERT_EQ(put("files/image1", "x"), 1);
    printed_.clear();
    EXPECT_EQ(volume_.volumeShow("/DskVol/", 2), OK);
    for (const char* shown :
         {"\"/DskVol/\": mounted\n", "32180736 bytes", "1024 bytes (2 blocks)", "1 in 1 directories", "0xFE000000"}) {
        EXPECT_NE(printed_.find(shown), std::string::npos) << shown << " not in: " << printed_;
    }
    EXPECT_EQ(volume_.volumeShow("/other/", 2), ERROR);
}

std::string sideName(const ::testing::TestParamInfo<Side>& info) {
    return info.param == Side::Memory ? "InMemory" : "InHostDirectory";
}

INSTANTIATE_TEST_SUITE_P(Sides, HostVolumeTest, ::testing::Values(Side::Host, Side::Memory), sideName);
INSTANTIATE_TEST_SUITE_P(Sides, MountedVolumeTest, ::testing::Values(Side::Host, Side::Memory), sideName);
INSTANTIATE_TEST_SUITE_P(Sides, HostDirectoryVolumeTest, ::testing::Values(Side::Host), sideName);

}  // namespace
