// The volume service device: request blocks in RAM run on the board's
// volume, and requests that point outside RAM, run past it or name too
// much are answered with an error instead of touching anything.
#include <gtest/gtest.h>

#include <string>

#include "board/volume_service.h"
#include "support/test_board.h"

namespace {

using sim::VolumeService;
using namespace swboot;

constexpr uint32_t BLOCK = 0x00200000;
constexpr uint32_t NAME = 0x00201000;
constexpr uint32_t NAME2 = 0x00201100;
constexpr uint32_t BUFFER = 0x00202000;
constexpr uint32_t RAM_END = 0x10000000;
constexpr uint32_t UNTOUCHED = 0xA5A5A5A5;

struct Reply {
    uint32_t status;
    int32_t result;
    int32_t error;
    uint32_t out[4];
};

class VolumeServiceTest : public ::testing::Test {
protected:
    VolumeServiceTest()
        : service_(board_.board().ram(), board_.volume(), board_.volume(), [this](VolumeService::Printer p) {
              VolumeService::Printer previous = std::move(printer_);
              printer_ = p;
              board_.volume().setPrinter(printer_);
              return previous;
          }) {
        board_.formatVolume();
        printer_ = [this](std::string_view text) { console_.append(text); };
        board_.volume().setPrinter(printer_);
        EXPECT_EQ(board_.volume().usrTffsConfig(0, 0, "/DskVol/"), OK);
        EXPECT_EQ(board_.volume().chdir("/DskVol/files"), OK);
    }

    sim::Ram& ram() { return board_.board().ram(); }
    void text(uint32_t address, std::string_view s, bool terminated = true) {
        for (size_t i = 0; i < s.size(); ++i) {
            ram().store(address + static_cast<uint32_t>(i), 1, static_cast<uint8_t>(s[i]));
        }
        if (terminated) {
            ram().store(address + static_cast<uint32_t>(s.size()), 1, 0);
        }
    }
    std::string bytes(uint32_t address, size_t length) {
        std::string s;
        for (size_t i = 0; i < length; ++i) {
            s.push_back(static_cast<char>(ram().load(address + static_cast<uint32_t>(i), 1)));
        }
        return s;
    }

    Reply call(uint32_t op, int32_t a0 = 0, int32_t a1 = 0, int32_t a2 = 0, uint32_t buffer = BUFFER,
               uint32_t length = 0, uint32_t block = BLOCK, uint32_t name = NAME) {
        const uint32_t fields[] = {op, uint32_t(a0), uint32_t(a1), uint32_t(a2), name, NAME2, buffer, length};
        if (block % 4 == 0 && ram().contains(block, VolumeService::BLOCK_SIZE)) {
            for (uint32_t i = 0; i < 8; ++i) {
                ram().store(block + 4 * i, 4, fields[i]);
            }
            for (uint32_t i = 8; i < 16; ++i) {
                ram().store(block + 4 * i, 4, UNTOUCHED);
            }
        }
        service_.write32(VolumeService::REG_REQUEST, block);
        Reply r{service_.read32(VolumeService::REG_STATUS), -2, -2, {}};
        if (block % 4 == 0 && ram().contains(block, VolumeService::BLOCK_SIZE)) {
            r.result = static_cast<int32_t>(ram().load(block + VolumeService::BLOCK_RESULT, 4));
            r.error = static_cast<int32_t>(ram().load(block + VolumeService::BLOCK_ERRNO, 4));
            for (uint32_t i = 0; i < 4; ++i) {
                r.out[i] = ram().load(block + VolumeService::BLOCK_OUT0 + 4 * i, 4);
            }
        }
        return r;
    }

    testing_support::TestBoard board_;
    std::string console_;
    VolumeService::Printer printer_;
    VolumeService service_;
};

TEST_F(VolumeServiceTest, FileCallsRunOnTheVolumeWithDataInRam) {
    EXPECT_EQ(service_.read32(VolumeService::REG_ID), VolumeService::IDENTITY);
    text(NAME, "notes.txt");
    const int fd = call(VolumeService::OP_CREAT, OPEN_RDWR).result;
    ASSERT_GE(fd, 3);
    text(BUFFER, "hello, board");
    EXPECT_EQ(call(VolumeService::OP_WRITE, fd, 0, 0, BUFFER, 12).result, 12);
    EXPECT_EQ(call(VolumeService::OP_LSEEK, fd, 7, SEEK_FROM_START).result, 7);
    EXPECT_EQ(call(VolumeService::OP_READ, fd, 0, 0, BUFFER + 0x100, 64).result, 5);
    EXPECT_EQ(bytes(BUFFER + 0x100, 5), "board");
    const Reply status = call(VolumeService::OP_FSTAT, fd);
    EXPECT_EQ(status.result, OK);
    EXPECT_EQ(status.out[0] & FILE_TYPE_MASK, FILE_TYPE_REGULAR);
    EXPECT_EQ(status.out[1], 12u);
    EXPECT_EQ(call(VolumeService::OP_CLOSE, fd).result, OK);
    EXPECT_EQ(board_.readText("notes.txt"), "hello, board");

    text(NAME2, "renamed.txt");
    EXPECT_EQ(call(VolumeService::OP_RENAME).result, OK);
    text(NAME, "renamed.txt");
    EXPECT_EQ(call(VolumeService::OP_STAT).out[1], 12u);
    text(NAME, ".");
    const int dir = call(VolumeService::OP_OPENDIR).result;
    ASSERT_GE(dir, 0);
    std::string listed;
    while (call(VolumeService::OP_READDIR, dir, 0, 0, BUFFER, 256).result == OK) {
        listed += bytes(BUFFER, 256).c_str() + std::string(" ");
    }
    EXPECT_NE(listed.find("renamed.txt"), std::string::npos) << listed;
    EXPECT_EQ(call(VolumeService::OP_CLOSEDIR, dir).result, OK);
    EXPECT_EQ(call(VolumeService::OP_GETCWD, 0, 0, 0, BUFFER, 64).result, OK);
    EXPECT_STREQ(bytes(BUFFER, 64).c_str(), "/DskVol/files");
    text(NAME, "renamed.txt");
    EXPECT_EQ(call(VolumeService::OP_REMOVE).result, OK);
    EXPECT_FALSE(board_.fileExists("renamed.txt"));
}

TEST_F(VolumeServiceTest, VolumeTextGoesToTheBufferNotTheConsole) {
    text(NAME, "/DskVol/");
    const Reply shown = call(VolumeService::OP_VOLUME_SHOW, 1, 0, 0, BUFFER, 4096);
    EXPECT_EQ(shown.result, OK);
    const std::string whole = bytes(BUFFER, shown.out[0]);
    EXPECT_EQ(whole.rfind("volume \"/DskVol/\": mounted\n", 0), 0u) << whole;
    EXPECT_EQ(console_, "");
    // A short buffer takes what fits; out0 still tells the whole length.
    ram().store(BUFFER + 10, 1, '#');
    const Reply cut = call(VolumeService::OP_VOLUME_SHOW, 1, 0, 0, BUFFER, 10);
    EXPECT_EQ(cut.out[0], shown.out[0]);
    EXPECT_EQ(bytes(BUFFER, 11), whole.substr(0, 10) + "#");
    // The console's printer is back afterwards.
    board_.volume().volumeShow("/DskVol/", 1);
    EXPECT_EQ(console_, whole);
}

TEST_F(VolumeServiceTest, BlocksThatCannotBeReadAreRefusedAndNotWritten) {
    struct Case {
        const char* what;
        uint32_t block;
        uint32_t op;
        uint32_t status;
    } cases[] = {
        {"misaligned", BLOCK + 8, VolumeService::OP_CLOSE, VolumeService::STATUS_BAD_BLOCK},
        {"past the end of RAM", RAM_END - 32, VolumeService::OP_CLOSE, VolumeService::STATUS_BAD_BLOCK},
        {"a device address", 0xF0000000, VolumeService::OP_CLOSE, VolumeService::STATUS_BAD_BLOCK},
        {"operation 0", BLOCK, 0, VolumeService::STATUS_BAD_OPERATION},
        {"operation past the last", BLOCK, VolumeService::OPERATION_LAST + 1, VolumeService::STATUS_BAD_OPERATION},
        {"the last operation", BLOCK, VolumeService::OPERATION_LAST, VolumeService::STATUS_DONE},
    };
    for (const Case& c : cases) {
        const Reply r = call(c.op, 99, 0, 0, BUFFER, 0, c.block);
        EXPECT_EQ(r.status, c.status) << c.what;
        if (c.status != VolumeService::STATUS_DONE && ram().contains(c.block, 64) && c.block % 4 == 0) {
            EXPECT_EQ(static_cast<uint32_t>(r.result), UNTOUCHED) << c.what;
        }
    }
}

TEST_F(VolumeServiceTest, BadPointersNamesAndDescriptorsAreErrors) {
    text(NAME, "f");
    const int fd = call(VolumeService::OP_CREAT, OPEN_RDWR).result;
    ASSERT_GE(fd, 3);
    // "f" named by paths of 255 and 256 bytes before the NUL: the service
    // hands on only names of at most 256 bytes with their NUL.
    const auto pathOf = [](size_t length) { return "/DskVol/files" + std::string(length - 14, '/') + "f"; };
    text(NAME, pathOf(255));
    EXPECT_EQ(call(VolumeService::OP_STAT).result, OK);
    // Seven good format parameters, of which the request gives six.
    const uint32_t parameters[] = {0, 99, 1, 0x10000, 2, 0, 1};
    for (uint32_t i = 0; i < 7; ++i) {
        ram().store(BUFFER + 0x400 + 4 * i, 4, parameters[i]);
    }
    ram().store(RAM_END - 1, 1, 'z');  // a name that would go on past the last byte
    struct Case {
        const char* what;
        std::string name;   // written at NAME unless empty
        uint32_t nameAt;    // the name field's value
        uint32_t op;
        int32_t arg0;
        uint32_t buffer;
        uint32_t length;
        int error;
    } cases[] = {
        {"name outside RAM", "", 0xF0000000, VolumeService::OP_OPEN, 0, BUFFER, 0, ERRNO_INVALID},
        {"name running off RAM", "", RAM_END - 1, VolumeService::OP_REMOVE, 0, BUFFER, 0, ERRNO_INVALID},
        {"name one byte too long", pathOf(256), NAME, VolumeService::OP_STAT, 0, BUFFER, 0, ERRNO_NAME_TOO_LONG},
        {"read into a device", "", NAME, VolumeService::OP_READ, fd, 0xF0004500, 8, ERRNO_INVALID},
        {"write past RAM", "", NAME, VolumeService::OP_WRITE, fd, RAM_END - 4, 8, ERRNO_INVALID},
        {"read with a length that wraps", "", NAME, VolumeService::OP_READ, fd, BUFFER, 0xFFFFFFF0, ERRNO_INVALID},
        {"descriptor not handed out", "", NAME, VolumeService::OP_READ, 40, BUFFER, 8, ERRNO_BAD_DESCRIPTOR},
        {"format parameters cut short", "", NAME, VolumeService::OP_TFFS_FORMAT, 0, BUFFER + 0x400, 24, ERRNO_INVALID},
        {"working directory into 4 bytes", "", NAME, VolumeService::OP_GETCWD, 0, BUFFER, 4, ERRNO_INVALID},
    };
    for (const Case& c : cases) {
        text(NAME, c.name, false);
        const Reply r = call(c.op, c.arg0, 0, 0, c.buffer, c.length, BLOCK, c.nameAt);
        EXPECT_EQ(r.status, VolumeService::STATUS_DONE) << c.what;
        EXPECT_EQ(r.result, ERROR) << c.what;
        EXPECT_EQ(r.error, c.error) << c.what;
    }
    // A path that climbs out stays inside the volume.
    text(NAME, "../../../../etc/passwd-from-firmware");
    call(VolumeService::OP_CREAT, OPEN_RDWR);
    for (const std::string& stored : board_.volume().storedFiles()) {
        EXPECT_EQ(stored.rfind("/DskVol/", 0), 0u) << stored;
    }
    EXPECT_EQ(board_.readText("f"), "");
}

// The console driver's option word: the board hears each change into and
// out of raw mode once, a power-on while raw leaves it.
TEST_F(VolumeServiceTest, TheConsoleOptionWordTellsTheBoardWhenTheConsoleIsRaw) {
    std::string heard;
    service_.setRawModeHook([&](bool raw) { heard += raw ? "raw " : "line "; });
    EXPECT_EQ(service_.read32(VolumeService::REG_CONSOLE_OPTIONS), OPT_TERMINAL);
    for (uint32_t options : {OPT_TERMINAL, OPT_ECHO, OPT_RAW, OPT_RAW, OPT_TERMINAL, OPT_RAW}) {
        service_.write32(VolumeService::REG_CONSOLE_OPTIONS, options);
    }
    EXPECT_EQ(service_.read32(VolumeService::REG_CONSOLE_OPTIONS), OPT_RAW);
    service_.powerUp();
    EXPECT_EQ(service_.read32(VolumeService::REG_CONSOLE_OPTIONS), OPT_TERMINAL);
    EXPECT_EQ(heard, "raw line raw line ");
}

}  // namespace
