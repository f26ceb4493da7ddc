// The memory read/write tool of the utilities menu: dumps bytes from any
// board address and stores bytes, half-words and words, through the bus.
#pragma once

#include <cstdint>

namespace swboot {

class Loader;

inline constexpr int MEMORY_TOOL_LINE_SIZE = 80;
inline constexpr int MEMORY_TOOL_ROW = 16;

class MemoryTool {
public:
    explicit MemoryTool(Loader& loader) : loader_(loader) {}

    // Returns when the operator types q or when input fails.
    void memoryTool();

private:
    void help();
    void dump(uint32_t address, int length);

    Loader& loader_;
};

}  // namespace swboot
