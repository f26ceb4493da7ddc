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
    bootbench::BootingBoard board(p);
    board.boot();  // the board's RAM mapped once
    for (auto _ : state) {
        if (!board.boot()) {
            state.SkipWithError("the board did not reach the hand-over");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.imageSize));
}
BENCHMARK(BM_BootToHandover)->Unit(benchmark::kMillisecond)->MinTime(2.0)->MeasureProcessCPUTime();

// The same boots with the loader built as firmware on the emulated core,
// beside the native loader in the same run: boot to hand-over, and power-on
// to the Boot Menu.
void BM_FirmwareBootToHandover(benchmark::State& state) {
    bootbench::Prepared& p = prepared();
    bootbench::BootingBoard board(p, sim::LoaderKind::Firmware);
    for (auto _ : state) {
        if (!board.boot()) {
            state.SkipWithError("the firmware did not reach the hand-over (is it built, with the emulated core?)");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.imageSize));
}
BENCHMARK(BM_FirmwareBootToHandover)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();

void BM_PowerOnToMenu(benchmark::State& state) {
    bootbench::Prepared& p = prepared();
    bootbench::BootingBoard board(p, state.range(0) != 0 ? sim::LoaderKind::Firmware : sim::LoaderKind::Native);
    for (auto _ : state) {
        if (!board.bootToMenu()) {
            state.SkipWithError("the board did not reach its menu");
            break;
        }
    }
    state.SetLabel(state.range(0) != 0 ? "firmware" : "native");
}
BENCHMARK(BM_PowerOnToMenu)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_ReadInflateAndCrcFloor(benchmark::State& state) {
    bootbench::Prepared& p = prepared();
    bootbench::Floor floor(p);
    for (auto _ : state) {
        if (!floor.run()) {
            state.SkipWithError("inflate failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(p.imageSize));
}
BENCHMARK(BM_ReadInflateAndCrcFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0)->MeasureProcessCPUTime();

}  // namespace
