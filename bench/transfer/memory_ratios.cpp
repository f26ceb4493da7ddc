#include "memory_ratios.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "boot_fixture.h"
#include "image/image_crc.h"
#include "image/image_format.h"

namespace speedbench {

namespace {

double secondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

Pair bootAgainstFloor() {
    bootbench::Prepared prepared;
    bool ok = true;
    Pair times = alternate(
        7, [&] { ok = bootbench::bootToHandover(prepared) && ok; },
        [&] { ok = bootbench::readInflateAndCrc(prepared) && ok; });
    if (!ok) {
        return {0, 0};
    }
    return times;
}

}  // namespace speedbench
