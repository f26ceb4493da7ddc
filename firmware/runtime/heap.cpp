// The firmware's memory pool: a table of block records in address order
// that covers the pool without gaps, searched first fit.

#include "runtime/heap.h"

#include "platform/status.h"
#include "runtime/runtime.h"

namespace fwrt {

void Heap::init(uint32_t base, uint32_t size, uint8_t* window) {
    base_ = base;
    size_ = size;
    window_ = window;
    used_ = 0;
    count_ = 0;
    if (size > 0) {
        records_[count_++] = {base, size, false};
    }
    initialised_ = true;
}

uint32_t Heap::allocate(size_t size) {
    if (size == 0) {
        size = 1;
    }
    // Checked before rounding, so that the rounding cannot wrap around.
    if (size > size_ || size > UINT32_MAX - (ALIGNMENT - 1)) {
        return 0;
    }
    const auto rounded = static_cast<uint32_t>((size + ALIGNMENT - 1) & ~static_cast<size_t>(ALIGNMENT - 1));
    for (size_t i = 0; i < count_; ++i) {
        Record& record = records_[i];
        if (record.used || record.size < rounded) {
            continue;
        }
        const uint32_t left = record.size - rounded;
        if (left > 0) {
            if (count_ == MAX_RECORDS) {
                return 0;
            }
            insert(i + 1, {record.address + rounded, left, false});
        }
        records_[i] = {records_[i].address, rounded, true};
        ++used_;
        return records_[i].address;
    }
    return 0;
}

int Heap::free(uint32_t address) {
    size_t i = find(address);
    if (i == count_ || !records_[i].used) {
        return swboot::ERROR;
    }
    records_[i].used = false;
    --used_;
    if (i + 1 < count_ && !records_[i + 1].used) {
        records_[i].size += records_[i + 1].size;
        erase(i + 1);
    }
    if (i > 0 && !records_[i - 1].used) {
        records_[i - 1].size += records_[i].size;
        erase(i);
    }
    return swboot::OK;
}

size_t Heap::largestFreeBlock() const {
    uint32_t largest = 0;
    for (size_t i = 0; i < count_; ++i) {
        if (!records_[i].used && records_[i].size > largest) {
            largest = records_[i].size;
        }
    }
    return largest;
}

void* Heap::pointer(uint32_t address) const {
    if (address == 0 || window_ == nullptr) {
        return nullptr;
    }
    return window_ + (address - base_);
}

uint32_t Heap::address(const void* pointer) const {
    const auto* byte = static_cast<const uint8_t*>(pointer);
    if (window_ == nullptr || byte < window_ || byte >= window_ + size_) {
        return 0;
    }
    return base_ + static_cast<uint32_t>(byte - window_);
}

size_t Heap::find(uint32_t address) const {
    // Binary search: the records are in address order.
    size_t low = 0;
    size_t high = count_;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (records_[middle].address < address) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low < count_ && records_[low].address == address ? low : count_;
}

void Heap::insert(size_t index, Record record) {
    memmove(&records_[index + 1], &records_[index], (count_ - index) * sizeof(Record));
    records_[index] = record;
    ++count_;
}

void Heap::erase(size_t index) {
    memmove(&records_[index], &records_[index + 1], (count_ - index - 1) * sizeof(Record));
    --count_;
}

void* malloc(Heap& heap, size_t size) { return heap.pointer(heap.allocate(size)); }

void* calloc(Heap& heap, size_t count, size_t size) {
    // A product that wraps around would allocate less than was asked for.
    if (size != 0 && count > SIZE_MAX / size) {
        return nullptr;
    }
    void* block = malloc(heap, count * size);
    if (block != nullptr) {
        memset(block, 0, count * size);
    }
    return block;
}

void free(Heap& heap, void* pointer) {
    if (pointer != nullptr) {
        heap.free(heap.address(pointer));
    }
}

}  // namespace fwrt
