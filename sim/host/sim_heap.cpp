#include "host/sim_heap.h"

#include "platform/status.h"

namespace sim {

SimHeap::SimHeap(Ram& ram, uint32_t base, uint32_t size) : ram_(ram), base_(base), size_(size) { powerUp(); }

void SimHeap::powerUp() {
    free_.clear();
    used_.clear();
    free_.emplace(base_, size_);
}

swboot::MemoryBlock SimHeap::allocate(size_t size) {
    if (size == 0) {
        size = 1;
    }
    if ((limit_ != 0 && size > limit_) || size > size_) {
        return {};
    }
    uint32_t rounded = static_cast<uint32_t>((size + ALIGNMENT - 1) & ~static_cast<size_t>(ALIGNMENT - 1));
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        if (it->second < rounded) {
            continue;
        }
        uint32_t address = it->first;
        uint32_t left = it->second - rounded;
        free_.erase(it);
        if (left > 0) {
            free_.emplace(address + rounded, left);
        }
        used_.emplace(address, rounded);
        return {address, ram_.view(address, size)};
    }
    return {};
}

int SimHeap::free(uint32_t address) {
    auto it = used_.find(address);
    if (it == used_.end()) {
        return swboot::ERROR;
    }
    uint32_t size = it->second;
    used_.erase(it);
    ram_.holdStuckBits();  // what the block held meets its faults by now
    auto next = free_.lower_bound(address);
    if (next != free_.end() && address + size == next->first) {
        size += next->second;
        next = free_.erase(next);
    }
    if (next != free_.begin()) {
        auto previous = std::prev(next);
        if (previous->first + previous->second == address) {
            previous->second += size;
            return swboot::OK;
        }
    }
    free_.emplace(address, size);
    return swboot::OK;
}

size_t SimHeap::largestFreeBlock() {
    uint32_t largest = 0;
    for (const auto& [address, size] : free_) {
        if (size > largest) {
            largest = size;
        }
    }
    if (limit_ != 0 && largest > limit_) {
        return limit_;
    }
    return largest;
}

}  // namespace sim
