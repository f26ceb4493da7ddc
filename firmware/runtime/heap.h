// The firmware's memory pool, carved from the board's RAM.
//
// Its policy and addresses are those of the simulated board's pool: first
// fit from the lowest address, blocks rounded up to 16 bytes, freed
// neighbours merged, the same base and size. So the loader prints the same
// block addresses in both forms.
//
// The bookkeeping lives outside the pool, in a fixed table of block
// records (free and used, in address order), so that no header sits in
// front of a block and shifts its address. When a request needs a new
// record and the table is full, the request fails.
//
// The pool is reached through a window: the pointer to its first byte. On
// the board the window is the base address itself; host tests point it at
// a buffer of their own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwrt {

class Heap {
public:
    static constexpr uint32_t BOARD_BASE = 0x04000000;
    static constexpr uint32_t BOARD_SIZE = 0x0BF00000;   // up to 0x0FF00000
    static constexpr uint32_t ALIGNMENT = 16;
    // Free and used records together: room for at least 1023 blocks in use.
    static constexpr size_t MAX_RECORDS = 2048;

    // An empty pool, all zeros so that a heap object sits in .bss and needs
    // no constructor to run before the start-up reaches C++.
    constexpr Heap() = default;
    Heap(const Heap&) = delete;
    Heap& operator=(const Heap&) = delete;

    // Makes the whole range one free block; blocks of an earlier use are
    // forgotten. window points at the byte of address base (may be null
    // when only addresses are wanted).
    void init(uint32_t base, uint32_t size, uint8_t* window);
    bool initialised() const { return initialised_; }

    // The address of a block of at least size bytes, aligned to 16; 0 when
    // the pool or the record table cannot satisfy the request.
    uint32_t allocate(size_t size);
    // Returns a block; OK, or ERROR when the address is not a block in use.
    int free(uint32_t address);
    // Size of the largest block that could be allocated now.
    size_t largestFreeBlock() const;
    size_t blocksInUse() const { return used_; }

    // The bytes at an address of the pool, through the window; null for 0.
    void* pointer(uint32_t address) const;
    // The address of a pointer into the pool's window; 0 when it is outside.
    uint32_t address(const void* pointer) const;

private:
    struct Record {
        uint32_t address;
        uint32_t size;
        bool used;
    };

    // Index of the record of a block starting at the address, or count_.
    size_t find(uint32_t address) const;
    void insert(size_t index, Record record);
    void erase(size_t index);

    Record records_[MAX_RECORDS] = {};
    size_t count_ = 0;
    size_t used_ = 0;
    uint32_t base_ = 0;
    uint32_t size_ = 0;
    uint8_t* window_ = nullptr;
    bool initialised_ = false;
};

// The C library's allocation functions on a pool: pointers through the
// pool's window. free accepts null; a pointer that is not a block in use
// is ignored, as the pool's free refuses it.
void* malloc(Heap& heap, size_t size);
void* calloc(Heap& heap, size_t count, size_t size);
void free(Heap& heap, void* pointer);

// The firmware's two pools (c_symbols.cpp; firmware only), each set up on
// first use.
//
// systemHeap: the board RAM at BOARD_BASE, for the platform's memory
// service alone, so that it sees exactly the requests the simulated
// board's pool sees and gives the same addresses.
//
// libraryHeap: a pool inside the firmware's own .bss (section
// .bss.library_pool, LIBRARY_POOL_SIZE bytes) for malloc, calloc, free and
// operator new and delete: inflate's window and state, strings, vectors.
// In the host form those come from the host's C library and take nothing
// from the board's pool; served from the system pool they would shift
// every block address the loader prints after them.
Heap& systemHeap();
Heap& libraryHeap();
inline constexpr size_t LIBRARY_POOL_SIZE = 256 * 1024;

}  // namespace fwrt
