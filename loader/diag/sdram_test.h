// The RAM test of the utilities menu: walking ones and zeros on a chain of
// addresses, then an address aliasing test, over the largest block the
// memory pool can spare.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

class Loader;

// Bulk work goes through direct views of RAM in pieces of this size, each
// aligned to it, so that a piece the board cannot give as one view (a bad
// cell or a folded address range in it) is done word by word on the bus.
inline constexpr uint32_t SDRAM_TEST_PIECE = 0x10000;

class SdramTest {
public:
    explicit SdramTest(Loader& loader) : loader_(loader) {}

    void sdramTest();

private:
    // Walking ones (inverted false) or zeros over the probe addresses; true
    // when every probe read back what was written.
    bool walkingTest(uint32_t base, size_t size, bool inverted);
    // The aliasing test; true when it passed.
    bool aliasingTest(uint32_t base, size_t size);
    // Fills the words of [address, address+length) with a value.
    void fill(uint32_t address, uint32_t length, uint32_t value);
    // Checks that every word of [address, address+length) reads expected,
    // writing replacement after each good word when replace is set. The
    // address of the first word that differs, with what it read, or false.
    bool firstDifference(uint32_t address, uint32_t length, uint32_t expected, bool replace, uint32_t replacement,
                         uint32_t& where, uint32_t& read);
    // A failure: its title, the address, the line of what was written (the
    // walking tests show their pattern, the aliasing test its fixed value)
    // and what was read.
    void report(const char* title, uint32_t location, const char* wroteLine, uint32_t read);

    Loader& loader_;
};

}  // namespace swboot
