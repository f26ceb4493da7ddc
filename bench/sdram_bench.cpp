// The utilities menu's RAM test over the default board's largest free block
// (about 191 MiB), beside the bare lower bound of the same amount of memory
// work on the host: one memset of a buffer of that size and one compare
// pass over it. The RAM test makes one zero fill, the walking tests' few
// hundred bus accesses, and the aliasing test's three passes (zero fill,
// check-and-set, check), so a ratio near two is the bulk path at its best.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "host/diagnostics.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "loader.h"

namespace {

struct Board {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("swboot-sdram-bench-" + std::to_string(::getpid()));
    sim::VirtualClock clock;
    sim::ScriptedLine line{clock};
    sim::Diagnostics diagnostics;
    std::unique_ptr<sim::SimBoard> board;

    Board() {
        diagnostics.setQuiet(true);
        sim::BoardOptions options;
        options.stateDir = dir;
        options.flashInMemory = true;
        board = std::make_unique<sim::SimBoard>(options, clock, line, diagnostics);
    }
    ~Board() { std::filesystem::remove_all(dir); }
};

void BM_SdramTestDefaultBoard(benchmark::State& state) {
    Board b;
    swboot::Loader loader(b.board->platform());
    const size_t size = b.board->heap().largestFreeBlock();
    for (auto _ : state) {
        b.line.clearOutput();
        loader.sdramTest.sdramTest();
        loader.io.flush();
        if (b.line.output().find("SDRAM tests completed successfully.") == std::string::npos) {
            state.SkipWithError("the RAM test did not pass");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
    state.counters["block_MiB"] = static_cast<double>(size) / (1024.0 * 1024.0);
}
BENCHMARK(BM_SdramTestDefaultBoard)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_MemsetAndCompareSameBytes(benchmark::State& state) {
    Board b;
    const size_t size = b.board->heap().largestFreeBlock();
    std::vector<uint8_t> buffer(size);
    std::vector<uint8_t> zeros(64 * 1024, 0);
    for (auto _ : state) {
        std::memset(buffer.data(), 0, size);
        benchmark::ClobberMemory();
        bool same = true;
        for (size_t at = 0; at < size && same; at += zeros.size()) {
            size_t n = size - at < zeros.size() ? size - at : zeros.size();
            same = std::memcmp(buffer.data() + at, zeros.data(), n) == 0;
        }
        benchmark::DoNotOptimize(same);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_MemsetAndCompareSameBytes)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
