#include "diag/sdram_test.h"

#include <cstdio>
#include <cstring>

#include "common/bytes.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr uint32_t WORD = 4;
constexpr uint32_t ALL_ONES = 0xFFFFFFFF;
constexpr size_t WROTE_LINE_SIZE = 32;

// The offset of the first 32-bit word of the bytes that is not the value
// (given as a repeated byte: 0x00 or 0xFF), or the length.
size_t firstOtherWord(const uint8_t* bytes, size_t length, uint8_t fillByte) {
    uint64_t pattern;
    std::memset(&pattern, fillByte, sizeof pattern);
    size_t i = 0;
    for (; i + sizeof pattern <= length; i += sizeof pattern) {
        uint64_t chunk;
        std::memcpy(&chunk, bytes + i, sizeof chunk);
        if (chunk != pattern) {
            break;
        }
    }
    for (; i < length; ++i) {
        if (bytes[i] != fillByte) {
            return i - i % WORD;
        }
    }
    return length;
}

}  // namespace

void SdramTest::report(const char* title, uint32_t location, const char* wroteLine, uint32_t read) {
    Stdio& io = loader_.io;
    io.printf("%s", title);
    io.printf("Location 0x%08x\n", location);
    io.printf("%s", wroteLine);
    io.printf("Read     0x%08x\n", read);
}

void SdramTest::fill(uint32_t address, uint32_t length, uint32_t value) {
    Bus& bus = loader_.p.bus;
    const uint32_t end = address + length;
    while (address < end) {
        uint32_t pieceEnd = (address / SDRAM_TEST_PIECE + 1) * SDRAM_TEST_PIECE;
        uint32_t piece = (pieceEnd < end ? pieceEnd : end) - address;
        std::span<uint8_t> view = bus.ramView(address, piece);
        if (!view.empty()) {
            std::memset(view.data(), static_cast<int>(value & 0xFF), piece);
        } else {
            for (uint32_t a = address; a < address + piece; a += WORD) {
                bus.write32(a, value);
            }
        }
        address += piece;
    }
}

bool SdramTest::firstDifference(uint32_t address, uint32_t length, uint32_t expected, bool replace,
                                uint32_t replacement, uint32_t& where, uint32_t& read) {
    Bus& bus = loader_.p.bus;
    const uint32_t end = address + length;
    while (address < end) {
        uint32_t pieceEnd = (address / SDRAM_TEST_PIECE + 1) * SDRAM_TEST_PIECE;
        uint32_t piece = (pieceEnd < end ? pieceEnd : end) - address;
        std::span<uint8_t> view = bus.ramView(address, piece);
        if (!view.empty()) {
            // One view is a run of distinct cells: no word of it can reach
            // another, so checking it whole before rewriting it is the same
            // as the word-by-word walk.
            size_t at = firstOtherWord(view.data(), piece, static_cast<uint8_t>(expected));
            if (at < piece) {
                where = address + static_cast<uint32_t>(at);
                read = getBe32(view.data() + at);
                return true;
            }
            if (replace) {
                std::memset(view.data(), static_cast<int>(replacement & 0xFF), piece);
            }
        } else {
            for (uint32_t a = address; a < address + piece; a += WORD) {
                uint32_t value = bus.read32(a);
                if (value != expected) {
                    where = a;
                    read = value;
                    return true;
                }
                if (replace) {
                    bus.write32(a, replacement);
                }
            }
        }
        address += piece;
    }
    return false;
}

bool SdramTest::walkingTest(uint32_t base, size_t size, bool inverted) {
    Bus& bus = loader_.p.bus;
    const uint64_t end = static_cast<uint64_t>(base) + size;
    uint64_t step = 0;
    for (uint64_t address = base; address + WORD <= end; step = step == 0 ? WORD : step * 2, address = base + step) {
        for (int b = 0; b < 32; ++b) {
            uint32_t pattern = 1u << b;
            if (inverted) {
                pattern = ~pattern;
            }
            bus.write32(static_cast<uint32_t>(address), pattern);
            uint32_t value = bus.read32(static_cast<uint32_t>(address));
            if (value != pattern) {
                char wroteLine[WROTE_LINE_SIZE];
                std::snprintf(wroteLine, sizeof wroteLine, "Wrote    0x%08x\n", pattern);
                report(inverted ? "SDRAM walking 0's test failed.\n" : "SDRAM walking 1's test failed.\n",
                       static_cast<uint32_t>(address), wroteLine, value);
                return false;
            }
        }
    }
    return true;
}

bool SdramTest::aliasingTest(uint32_t base, size_t size) {
    const uint32_t length = static_cast<uint32_t>(size - size % WORD);
    uint32_t where = 0;
    uint32_t read = 0;
    fill(base, length, 0);
    if (firstDifference(base, length, 0, true, ALL_ONES, where, read)) {
        report("SDRAM Address Aliasing error.\n", where, "Wrote    0x00000000\n", read);
        return false;
    }
    if (firstDifference(base, length, ALL_ONES, false, 0, where, read)) {
        report("SDRAM Address Aliasing error.\n", where, "Wrote    0xFFFFFFFF\n", read);
        return false;
    }
    return true;
}

void SdramTest::sdramTest() {
    Stdio& io = loader_.io;
    Memory& memory = loader_.p.memory;
    const size_t size = memory.largestFreeBlock();
    io.printf("Allocating memory of size 0x%08x...\n", static_cast<uint32_t>(size));
    MemoryBlock block = size >= WORD ? memory.allocate(size) : MemoryBlock{};
    if (!block) {
        io.printf("SDRAM test: could not allocate 0x%08x bytes; test not run.\n", static_cast<uint32_t>(size));
        return;
    }
    const uint32_t base = block.address;
    fill(base, static_cast<uint32_t>(size - size % WORD), 0);

    io.printf("SDRAM walking 1's test...\n");
    bool passed = walkingTest(base, size, false);
    if (passed) {
        io.printf("SDRAM walking 0's test...\n");
        passed = walkingTest(base, size, true);
    }
    if (passed) {
        io.printf("SDRAM Address Aliasing test...\n");
        passed = aliasingTest(base, size);
    }
    if (passed) {
        io.printf("SDRAM tests completed successfully.\n\n");
    }
    memory.free(base);
}

}  // namespace swboot
