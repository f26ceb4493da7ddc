// Building STK containers: several OPR images for different targets in one
// file, found by the loader through the entry table at the front.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "result.h"

namespace swboot::tool {

struct StkInput {
    std::string name;                // for messages
    std::vector<uint8_t> image;      // the OPR image file
    std::optional<uint32_t> target;  // none: the image's own Target Device
};

struct StkBuild {
    std::vector<uint8_t> container;
    std::vector<std::string> warnings;  // entries the loader can never choose
};

// Images start at file positions that are multiples of this.
inline constexpr uint32_t STK_IMAGE_ALIGNMENT = 4;

// Builds the container. Every input must be an OPR image the loader would
// start on its target, and the target must be the image's own.
Result<StkBuild> stkContainerBuild(const std::vector<StkInput>& inputs);

}  // namespace swboot::tool
