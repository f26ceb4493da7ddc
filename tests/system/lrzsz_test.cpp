// The loader's xmodem command against lrzsz over the pty console, in real
// time: receiving from sx and sb, and sending to rx and rb with the letters
// the loader's own callers use ("cbske" for the event log and the stored
// image) and a YMODEM batch ("sby"). lrzsz runs on pipes behind a relay
// (see harness/line_peer.h), so that its terminal flushes cannot throw its
// last acknowledgement away, started when the loader's Control-X hint
// appears, as a person at picocom would start it. Every case checks the
// bytes that arrived.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "harness/files.h"
#include "harness/line_peer.h"
#include "harness/pty_board.h"
#include "lrzsz_checks.h"

namespace {

using namespace interop;

// A transfer each way between the loader's xmodem command and an lrzsz
// program; each file planted on the sending side must arrive whole: exactly
// (YMODEM carries the length) or padded to a last block of at most
// lastBlockMax bytes (plain XMODEM).
struct Planted {
    const char* name;
    size_t length;
    uint32_t seed;
    const char* arrivesAs = nullptr;  // the same name when not given
    size_t lastBlockMax = 0;          // 0: exactly
};

struct Transfer {
    const char* name;
    bool loaderSends = false;
    const char* command;            // the loader's xmodem arguments
    std::vector<std::string> argv;  // the lrzsz program
    std::vector<Planted> files;
    const char* absent = nullptr;   // a file the board must not hold afterwards
    // Bounds on the bytes the program sent, as shares of the first file's
    // length, and on the bytes it was sent; no bound when not given.
    double moreFromPeerThan = 0;
    double lessFromPeerThan = 1e9;
    size_t lessToPeerThan = SIZE_MAX;
};

void PrintTo(const Transfer& transfer, std::ostream* out) { *out << transfer.name; }

class LrzszTransfer : public ::testing::TestWithParam<Transfer> {};

TEST_P(LrzszTransfer, EveryFileArrivesWhole) {
    const Transfer& t = GetParam();
    SKIP_WITHOUT(t.argv[0].c_str());
    ScratchDir host{"swboot-lrzsz"};
    PtyBoard board;
    std::vector<std::vector<uint8_t>> planted;
    for (const Planted& file : t.files) {
        planted.push_back(testPattern(file.length, file.seed));
        writeHostFile(t.loaderSends ? board.filePath(file.name) : host.path() / file.name, planted.back());
    }
    LinePeer peer(board.terminalPath(), {.argv = t.argv, .workDir = host.path(), .startAfter = CONTROL_X_HINT});
    const int result = board.xmodem(t.command);
    const PeerResult program = peer.finish();
    ASSERT_TRUE(result == 0 && program.exitStatus == 0)
        << "xmodem " << t.command << ": " << result << "; " << program.summary();
    for (size_t i = 0; i < t.files.size(); ++i) {
        const std::string name = t.files[i].arrivesAs ? t.files[i].arrivesAs : t.files[i].name;
        const std::vector<uint8_t> arrived = readHostFile(t.loaderSends ? host.path() / name : board.filePath(name));
        if (t.files[i].lastBlockMax == 0) {
            expectExactCopy(arrived, planted[i]);
        } else {
            expectPaddedCopy(arrived, planted[i], t.files[i].lastBlockMax);
        }
    }
    if (t.absent != nullptr) {
        EXPECT_FALSE(std::filesystem::exists(board.filePath(t.absent)));
    }
    EXPECT_GT(double(program.bytesFromPeer), planted[0].size() * t.moreFromPeerThan);
    EXPECT_LT(double(program.bytesFromPeer), planted[0].size() * t.lessFromPeerThan);
    EXPECT_LT(program.bytesToPeer, t.lessToPeerThan);
}

// 128-byte blocks cost 5 bytes each on the line (3.9 %), 1024-byte blocks
// 5 bytes per 1024 (0.5 %): the line count tells which were used.
constexpr double SMALL_BLOCK_OVERHEAD = 1.03;
constexpr double LARGE_BLOCK_OVERHEAD = 1.01;

INSTANTIATE_TEST_SUITE_P(
    Lrzsz, LrzszTransfer,
    ::testing::Values(
        Transfer{.name = "XmodemChecksumFromSx", .command = "rb data.bin", .argv = {"sx", "data.bin"},
                 .files = {{"data.bin", 20000, 1, nullptr, RECORD}}, .moreFromPeerThan = SMALL_BLOCK_OVERHEAD},
        Transfer{.name = "Xmodem1kFromSx", .command = "rbc data.bin", .argv = {"sx", "-k", "data.bin"},
                 .files = {{"data.bin", 100000, 3, nullptr, 1024}}, .lessFromPeerThan = LARGE_BLOCK_OVERHEAD},
        // The code load's own letters: CRC with a 1K request after it ("CK"),
        // and the first EOT taken. sx reads the "K" as line noise and then
        // ignores the ACK of block 1 until the loader's 5-second timeout and
        // NAK make it send the block again; the file still arrives whole.
        Transfer{.name = "CodeLoadLettersFromSx1k", .command = "-cbrke xcode.bin", .argv = {"sx", "-k", "image.bin"},
                 .files = {{"image.bin", 150000, 4, "xcode.bin", 1024}}},
        Transfer{.name = "YmodemBatchFromSbKeepsNamesAndExactLengths", .command = "rb",
                 .argv = {"sb", "first.bin", "second.txt"}, .files = {{"first.bin", 5000, 5}, {"second.txt", 129, 6}},
                 .absent = "xmodem.in"},
        // sb answers the receiver's "G" with 1024-byte blocks and streams
        // them without waiting for acknowledgements.
        Transfer{.name = "YmodemGFromSb", .command = "rbg", .argv = {"sb", "stream.bin", "tail.bin"},
                 .files = {{"stream.bin", 300000, 8}, {"tail.bin", 1000, 9}}, .lessToPeerThan = 16},
        // Code load letters with sb: the data land in the file the command
        // names, whatever the YMODEM header calls them, and carry their
        // exact length.
        Transfer{.name = "CodeLoadLettersFromSb", .command = "-cbrke xcode.bin", .argv = {"sb", "image.bin"},
                 .files = {{"image.bin", 70000, 10, "xcode.bin"}}, .absent = "image.bin"},
        // The tail goes in 128-byte blocks, so less than one of them is padding.
        Transfer{.name = "XmodemCrc1kToRx", .loaderSends = true, .command = "cbske asciilog.bin",
                 .argv = {"rx", "-c", "log.bin"}, .files = {{"asciilog.bin", 50000, 21, "log.bin", RECORD}}},
        Transfer{.name = "YmodemBatchToRbKeepsNamesAndExactLengths", .loaderSends = true,
                 .command = "sby first.bin notes.txt", .argv = {"rb"},
                 .files = {{"first.bin", 40000, 23}, {"notes.txt", 1000, 24}}}),
    [](const ::testing::TestParamInfo<Transfer>& row) { return std::string(row.param.name); });

}  // namespace
