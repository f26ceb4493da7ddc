// Fuzz target: request blocks that firmware on the emulated core gives the
// volume service, with the RAM they point into.
//
// The input is cut at each separator: the first piece fills an arena of RAM
// after a few names the target lays down itself (plain, climbing out of the
// volume, the volume's own, without an end); every further piece is one
// request: its bytes pick the operation (some beyond the last), the block's
// place (aligned, misaligned, at the end of RAM, on a device), the
// arguments, and where the names and the buffer point (the names, the
// arena, the end of RAM, a device) with what length.
//
// Properties checked beyond the sanitizers: a refused block is left as it
// was; a request that is run gets a result and an error number written;
// no file ever exists outside "/DskVol/".
#include <cstdint>
#include <string>
#include <string_view>

#include "board/volume_service.h"
#include "fuzz_board.h"

namespace {

using sim::VolumeService;

constexpr uint32_t NAMES = 0x00300000;
constexpr uint32_t ARENA = 0x00301000;
constexpr uint32_t ARENA_SIZE = 0x1000;
constexpr uint32_t BLOCK = 0x00302000;
constexpr uint32_t RAM_END = 0x10000000;
constexpr uint32_t SENTINEL = 0x5A5A5A5A;
constexpr std::string_view LAID_NAMES[] = {"x.bin", "../../outside", "/DskVol/files/image1", "sub", ".", ""};
constexpr uint32_t NAME_STRIDE = 0x100;

uint32_t pointer(uint8_t selector, uint8_t offset) {
    switch (selector % 6) {
        case 0: return NAMES + NAME_STRIDE * (offset % 6);
        case 1: return ARENA + offset * 16u;
        case 2: return RAM_END - (offset % 8);
        case 3: return 0xF0004500;
        case 4: return 0;
        default: return NAMES + NAME_STRIDE * 6;  // a name of NAME_STRIDE 'n' with no end before the next
    }
}

uint32_t blockAt(uint8_t selector) {
    switch (selector % 8) {
        case 0: return BLOCK + 4;
        case 1: return RAM_END - 32;
        case 2: return 0xE0000000;
        default: return BLOCK;
    }
}

void store(sim::Ram& ram, uint32_t address, std::string_view bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        ram.store(address + static_cast<uint32_t>(i), 1, static_cast<uint8_t>(bytes[i]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::FuzzBoard& fb = fuzzing::FuzzBoard::instance();
    sim::SimBoard& board = fb.board();
    sim::HostVolume& volume = board.volume();
    sim::Ram& ram = board.ram();
    fb.clearFiles();
    VolumeService::Printer printer;
    VolumeService service(ram, volume, volume, [&](VolumeService::Printer p) {
        VolumeService::Printer previous = std::move(printer);
        printer = p;
        volume.setPrinter(printer);
        return previous;
    });

    for (size_t i = 0; i < std::size(LAID_NAMES); ++i) {
        store(ram, NAMES + NAME_STRIDE * static_cast<uint32_t>(i), LAID_NAMES[i]);
        ram.store(NAMES + NAME_STRIDE * static_cast<uint32_t>(i) + static_cast<uint32_t>(LAID_NAMES[i].size()), 1, 0);
    }
    store(ram, NAMES + NAME_STRIDE * 6, std::string(VolumeService::NAME_LIMIT + 1, 'n'));

    const std::vector<std::string_view> pieces = fuzzing::inputPieces(data, size);
    for (size_t p = 0; p < pieces.size(); ++p) {
        const std::string_view piece = pieces[p];
        if (p == 0) {
            store(ram, ARENA, piece.substr(0, ARENA_SIZE));
            continue;
        }
        uint8_t b[12] = {};
        for (size_t i = 0; i < sizeof b && i < piece.size(); ++i) {
            b[i] = static_cast<uint8_t>(piece[i]);
        }
        const uint32_t block = blockAt(b[0] >> 5);
        const uint32_t op = b[0] % (VolumeService::OPERATION_LAST + 2);
        const uint32_t lengths[] = {0, 1, 4, 16, 28, 256, 4096, 0xFFFFFFFF};
        const uint32_t fields[] = {op,
                                   static_cast<uint32_t>(static_cast<int8_t>(b[1])),
                                   static_cast<uint32_t>(static_cast<int8_t>(b[2])) * 0x10u,
                                   b[3] % 4u,
                                   pointer(b[4], b[5]),
                                   pointer(b[6], b[7]),
                                   pointer(b[8] % 4 == 0 ? 1 : b[8], b[9]),
                                   lengths[b[10] % 8] + (b[11] % 3)};
        const bool writable = block % 4 == 0 && ram.contains(block, VolumeService::BLOCK_SIZE);
        if (writable) {
            for (uint32_t i = 0; i < VolumeService::BLOCK_SIZE / 4; ++i) {
                ram.store(block + 4 * i, 4, i < 8 ? fields[i] : SENTINEL);
            }
        }
        fb.run([&] { service.write32(VolumeService::REG_REQUEST, block); });
        const uint32_t status = service.read32(VolumeService::REG_STATUS);
        const bool done = status == VolumeService::STATUS_DONE;
        fuzzing::brokenIf(writable && done != (ram.load(block + VolumeService::BLOCK_ERRNO, 4) != SENTINEL),
                          "a refused block was written, or a run one was not");
        fuzzing::brokenIf(!writable && done, "a block outside RAM was run");
    }
    for (const std::string& stored : fb.storedFiles()) {
        fuzzing::brokenIf(stored.rfind("/DskVol/", 0) != 0, "a file outside the volume");
    }
    // Nothing stays open into the next input.
    for (int fd = 0; fd < 64; ++fd) {
        volume.close(fd);
        volume.closedir(fd);
    }
    // A format or a removal may have taken the working directory.
    volume.usrTffsConfig(0, 0, "/DskVol/");
    volume.mkdir("/DskVol/files");
    volume.chdir("/DskVol/files");
    volume.setPrinter({});
    return 0;
}
