// Flash diagnostics (one pass over the 124 sectors below the boot code) run
// by the loader against the flash pair model on virtual time, beside the
// same erase, fill, program and compare done on plain memory. Items are
// sectors, so the per-item time is the host CPU time per sector.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#include "diag/flash_diags.h"
#include "host/diagnostics.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "loader.h"

namespace {

void flashDiagsOnTheModel(benchmark::State& state) {
    sim::VirtualClock clock;
    sim::ScriptedLine line(clock);
    sim::Diagnostics diagnostics;
    diagnostics.setQuiet(true);
    sim::BoardOptions options;
    options.stateDir = std::filesystem::temp_directory_path() / "swboot-flash-bench";
    options.flashInMemory = true;
    options.profile.flash.factoryLocked.reset();
    sim::SimBoard board(options, clock, line, diagnostics);
    swboot::Loader loader(board.platform());
    loader.flash.flashAccessInit();
    for (auto _ : state) {
        line.type("1\r");
        loader.flashDiags.run_flash_diags();
        loader.io.flush();
        if (line.output().find("Flash Diagnostics passed") == std::string::npos) {
            state.SkipWithError("the diagnostics did not pass");
            break;
        }
        line.clearOutput();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * swboot::FLASH_DIAG_SECTORS);
    std::filesystem::remove_all(options.stateDir);
}
BENCHMARK(flashDiagsOnTheModel)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same work on memory: erase (all 1s), check, fill the pattern,
// program (AND), then compare, erase again and check.
void flashDiagsOnPlainMemory(benchmark::State& state) {
    constexpr uint32_t sector = swboot::FLASH_DIAG_SECTOR_SIZE;
    constexpr uint32_t words = sector / 4;
    std::vector<uint8_t> flash(size_t{swboot::FLASH_DIAG_SECTORS} * sector);
    std::vector<uint32_t> buffer(words);
    std::vector<uint32_t> cells(words);
    for (auto _ : state) {
        bool good = true;
        for (uint32_t s = 0; s < swboot::FLASH_DIAG_SECTORS; ++s) {
            uint8_t* at = flash.data() + size_t{s} * sector;
            std::memset(at, 0xFF, sector);
            std::memcpy(buffer.data(), at, sector);
            good &= std::all_of(buffer.begin(), buffer.end(), [](uint32_t w) { return w == 0xFFFFFFFF; });
            for (uint32_t i = 0; i < words; ++i) {
                buffer[i] = (s << 24) | i;
            }
            std::memcpy(cells.data(), at, sector);
            for (uint32_t i = 0; i < words; ++i) {
                cells[i] &= buffer[i];
            }
            std::memcpy(at, cells.data(), sector);
        }
        for (uint32_t s = 0; s < swboot::FLASH_DIAG_SECTORS; ++s) {
            uint8_t* at = flash.data() + size_t{s} * sector;
            std::memcpy(buffer.data(), at, sector);
            for (uint32_t i = 0; i < words; ++i) {
                good &= buffer[i] == ((s << 24) | i);
            }
            std::memset(at, 0xFF, sector);
            std::memcpy(buffer.data(), at, sector);
            good &= std::all_of(buffer.begin(), buffer.end(), [](uint32_t w) { return w == 0xFFFFFFFF; });
        }
        benchmark::DoNotOptimize(good);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * swboot::FLASH_DIAG_SECTORS);
}
BENCHMARK(flashDiagsOnPlainMemory)->Unit(benchmark::kMillisecond);

}  // namespace
