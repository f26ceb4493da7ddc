// Fuzz target: the xmodem receiver fed arbitrary bytes by its peer, in
// every receiving mode, on virtual time.
//
// The first byte chooses the command (low four bits index the table
// below: binary and text, checksum, CRC and 1K requests, named and batch,
// YMODEM-G and MODEM7, with the double-CAN cancel, progress and debug
// reports); the rest arrives on the console in pieces: each piece is one
// length byte, one delay byte (tens of milliseconds after the previous
// piece) and up to that many bytes.
//
// Properties checked beyond the sanitizers: the command answers 0 or -1;
// the console's options are given back; nothing is left open on
// the volume.
#include <cstdint>
#include <iterator>

#include "fuzz_board.h"
#include "loader.h"

namespace {

const char* const COMMANDS[] = {
    "-rb x.bin",  "-rcb x.bin",  "-rckb x.bin", "-cbrke xcode.bin",
    "-rb",        "-rkb",        "-rgb",        "-rmb",
    "-rc x.txt",  "-rt",         "-rmcb",       "-rcbn x.bin",
    "-rgb x.bin", "-rkbe x.bin", "-rcbp x.bin", "-rcbx x.bin",
};
static_assert(std::size(COMMANDS) == 16);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace swboot;
    if (size == 0) {
        return 0;
    }
    fuzzing::FuzzBoard& fb = fuzzing::FuzzBoard::instance();
    const char* command = COMMANDS[data[0] & 15];
    int64_t at = fb.board().clock().nowMicros();
    for (size_t i = 1; i + 2 <= size;) {
        size_t length = data[i];
        at += static_cast<int64_t>(data[i + 1]) * 10000;
        i += 2;
        if (length > size - i) {
            length = size - i;
        }
        fb.line().deliverAt(at, std::vector<uint8_t>(data + i, data + i + length));
        i += length;
    }
    fb.runLoader([&](Loader& loader) {
        const uint32_t options = fb.board().tty().optionsGet();
        int result = loader.xmodem.xmodem(command);
        fuzzing::brokenIf(result != 0 && result != -1, "xmodem gave an undocumented result");
        fuzzing::brokenIf(fb.board().tty().optionsGet() != options, "the console's options were not given back");
        fuzzing::brokenIf(fb.board().volume().openCount() != 0, "a file was left open");
    });
    fb.clearFiles();
    return 0;
}
