// The system memory pool. Blocks come from the board's RAM, so each has a
// board address as well as a view of its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace swboot {

struct MemoryBlock {
    uint32_t address = 0;         // board address; 0 when nothing was allocated
    std::span<uint8_t> bytes;     // the block's bytes; empty where the RAM
                                  // cannot be given as plain memory (faults)
    explicit operator bool() const { return address != 0; }
};

class Memory {
public:
    virtual ~Memory() = default;

    // A block of at least the given size, or an empty block when the pool
    // cannot satisfy the request.
    virtual MemoryBlock allocate(size_t size) = 0;
    // Returns a block to the pool; ERROR when the address is not a block's.
    virtual int free(uint32_t address) = 0;
    // Size of the largest block that could be allocated now.
    virtual size_t largestFreeBlock() = 0;
};

}  // namespace swboot
