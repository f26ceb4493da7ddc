// The loader's own sender against its own receiver: two boards back to back
// on one virtual time, every sending mode against every receiving mode that
// can meet it, the files on the receiving volume compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/files.h"
#include "support/linked_boards.h"

namespace {

using testing_support::LinkedBoards;

std::vector<uint8_t> pattern(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    uint32_t x = seed;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

// Lines of text whose line ends, each sent as CR LF, make exactly 1024
// bytes on the line: whole blocks, with no padding for either mode.
std::string textLines() {
    std::string text;
    size_t onLine = 0;
    // Each line takes at most 18 bytes on the line; the last needs 2 or more.
    while (onLine + 18 + 2 <= 1024) {
        std::string line = "line " + std::to_string(text.size()) + " of text\n";
        text += line;
        onLine += line.size() + 1;
    }
    return text + std::string(1024 - onLine - 2, 'x') + "\n";
}

std::string lineEndsAsSent(const std::string& text) {
    std::string sent;
    for (char c : text) {
        sent += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return sent;
}

// The sender starts a second after the receiver, as an operator would
// start the terminal's transfer once the board is ready.
constexpr int64_t SENDER_START_MICROS = 1000000;

struct Pairing {
    const char* receive;
    const char* send;
    int result;                                        // of the receiving command
    std::vector<std::pair<const char*, const char*>> landed;  // received name, sent name
    long acks = -1;  // acknowledgements the receiver sends, where counted
    bool asSent = false;  // a text file lands with the line ends the sender put on the line
};

TEST(XmodemLoopback, EverySendingModeAgainstEveryReceivingModeThatMeetsIt) {
    // Whole kilobytes for the plain XMODEM files, which arrive padded to
    // their blocks; the batch's second file ends mid-block and is trimmed
    // to the length its header announces.
    const std::vector<uint8_t> first = pattern(5 * 1024, 1);
    const std::vector<uint8_t> second = pattern(3000, 2);
    const std::string text = textLines();
    const Pairing pairings[] = {
        {"-rb x.bin", "-sb a.bin", 0, {{"x.bin", "a.bin"}}},
        {"-rcb x.bin", "-sb a.bin", 0, {{"x.bin", "a.bin"}}},
        {"-rckb x.bin", "-sb a.bin", 0, {{"x.bin", "a.bin"}}},
        {"-rckb x.bin", "-skb a.bin", 0, {{"x.bin", "a.bin"}}},
        {"-rcb x.bin", "-skb a.bin", 0, {{"x.bin", "a.bin"}}},
        {"-rb x.bin", "-skb a.bin", 0, {{"x.bin", "a.bin"}}},
        // The code load's own command against a single-file batch.
        {"-cbrke x.bin", "-syb a.bin", 0, {{"x.bin", "a.bin"}}},
        // Header, five 1K blocks, the end of the file, the batch end.
        {"-cbrke x.bin", "-sykb a.bin", 0, {{"x.bin", "a.bin"}}, 8},
        // Batch receives take the sender's names.
        {"-rb", "-syb a.bin b.bin", 0, {{"a.bin", "a.bin"}, {"b.bin", "b.bin"}}},
        {"-rkb", "-sykb a.bin b.bin", 0, {{"a.bin", "a.bin"}, {"b.bin", "b.bin"}}},
        {"-rkb", "-syb a.bin b.bin", 0, {{"a.bin", "a.bin"}, {"b.bin", "b.bin"}}},
        {"-rgb", "-syb a.bin b.bin", 0, {{"a.bin", "a.bin"}, {"b.bin", "b.bin"}}},
        {"-rgb", "-sykb a.bin b.bin", 0, {{"a.bin", "a.bin"}, {"b.bin", "b.bin"}}},
        // A named YMODEM-G receive streams: only the headers and the end
        // of the file are acknowledged, no block.
        {"-rgb x.bin", "-sykb a.bin", 0, {{"x.bin", "a.bin"}}, 3},
        // Text: the sender puts CR LF on the line, a text receiver takes
        // the CR off again, a binary one keeps it.
        {"-rc x.txt", "-st a.txt", 0, {{"x.txt", "a.txt"}}},
        {"-rk", "-sy a.txt", 0, {{"a.txt", "a.txt"}}},
        {"-rcb x.txt", "-st a.txt", 0, {{"x.txt", "a.txt"}}, -1, true},
        {"-rmb", "-smb a.bin b.bin", 0, {{"a.bin", "a.bin"}, {"b.bin", "b.bin"}}},
        {"-rmcb", "-smb a.bin b.bin", 0, {{"a.bin", "a.bin"}, {"b.bin", "b.bin"}}},
        // A named target takes one file: the second of a batch is refused
        // and the first stays as it came.
        {"-cbrke x.bin", "-sykb a.bin b.bin", -1, {{"x.bin", "a.bin"}}},
    };
    for (const Pairing& p : pairings) {
        SCOPED_TRACE(std::string(p.receive) + " against " + p.send);
        LinkedBoards boards;
        interop::writeHostFile(boards.filePath(1, "a.bin"), first);
        interop::writeHostFile(boards.filePath(1, "b.bin"), std::vector<uint8_t>(second.begin(), second.end()));
        interop::writeHostFile(boards.filePath(1, "a.txt"), std::vector<uint8_t>(text.begin(), text.end()));
        int received = 99;
        int sent = 99;
        boards.run([&](swboot::Loader& l) { received = l.xmodem.xmodem(p.receive); }, SENDER_START_MICROS,
                   [&](swboot::Loader& l) { sent = l.xmodem.xmodem(p.send); });
        EXPECT_EQ(boards.what(0), "");
        EXPECT_EQ(boards.what(1), "");
        EXPECT_EQ(received, p.result);
        if (p.result == 0) {
            EXPECT_EQ(sent, 0);
        }
        for (const auto& [to, from] : p.landed) {
            SCOPED_TRACE(to);
            std::vector<uint8_t> original = std::string(from) == "a.bin" ? first : second;
            if (std::string(from) == "a.txt") {
                const std::string lines = p.asSent ? lineEndsAsSent(text) : text;
                original.assign(lines.begin(), lines.end());
            }
            if (std::string(p.send).find('m') != std::string::npos) {
                // MODEM7 names carry no length: the last block's padding stays.
                original.resize((original.size() + 127) / 128 * 128, 0x1A);
            }
            EXPECT_EQ(interop::readHostFile(boards.filePath(0, to)), original);
        }
        // On a clean line no block goes twice: the receiver acknowledges
        // each header, block and end of file once.
        if (p.acks >= 0) {
            EXPECT_EQ(std::count(boards.sent(0).begin(), boards.sent(0).end(), 0x06), p.acks);
        }
        // Nothing arrives that was not sent.
        size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(boards.filePath(0, ""))) {
            (void)entry;
            ++files;
        }
        EXPECT_EQ(files, p.landed.size());
    }
}

}  // namespace
