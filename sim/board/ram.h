// The board's SDRAM: 256 MiB from address 0. Pages are given by the host as
// they are touched, so an unused board costs nothing.
//
// Faults of a bad memory can be put in (board profile, [[ram.fault]]):
// - a data bit stuck at 0 or 1 in one 32-bit word (a bad cell);
// - an open address line, which always reads as 0, so that every address
//   with that bit set reaches the cell of the address without it;
// - an address line shorted to another one, which then follows the other
//   line's level, folding two regions onto each other.
// Loads and stores of the bus (load/store) see every fault. A stuck bit acts
// on the cell itself, wherever its bytes are used: the cell is held at its
// level at every store and at each of the board's events (holdStuckBits:
// every bus access, allocation, file transfer and direct view), so bytes
// put there through a direct view lose the bit as they would on the part.
// A direct view of the cells (view) is given for a range that the address
// faults map onto consecutive cells, so bulk work through a view sees the
// aliasing too; plainView, for the emulated core's own mapping, also leaves
// out every range with a stuck bit, whose loads and stores then take the bus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

class Ram {
public:
    static constexpr uint32_t BASE = 0x00000000;
    static constexpr uint32_t SIZE = 0x10000000;
    // Address lines of the 256 MiB: A2..A27 select words and bytes beyond
    // the byte lanes A0/A1 of the 32-bit bus.
    static constexpr int ADDRESS_LINE_FIRST = 2;
    static constexpr int ADDRESS_LINE_LAST = 27;

    struct Fault {
        enum class Kind { StuckBit, AddressLineOpen, AddressLineShorted };
        Kind kind = Kind::StuckBit;
        uint32_t address = 0;   // StuckBit: the word's address (a multiple of 4)
        int bit = 0;            // StuckBit: data bit 0..31 of the word (0 = least significant)
        int level = 0;          // StuckBit: the value the bit is stuck at
        int line = 0;           // address line that misbehaves
        int to = 0;             // AddressLineShorted: the line it follows
    };

    Ram();
    ~Ram();
    Ram(const Ram&) = delete;
    Ram& operator=(const Ram&) = delete;

    bool contains(uint32_t address, size_t length) const {
        return address < SIZE && length <= SIZE - address;
    }
    // The cells behind a range, stuck bits held; empty when it is not wholly
    // in RAM or when the address faults do not map it onto consecutive cells.
    std::span<uint8_t> view(uint32_t address, size_t length);
    // As view, and empty as well when the range holds a stuck bit.
    std::span<uint8_t> plainView(uint32_t address, size_t length);
    // Sets every bit stuck by a fault to its level in its cell.
    void holdStuckBits() {
        if (stuckBits_) {
            holdEveryStuckBit();
        }
    }

    // Big-endian loads and stores of 1, 2 or 4 bytes as the bus makes them,
    // faults included. The range must be in RAM.
    uint32_t load(uint32_t address, unsigned width);
    void store(uint32_t address, unsigned width, uint32_t value);

    // Control face: faults. Throws std::invalid_argument for a fault that
    // names a line or a bit the part does not have.
    void setFaults(const std::vector<Fault>& faults);
    const std::vector<Fault>& faults() const { return faults_; }
    static std::string describe(const Fault& fault);

private:
    uint32_t cellOf(uint32_t address) const;
    uint8_t stuckByte(uint32_t cell, uint8_t value) const;

    void holdEveryStuckBit();

    uint8_t* cells_ = nullptr;
    std::vector<Fault> faults_;
    bool addressFaults_ = false;
    bool stuckBits_ = false;
};

}  // namespace sim
