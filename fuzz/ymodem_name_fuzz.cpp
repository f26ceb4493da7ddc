// Fuzz target: the name and header text of a YMODEM header, as a batch
// receive takes them from the sender.
//
// The input is the header block's data (cut to 1024 bytes; 128 or 1024 by
// its length), sent with a good CRC to "-rb"; one data block and the end of
// the file follow, then the batch end.
//
// Properties checked beyond the sanitizers: the command answers 0 or -1;
// at most one file is created, and only directly in "files/"; no name of
// the sender ever reaches past the volume.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_board.h"
#include "loader.h"
#include "transfer/xmodem_crc.h"

namespace {

std::vector<uint8_t> block(uint8_t number, std::vector<uint8_t> data) {
    const bool large = data.size() > 128;
    data.resize(large ? 1024 : 128, 0);
    std::vector<uint8_t> out;
    out.reserve(data.size() + 5);
    out.push_back(large ? 0x02 : 0x01);
    out.push_back(number);
    out.push_back(static_cast<uint8_t>(0xFF - number));
    out.insert(out.end(), data.begin(), data.end());
    swboot::XmodemCrc crc;
    uint16_t value = crc.compute(data.data(), data.size());
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace swboot;
    if (size > 1024) {
        size = 1024;
    }
    fuzzing::FuzzBoard& fb = fuzzing::FuzzBoard::instance();
    int64_t at = fb.board().clock().nowMicros() + 1000000;
    // Each piece answers a request of the receiver; the receiver's pauses
    // between them are well under a second.
    for (const std::vector<uint8_t>& piece :
         {block(0, std::vector<uint8_t>(data, data + size)), block(1, std::vector<uint8_t>(128, 0x41)),
          std::vector<uint8_t>{0x04}, block(0, {})}) {
        fb.line().deliverAt(at, piece);
        at += 1000000;
    }
    fb.runLoader([&](Loader& loader) {
        int result = loader.xmodem.xmodem("-rb");
        fuzzing::brokenIf(result != 0 && result != -1, "xmodem gave an undocumented result");
    });
    const std::vector<std::string> files = fb.storedFiles();
    for (const std::string& name : files) {
        fuzzing::brokenIf(
            name.rfind('/') != fuzzing::FuzzBoard::FILES_DIRECTORY.size() - 1 ||
                name.substr(0, fuzzing::FuzzBoard::FILES_DIRECTORY.size()) != fuzzing::FuzzBoard::FILES_DIRECTORY,
            "a file was created outside files/");
    }
    fuzzing::brokenIf(files.size() > 1, "more than one file was created");
    fb.clearFiles();
    return 0;
}
