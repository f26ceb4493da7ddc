#include "board/ram.h"

#include <sys/mman.h>

#include <cstdio>
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

void Ram::setFaults(const std::vector<Fault>& faults) {
    for (const Fault& f : faults) {
        switch (f.kind) {
            case Fault::Kind::StuckBit:
                if (f.address % 4 != 0 || !contains(f.address, 4)) {
                    throw std::invalid_argument("stuck bit: the address must be a word in RAM");
                }
                if (f.bit < 0 || f.bit > 31 || (f.level != 0 && f.level != 1)) {
                    throw std::invalid_argument("stuck bit: bit 0..31 stuck at level 0 or 1");
                }
                break;
            case Fault::Kind::AddressLineShorted:
                if (f.to < ADDRESS_LINE_FIRST || f.to > ADDRESS_LINE_LAST || f.to == f.line) {
                    throw std::invalid_argument("shorted address line: the other line must be another of A2..A27");
                }
                [[fallthrough]];
            case Fault::Kind::AddressLineOpen:
                if (f.line < ADDRESS_LINE_FIRST || f.line > ADDRESS_LINE_LAST) {
                    throw std::invalid_argument("address line fault: the line must be one of A2..A27");
                }
                break;
        }
    }
    faults_ = faults;
    addressFaults_ = false;
    stuckBits_ = false;
    for (const Fault& f : faults_) {
        addressFaults_ = addressFaults_ || f.kind != Fault::Kind::StuckBit;
        stuckBits_ = stuckBits_ || f.kind == Fault::Kind::StuckBit;
    }
    holdStuckBits();
}

void Ram::holdEveryStuckBit() {
    for (const Fault& f : faults_) {
        if (f.kind == Fault::Kind::StuckBit) {
            // Big-endian: data bit b of the word is in byte 3 - b / 8.
            const uint32_t cell = f.address + 3 - static_cast<uint32_t>(f.bit / 8);
            cells_[cell] = stuckByte(cell, cells_[cell]);
        }
    }
}

std::string Ram::describe(const Fault& f) {
    char text[96];
    switch (f.kind) {
        case Fault::Kind::StuckBit:
            std::snprintf(text, sizeof text, "data bit %d of the word at 0x%08x stuck at %d", f.bit, f.address,
                          f.level);
            break;
        case Fault::Kind::AddressLineOpen:
            std::snprintf(text, sizeof text, "address line A%d open", f.line);
            break;
        case Fault::Kind::AddressLineShorted:
            std::snprintf(text, sizeof text, "address line A%d shorted to A%d", f.line, f.to);
            break;
    }
    return text;
}

uint32_t Ram::cellOf(uint32_t address) const {
    if (!addressFaults_) {
        return address;
    }
    // Each fault acts on the address as the lines carry it to the chips,
    // in the order the profile lists them.
    uint32_t cell = address;
    for (const Fault& f : faults_) {
        if (f.kind == Fault::Kind::AddressLineOpen) {
            cell &= ~(1u << f.line);
        } else if (f.kind == Fault::Kind::AddressLineShorted) {
            cell = (cell & ~(1u << f.line)) | (((cell >> f.to) & 1u) << f.line);
        }
    }
    return cell;
}

uint8_t Ram::stuckByte(uint32_t cell, uint8_t value) const {
    for (const Fault& f : faults_) {
        if (f.kind != Fault::Kind::StuckBit || (cell & ~3u) != f.address) {
            continue;
        }
        // Big-endian: data bit b of the word is in byte 3 - b / 8.
        if (cell % 4 != 3 - static_cast<uint32_t>(f.bit / 8)) {
            continue;
        }
        uint8_t mask = static_cast<uint8_t>(1u << (f.bit % 8));
        value = f.level ? static_cast<uint8_t>(value | mask) : static_cast<uint8_t>(value & ~mask);
    }
    return value;
}

std::span<uint8_t> Ram::view(uint32_t address, size_t length) {
    if (!contains(address, length)) {
        return {};
    }
    if (faults_.empty() || length == 0) {
        return {cells_ + address, length};
    }
    const uint32_t last = static_cast<uint32_t>(address + length - 1);
    for (const Fault& f : faults_) {
        if (f.kind == Fault::Kind::StuckBit) {
            continue;
        }
        // The mapping is a plain offset over the range only when every line
        // involved keeps its level across it.
        int lowest = f.line;
        if (f.kind == Fault::Kind::AddressLineShorted && f.to < lowest) {
            lowest = f.to;
        }
        if ((address >> lowest) != (last >> lowest)) {
            return {};
        }
    }
    holdStuckBits();
    return {cells_ + cellOf(address), length};
}

std::span<uint8_t> Ram::plainView(uint32_t address, size_t length) {
    std::span<uint8_t> cells = view(address, length);
    if (cells.empty() || !stuckBits_) {
        return cells;
    }
    const uint32_t first = static_cast<uint32_t>(cells.data() - cells_);
    for (const Fault& f : faults_) {
        if (f.kind == Fault::Kind::StuckBit && f.address + 3 >= first && f.address <= first + (length - 1)) {
            return {};
        }
    }
    return cells;
}

uint32_t Ram::load(uint32_t address, unsigned width) {
    uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        uint32_t cell = cellOf(address + i);
        uint8_t byte = cells_[cell];
        if (!faults_.empty()) {
            byte = stuckByte(cell, byte);
        }
        value = (value << 8) | byte;  // the processor is big-endian
    }
    return value;
}

void Ram::store(uint32_t address, unsigned width, uint32_t value) {
    for (unsigned i = 0; i < width; ++i) {
        const uint32_t cell = cellOf(address + i);
        const auto byte = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
        cells_[cell] = stuckBits_ ? stuckByte(cell, byte) : byte;
    }
}

}  // namespace sim
