// The cell array of the board's NOR flash: two 16 MiB 28F128J3 parts side
// by side on the 32-bit bus, 32 MiB at 0xFE000000, erased in 256 KiB units.
//
// This is the storage only, with the physics that matter: programming can
// only clear bits and only an erase sets them again, a whole unit at a
// time. The array lives in a file of the state directory so that it
// survives resets and runs of the simulator, or in memory for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

#include "board/power_cut.h"

namespace sim {

class FlashArray {
public:
    static constexpr uint32_t BASE = 0xFE000000;
    static constexpr uint32_t SIZE = 0x02000000;
    static constexpr uint32_t UNIT_SIZE = 0x00040000;
    static constexpr uint32_t UNIT_COUNT = SIZE / UNIT_SIZE;

    // In memory, erased.
    FlashArray();
    // Backed by the file, created erased when missing. Throws
    // std::runtime_error when the file cannot be used or is not 32 MiB long.
    explicit FlashArray(const std::filesystem::path& file);
    ~FlashArray();
    FlashArray(const FlashArray&) = delete;
    FlashArray& operator=(const FlashArray&) = delete;

    // Offsets are from the start of the array.
    std::span<const uint8_t> view(uint32_t offset, uint32_t length) const;
    uint8_t read8(uint32_t offset) const { return cells_[offset]; }

    // Programs bytes: each cell keeps only the bits that are 1 in both.
    void program(uint32_t offset, std::span<const uint8_t> data);
    // Sets every cell of the unit to 0xFF.
    void eraseUnit(uint32_t unit);
    bool unitErased(uint32_t unit) const;

    // One device's half of the bus: half 0 is the upper 16 bits of each bus
    // word (the first two bytes), half 1 the lower. Offsets are of the bus
    // word, 4-byte aligned.
    uint16_t readHalf(uint32_t wordOffset, unsigned half) const;
    void programHalf(uint32_t wordOffset, unsigned half, uint16_t value);
    void eraseUnitHalf(uint32_t unit, unsigned half);

    // True when the file did not exist and was made erased.
    bool created() const { return created_; }
    // Every program and unit erase counts as one persistent step of the
    // power supply, which may fail in its middle: a program then reaches
    // only a prefix of its bytes, an erase leaves unpredictable bits.
    void setPowerCut(PowerCut* powerCut) { powerCut_ = powerCut; }
    // Called with the unit before any program or erase changes it, so that
    // what keeps its data in the unit (the flash volume) sees the change at
    // once, whoever makes it.
    void setChangeHook(std::function<void(uint32_t unit)> hook) { changeHook_ = std::move(hook); }

private:
    uint8_t* cells_ = nullptr;
    bool fileBacked_ = false;
    bool created_ = false;
    PowerCut* powerCut_ = nullptr;
    std::function<void(uint32_t unit)> changeHook_;

    void changing(uint32_t firstUnit, uint32_t lastUnit) {
        if (changeHook_) {
            for (uint32_t unit = firstUnit; unit <= lastUnit; ++unit) {
                changeHook_(unit);
            }
        }
    }
};

}  // namespace sim
