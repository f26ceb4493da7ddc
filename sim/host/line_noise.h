// Noise on a serial line: each byte that crosses it is, at the given rate,
// hit -- then, with even odds, either dropped or given one flipped bit.
// Seeded, so that a noisy run can be repeated exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class LineNoise {
public:
    LineNoise() = default;
    LineNoise(double rate, uint64_t seed) : rate_(rate), seed_(seed), state_(seed) {}
    // Mixed into the seed for the second direction of a line.
    static constexpr uint64_t OTHER_DIRECTION = 0x5DEECE66Dull;

    bool active() const { return rate_ > 0.0; }
    double rate() const { return rate_; }
    uint64_t seed() const { return seed_; }
    uint64_t hits() const { return hits_; }

    // Passes the bytes through the noise, in place; the bytes that remain.
    size_t apply(uint8_t* bytes, size_t length) {
        if (!active()) {
            return length;
        }
        size_t kept = 0;
        for (size_t i = 0; i < length; ++i) {
            uint8_t byte = bytes[i];
            if (static_cast<double>(next() >> 11) * 0x1.0p-53 < rate_) {
                ++hits_;
                uint64_t how = next();
                if (how & 1) {
                    continue;  // dropped
                }
                byte ^= static_cast<uint8_t>(1u << ((how >> 1) % 8));
            }
            bytes[kept++] = byte;
        }
        return kept;
    }
    std::vector<uint8_t> applied(const uint8_t* bytes, size_t length) {
        std::vector<uint8_t> out(bytes, bytes + length);
        out.resize(apply(out.data(), out.size()));
        return out;
    }

    // "RATE" or "RATE:SEED" (RATE a probability per byte, 0 to 1); throws
    // std::invalid_argument with the reason.
    static LineNoise parse(const std::string& text);

private:
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    double rate_ = 0.0;
    uint64_t seed_ = 0;
    uint64_t state_ = 0;
    uint64_t hits_ = 0;
};

}  // namespace sim
