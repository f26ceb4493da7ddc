#include "host/line_noise.h"

#include <stdexcept>

namespace sim {

LineNoise LineNoise::parse(const std::string& text) {
    const size_t colon = text.find(':');
    const std::string rateText = text.substr(0, colon);
    double rate = 0.0;
    uint64_t seed = 1;
    try {
        size_t used = 0;
        rate = std::stod(rateText, &used);
        if (used != rateText.size()) {
            throw std::invalid_argument(rateText);
        }
        if (colon != std::string::npos) {
            const std::string seedText = text.substr(colon + 1);
            seed = std::stoull(seedText, &used, 0);
            if (used != seedText.size()) {
                throw std::invalid_argument(seedText);
            }
        }
    } catch (const std::exception&) {
        throw std::invalid_argument("--line-noise wants RATE[:SEED], e.g. 1e-4:7, got '" + text + "'");
    }
    if (!(rate >= 0.0 && rate <= 1.0)) {
        throw std::invalid_argument("the line noise rate is a probability per byte, 0 to 1, got '" + rateText + "'");
    }
    return LineNoise(rate, seed);
}

}  // namespace sim
