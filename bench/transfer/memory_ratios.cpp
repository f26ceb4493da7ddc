#include "memory_ratios.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <functional>
#include <vector>

#include "boot_fixture.h"
#include "image/image_crc.h"
#include "image/image_format.h"

namespace speedbench {

namespace {

// Processor time of this process, user and system: on a machine shared
// with other work it is steadier than the time on the wall, and it still
// counts what the host's kernel does for the process (reads, page faults).
double processSeconds() {
    struct timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double secondsOf(const std::function<void()>& work) {
    const double start = processSeconds();
    work();
    return processSeconds() - start;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs a and b in turn, rounds times, after one warm-up of each; the median
// seconds of each.
Pair alternate(int rounds, const std::function<void()>& a, const std::function<void()>& b) {
    a();
    b();
    std::vector<double> timesA, timesB;
    for (int i = 0; i < rounds; ++i) {
        timesA.push_back(secondsOf(a));
        timesB.push_back(secondsOf(b));
    }
    return {median(timesA), median(timesB)};
}

}  // namespace

Pair imageCrcAgainstZlib() {
    std::vector<uint8_t> data(swboot::IMAGE_SIZE_MAX);
    uint32_t state = 1;
    for (uint8_t& b : data) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    volatile uint32_t sink = 0;
    Pair times = alternate(
        21,
        [&] {
            swboot::ImageCrc crc;
            sink = crc.compute(data.data(), data.size());
        },
        [&] { sink = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size()))); });
    (void)sink;
    return {double(data.size()) / times.first, double(data.size()) / times.second};
}

Boot bootAgainstFloor() {
    bootbench::Prepared prepared;
    bootbench::BootingBoard board(prepared);
    bootbench::Floor floor(prepared);
    bool ok = true;
    Pair times = alternate(
        9, [&] { ok = board.boot() && ok; }, [&] { ok = floor.run() && ok; });
    Pair stepped = alternate(
        9, [&] { ok = board.boot() && ok; }, [&] { ok = floor.run(true) && ok; });
    if (!ok) {
        return {};
    }
    // Each boot time goes with the yardstick it alternated with.
    return {times.first, times.second, stepped.first, stepped.second};
}

}  // namespace speedbench
