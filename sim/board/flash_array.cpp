#include "board/flash_array.h"

#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim {

FlashArray::FlashArray() {
    void* p = mmap(nullptr, SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        throw std::runtime_error("cannot map the flash array in memory");
    }
    cells_ = static_cast<uint8_t*>(p);
    std::memset(cells_, 0xFF, SIZE);
}

FlashArray::FlashArray(const std::filesystem::path& file) {
    // Only a missing flash image makes a fresh, erased part. One that is
    // there must be whole, however short it is: an empty or cut file is a
    // damaged image, never a new board whose volume would be formatted.
    struct stat st {};
    const bool fresh = ::lstat(file.c_str(), &st) != 0 && errno == ENOENT;
    // A fresh image is made erased under another name and renamed into
    // place, so a start cut short never leaves a half-made image behind.
    std::filesystem::path opened = file;
    if (fresh) {
        opened += ".new";
    }
    int fd = ::open(opened.c_str(), fresh ? O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC : O_RDWR | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot open the flash image " + file.string() + ": " +
                                 std::strerror(errno));
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (!fresh && st.st_size != SIZE)) {
        ::close(fd);
        throw std::runtime_error("the flash image " + file.string() + " is not 32 MiB long");
    }
    if (fresh && ftruncate(fd, SIZE) != 0) {
        ::close(fd);
        ::unlink(opened.c_str());
        throw std::runtime_error("cannot size the flash image " + file.string());
    }
    void* p = mmap(nullptr, SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) {
        throw std::runtime_error("cannot map the flash image " + file.string());
    }
    cells_ = static_cast<uint8_t*>(p);
    fileBacked_ = true;
    if (fresh) {
        std::memset(cells_, 0xFF, SIZE);
        if (msync(cells_, SIZE, MS_SYNC) != 0 || ::rename(opened.c_str(), file.c_str()) != 0) {
            munmap(cells_, SIZE);
            ::unlink(opened.c_str());
            throw std::runtime_error("cannot make the flash image " + file.string());
        }
        created_ = true;
    }
}

FlashArray::~FlashArray() {
    if (fileBacked_) {
        msync(cells_, SIZE, MS_SYNC);
    }
    munmap(cells_, SIZE);
}

std::span<const uint8_t> FlashArray::view(uint32_t offset, uint32_t length) const {
    if (offset > SIZE || length > SIZE - offset) {
        throw std::out_of_range("flash array range");
    }
    return {cells_ + offset, length};
}

namespace {
std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}
}  // namespace

void FlashArray::program(uint32_t offset, std::span<const uint8_t> data) {
    if (offset > SIZE || data.size() > SIZE - offset) {
        throw std::out_of_range("flash array range");
    }
    if (!data.empty()) {
        changing(offset / UNIT_SIZE, static_cast<uint32_t>((offset + data.size() - 1) / UNIT_SIZE));
    }
    // A program the power cuts short reaches only its first bytes.
    size_t reached = data.size();
    const bool cut = powerCut_ != nullptr && powerCut_->step();
    if (cut) {
        reached = static_cast<size_t>(powerCut_->random(data.size()));
    }
    for (size_t i = 0; i < reached; ++i) {
        cells_[offset + i] &= data[i];
    }
    if (cut) {
        powerCut_->cut("flash program of " + std::to_string(data.size()) + " bytes at 0x" + hex(offset) + ", " +
                       std::to_string(reached) + " reached");
    }
}

void FlashArray::eraseUnit(uint32_t unit) {
    if (unit >= UNIT_COUNT) {
        throw std::out_of_range("flash unit");
    }
    changing(unit, unit);
    uint8_t* cells = cells_ + static_cast<size_t>(unit) * UNIT_SIZE;
    if (powerCut_ != nullptr && powerCut_->step()) {
        // An erase the power cuts short leaves the unit partly erased:
        // every cell has some of its bits set, which ones nobody knows.
        for (uint32_t i = 0; i < UNIT_SIZE; i += 8) {
            uint64_t bits = powerCut_->random(UINT64_MAX);
            for (uint32_t j = 0; j < 8; ++j) {
                cells[i + j] |= static_cast<uint8_t>(bits >> (8 * j));
            }
        }
        powerCut_->cut("flash erase of unit " + std::to_string(unit));
    }
    std::memset(cells, 0xFF, UNIT_SIZE);
}

bool FlashArray::unitErased(uint32_t unit) const {
    const uint8_t* p = cells_ + static_cast<size_t>(unit) * UNIT_SIZE;
    for (uint32_t i = 0; i < UNIT_SIZE; ++i) {
        if (p[i] != 0xFF) {
            return false;
        }
    }
    return true;
}

uint16_t FlashArray::readHalf(uint32_t wordOffset, unsigned half) const {
    const uint8_t* p = view(wordOffset + 2 * half, 2).data();
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void FlashArray::programHalf(uint32_t wordOffset, unsigned half, uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    program(wordOffset + 2 * half, bytes);
}

void FlashArray::eraseUnitHalf(uint32_t unit, unsigned half) {
    if (unit >= UNIT_COUNT || half > 1) {
        throw std::out_of_range("flash unit");
    }
    changing(unit, unit);
    uint8_t* p = cells_ + static_cast<size_t>(unit) * UNIT_SIZE + 2 * half;
    if (powerCut_ != nullptr && powerCut_->step()) {
        // Cut short, this device's half of the unit is left with some of
        // its bits set, which ones nobody knows.
        for (uint32_t i = 0; i < UNIT_SIZE; i += 4) {
            uint64_t bits = powerCut_->random(UINT16_MAX);
            p[i] |= static_cast<uint8_t>(bits >> 8);
            p[i + 1] |= static_cast<uint8_t>(bits);
        }
        powerCut_->cut("flash erase of unit " + std::to_string(unit) + " half " + std::to_string(half));
    }
    for (uint32_t i = 0; i < UNIT_SIZE; i += 4) {
        p[i] = 0xFF;
        p[i + 1] = 0xFF;
    }
}

}  // namespace sim
