// The board's hardware reboot request at 0xC0000000: the value 0x1234
// written there as a 32-bit word resets the board a little later, as a
// watchdog would, whatever the processor does in between. Other values are
// taken and change nothing; reads give 0. Only 32-bit accesses are decoded;
// any other width is a bus error.
#pragma once

#include <cstdint>
#include <functional>

namespace sim {

class RebootRequest {
public:
    static constexpr uint32_t BASE = 0xC0000000;
    static constexpr uint32_t SIZE = 4;
    static constexpr uint32_t REQUEST = 0x1234;
    // Board time from the request to the reset.
    static constexpr int64_t DELAY_MICROS = 500000;

    void setClock(std::function<int64_t()> now) { now_ = std::move(now); }
    void powerUp() { dueMicros_ = -1; }
    uint32_t read32() const { return 0; }
    void write32(uint32_t value);
    // Throws BoardReset once the reset is due.
    void check(int64_t nowMicros) const;
    bool pending() const { return dueMicros_ >= 0; }

private:
    std::function<int64_t()> now_;
    int64_t dueMicros_ = -1;
};

}  // namespace sim
