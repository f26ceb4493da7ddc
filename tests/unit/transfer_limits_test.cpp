// Counts and timeouts of the transfer and the code load, each at its limit
// and one past it, on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "image/code_load.h"
#include "image/image_format.h"
#include "support/boot_spine_images.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/test_images.h"
#include "support/xmodem_peer.h"

namespace {

using namespace testing_support;
using Request = XmodemReceiverPeer::Request;

// A receiving board asks once the line has been quiet for a second after
// its pause: data sent from this board time on is asked for.
constexpr int64_t RECEIVER_ASKED_MICROS = 2 * MICROS_PER_SECOND;

int64_t micros(double seconds) { return static_cast<int64_t>(seconds * MICROS_PER_SECOND); }

// A board that sends "data.bin" (`bytes` 'A's, no control byte among them)
// to a receiving peer asking with `request` at `start`, `startSeconds` from
// now; the command is the test's, and so is any peer that takes over the
// line after the request.
struct SenderToPeer {
    TestBoard board;
    LoaderOnBoard loader{board};
    XmodemReceiverPeer peer;
    int64_t start;
    explicit SenderToPeer(size_t bytes, Request request = Request::Crc, double startSeconds = 1)
        : peer(board.line(), request), start(board.clock().nowMicros() + micros(startSeconds)) {
        board.writeFile("data.bin", std::vector<uint8_t>(bytes, 'A'));
        peer.start(start);
    }
};

// What follows each occurrence of the marker in the board's text, up to
// the line end, joined by ", ".
std::string after(const std::string& output, const std::string& marker) {
    const std::string text = plainText(output);
    std::string found;
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        const size_t start = at + marker.size();
        found += (found.empty() ? "" : ", ") + text.substr(start, text.find('\n', start) - start);
    }
    return found;
}

// Whole seconds between the times.
std::string gaps(const std::vector<int64_t>& at) {
    std::string text;
    for (size_t i = 1; i < at.size(); ++i) {
        text += (i > 1 ? " " : "") + std::to_string((at[i] - at[i - 1]) / MICROS_PER_SECOND);
    }
    return text;
}

// Where each block the sending board sent starts (its start byte followed
// by a block number and its complement); with a number, each block of it.
std::vector<size_t> blockStarts(const std::vector<uint8_t>& heard, int number = -1) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 2 < heard.size(); ++i) {
        if ((heard[i] == PEER_SOH || heard[i] == PEER_STX) && (heard[i + 1] ^ heard[i + 2]) == 0xFF &&
            (number < 0 || heard[i + 1] == number)) {
            at.push_back(i);
        }
    }
    return at;
}

std::string count(const char* what, size_t n) { return std::string(what) + " " + std::to_string(n); }

// A receiving board ("-rcbe x.bin") given block 1 of 128 'A's once it has asked.
struct ReceiverAfterBlock {
    TestBoard board;
    LoaderOnBoard loader{board};
    int64_t start = board.clock().nowMicros() + RECEIVER_ASKED_MICROS;
    ReceiverAfterBlock() { board.line().deliverAt(start, xmodemBlock(1, std::vector<uint8_t>(128, 'A'), true)); }
    std::string receive(ScriptPeer& peer, const char* command = "-rcbe x.bin") {
        const int result = loader->xmodem.xmodem(command);
        return "result " + std::to_string(result) + ", " + count("NAK", peer.countOf(PEER_NAK)) + ", " +
               count("CAN", peer.countOf(PEER_CAN)) + ", file " +
               (board.fileExists("x.bin") ? std::to_string(board.readFile("x.bin").size()) : "none");
    }
};

// A MODEM7 name ("FOO     TXT") sent to a receiving board ("-rbm"), one
// step per board byte: the opening NAK, the ACK of each character, the
// board's checksum, and a CAN-CAN on the next request. Returns how long
// after its checksum the board asked for the first block.
std::string modem7NameToBoard(size_t slowStep, double seconds) {
    uint8_t sum = 0;
    std::vector<ScriptPeer::Step> steps = modem7NameSteps("FOO     TXT", sum);
    steps.push_back({PEER_NAK, {PEER_CAN, PEER_CAN}});
    TestBoard board;
    LoaderOnBoard loader(board);
    steps[slowStep].extraDelayMicros = micros(seconds);
    ScriptPeer peer(board.line(), steps);
    // A board that did not take the name is cancelled later.
    board.line().deliverAt(board.clock().nowMicros() + 30 * MICROS_PER_SECOND,
                           std::vector<uint8_t>{PEER_CAN, PEER_CAN});
    loader->xmodem.xmodem("-rbm");
    const auto& heard = peer.heard();
    const auto checksum = std::find(heard.begin(), heard.end(), sum);
    const auto request = std::find(checksum, heard.end(), PEER_NAK);
    if (request == heard.end()) {
        return "no checksum";
    }
    const int64_t gap = peer.heardAt()[static_cast<size_t>(request - heard.begin())] -
                        peer.heardAt()[static_cast<size_t>(checksum - heard.begin())];
    return "request " + std::to_string(gap / 1000) + " ms after the checksum";
}

// A sending board ("sbm data.bin") asked with NAK: the name "DATA    BIN"
// and its SUB, each byte acknowledged, the checksum answered; the number
// of name errors ("u") it sent.
std::string modem7NameFromBoard(size_t slowStep, double seconds) {
    const std::string name = std::string("DATA    BIN") + static_cast<char>(PEER_SUB);
    std::vector<ScriptPeer::Step> steps;
    uint8_t sum = 0;
    for (char c : name) {
        steps.push_back({static_cast<uint8_t>(c), {PEER_ACK}});
        sum = static_cast<uint8_t>(sum + c);
    }
    steps.back().answer = {sum};
    TestBoard board;
    LoaderOnBoard loader(board);
    board.writeFile("data.bin", patternBytes(100));
    steps[slowStep].extraDelayMicros = micros(seconds);
    ScriptPeer peer(board.line(), steps);
    board.line().deliverAt(board.clock().nowMicros() + MICROS_PER_SECOND, std::vector<uint8_t>{PEER_NAK});
    loader->xmodem.xmodem("sbm data.bin");
    return count("u", peer.countOf('u'));
}

// The first error line of a code load of the file, "no error" when none.
std::string codeLoadError(XmodemSenderPeer::Protocol protocol, const std::vector<uint8_t>& file) {
    TestBoard board;
    LoaderOnBoard loader(board);
    XmodemSenderPeer peer(board.line(), protocol, {PeerFile{"x.bin", file, ""}}, 1024);
    loader.run([&] { loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID); });
    const std::string error = after(board.output(), "ERROR: ");
    return error.empty() ? "no error" : "ERROR: " + error.substr(0, error.find(", "));
}

// A receiving board ("-rcbe x.bin") given block 1 of 128 'A's with a pause
// after its first `at` bytes, then an EOT: whether the block was taken.
std::string blockWithPause(size_t at, double seconds) {
    TestBoard board;
    LoaderOnBoard loader(board);
    const auto block = xmodemBlock(1, std::vector<uint8_t>(128, 'A'), true);
    const int64_t start = board.clock().nowMicros() + RECEIVER_ASKED_MICROS;
    board.line().deliverAt(start, std::vector<uint8_t>(block.begin(), block.begin() + static_cast<long>(at)));
    board.line().deliverAt(start + micros(seconds), std::vector<uint8_t>(block.begin() + static_cast<long>(at), block.end()));
    board.line().deliverAt(start + 20 * MICROS_PER_SECOND, std::vector<uint8_t>{PEER_EOT});
    loader->xmodem.xmodem("-rcbe x.bin");
    return !board.fileExists("x.bin") ? "not taken" : board.readFile("x.bin") == std::vector<uint8_t>(128, 'A') ? "taken" : "changed";
}

struct Edge {
    const char* limit;
    // What the board did with the setting (seconds, a size, a count).
    std::function<std::string(double setting)> observe;
    std::vector<std::pair<double, std::string>> expected;
};

const std::vector<Edge>& edges() {
    static const std::vector<Edge> table = {
        {"receiver: 30 CRC requests, then 30 checksum requests, then it gives up",
         [](double) {
             TestBoard board;
             LoaderOnBoard loader(board);
             // Every request is answered with a block start of a broken block.
             std::vector<ScriptPeer::Step> steps(30, {'C', {PEER_SOH, 0x05, 0x05}});
             steps.resize(60, {PEER_NAK, {PEER_SOH, 0x05, 0x05}});
             ScriptPeer peer(board.line(), steps);
             const int result = loader->xmodem.xmodem("-rc x.bin");
             return count("C", peer.countOf('C')) + ", " + count("NAK", peer.countOf(PEER_NAK)) + ", result " +
                    std::to_string(result);
         },
         {{0, "C 30, NAK 30, result -1"}}},
        {"receiver: after block 1, a NAK every 5 s; the 10th time-out ends it, no cancel",
         [](double) {
             ReceiverAfterBlock r;
             ScriptPeer peer(r.board.line(), {});
             const std::string seen = r.receive(peer);
             return seen + "; " + gaps(peer.timesOf(PEER_NAK));
         },
         // Each NAK waits for a quiet line (1 s) after the 5 s.
         {{0, "result -1, NAK 9, CAN 0, file 128; 6 6 6 6 6 6 6 6"}}},
        {"receiver: a second EOT within 5 s confirms the end",
         [](double seconds) {
             ReceiverAfterBlock r;
             ScriptPeer peer(r.board.line(), {});
             r.board.line().deliverAt(r.start + MICROS_PER_SECOND, std::vector<uint8_t>{PEER_EOT});
             r.board.line().deliverAt(r.start + MICROS_PER_SECOND + micros(seconds), std::vector<uint8_t>{PEER_EOT});
             return r.receive(peer, "-rcb x.bin");
         },
         {{4.9, "result 0, NAK 1, CAN 0, file 128"}, {5.1, "result -1, NAK 10, CAN 0, file 128"}}},
        {"receiver: the fields after a block's start byte may each take 3 s",
         [](double seconds) { return blockWithPause(1, seconds); }, {{2.9, "taken"}, {3.1, "not taken"}}},
        {"receiver: the data bytes of a block may pause 1 s",
         [](double seconds) { return blockWithPause(60, seconds); }, {{0.9, "taken"}, {1.1, "not taken"}}},
        {"sender: 120 reads of 1 s for the receiver's request, then it gives up",
         [](double seconds) {
             SenderToPeer s(100, Request::Crc, seconds);
             const int result = s.loader->xmodem.xmodem("sb data.bin");
             return "result " + std::to_string(result) + ", " + count("blocks", s.peer.blocks().size()) + ", " +
                    after(s.board.output(), "Remote System ");
         },
         {{120.9, "result 0, blocks 1, "}, {121.9, "result -1, blocks 0, Not Responding"}}},
        {"sender: eleven unanswered EOTs 15 s apart, the 2nd to the 10th reported (p)",
         [](double) {
             SenderToPeer s(100);
             s.peer.eotAcknowledged = 1000;  // never
             const int result = s.loader->xmodem.xmodem("sbp data.bin");
             return "result " + std::to_string(result) + "; " + gaps(s.peer.timesOf(PEER_EOT)) + "; " +
                    after(s.board.output(), "EOT not ACKed, try ");
         },
         {{0, "result -1; 15 15 15 15 15 15 15 15 15 15; 2, 3, 4, 5, 6, 7, 8, 9, 10"}}},
        {"sender: ten transmissions of an unanswered block, 10 s apart, then five CANs",
         [](double) {
             SenderToPeer s(100);
             ScriptPeer peer(s.board.line(), {});
             const int result = s.loader->xmodem.xmodem("sb data.bin");
             std::vector<int64_t> at;
             for (size_t i : blockStarts(peer.heard())) {
                 at.push_back(peer.heardAt()[i]);
             }
             return count("blocks", at.size()) + "; " + gaps(at) + "; " + count("CAN", peer.countOf(PEER_CAN)) +
                    ", result " + std::to_string(result);
         },
         {{0, "blocks 10; 10 10 10 10 10 10 10 10 10; CAN 5, result -1"}}},
        {"sender: a K within 1 s of the C asks for 1024-byte blocks (YMODEM)",
         [](double seconds) {
             SenderToPeer s(2048);
             ScriptPeer ack(s.board.line(), {{PEER_SOH, {PEER_ACK}, micros(0.5)}}, false);
             s.board.line().deliverAt(s.start + micros(seconds), std::vector<uint8_t>{'K'});
             s.board.line().deliverAt(s.start + 5 * MICROS_PER_SECOND, std::vector<uint8_t>{'C'});
             s.loader->xmodem.xmodem("sby data.bin");
             const std::vector<size_t> one = blockStarts(ack.heard(), 1);
             return std::string(one.empty() ? "no data block" : ack.heard()[one[0]] == PEER_STX ? "1024" : "128");
         },
         {{0.9, "1024"}, {1.1, "128"}}},
        {"sender: a second CAN within 3 s cancels while waiting for a request",
         [](double seconds) {
             SenderToPeer s(100, Request::Crc, 11);
             const int64_t start = s.board.clock().nowMicros() + MICROS_PER_SECOND;
             s.board.line().deliverAt(start, std::vector<uint8_t>{PEER_CAN});
             s.board.line().deliverAt(start + micros(seconds), std::vector<uint8_t>{PEER_CAN});
             const int result = s.loader->xmodem.xmodem("sb data.bin");
             return "result " + std::to_string(result) + "; " + after(s.board.output(), "Send Canceled by ");
         },
         {{2.9, "result -1; CAN-CAN"}, {3.1, "result 0; "}}},
        {"sender: after the YMODEM header's ACK, 11 reads of 2 s for the request",
         [](double seconds) {
             SenderToPeer s(100);
             // The header (sent after 1 s of waiting for a K) is
             // acknowledged half a second later; the data request comes late.
             ScriptPeer ack(s.board.line(), {{PEER_SOH, {PEER_ACK}, micros(0.5)}}, false);
             s.board.line().deliverAt(s.start + micros(seconds), std::vector<uint8_t>{'C'});
             s.loader->xmodem.xmodem("sby data.bin");
             return std::string(blockStarts(ack.heard(), 1).empty() ? "no block 1" : "block 1 sent");
         },
         {{23.0, "block 1 sent"}, {24.0, "no block 1"}}},
        {"sender: 1024-byte blocks until 7 records are left, then 128",
         [](double left) {
             // The sender counts size / 128 + 1 records.
             SenderToPeer s(1024 + (static_cast<size_t>(left) - 1) * 128, Request::Crc1K);
             s.loader->xmodem.xmodem("sbk data.bin");
             std::string sizes;
             for (const auto& block : s.peer.blocks()) {
                 sizes += std::to_string(block.data.size()) + " ";
             }
             return sizes;
         },
         {{7, "1024 128 128 128 128 128 128 "}, {8, "1024 1024 "}}},
        {"sender: 1024-byte blocks after a block took 5 transmissions, 128 after 6",
         [](double transmissions) {
             SenderToPeer s(8192, Request::Crc1K);
             for (size_t i = 0; i + 1 < static_cast<size_t>(transmissions); ++i) {
                 s.peer.nakTransmissions.insert(i);
             }
             s.loader->xmodem.xmodem("sbk data.bin");
             const size_t next = static_cast<size_t>(transmissions);
             return s.peer.blocks().size() > next ? std::to_string(s.peer.blocks()[next].data.size()) : "none";
         },
         {{5, "1024"}, {6, "128"}}},
        {"MODEM7 receiver: each name character within 3 s; 2 s after the name, a 1 s wait for the first block",
         [](double seconds) { return modem7NameToBoard(1, seconds); },
         // The ACK comes 5 ms after the checksum.
         {{2.9, "request 3005 ms after the checksum"}, {3.1, "no checksum"}}},
        {"MODEM7 receiver: the ACK of the name's checksum within 15 s",
         [](double seconds) { return modem7NameToBoard(12, seconds); },
         {{14.9, "request 17905 ms after the checksum"}, {15.1, "request 15000 ms after the checksum"}}},
        {"MODEM7 sender: the ACK of each name character within 15 s",
         [](double seconds) { return modem7NameFromBoard(0, seconds); }, {{14.9, "u 0"}, {15.1, "u 1"}}},
        {"MODEM7 sender: the checksum of the name within 16 s",
         [](double seconds) { return modem7NameFromBoard(11, seconds); }, {{15.9, "u 0"}, {16.1, "u 1"}}},
        {"MODEM7 sender: the batch end waits 2 s for its ACK, the command ends 5 s later",
         [](double seconds) {
             TestBoard board;
             LoaderOnBoard loader(board);
             ScriptPeer peer(board.line(), {{PEER_EOT, {PEER_ACK}, micros(seconds)}});
             board.line().deliverAt(board.clock().nowMicros() + MICROS_PER_SECOND, std::vector<uint8_t>{PEER_NAK});
             loader->xmodem.xmodem("sbm none.bin");
             const std::vector<int64_t> eot = peer.timesOf(PEER_EOT);
             if (eot.size() != 1) {
                 return count("EOT", eot.size());
             }
             return "ends " + std::to_string((board.clock().nowMicros() - eot[0]) / 1000) + " ms after the EOT";
         },
         {{1.9, "ends 6905 ms after the EOT"}, {2.1, "ends 7000 ms after the EOT"}}},
        {"receiver and sender cancel with three CANs when the file cannot be made or opened",
         [](double sending) {
             ReceiverAfterBlock r;  // a sending board takes the block's bytes for noise
             r.board.writeFile("data.bin", patternBytes(100));
             r.board.volume().injectFailure(sending != 0 ? sim::HostVolume::Operation::Open
                                                         : sim::HostVolume::Operation::Create);
             ScriptPeer peer(r.board.line(), {});
             r.loader->xmodem.xmodem(sending != 0 ? "sb data.bin" : "-rcbe x.bin");
             return count("CAN", peer.countOf(PEER_CAN));
         },
         {{0, "CAN 3"}, {1, "CAN 3"}}},
        {"receiver and sender report progress every 32 sectors (p)",
         [](double sectors) {
             TestBoard board;
             LoaderOnBoard loader(board);
             const std::vector<uint8_t> data = patternBytes(static_cast<size_t>(sectors) * 128);
             {
                 XmodemSenderPeer peer(board.line(), XmodemSenderPeer::Protocol::Xmodem, {PeerFile{"", data, ""}});
                 loader->xmodem.xmodem("-rcbep x.bin");
             }
             board.writeFile("data.bin", data);
             XmodemReceiverPeer peer(board.line(), Request::Crc);
             peer.start(board.clock().nowMicros() + MICROS_PER_SECOND);
             loader->xmodem.xmodem("sbp data.bin");
             return after(board.output(), "Sector ");
         },
         {{31, ""}, {32, "32 received, 32 sent"}}},
        {"sender: the file size in K is the whole 1024s plus one",
         [](double size) {
             SenderToPeer s(static_cast<size_t>(size));
             s.loader->xmodem.xmodem("sbp data.bin");
             return after(s.board.output(), "File Size ");
         },
         {{1023, "1K, 8 Sectors, 1023 Bytes, 1K, 8 Records, 1023 Bytes"},
          {1024, "2K, 9 Sectors, 1024 Bytes, 2K, 9 Records, 1024 Bytes"}}},
        {"code load: an image's Size field is at least its 1220-byte header",
         [](double size) {
             std::vector<uint8_t> image = boot::goodImage({.codeSeed = 3});
             swboot::putBe32(image.data() + swboot::IMAGE_SIZE_OFFSET, static_cast<uint32_t>(size));
             fixCrc(image);
             return codeLoadError(XmodemSenderPeer::Protocol::Xmodem, image);
         },
         {{1219, "ERROR: Code image size of 1219 bytes is invalid."}, {1220, "no error"}}},
        {"code load: the CRC and size are read from the first 16 bytes of the file",
         [](double size) {
             // A YMODEM header's length cuts the file short of its blocks.
             return codeLoadError(XmodemSenderPeer::Protocol::Ymodem, patternBytes(static_cast<size_t>(size)));
         },
         {{15, "ERROR: Can't read file xcode.bin"}, {16, "ERROR: Operational code CRC is not valid."}}},
    };
    return table;
}

TEST(TransferLimits, EveryEdgeOfTheTable) {
    for (const Edge& edge : edges()) {
        for (const auto& [setting, expected] : edge.expected) {
            EXPECT_EQ(edge.observe(setting), expected) << edge.limit << ", at " << setting;
        }
    }
}

}  // namespace
