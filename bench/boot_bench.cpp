// Boot to hand-over on virtual time for a 16 MiB image, beside the floor
// of the same work: one read of the file, one inflate of its stream into
// memory and one CRC pass. Virtual time makes every delay of the boot (lamp
// test, the two-second choice, the pauses around the inflate) free, so what
// is measured is the processor's work: the active image's CRC check, the
// read into the staging area and the inflate to the load address.
#include <benchmark/benchmark.h>

#include "boot_fixture.h"

namespace {

bootbench::Prepared& prepared() {
    static bootbench::Prepared p;
    return p;
}

void BM_BootToHandover(benchmark::State& state) {
    bootbench::Prepared& p = prepared();
    for (auto _ : state) {
        if (!bootbench::bootToHandover(p)) {
            state.SkipWithError("the board did not reach the hand-over");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.imageSize));
}
BENCHMARK(BM_BootToHandover)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ReadInflateAndCrcFloor(benchmark::State& state) {
    bootbench::Prepared& p = prepared();
    for (auto _ : state) {
        if (!bootbench::readInflateAndCrc(p)) {
            state.SkipWithError("inflate failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.imageSize));
}
BENCHMARK(BM_ReadInflateAndCrcFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
