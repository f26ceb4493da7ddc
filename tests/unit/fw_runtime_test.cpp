// The firmware's C runtime held against the host: its formatting and
// scanning against the host's C library for every format the loader uses,
// its string functions against the host's, and its memory pool against the
// simulated board's pool, address by address.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "board/ram.h"
#include "host/sim_heap.h"
#include "platform/status.h"
#include "runtime/heap.h"
#include "runtime/runtime.h"

namespace {

// One format and its arguments through both libraries, into buffers of
// every telling size: none (a null buffer too), one byte, cut in the middle,
// one short, exact, roomy. The bytes past the size must be left alone.
template <typename... Args>
void expectFormatsAsHost(const char* format, Args... args) {
    SCOPED_TRACE(format);
    const int length = std::snprintf(nullptr, 0, format, args...);
    ASSERT_GE(length, 0);
    const size_t whole = static_cast<size_t>(length);
    EXPECT_EQ(fwrt::snprintf(nullptr, 0, format, args...), length);
    for (size_t size : {size_t{0}, size_t{1}, whole / 2, whole, whole + 1, whole + 8}) {
        std::vector<char> host(whole + 9, '#');
        std::vector<char> ours(whole + 9, '#');
        EXPECT_EQ(fwrt::snprintf(ours.data(), size, format, args...), length) << "size " << size;
        std::snprintf(host.data(), size, format, args...);
        EXPECT_EQ(std::string(ours.begin(), ours.end()), std::string(host.begin(), host.end())) << "size " << size;
    }
}

// The conversions of the loader's format strings, each with more around it
// (flags, widths and precisions together, lengths), crossed with the
// values at the edges of their types.
const char* const INT_FORMATS[] = {
    "%d", "%2d", "%02d", "%06d", "%.2d", "% 3d", "%4d", "%04d", "%-9d|", "%+d", "%i", "%5.3d", "%-+6d|",
    "%0+5d", "% 05d", "%.0d", "%-06d|", "%08.3d", "%c", "%-3c|", "%3c", "%hhd", "%hd", "%hhx", "%hu",
};
const int INT_VALUES[] = {0, 1, -1, 7, 42, -42, 'A', 255, 999999, 123456789, INT_MAX, INT_MIN};

const char* const UNSIGNED_FORMATS[] = {
    "%u", "%x", "%02x", "%08x", "%04x", "%.8x", "%o", "%X", "%02X", "%#x", "%1x", "%10u", "%#o",
    "%#X", "%#08x", "%-8x|", "%.0x", "%#.0o", "%#.3o", "%#5o", "%#.0x", "%0#10X", "%.10u", "%010.4x",
};
const unsigned UNSIGNED_VALUES[] = {0, 1, 7, 8, 15, 16, 255, 0x1234, 0x7FFFFFFF, 0x80000000, 0xDEADBEEF, UINT32_MAX};

// size_t and ptrdiff_t are as wide as long on the host and on the board.
const char* const LONG_FORMATS[] = {"%ld", "%4ld", "%lo", "%08lX", "%lu", "%-10lu|",
                                    "%lx", "%+ld", "%li", "%zu", "%zd", "%td"};
const long LONG_VALUES[] = {0, 1, -1, 1000, -1000, INT32_MIN, INT32_MAX, LONG_MAX, LONG_MIN};

const char* const LONG_LONG_FORMATS[] = {"%lld", "%llu", "%llx", "%20lld", "%-20llo|", "%jd", "%jx"};
const long long LONG_LONG_VALUES[] = {0, -1, 4294967296LL, -4294967296LL, LLONG_MAX, LLONG_MIN};

const char* const STRING_FORMATS[] = {"%s",   "%.15s", "%-32.32s|", "%5s", "%-5s|", "%.0s",
                                      "%.3s", "%.5s",  "%.6s",      "%10.2s", "%%%s%%"};
const char* const STRING_VALUES[] = {"", "a", "Jan", "a much longer text than thirty-two characters", "\x7f\x80\xff",
                                     nullptr};

template <typename Formats, typename Values>
void expectEachFormatsAsHost(const Formats& formats, const Values& values) {
    for (const char* format : formats) {
        for (auto value : values) {
            expectFormatsAsHost(format, value);
        }
    }
}

TEST(FwRuntimeFormat, EveryConversionOfTheLoaderWithEdgeValuesAsTheHost) {
    expectEachFormatsAsHost(INT_FORMATS, INT_VALUES);
    expectEachFormatsAsHost(UNSIGNED_FORMATS, UNSIGNED_VALUES);
    expectEachFormatsAsHost(LONG_FORMATS, LONG_VALUES);
    expectEachFormatsAsHost(LONG_LONG_FORMATS, LONG_LONG_VALUES);
    expectEachFormatsAsHost(STRING_FORMATS, STRING_VALUES);
}

TEST(FwRuntimeFormat, WholeLinesAndArgumentWidthsAsTheHost) {
    expectFormatsAsHost("<%d> %.15s STK1 BOOT[0x%x]: %s(%d) %d %%%% %s", 185, "Dec  7 08:54:48 2026", 0x1F00u,
                        "code_load.cpp", 1234, -1, "Image loaded");
    expectFormatsAsHost("VPD - rel %c |%c|", 0, 'A');  // a character 0 is written and counted
    expectFormatsAsHost("%*d|%-*d|%*d", 6, 42, 6, 42, -6, 42);
    expectFormatsAsHost("%.*s|%.*s|%*.*s", 3, "abcdef", -1, "abcdef", 8, 2, "abcdef");
    expectFormatsAsHost("%p|%p|%20p", static_cast<void*>(nullptr), reinterpret_cast<void*>(0x1234),
                        reinterpret_cast<void*>(0xFFFFFFF0u));
    expectFormatsAsHost("no conversions at all");
    expectFormatsAsHost("");
}

// The texts a scan meets: numbers of every base and sign, numbers past the
// limits of int, long and 64 bits, malformed and missing ones, spaces.
const char* const SCAN_TEXTS[] = {
    "", "   ", "0", "-0", "+7", "-", "+", "x", "12 34", "12,34", "a12b34", "0x1f 017", "0x", "0xg", "0X1F",
    "2147483647", "2147483648", "-2147483648", "-2147483649", "-9223372036854775808", "-9223372036854775809",
    "4294967295", "4294967296", "9223372036854775808",
    "99999999999999999999", "-99999999999999999999", "-1", "123456", "  \t\n 5 6\t7", "1 2 3 4 5 6 7 8",
    "123 14000000000 100644 0 1 5000 0", "4096 14000000000 100644", "-5 778 9 1", "12abc", "1 - 2", "08 09",
    "abc def", "ab", "a", "%5",
};

// Besides the loader's one format (the YMODEM header's), formats into
// int-sized objects, so that every conversion and directive kind is held
// against the host, and text and 64-bit conversions.
const char* const SCAN_INT_FORMATS[] = {
    "%d", "%d%d%d", "%d %d", "%i%i", "%x%o", "%X", "%u", "%2d%d", "%*d%d", "a%db%d", "%d,%d", " %d", "%d %%%d",
    "%1d%1d", "%3x", "%o%o", "%hhd", "%hd", "%d%n", "%*s%d", "%d a",
};
const char* const SCAN_TEXT_FORMATS[] = {"%s", "%3s%s", "%c", "%2c", " %c", "%s %s", "%5c"};

TEST(FwRuntimeScan, EveryConversionAndDirectiveReadsAsTheHost) {
    for (const char* text : SCAN_TEXTS) {
        SCOPED_TRACE(text);
        const char* const header = "%ld%lo%o%o%d%ld%d";
        struct Fields {
            long length = 11;
            unsigned long time = 13;
            unsigned mode = 14, serial = 15;
            int files = 16;
            long bytes = 12;
            int type = 17;
            bool operator==(const Fields&) const = default;
        } host, ours;
        EXPECT_EQ(fwrt::sscanf(text, header, &ours.length, &ours.time, &ours.mode, &ours.serial, &ours.files,
                               &ours.bytes, &ours.type),
                  std::sscanf(text, header, &host.length, &host.time, &host.mode, &host.serial, &host.files,
                              &host.bytes, &host.type));
        EXPECT_TRUE(ours == host) << ours.length << " " << ours.time << " " << ours.mode << " " << ours.serial << " "
                                  << ours.files << " " << ours.bytes << " " << ours.type;
        for (const char* format : SCAN_INT_FORMATS) {
            SCOPED_TRACE(format);
            std::vector<int> hostInts = {-7, -7, -7}, ourInts = hostInts;
            EXPECT_EQ(fwrt::sscanf(text, format, &ourInts[0], &ourInts[1], &ourInts[2]),
                      std::sscanf(text, format, &hostInts[0], &hostInts[1], &hostInts[2]));
            EXPECT_EQ(ourInts, hostInts);
        }
        for (const char* format : SCAN_TEXT_FORMATS) {
            SCOPED_TRACE(format);
            char hostTexts[2][64];
            char ourTexts[2][64];
            std::memset(hostTexts, 'Z', sizeof hostTexts);
            std::memset(ourTexts, 'Z', sizeof ourTexts);
            EXPECT_EQ(fwrt::sscanf(text, format, ourTexts[0], ourTexts[1]),
                      std::sscanf(text, format, hostTexts[0], hostTexts[1]));
            EXPECT_EQ(std::memcmp(ourTexts, hostTexts, sizeof hostTexts), 0);
        }
        std::vector<long long> hostWide = {-7, -7}, ourWide = {-7, -7};
        EXPECT_EQ(fwrt::sscanf(text, "%lld%llx", &ourWide[0], &ourWide[1]),
                  std::sscanf(text, "%lld%llx", &hostWide[0], &hostWide[1]));
        EXPECT_EQ(ourWide, hostWide);
    }
}

int sign(long value) { return (value > 0) - (value < 0); }

const char* const STRINGS[] = {"", "a", "abc", "abd", "ab", "hello world", "aXbXc", "XbX", "\x7f\x80\xff", "\x80"};

TEST(FwRuntimeStrings, SearchAndCompareAsTheHost) {
    for (const char* a : STRINGS) {
        EXPECT_EQ(fwrt::strlen(a), std::strlen(a));
        for (size_t limit : {0, 1, 2, 100}) {
            EXPECT_EQ(fwrt::strnlen(a, limit), strnlen(a, limit)) << a << " " << limit;
        }
        for (int c : {0, int{'a'}, int{'X'}, int{'c'}, int{'z'}, 0x80, 0xff, -128}) {
            EXPECT_EQ(fwrt::strchr(a, c), std::strchr(a, c)) << a << " " << c;
            EXPECT_EQ(fwrt::strrchr(a, c), std::strrchr(a, c)) << a << " " << c;
            EXPECT_EQ(fwrt::memchr(a, c, std::strlen(a)), std::memchr(a, c, std::strlen(a))) << a << " " << c;
        }
        for (const char* b : STRINGS) {
            EXPECT_EQ(sign(fwrt::strcmp(a, b)), sign(std::strcmp(a, b))) << a << " " << b;
            const size_t common = std::min(std::strlen(a), std::strlen(b)) + 1;  // up to the shorter's terminator
            EXPECT_EQ(sign(fwrt::memcmp(a, b, common)), sign(std::memcmp(a, b, common))) << a << " " << b;
            EXPECT_EQ(fwrt::strstr(a, b), std::strstr(a, b)) << a << " " << b;
            EXPECT_EQ(fwrt::strspn(a, b), std::strspn(a, b)) << a << " " << b;
            EXPECT_EQ(fwrt::strcspn(a, b), std::strcspn(a, b)) << a << " " << b;
        }
    }
    for (int c = -1; c < 256; ++c) {
        EXPECT_EQ(fwrt::tolower(c), std::tolower(c)) << c;
        EXPECT_EQ(fwrt::toupper(c), std::toupper(c)) << c;
    }
}

TEST(FwRuntimeStrings, CopiesFillsAndMovesAtEveryAlignmentAndOverlap) {
    uint8_t source[96];
    for (size_t i = 0; i < sizeof source; ++i) {
        source[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    for (size_t to = 0; to < 8; ++to) {
        for (size_t from = 0; from < 8; ++from) {
            for (size_t length = 0; length < 40; length += (length < 12 ? 1 : 5)) {
                SCOPED_TRACE(::testing::Message() << "to " << to << " from " << from << " length " << length);
                uint8_t ours[96];
                uint8_t host[96];
                std::memset(ours, 0xEE, sizeof ours);
                std::memset(host, 0xEE, sizeof host);
                EXPECT_EQ(fwrt::memcpy(ours + to, source + from, length), ours + to);
                std::memcpy(host + to, source + from, length);
                EXPECT_EQ(std::memcmp(ours, host, sizeof ours), 0);
                EXPECT_EQ(fwrt::memset(ours + from, 0x5A0 + static_cast<int>(to), length), ours + from);
                std::memset(host + from, 0x5A0 + static_cast<int>(to), length);
                EXPECT_EQ(std::memcmp(ours, host, sizeof ours), 0);
                // Both directions of an overlap inside one buffer.
                EXPECT_EQ(fwrt::memmove(ours + to + 8, ours + from, length), ours + to + 8);
                std::memmove(host + to + 8, host + from, length);
                EXPECT_EQ(fwrt::memmove(ours + from, ours + to + 4, length), ours + from);
                std::memmove(host + from, host + to + 4, length);
                EXPECT_EQ(std::memcmp(ours, host, sizeof ours), 0);
            }
        }
    }
    for (size_t size : {0, 2, 3, 4, 8}) {
        char ours[10];
        char host[10];
        std::memset(ours, '#', sizeof ours);
        std::memset(host, '#', sizeof host);
        EXPECT_EQ(fwrt::strncpy(ours, "abc", size), ours);
        std::strncpy(host, "abc", size);  // NOLINT: the padding and the missing terminator are the point
        EXPECT_EQ(std::string(ours, sizeof ours), std::string(host, sizeof host)) << size;
    }
}

TEST(FwRuntimeHeap, GivesTheSimulatedBoardsAddressesForOneRandomSequence) {
    sim::Ram ram;
    sim::SimHeap board(ram);
    fwrt::Heap heap;
    heap.init(fwrt::Heap::BOARD_BASE, fwrt::Heap::BOARD_SIZE, nullptr);

    std::mt19937 random(19);
    std::vector<uint32_t> live;
    for (int step = 0; step < 10000; ++step) {
        SCOPED_TRACE(step);
        const unsigned pick = random() % 100;
        // Allocations outweigh frees until about 600 blocks live, and a few
        // frees are of addresses that are no block in use.
        if (pick < 55 && live.size() < 600) {
            size_t size = pick < 30 ? random() % 300 : pick < 50 ? random() % 70000 : random() % 0x01000000;
            if (pick == 54) {
                size = fwrt::Heap::BOARD_SIZE + random() % 2;  // the whole pool, or one byte more
            }
            const swboot::MemoryBlock expected = board.allocate(size);
            const uint32_t address = heap.allocate(size);
            ASSERT_EQ(address, expected.address) << "size " << size;
            if (address != 0) {
                live.push_back(address);
            }
        } else if (!live.empty()) {
            const size_t index = random() % live.size();
            uint32_t address = live[index];
            if (pick % 10 == 0) {
                address += 16 * (1 + random() % 2);  // inside a block
            } else {
                live.erase(live.begin() + static_cast<long>(index));
            }
            ASSERT_EQ(heap.free(address), board.free(address)) << "address " << address;
        }
        ASSERT_EQ(heap.largestFreeBlock(), board.largestFreeBlock());
        ASSERT_EQ(heap.blocksInUse(), board.blocksInUse());
    }
}

TEST(FwRuntimeHeap, FailsWhenTheRecordTableIsFull) {
    fwrt::Heap heap;
    heap.init(0x1000, 0x100000, nullptr);
    // Each block in use and the free rest need a record each.
    std::vector<uint32_t> blocks;
    for (uint32_t address; (address = heap.allocate(1)) != 0;) {
        blocks.push_back(address);
    }
    EXPECT_EQ(blocks.size(), fwrt::Heap::MAX_RECORDS - 1);
    EXPECT_EQ(blocks.back(), 0x1000 + 16 * (fwrt::Heap::MAX_RECORDS - 2));
    // A freed block between two in use needs no new record to be given again.
    EXPECT_EQ(heap.free(blocks[5]), swboot::OK);
    EXPECT_EQ(heap.allocate(32), 0u);
    EXPECT_EQ(heap.allocate(16), blocks[5]);
}

TEST(FwRuntimeHeap, RefusesWhatIsNoBlockAndWhatCannotFit) {
    fwrt::Heap heap;
    EXPECT_EQ(heap.allocate(1), 0u);  // before init: an empty pool
    heap.init(0x2000, 0x100, nullptr);
    const uint32_t a = heap.allocate(0);
    EXPECT_EQ(a, 0x2000u);
    EXPECT_EQ(heap.allocate(0x100), 0u);
    EXPECT_EQ(heap.largestFreeBlock(), 0xF0u);
    EXPECT_EQ(heap.free(0), swboot::ERROR);
    EXPECT_EQ(heap.free(a), swboot::OK);
    EXPECT_EQ(heap.allocate(0x101), 0u);
    EXPECT_EQ(heap.allocate(0x100), 0x2000u);
    // A size whose rounding would wrap around 32 bits is refused, not
    // given as an empty block.
    heap.init(0x10, UINT32_MAX, nullptr);
    EXPECT_EQ(heap.allocate(UINT32_MAX), 0u);
    EXPECT_EQ(heap.allocate(SIZE_MAX), 0u);
}

TEST(FwRuntimeHeap, MallocCallocAndFreeWorkThroughTheWindow) {
    alignas(16) static uint8_t pool[4096];
    std::memset(pool, 0xAA, sizeof pool);
    fwrt::Heap heap;
    heap.init(0x04000000, sizeof pool, pool);
    auto* a = static_cast<uint8_t*>(fwrt::malloc(heap, 100));
    ASSERT_EQ(a, pool);
    auto* b = static_cast<uint8_t*>(fwrt::calloc(heap, 10, 20));
    ASSERT_EQ(b, pool + 112);
    EXPECT_EQ(heap.address(b), 0x04000070u);
    EXPECT_TRUE(std::all_of(b, b + 200, [](uint8_t v) { return v == 0; }));
    EXPECT_EQ(b[200], 0xAA);  // no more than asked was cleared
    EXPECT_EQ(fwrt::calloc(heap, SIZE_MAX / 2 + 1, 2), nullptr);  // the product wraps around
    EXPECT_EQ(fwrt::malloc(heap, sizeof pool), nullptr);
    uint8_t outside = 0;
    fwrt::free(heap, &outside);
    fwrt::free(heap, nullptr);
    EXPECT_EQ(heap.blocksInUse(), 2u);
    fwrt::free(heap, a);
    EXPECT_EQ(fwrt::malloc(heap, 112), a);
}

}  // namespace
