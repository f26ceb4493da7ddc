// A 16 MiB operational code image on a board's volume, for timing the boot
// to hand-over against the bare work it contains.
#pragma once

#include <iterator>

#include "host/flash_probe.h"

#include <zlib.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

#include "host/diagnostics.h"
#include "host/provision.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "image/image_crc.h"
#include "image/image_format.h"
#include "image_builder.h"

// The loader built as firmware, where the benchmark's build names it.
#ifndef SWBOOT_FIRMWARE_BOOT_CODE
#define SWBOOT_FIRMWARE_BOOT_CODE ""
#endif

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

        // A board as the factory ships it (boot code in the flash, the
        // vital product data record, a directory naming image1), with the
        // 16 MiB image as image1.
        sim::provisionBoard(dir, sim::BoardProfile::builtin(), true);
        imageFile = dir / "volume" / "files" / "image1";
        std::ofstream(imageFile, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(image->data()), static_cast<std::streamsize>(image->size()));
    }
    ~Prepared() { std::filesystem::remove_all(dir); }
};

// One board that boots again and again, as after a power cycle: its RAM
// stays mapped in the host between boots, as the image file stays in the
// host's page cache, so a boot pays for the board's work and not for the
// host setting up the board's memory.
class BootingBoard {
public:
    explicit BootingBoard(const Prepared& p, sim::LoaderKind loader = sim::LoaderKind::Native)
        : options_(optionsFor(p, loader)), board_(options_, clock_, line_, diagnostics_) {
        diagnostics_.setQuiet(true);
    }
    // One boot from power-on to the hand-over; false when the board did not
    // get there.
    bool boot() {
        if (options_.loader == sim::LoaderKind::Firmware) {
            // The firmware's hand-over ends the run with exit status 0;
            // anything else (a stop, a board that did not start) does not.
            return board_.run() == 0;
        }
        const int before = board_.core().handoverCount();
        return board_.run() == 0 && board_.core().handoverCount() == before + 1;
    }
    // From power-on to the Boot Menu's prompt: the two-second choice is
    // answered with 2, and the menu's wait for a choice ends the run.
    bool bootToMenu() {
        line_.type("2\r");
        return board_.run() == 0;
    }

private:
    static sim::BoardOptions optionsFor(const Prepared& p, sim::LoaderKind loader) {
        if (loader == sim::LoaderKind::Firmware) {
            // The firmware in the boot flash, as the service probe writes it.
            std::ifstream in(SWBOOT_FIRMWARE_BOOT_CODE, std::ios::binary);
            const std::vector<uint8_t> code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            sim::flashBootWrite(p.dir, sim::BoardProfile::builtin(), code);
        }
        sim::BoardOptions options;
        options.stateDir = p.dir;
        options.onHandover = sim::OnHandover::Exit;
        options.loader = loader;
        return options;
    }
    sim::VirtualClock clock_;
    sim::ScriptedLine line_{clock_};
    sim::Diagnostics diagnostics_;
    sim::BoardOptions options_;
    sim::SimBoard board_;
};

// The floor of the same work, in buffers made once: one read of the image
// file, one inflate of its stream and one CRC pass over it. As the boot
// itself must do it: the file read twice (for the CRC check, then into the
// staging area) and the stream inflated in steps of 1024 bytes in and 3072
// out, which also makes zlib copy every step's output into its window.
class Floor {
public:
    explicit Floor(const Prepared& p) : p_(p), file_(p.imageSize), again_(p.imageSize), code_(p.codeSize) {}
    // False when the inflate failed.
    bool run(bool asTheBootMust = false) {
        read(file_);
        swboot::ImageCrc crc;
        sum_ = crc.compute(file_.data() + 2, file_.size() - 2);
        if (asTheBootMust) {
            read(again_);
        }
        const std::vector<uint8_t>& input = asTheBootMust ? again_ : file_;
        z_stream z{};
        inflateInit(&z);
        z.next_in = const_cast<uint8_t*>(input.data()) + swboot::IMAGE_HEADER_SIZE;
        z.next_out = code_.data();
        const size_t size = input.size() - swboot::IMAGE_HEADER_SIZE;
        int result = Z_OK;
        if (!asTheBootMust) {
            z.avail_in = static_cast<uInt>(size);
            z.avail_out = static_cast<uInt>(code_.size());
            result = inflate(&z, Z_FINISH);
        } else {
            while (z.total_in < size && result == Z_OK) {
                z.avail_in = static_cast<uInt>(std::min<size_t>(1024, size - z.total_in));
                z.avail_out = static_cast<uInt>(std::min<size_t>(3072, code_.size() - z.total_out));
                result = inflate(&z, Z_NO_FLUSH);
            }
        }
        inflateEnd(&z);
        return result == Z_STREAM_END;
    }

private:
    void read(std::vector<uint8_t>& into) {
        std::ifstream in(p_.imageFile, std::ios::binary);
        in.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
    }
    const Prepared& p_;
    std::vector<uint8_t> file_;
    std::vector<uint8_t> again_;
    std::vector<uint8_t> code_;
    volatile uint16_t sum_ = 0;
};

}  // namespace bootbench
