// The loader's memory service on the firmware: blocks of the board's pool,
// each with its board address and its bytes. The C library's malloc and
// operator new have a pool of their own, so this one hands out the same
// addresses as the simulator's.
#pragma once

#include "platform/memory.h"
#include "runtime/heap.h"

namespace firmware {

class PoolMemory : public swboot::Memory {
public:
    explicit PoolMemory(fwrt::Heap& heap) : heap_(heap) {}

    swboot::MemoryBlock allocate(size_t size) override {
        const uint32_t address = heap_.allocate(size);
        if (address == 0) {
            return {};
        }
        return {address, {static_cast<uint8_t*>(heap_.pointer(address)), size}};
    }
    int free(uint32_t address) override { return heap_.free(address); }
    size_t largestFreeBlock() override { return heap_.largestFreeBlock(); }

private:
    fwrt::Heap& heap_;
};

}  // namespace firmware
