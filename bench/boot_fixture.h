// A 16 MiB operational code image on a board's volume, for timing the boot
// to hand-over against the bare work it contains.
#pragma once

#include <zlib.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

#include "board/flash_array.h"
#include "host/diagnostics.h"
#include "host/host_volume.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "image/image_crc.h"
#include "image/image_format.h"
#include "image_builder.h"

namespace bootbench {

constexpr uint32_t LOAD_ADDRESS = 0x00010000;
// Random code does not compress: the image comes out just under 16 MiB.
constexpr size_t CODE_SIZE = 16 * 1024 * 1024 - 64 * 1024;

struct Prepared {
    std::filesystem::path dir;
    std::filesystem::path imageFile;
    size_t imageSize = 0;
    size_t codeSize = 0;

    Prepared() {
        dir = std::filesystem::temp_directory_path() / ("swboot-boot-bench-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::vector<uint8_t> code(CODE_SIZE);
        std::mt19937 random(42);
        for (auto& b : code) {
            b = static_cast<uint8_t>(random());
        }
        swboot::tool::ImageBuildInput input;
        input.code = code;
        input.loadAddress = LOAD_ADDRESS;
        input.timestamp = "Fri Dec  1 12:00:00 2006";
        auto image = swboot::tool::oprImageBuild(input);
        if (!image) {
            throw std::runtime_error(image.error());
        }
        imageSize = image->size();
        codeSize = code.size();

        sim::VirtualClock clock;
        sim::FlashArray flash(dir / "flash.bin");
        sim::HostVolume volume(flash, dir / "volume", clock);
        swboot::TffsFormatParams params;
        volume.tffsDevFormat(0, params);
        volume.usrTffsConfig(0, 0, "/DskVol/");
        volume.mkdir("/DskVol/files");
        imageFile = dir / "volume" / "files" / "image1";
        std::ofstream(imageFile, std::ios::binary)
            .write(reinterpret_cast<const char*>(image->data()), static_cast<std::streamsize>(image->size()));
        std::ofstream(dir / "volume" / "files" / "boot.dim") << "---IMAGE---\nactive\nactive\nimage1\n0\ndefault image\n";
    }
    ~Prepared() { std::filesystem::remove_all(dir); }
};

// One boot on virtual time, from power-on to the hand-over; false when the
// board did not get there.
inline bool bootToHandover(const Prepared& p) {
    sim::VirtualClock clock;
    sim::ScriptedLine line(clock);
    sim::Diagnostics diagnostics;
    diagnostics.setQuiet(true);
    sim::BoardOptions options;
    options.stateDir = p.dir;
    options.onHandover = sim::OnHandover::Exit;
    sim::SimBoard board(options, clock, line, diagnostics);
    return board.run() == 0 && board.core().handoverCount() == 1;
}

// The floor of the same work: one read of the image file, one inflate of
// its stream into memory and one CRC pass over it; false when the inflate
// failed.
inline bool readInflateAndCrc(const Prepared& p) {
    std::vector<uint8_t> file(p.imageSize);
    std::ifstream in(p.imageFile, std::ios::binary);
    in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()));
    std::vector<uint8_t> code(p.codeSize);
    z_stream z{};
    inflateInit(&z);
    z.next_in = file.data() + swboot::IMAGE_HEADER_SIZE;
    z.avail_in = static_cast<uInt>(file.size() - swboot::IMAGE_HEADER_SIZE);
    z.next_out = code.data();
    z.avail_out = static_cast<uInt>(code.size());
    int result = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    swboot::ImageCrc crc;
    volatile uint16_t sum = crc.compute(file.data() + 2, file.size() - 2);
    (void)sum;
    return result == Z_STREAM_END;
}

}  // namespace bootbench
