#include "board/ram.h"

#include <sys/mman.h>

#include <stdexcept>

namespace sim {

Ram::Ram() {
    void* p = mmap(nullptr, SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) {
        throw std::runtime_error("cannot reserve the board's RAM");
    }
    cells_ = static_cast<uint8_t*>(p);
    // Large pages where the host offers them: the staging area and the
    // inflated code (16 MiB each) are touched afresh at every boot, and a
    // fault per 4 KiB page costs more than reading the image.
    madvise(cells_, SIZE, MADV_HUGEPAGE);
}

Ram::~Ram() { munmap(cells_, SIZE); }

std::span<uint8_t> Ram::view(uint32_t address, size_t length) {
    if (!contains(address, length)) {
        return {};
    }
    return {cells_ + address, length};
}

}  // namespace sim
