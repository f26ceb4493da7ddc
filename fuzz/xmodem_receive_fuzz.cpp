// Fuzz target: the xmodem receiver fed arbitrary bytes by its peer, in
// every receiving mode, on virtual time; and the name and header text of a
// YMODEM header, as a batch receive takes them from the sender.
//
// The first byte chooses. With bit 7 clear its low four bits index the
// command table below (binary and text, checksum, CRC and 1K requests,
// named and batch, YMODEM-G and MODEM7, with the double-CAN cancel,
// progress and debug reports), and the rest arrives on the console in
// pieces: each piece is one length byte, one delay byte (tens of
// milliseconds after the previous piece) and up to that many bytes. With
// bit 7 set the rest is a header block's data (cut to 1024 bytes; 128 or
// 1024 by its length), sent with a good CRC to "-rb"; one data block and
// the end of the file follow, then the batch end.
//
// Properties checked beyond the sanitizers: the command answers 0 or -1;
// the console's options are given back; nothing is left open on the
// volume; from a header, at most one file is created, and only directly in
// "files/": no name of the sender ever reaches past the volume.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_board.h"
#include "loader.h"
#include "transfer/xmodem_crc.h"

namespace {

const char* const COMMANDS[] = {
    "-rb x.bin",  "-rcb x.bin",  "-rckb x.bin", "-cbrke xcode.bin",
    "-rb",        "-rkb",        "-rgb",        "-rmb",
    "-rc x.txt",  "-rt",         "-rmcb",       "-rcbn x.bin",
    "-rgb x.bin", "-rkbe x.bin", "-rcbp x.bin", "-rcbx x.bin",
};
static_assert(std::size(COMMANDS) == 16);
constexpr uint8_t HEADER_MODE = 0x80;

std::vector<uint8_t> block(uint8_t number, std::vector<uint8_t> data) {
    const bool large = data.size() > 128;
    data.resize(large ? 1024 : 128, 0);
    swboot::XmodemCrc crc;
    const uint16_t value = crc.compute(data.data(), data.size());
    data.insert(data.begin(), {static_cast<uint8_t>(large ? 0x02 : 0x01), number, static_cast<uint8_t>(0xFF - number)});
    data.insert(data.end(), {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::runSelected(data, size, [&](fuzzing::FuzzBoard& fb, uint8_t selector, std::string_view rest) {
        using namespace swboot;
        const bool header = (selector & HEADER_MODE) != 0;
        const char* command = header ? "-rb" : COMMANDS[selector & 15];
        int64_t at = fb.board().clock().nowMicros();
        if (header) {
            // Each piece answers a request of the receiver; the receiver's
            // pauses between them are well under a second.
            const std::vector<uint8_t> name(rest.begin(), rest.begin() + std::min<size_t>(rest.size(), 1024));
            for (const std::vector<uint8_t>& piece : {block(0, name), block(1, std::vector<uint8_t>(128, 0x41)),
                                                      std::vector<uint8_t>{0x04}, block(0, {})}) {
                at += 1000000;
                fb.line().deliverAt(at, piece);
            }
        }
        for (size_t i = 0; !header && i + 2 <= rest.size();) {
            size_t length = static_cast<uint8_t>(rest[i]);
            at += static_cast<int64_t>(static_cast<uint8_t>(rest[i + 1])) * 10000;
            i += 2;
            if (length > rest.size() - i) {
                length = rest.size() - i;
            }
            fb.line().deliverAt(at, std::vector<uint8_t>(rest.begin() + i, rest.begin() + i + length));
            i += length;
        }
        fb.runLoader([&](Loader& loader) {
            const uint32_t options = fb.board().tty().optionsGet();
            int result = loader.xmodem.xmodem(command);
            fuzzing::brokenIf(result != 0 && result != -1, "xmodem gave an undocumented result");
            fuzzing::brokenIf(fb.board().tty().optionsGet() != options, "the console's options were not given back");
            fuzzing::brokenIf(fb.board().volume().openCount() != 0, "a file was left open");
        });
        const std::vector<std::string> files = fb.storedFiles();
        const std::string_view directory = fuzzing::FuzzBoard::FILES_DIRECTORY;
        for (const std::string& name : files) {
            const bool outside =
                name.rfind('/') != directory.size() - 1 || name.substr(0, directory.size()) != directory;
            fuzzing::brokenIf(header && outside, "a file was created outside files/");
        }
        fuzzing::brokenIf(header && files.size() > 1, "more than one file was created");
        fb.clearFiles();
    });
}
