// The system memory pool, carved from the board's RAM so that every block
// has a board address. First fit, blocks aligned to 16 bytes, neighbours
// merged on release.
#pragma once

#include <cstdint>
#include <map>

#include "board/ram.h"
#include "platform/memory.h"

namespace sim {

class SimHeap : public swboot::Memory {
public:
    static constexpr uint32_t DEFAULT_BASE = 0x04000000;
    static constexpr uint32_t DEFAULT_SIZE = 0x0BF00000;   // up to 0x0FF00000
    static constexpr uint32_t ALIGNMENT = 16;

    SimHeap(Ram& ram, uint32_t base = DEFAULT_BASE, uint32_t size = DEFAULT_SIZE);

    // Everything free again (a reset).
    void powerUp();
    // Test control: refuse allocations above this size (0: no limit).
    void setAllocationLimit(size_t bytes) { limit_ = bytes; }
    size_t blocksInUse() const { return used_.size(); }

    swboot::MemoryBlock allocate(size_t size) override;
    int free(uint32_t address) override;
    size_t largestFreeBlock() override;

private:
    Ram& ram_;
    uint32_t base_;
    uint32_t size_;
    size_t limit_ = 0;
    std::map<uint32_t, uint32_t> free_;   // address -> size
    std::map<uint32_t, uint32_t> used_;   // address -> size
};

}  // namespace sim
