// Throughput of the image CRC-16 over a largest image (16 MiB), beside
// zlib's crc32 on the same bytes as a yardstick.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "image/image_crc.h"
#include "image/image_format.h"

namespace {

const std::vector<uint8_t>& largestImage() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> data(swboot::IMAGE_SIZE_MAX);
        uint32_t state = 1;
        for (uint8_t& b : data) {
            state = state * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(state >> 24);
        }
        return data;
    }();
    return bytes;
}

void imageCrc16(benchmark::State& state) {
    const std::vector<uint8_t>& data = largestImage();
    swboot::ImageCrc crc;
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc.compute(data.data(), data.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(imageCrc16)->Unit(benchmark::kMillisecond);

void zlibCrc32(benchmark::State& state) {
    const std::vector<uint8_t>& data = largestImage();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(zlibCrc32)->Unit(benchmark::kMillisecond);

}  // namespace
