// The utilities menu's diagnostics on the simulated board: RAM test, file
// system test, directory listing and memory tool.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "board/board_events.h"
#include "host/provision.h"
#include "support/loader_on_board.h"
#include "support/menu_board.h"
#include "support/test_board.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using namespace swboot;
using testing_support::LoaderOnBoard;
using testing_support::plainText;
using testing_support::TestBoard;
using testing_support::countOf;

constexpr uint32_t HEAP_BASE = 0x04000000;

using FaultKind = sim::Ram::Fault::Kind;
sim::Ram::Fault stuck(uint32_t address, int bit, int level) {
    return {.kind = FaultKind::StuckBit, .address = address, .bit = bit, .level = level};
}
sim::Ram::Fault openLine(int line) { return {.kind = FaultKind::AddressLineOpen, .line = line}; }
sim::Ram::Fault shortedLine(int line, int to) { return {.kind = FaultKind::AddressLineShorted, .line = line, .to = to}; }

std::string sdramRun(size_t blockSize, const std::vector<sim::Ram::Fault>& faults) {
    sim::BoardOptions options;
    options.profile.ramFaults = faults;
    TestBoard board(std::move(options));
    board.board().heap().setAllocationLimit(blockSize);
    LoaderOnBoard l(board);
    EXPECT_EQ(l.run([&] { l->sdramTest.sdramTest(); }), "");
    EXPECT_EQ(board.board().heap().blocksInUse(), 0u) << "the block is released";
    return l.takeOutput();
}

std::string failure(const char* title, uint32_t location, uint32_t wrote, uint32_t read) {
    char text[160];
    snprintf(text, sizeof text, "%sLocation 0x%08x\nWrote    0x%08x\nRead     0x%08x\n", title, location, wrote, read);
    return text;
}

const std::string ALLOCATING_1M = "Allocating memory of size 0x00100000...\n";
const std::string WALK_1 = "SDRAM walking 1's test...\n";
const std::string WALK_0 = "SDRAM walking 0's test...\n";
const std::string ALIASING = "SDRAM Address Aliasing test...\n";
const std::string PASSED = "SDRAM tests completed successfully.\n\n";

struct SdramCase {
    const char* what;
    size_t block;
    std::vector<sim::Ram::Fault> faults;
    std::string expected;
};

class SdramTestFaults : public ::testing::TestWithParam<SdramCase> {};

TEST_P(SdramTestFaults, EachFaultIsFoundByItsTestAtItsAddress) {
    EXPECT_EQ(sdramRun(GetParam().block, GetParam().faults), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    InjectedFaults, SdramTestFaults,
    ::testing::Values(
        SdramCase{"good RAM", 0x100000, {}, ALLOCATING_1M + WALK_1 + WALK_0 + ALIASING + PASSED},
        SdramCase{"bit 5 stuck at 1 on a probe address", 0x100000, {stuck(HEAP_BASE + 0x100, 5, 1)},
                  ALLOCATING_1M + WALK_1 +
                      failure("SDRAM walking 1's test failed.\n", HEAP_BASE + 0x100, 0x00000001, 0x00000021)},
        SdramCase{"bit 5 stuck at 0 on a probe address", 0x100000, {stuck(HEAP_BASE + 0x100, 5, 0)},
                  ALLOCATING_1M + WALK_1 +
                      failure("SDRAM walking 1's test failed.\n", HEAP_BASE + 0x100, 0x00000020, 0x00000000)},
        SdramCase{"bit 31 stuck at 1 between probes", 0x100000, {stuck(HEAP_BASE + 0xC, 31, 1)},
                  ALLOCATING_1M + WALK_1 + WALK_0 + ALIASING +
                      failure("SDRAM Address Aliasing error.\n", HEAP_BASE + 0xC, 0x00000000, 0x80000000)},
        SdramCase{"bit 0 stuck at 0 between probes", 0x100000, {stuck(HEAP_BASE + 0x80010, 0, 0)},
                  // The aliasing test's second pass shows what it wrote in capitals.
                  ALLOCATING_1M + WALK_1 + WALK_0 + ALIASING +
                      "SDRAM Address Aliasing error.\nLocation 0x04080010\nWrote    0xFFFFFFFF\nRead     0xfffffffe\n"},
        SdramCase{"a stuck bit outside the block", 0x100000, {stuck(HEAP_BASE + 0x100000, 3, 1)},
                  ALLOCATING_1M + WALK_1 + WALK_0 + ALIASING + PASSED},
        SdramCase{"address line A12 open folds 4 KiB up onto the start", 0x100000, {openLine(12)},
                  ALLOCATING_1M + WALK_1 + WALK_0 + ALIASING +
                      failure("SDRAM Address Aliasing error.\n", HEAP_BASE + 0x1000, 0x00000000, 0xFFFFFFFF)},
        SdramCase{"address line A24 open beyond the block", 0x100000, {openLine(24)},
                  ALLOCATING_1M + WALK_1 + WALK_0 + ALIASING + PASSED},
        SdramCase{"address line A19 shorted to A3", 0x100000, {shortedLine(19, 3)},
                  ALLOCATING_1M + WALK_1 + WALK_0 + ALIASING +
                      failure("SDRAM Address Aliasing error.\n", HEAP_BASE + 0x80000, 0x00000000, 0xFFFFFFFF)},
        SdramCase{"64-byte block: base+32 is a probe", 64, {stuck(HEAP_BASE + 32, 7, 1)},
                  "Allocating memory of size 0x00000040...\n" + WALK_1 +
                      failure("SDRAM walking 1's test failed.\n", HEAP_BASE + 32, 0x00000001, 0x00000081)},
        SdramCase{"64-byte block: base+12 is not a probe", 64, {stuck(HEAP_BASE + 12, 7, 1)},
                  "Allocating memory of size 0x00000040...\n" + WALK_1 + WALK_0 + ALIASING +
                      failure("SDRAM Address Aliasing error.\n", HEAP_BASE + 12, 0x00000000, 0x00000080)},
        SdramCase{"64-byte block: base+48 is not a probe either", 64, {stuck(HEAP_BASE + 48, 0, 1)},
                  "Allocating memory of size 0x00000040...\n" + WALK_1 + WALK_0 + ALIASING +
                      failure("SDRAM Address Aliasing error.\n", HEAP_BASE + 48, 0x00000000, 0x00000001)},
        SdramCase{"walking zeros find a bit that follows its neighbour", 64, {stuck(HEAP_BASE + 16, 1, 1)},
                  "Allocating memory of size 0x00000040...\n" + WALK_1 +
                      failure("SDRAM walking 1's test failed.\n", HEAP_BASE + 16, 0x00000001, 0x00000003)},
        SdramCase{"no block to test", 2, {},
                  "Allocating memory of size 0x00000002...\n"
                  "SDRAM test: could not allocate 0x00000002 bytes; test not run.\n"}));

// A stuck bit under the heap's first blocks takes no memory away (only the
// RAM test finds it); memory that cannot be used as bytes (no run of the
// heap is plain with A20 shorted to A3) is memory the loader could not get.
// Either way the board comes up to the Boot Menu.
TEST(SdramTestFaults, FaultsUnderTheHeapCostOnlyTheMemoryTheyMakeUnusable) {
    for (const sim::Ram::Fault& fault : {stuck(HEAP_BASE + 4, 0, 1), shortedLine(20, 3)}) {
        sim::BoardOptions options;
        options.profile.ramFaults = {fault};
        TestBoard board(std::move(options));
        testing_support::boot::plantCode(board, testing_support::boot::Code::Good);
        board.type("2");
        EXPECT_EQ(board.run(), 0);
        const std::string shown = plainText(board.output());
        const bool unusable = fault.kind == FaultKind::AddressLineShorted;
        EXPECT_EQ(shown.find("Cannot malloc enough memory to create log!\n") != std::string::npos, unusable) << shown;
        EXPECT_EQ(shown.find("Error trying to allocate mem") != std::string::npos, unusable) << shown;
        EXPECT_THAT(shown, HasSubstr("[Boot Menu] "));
    }
}

// The ready-made bad boards come up as a new user would see them: one
// starts its code (its bad bit lies where only the RAM test looks), the
// other's bad byte lies under the image's CRC check, which fails.
TEST(SdramTestFaults, TheReadyMadeBadRamBoardsComeUpAndShowTheirFaultsWhereTheBoardWould) {
    const std::filesystem::path dir = SWBOOT_PROFILES_DIR;
    for (const char* name : {"bad-ram.toml", "bad-ram-image.toml"}) {
        sim::BoardOptions options;
        options.profile = sim::BoardProfile::load(dir / name);
        TestBoard board(std::move(options));
        board.formatVolume();
        board.writeFile("image1", sim::demoImage());
        board.writeFile("boot.dim", testing_support::boot::DEFAULT_DIM);
        EXPECT_EQ(board.run(), 0) << name;
        const std::string shown = plainText(board.output());
        const bool crcFails = std::string(name) == "bad-ram-image.toml";
        EXPECT_THAT(shown, Not(HasSubstr("Cannot malloc enough memory"))) << name << shown;
        EXPECT_THAT(shown, Not(HasSubstr("Error trying to allocate mem"))) << name << shown;
        EXPECT_EQ(shown.find(" active image failed crc check.") != std::string::npos, crcFails) << name << shown;
        EXPECT_EQ(shown.find("[Boot Menu] ") != std::string::npos, crcFails) << name << shown;
        EXPECT_EQ(board.board().core().handoverCount(), crcFails ? 0 : 1) << name;
    }
}

TEST(SdramTestFaults, TheWholeFreeBlockOfTheDefaultBoardFindsAFoldedLineAtItsFirstAlias) {
    sim::BoardOptions options;
    options.profile.ramFaults = {openLine(26)};
    TestBoard board(std::move(options));
    LoaderOnBoard l(board);
    const size_t size = board.board().heap().largestFreeBlock();
    EXPECT_EQ(l.run([&] { l->sdramTest.sdramTest(); }), "");
    char allocating[64];
    snprintf(allocating, sizeof allocating, "Allocating memory of size 0x%08zx...\n", size);
    // 0x08000000 has A26 clear: 0x0C000000 is the first address that lands
    // on a cell the upward walk already set.
    EXPECT_EQ(l.takeOutput(), allocating + WALK_1 + WALK_0 + ALIASING +
                                  failure("SDRAM Address Aliasing error.\n", 0x0C000000, 0, 0xFFFFFFFF));
}

TEST(RamFaults, BusAndViewsSeeTheSameCells) {
    sim::Ram ram;
    ram.setFaults({openLine(12), stuck(0x2000, 8, 1)});
    ram.store(0x1000, 4, 0x11223344);
    EXPECT_EQ(ram.load(0x0000, 4), 0x11223344u) << "A12 open: 0x1000 is the cell of 0x0000";
    EXPECT_EQ(ram.load(0x2000, 4), 0x00000100u) << "data bit 8 of the word stuck at 1";
    EXPECT_EQ(ram.load(0x2002, 1), 0x01u);
    EXPECT_EQ(ram.load(0x2003, 1), 0x00u);
    EXPECT_TRUE(ram.plainView(0x2000, 0x20).empty()) << "holds the stuck cell";
    auto cells = ram.view(0x2000, 0x20);
    ASSERT_EQ(cells.size(), 0x20u) << "bulk work gets the cells, stuck bit and all";
    EXPECT_EQ(cells[2], 0x01);
    cells[2] = 0x00;
    ram.holdStuckBits();
    EXPECT_EQ(cells[2], 0x01) << "a byte stored through the view meets the stuck bit";
    EXPECT_TRUE(ram.view(0x0FF0, 0x20).empty()) << "crosses the open line's boundary";
    auto folded = ram.view(0x1000, 4);
    ASSERT_EQ(folded.size(), 4u);
    EXPECT_EQ(folded[0], 0x11) << "a view of 0x1000 shows the cell of 0x0000";
    EXPECT_THROW(ram.setFaults({openLine(28)}), std::invalid_argument);
    EXPECT_THROW(ram.setFaults({shortedLine(5, 5)}), std::invalid_argument);
    EXPECT_THROW(ram.setFaults({stuck(0x2001, 0, 1)}), std::invalid_argument);
}

// Files of the test board, recording the pieces written to and read from
// the temporary file, and able to spoil what is read back.
class RecordingFiles : public Files {
public:
    explicit RecordingFiles(Files& real) : real_(real) {}
    int open(const char* name, int flags, int mode) override { return note(name, real_.open(name, flags, mode)); }
    int creat(const char* name, int flags) override { return note(name, real_.creat(name, flags)); }
    long read(int fd, uint8_t* buffer, size_t length) override {
        long n = real_.read(fd, buffer, length);
        if (fd == imageFd_) {
            imageReads.push_back(n);
        }
        if (fd == tempFd_) {
            reads.push_back(n);
            for (long i = 0; i < n && spoilReads; ++i) {
                buffer[i] ^= 0x5A;
            }
        }
        return n;
    }
    long write(int fd, const uint8_t* data, size_t length) override {
        if (fd == tempFd_) {
            writes.push_back(static_cast<long>(length));
        }
        return real_.write(fd, data, length);
    }
    long lseek(int fd, long offset, int origin) override { return real_.lseek(fd, offset, origin); }
    int close(int fd) override { return real_.close(fd); }
    int fstat(int fd, FileStatus& status) override { return real_.fstat(fd, status); }
    int remove(const char* name) override { return real_.remove(name); }
    int rename(const char* a, const char* b) override { return real_.rename(a, b); }
    int stat(const char* name, FileStatus& status) override { return real_.stat(name, status); }
    int mkdir(const char* name) override { return real_.mkdir(name); }
    int opendir(const char* name) override { return real_.opendir(name); }
    int readdir(int dir, DirectoryEntry& entry) override { return real_.readdir(dir, entry); }
    int closedir(int dir) override { return real_.closedir(dir); }
    int chdir(const char* name) override { return real_.chdir(name); }
    int getcwd(char* buffer, size_t size) override { return real_.getcwd(buffer, size); }
    int errnoGet() override { return real_.errnoGet(); }

    std::vector<long> writes;
    std::vector<long> reads;
    std::vector<long> imageReads;
    bool spoilReads = false;

private:
    int note(const char* name, int fd) {
        if (std::string(name) == "tempcode.bin") {
            tempFd_ = fd;
        }
        if (std::string(name) == "image1") {
            imageFd_ = fd;
        } else if (fd == imageFd_) {
            imageFd_ = -1;  // the closed source's descriptor, given again
        }
        return fd;
    }
    Files& real_;
    int tempFd_ = -1;
    int imageFd_ = -1;
};

// A loader whose files are recorded, on a test board holding "image1".
class FsTestBoard {
public:
    explicit FsTestBoard(size_t imageBytes) {
        board.formatVolume();
        if (imageBytes > 0) {
            std::vector<uint8_t> image(imageBytes);
            for (size_t i = 0; i < image.size(); ++i) {
                image[i] = static_cast<uint8_t>(i * 7 + i / 251);
            }
            board.writeFile("image1", image);
        }
        const Platform& p = board.board().platform();
        p.volume.usrTffsConfig(0, 0, "/DskVol/");
        p.files.chdir("/DskVol/files");
        loader = std::make_unique<Loader>(
            Platform{p.console, p.clock, p.tasks, files, p.volume, p.bus, p.cpu, p.pci, p.memory});
    }

    // Types the answers and runs the test; the console text of the run.
    std::string run(const std::vector<std::string>& answers) {
        board.typeLines(answers);
        size_t before = board.output().size();
        try {
            loader->fsTest.fsTest();
        } catch (const sim::BoardPowerOff&) {
        }
        loader->io.flush();
        return plainText(board.output().substr(before));
    }

    TestBoard board;
    RecordingFiles files{board.board().platform().files};
    std::unique_ptr<Loader> loader;
};

std::string questions(const std::string& iterations, const std::string& writeSize, const std::string& readSize) {
    return "\nInput iterations (0=forever) " + iterations + "\n\nInput write size " + writeSize +
           "\n\nInput read size " + readSize + "\n\n";
}

TEST(FsTest, WritesAndReadsInTheChosenPieces) {
    struct {
        size_t file;
        int writeSize;
        int readSize;
        std::vector<long> writes;
        std::vector<long> reads;
    } cases[] = {
        {1300, 512, 100, {512, 512, 276}, {100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 0}},
        {1300, 1300, 5000, {1300}, {1300, 0}},
        {1300, 5000, 1299, {1300}, {1299, 1, 0}},
        {1024, 512, 1024, {512, 512}, {1024, 0}},
        {1025, 512, 1024, {512, 512, 1}, {1024, 1, 0}},
        {1, 1, 1, {1}, {1, 0}},
        // Exactly as large as the buffers.
        {0x800000, 1048576, 1048576, std::vector<long>(8, 1048576), {1048576, 1048576, 1048576, 1048576, 1048576,
                                                                      1048576, 1048576, 1048576, 0}},
    };
    for (const auto& c : cases) {
        FsTestBoard fs(c.file);
        std::string w = std::to_string(c.writeSize);
        std::string r = std::to_string(c.readSize);
        EXPECT_EQ(fs.run({"1", w, r}), questions("1", w, r) + "\nTest will run 1 times (forever if 0)\nFile size:  " +
                                           std::to_string(c.file) + "\n\nIter 1 of 1 -\n");
        EXPECT_EQ(fs.files.writes, c.writes) << c.file << " in " << c.writeSize;
        EXPECT_EQ(fs.files.reads, c.reads) << c.file << " in " << c.readSize;
        EXPECT_EQ(fs.board.readFile("tempcode.bin"), fs.board.readFile("image1"));
        EXPECT_EQ(fs.board.board().heap().blocksInUse(), 0u);
    }
}

TEST(FsTest, CountsItsIterationsAndEndsSilently) {
    FsTestBoard fs(3000);
    EXPECT_EQ(fs.run({"2", "1000", "700"}), questions("2", "1000", "700") +
                                                "\nTest will run 2 times (forever if 0)\nFile size:  3000\n"
                                                "\nIter 1 of 2 -\n\nIter 2 of 2 -\n");
    EXPECT_EQ(fs.files.writes, (std::vector<long>{1000, 1000, 1000, 1000, 1000, 1000}));
}

TEST(FsTest, ReportsTheFirstTwentyOneMismatchesAndStops) {
    FsTestBoard fs(100);
    fs.files.spoilReads = true;
    std::string text = fs.run({"3", "64", "64"});
    std::string expected = questions("3", "64", "64") + "\nTest will run 3 times (forever if 0)\nFile size:  100\n" +
                           "\nIter 1 of 3 -\n";
    for (int i = 0; i <= 20; ++i) {
        uint8_t b = static_cast<uint8_t>(i * 7);
        char line[96];
        snprintf(line, sizeof line, "\nData mismatch at location %d, expected 0x%x and received 0x%x", i, b, b ^ 0x5A);
        expected += line;
    }
    EXPECT_EQ(text, expected + "\nMore than 20 data mismatch\n");
}

TEST(FsTest, RefusesWhatItCannotTestAndEndsOnAFailingFileCallWithTheBuffersFreed) {
    using Operation = sim::HostVolume::Operation;
    const std::string NOT_RUN = ". Test not run.\n", ONCE = "\nTest will run 1 times (forever if 0)\n";
    const std::string ITER = ONCE + "File size:  300\n\nIter 1 of 1 -\n";
    const std::vector<std::string> ANSWERS = {"1", "100", "100"};
    struct {
        size_t file;
        std::vector<std::string> answers;
        std::string after;  // after the questions
        std::optional<Operation> failing = std::nullopt;
        int spared = 0;        // calls of that kind that still work (the image takes four reads)
        bool written = false;  // whether the temporary file was written to
        size_t allocationLimit = 0;
    } cases[] = {
        {1300, {"1", "0", "100"}, "\nERROR: Write size 0 is invalid; it must be 1 or more" + NOT_RUN},
        {1300, {"1", "-512", "100"}, "\nERROR: Write size -512 is invalid; it must be 1 or more" + NOT_RUN},
        {1300, {"1", "512", "0"}, "\nERROR: Read size 0 is invalid; it must be 1 or more" + NOT_RUN},
        {1300, {"1", "abc", "100"}, "\nERROR: Write size 0 is invalid; it must be 1 or more" + NOT_RUN},
        {0x800001, {"1", "512", "512"},
         ONCE + "\nERROR: 'image1' is 8388609 bytes, more than the 8388608-byte test buffers" + NOT_RUN},
        {0, {"1", "512", "512"}, ONCE + "\nError opening operational code.\n"},
        {300, ANSWERS, ONCE + "\nERROR: No memory for the test buffers (2 x 8388608 bytes). Test not run.\n", {}, 0,
         false, FS_TEST_BUFFER_SIZE - 1},
        {300, ANSWERS, ITER, std::nullopt, 0, true},
        {300, ANSWERS, ONCE + "\nReading of Operational Code 'image1' failed.\n", Operation::Read},
        {300, ANSWERS, ITER + "\nError creating temp file.\n\n", Operation::Create},
        {300, ANSWERS, ITER + "\nWriting to test file failed.\n", Operation::Write, 0, true},
        {300, ANSWERS, ITER + "\nReading from test file failed.\n", Operation::Read, 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        FsTestBoard fs(c.file);
        if (c.failing) {
            fs.board.volume().injectFailure(*c.failing, 1, c.spared);
        }
        fs.board.board().heap().setAllocationLimit(c.allocationLimit);
        EXPECT_EQ(fs.run(c.answers), questions(c.answers[0], c.answers[1], c.answers[2]) + c.after);
        EXPECT_EQ(fs.board.board().heap().blocksInUse(), 0u);
        if (!c.written) {
            EXPECT_TRUE(fs.files.writes.empty());
            EXPECT_FALSE(fs.board.fileExists("tempcode.bin"));
        } else if (!c.failing) {
            EXPECT_EQ(fs.files.imageReads, (std::vector<long>{128, 128, 44, 0})) << "the source is read in 128 bytes";
        }
    }
}

constexpr int64_t JUNE_20_2007 = 1182348189;  // 2007-06-20 14:03:09 UTC

void setTime(TestBoard& board, const std::string& name, int64_t seconds) {
    auto path = board.filePath(name);
    std::filesystem::last_write_time(
        path, std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(seconds))));
}

// The test board's volume holds 99% of the 31 MiB window in whole blocks.
std::string summary(long used) {
    constexpr long TOTAL = 32180736;
    return "\nFilesystem size " + std::to_string(TOTAL) + "\nBytes used      " + std::to_string(used) +
           "\nBytes free      " + std::to_string(TOTAL - used) + "\n";
}

// A formatted volume without the planted "vpd.bin", so that a listing shows
// only the files a test puts there.
class DirListing : public ::testing::Test {
protected:
    DirListing() {
        board.formatVolume();
        std::filesystem::remove(board.filePath("vpd.bin"));
    }
    // The listing's text; nothing else is printed.
    std::string listing() {
        LoaderOnBoard l(board, false);
        EXPECT_EQ(l.run([&] { l->fsTest.dirListingShow(); }), "");
        return l.takeOutput();
    }
    TestBoard board;
};

TEST_F(DirListing, OneFileWithItsSizeAndTime) {
    board.writeFile("image1", std::vector<uint8_t>(1000, 0xA5));
    setTime(board, "image1", JUNE_20_2007);
    // The directory's own entries come first, as directories.
    EXPECT_EQ(listing(), ".\n..\nimage1                            1000       6/20/2007 14:03:09\n" + summary(1000));
    EXPECT_FALSE(board.fileExists("dummy1"));
}

TEST_F(DirListing, DirectoriesAndLongNamesStayInTheirColumns) {
    const std::string longName(60, 'n');
    const std::string fullColumn(34, 'c');  // no blank left before the size, but whole
    const std::string oneOver(35, 'o');
    board.writeFile("image1", std::vector<uint8_t>(10, 0));
    board.writeFile(longName, std::vector<uint8_t>(20, 0));
    board.writeFile(fullColumn, std::vector<uint8_t>(7, 0));
    board.writeFile(oneOver, std::vector<uint8_t>(3, 0));
    std::filesystem::create_directory(board.filePath("logs"));
    std::filesystem::create_directory(board.filePath(std::string(200, 'd')));
    for (const std::string& name : {std::string("image1"), longName, fullColumn, oneOver}) {
        setTime(board, name, JUNE_20_2007);
    }
    const std::string text = listing();
    EXPECT_THAT(text, HasSubstr("\nlogs\n"));
    EXPECT_NE(text.find("\n" + std::string(125, 'd') + "*\n"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string(32, 'n') + "* 20         6/20/2007 14:03:09\n"), std::string::npos) << text;
    EXPECT_THAT(text, HasSubstr("image1                            10         6/20/2007 14:03:09\n"));
    EXPECT_THAT(text, HasSubstr("\n" + fullColumn + "7          6/20/2007 14:03:09\n"));
    EXPECT_NE(text.find("\n" + std::string(32, 'o') + "* 3          6/20/2007"), std::string::npos) << text;
    EXPECT_THAT(text, HasSubstr("(3 long names shortened, marked *)\n" + summary(40)));
}

TEST_F(DirListing, ALongListingStopsBeforeItsBufferAndSaysSo) {
    long used = 0;
    for (int i = 0; i < 150; ++i) {
        std::string name = "f" + std::to_string(1000 + i);
        board.writeFile(name, std::vector<uint8_t>(static_cast<size_t>(i + 1), 1));
        used += i + 1;
    }
    board.writeFile("image1", std::vector<uint8_t>(1, 0));
    used += 1;
    const std::string text = listing();
    EXPECT_LT(text.size(), DIR_LISTING_TEXT_SIZE);
    const size_t noteAt = text.find("... ");
    ASSERT_NE(noteAt, std::string::npos) << text;
    const size_t shown = countOf(text.substr(0, noteAt), "\n");
    EXPECT_GT(shown, 50u);
    char note[128];
    snprintf(note, sizeof note, "... %zu more entries not shown: the listing is full (their sizes are counted below)\n",
             151 + 2 - shown);  // the files, "." and ".."

    EXPECT_EQ(text.substr(noteAt), std::string(note) + summary(used));
}

const std::string HELP =
    "\n\nCommands...\n\nr <address in hex> <length in bytes>\n"
    "wb <address in hex> <data in hex> (write an 8-bit word of data)\n"
    "ww <address in hex> <data in hex> (write a 16-bit word of data)\n"
    "wl <address in hex> <data in hex> (write a 32-bit word of data)\n"
    "Example: r 7c004000 10 \nExample: wb 7c004000 ff \nq to quit\n";

struct ToolRun {
    std::string ended;
    std::string text;
};

ToolRun memoryToolRun(TestBoard& board, const std::vector<std::string>& lines) {
    LoaderOnBoard l(board);
    board.typeLines(lines);
    ToolRun run;
    run.ended = l.run([&] { l->memoryTool.memoryTool(); });
    run.text = l.takeOutput();
    return run;
}

TEST(MemoryTool, DumpsRowsWithHeadsPaddingAndTheTextColumn) {
    TestBoard board;
    Bus& bus = board.board().platform().bus;
    const char bytes[] = "ABCDEFGH \x7E" "0123456789abcdefXYZ";
    for (size_t i = 0; i + 1 < sizeof bytes; ++i) {
        bus.write8(0x200000 + static_cast<uint32_t>(i), static_cast<uint8_t>(bytes[i]));
    }
    ToolRun run = memoryToolRun(board, {"r 200000 10", "r 200000 0", "R 0x20000a 19", "q"});
    EXPECT_EQ(run.ended, "");
    EXPECT_EQ(run.text, HELP + "> r 200000 10\n" +
                            "         0  1  2  3  4  5  6  7  8  9  \n"
                            "00200000 41 42 43 44 45 46 47 48 20 7e " + std::string(18, ' ') + "ABCDEFGH--\n" +
                            "> r 200000 0\n" +
                            "         0  \n" +
                            "> R 0x20000a 19\n" +
                            "         0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f  \n"
                            "0020000a 30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 0123456789abcdef\n"
                            "0020001a 58 59 5a " + std::string(39, ' ') + "XYZ\n" +
                            "> q\n");
}

TEST(MemoryTool, StoresBytesHalfWordsAndWordsThroughTheBus) {
    TestBoard board;
    ToolRun run = memoryToolRun(
        board, {"wb 300000 ff", "Wb 300001 1ff", "ww 300002 1234abcd", "WL 300004 deadbeef", "wx 300008 55",
                "x 1000", "", "?", "wb d0000001 60", "Q"});
    EXPECT_EQ(run.ended, "");
    Bus& bus = board.board().platform().bus;
    EXPECT_EQ(bus.read32(0x300000), 0xFFFFABCDu);
    EXPECT_EQ(bus.read32(0x300004), 0xDEADBEEFu);
    EXPECT_EQ(bus.read32(0x300008), 0u) << "an unknown width stores nothing";
    EXPECT_EQ(board.board().cpld().reg(1), 0x60) << "the fault lamps are a CPLD store";
    EXPECT_EQ(run.text, HELP + "> wb 300000 ff\n\n> Wb 300001 1ff\n\n> ww 300002 1234abcd\n\n> WL 300004 deadbeef\n\n" +
                            "> wx 300008 55\n\n> x 1000\n> \n> ?\n" + HELP + "> wb d0000001 60\n\n> Q\n");
}
}  // namespace
