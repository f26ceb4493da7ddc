// The board's power supply as far as stored data cares: every persistent
// step (a volume file create, write, truncate, rename or delete; a flash
// program or erase) is counted, and the power can be made to fail at a
// chosen step. The medium then leaves that step half done -- the caller
// decides how, with the reproducible random numbers given here -- and the
// board powers up again from what is stored.
#pragma once

#include <cstdint>
#include <string>

#include "board/board_events.h"

namespace sim {

class PowerCut {
public:
    // Counts one persistent step; true when the power fails at this one.
    // The caller leaves the step as the medium would and calls cut().
    bool step() {
        ++steps_;
        return armedAt_ != 0 && steps_ == armedAt_;
    }
    // Ends the loader's run: the board loses power and comes up again.
    [[noreturn]] void cut(const std::string& what) {
        armedAt_ = 0;
        ++cuts_;
        throw BoardPowerCut{{"power cut at persistent step " + std::to_string(steps_) + ": " + what}};
    }

    // Control face: fail at the given step counted from now (1 is the next
    // one; 0 never); the seed makes the half-done results reproducible.
    void armAfter(uint64_t steps, uint64_t seed = 0) {
        armedAt_ = steps == 0 ? 0 : steps_ + steps;
        seed_ = seed;
    }
    bool armed() const { return armedAt_ != 0; }
    uint64_t steps() const { return steps_; }
    uint64_t cuts() const { return cuts_; }

    // A number below the bound, fixed by the seed and the step.
    uint64_t random(uint64_t bound) {
        if (bound == 0) {
            return 0;
        }
        uint64_t z = seed_ + 0x9E3779B97F4A7C15ull * (steps_ + ++draws_);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return z % bound;
    }

private:
    uint64_t steps_ = 0;
    uint64_t armedAt_ = 0;
    uint64_t seed_ = 0;
    uint64_t draws_ = 0;
    uint64_t cuts_ = 0;
};

}  // namespace sim
