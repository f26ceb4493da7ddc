// The emulated e500 core running the demo operational code on the board's
// bus: instructions per second on the demo's tight loop (menu choice 5),
// and the time from the hand-over (the call into the code) to the demo's
// banner on the console line.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/e500_emulator.h"
#include "host/provision.h"
#include "support/board_bus.h"

namespace {

// Ends a measured run from inside the code's console output or input.
struct EnoughSeen {};

// The board's bus with the demo code placed at its load address.
struct DemoBoard : testing_support::BoardBus {
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
