// Starting the operational code: inflating the active image's code to its
// load address and handing the processor over.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

inline constexpr uint32_t START_MODE_NORMAL = 1;
inline constexpr uint32_t START_MODE_SWITCH_DIAGNOSTICS = 3;

// Inflation steps: input and output room offered per call.
inline constexpr uint32_t INFLATE_INPUT_STEP = 1024;
inline constexpr uint32_t INFLATE_OUTPUT_STEP = 3072;
inline constexpr const char* INFLATE_ZLIB_VERSION = "1.1.4";

class CodeStart {
public:
    explicit CodeStart(Loader& loader) : loader_(loader) {}

    // Starts the active image's code; returns only if the code returns, with
    // its result. A decompression failure resets the board.
    int opCodeStart(uint32_t startMode);
    // 0 when the component was inflated to its load address, 1 otherwise.
    int opCodeInflate(const char* fileName, uint32_t component);

private:
    Loader& loader_;
};

}  // namespace swboot
