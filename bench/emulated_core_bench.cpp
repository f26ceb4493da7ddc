// The emulated e500 core running the demo operational code on the board's
// bus: instructions per second on the demo's tight loop (menu choice 5),
// and the time from the hand-over (the call into the code) to the demo's
// banner on the console line.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/cpld.h"
#include "board/e500_emulator.h"
#include "board/flash_array.h"
#include "board/memory_map.h"
#include "board/i2c_mux.h"
#include "board/mpc85xx_ccsr.h"
#include "board/mpc85xx_i2c.h"
#include "board/strataflash.h"
#include "board/ram.h"
#include "board/uart16550.h"
#include "host/provision.h"
#include "host/scripted_line.h"
#include "host/sim_clock.h"

namespace {

// Ends a measured run from inside the code's console output or input.
struct EnoughSeen {};

struct DemoBoard {
    sim::VirtualClock clock;
    sim::ScriptedLine line{clock};
    sim::Ram ram;
    sim::Cpld cpld{sim::Cpld::Identity{}};
    sim::FlashArray flashCells;
    sim::StrataFlash flash{flashCells, sim::StrataFlashConfig{}, [this] { return clock.nowMicros(); }};
    sim::Mpc85xxCcsr ccsr{sim::Mpc85xxCcsr::Values{}};
    sim::Uart16550 uart{line};
    sim::I2cMux i2cMux{[] { return uint8_t{0}; }};
    sim::Mpc85xxI2c i2c{i2cMux};
    sim::MemoryMap bus{ram, cpld, flash, ccsr, uart, i2c};

    DemoBoard() {
        std::span<const uint8_t> code = sim::demoCodeBinary();
        std::memcpy(ram.view(sim::DEMO_CODE_LOAD_ADDRESS, code.size()).data(), code.data(), code.size());
    }

    // Runs the demo until the callback throws EnoughSeen; the
    // instructions executed.
    uint64_t run() {
        sim::E500Emulator core(bus, sim::Ram::SIZE);
        sim::E500Emulator::Entry entry;
        entry.address = sim::DEMO_CODE_LOAD_ADDRESS;
        entry.argument = 1;
        entry.msr = 0x00001000;
        entry.stackPointer = 0x01FFFFF0;
        entry.returnAddress = 0xFFF80000;
        try {
            core.run(entry);
        } catch (const EnoughSeen&) {
        }
        return core.instructionsExecuted();
    }
};

class Watch : public sim::ScriptedLine::Peer {
public:
    Watch(sim::ScriptedLine& line, std::string text) : text_(std::move(text)) { line.setPeer(this); }
    void transmitted(sim::ScriptedLine& line, const uint8_t*, size_t) override {
        if (line.output().ends_with(text_)) {
            throw EnoughSeen{};
        }
    }

private:
    std::string text_;
};

bool demoBuilt(benchmark::State& state) {
    if (sim::demoCodeBinary().empty() || !sim::E500Emulator::available()) {
        state.SkipWithError("the demo code or the emulated core was not built");
        return false;
    }
    return true;
}

void BM_CoreTightLoop(benchmark::State& state) {
    if (!demoBuilt(state)) {
        return;
    }
    uint64_t instructions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        DemoBoard board;
        board.line.deliver(std::vector<uint8_t>{'5'});
        Watch watch(board.line, " done\r\n");
        state.ResumeTiming();
        instructions += board.run();
    }
    state.counters["instructions"] = benchmark::Counter(static_cast<double>(instructions), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CoreTightLoop)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_HandoverToBanner(benchmark::State& state) {
    if (!demoBuilt(state)) {
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        DemoBoard board;
        Watch watch(board.line, "(normal start), running at 0x00010000\r\n");
        state.ResumeTiming();
        board.run();
    }
}
BENCHMARK(BM_HandoverToBanner)->Unit(benchmark::kMillisecond);

}  // namespace
