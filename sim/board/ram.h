// The board's SDRAM: 256 MiB from address 0. Pages are given by the host as
// they are touched, so an unused board costs nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sim {

class Ram {
public:
    static constexpr uint32_t BASE = 0x00000000;
    static constexpr uint32_t SIZE = 0x10000000;

    Ram();
    ~Ram();
    Ram(const Ram&) = delete;
    Ram& operator=(const Ram&) = delete;

    bool contains(uint32_t address, size_t length) const {
        return address < SIZE && length <= SIZE - address;
    }
    // The bytes of a range; empty when it is not wholly in RAM.
    std::span<uint8_t> view(uint32_t address, size_t length);

private:
    uint8_t* cells_ = nullptr;
};

}  // namespace sim
