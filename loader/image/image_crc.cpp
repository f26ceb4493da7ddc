#include "image/image_crc.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SWBOOT_CRC_FOLDING 1
#endif

namespace swboot {

namespace {

// The generator with its x^16 term.
constexpr uint32_t GENERATOR = 0x10000u | IMAGE_CRC_POLYNOMIAL;

// v times x^8, modulo the generator, for a 16-bit v.
constexpr uint16_t timesX8(uint16_t v) {
    uint32_t r = v;
    for (int bit = 0; bit < 8; ++bit) {
        r <<= 1;
        if (r & 0x10000u) {
            r ^= GENERATOR;
        }
    }
    return static_cast<uint16_t>(r);
}

// x^n modulo the generator.
constexpr uint16_t xPower(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000u) {
            r ^= GENERATOR;
        }
    }
    return static_cast<uint16_t>(r);
}

// SLICES[k][v] is v times x^(8 (k + 2)) modulo the generator. A step of
// sixteen bytes b0..b15 from register r gives
//   r_hi x^136 + r_lo x^128 + b0 x^120 + ... + b13 x^16 + b14 x^8 + b15,
// the last two terms needing no reduction. SLICES[0] is the byte table.
constexpr size_t SLICE_BYTES = 16;
using SliceTables = std::array<std::array<uint16_t, 256>, SLICE_BYTES>;

constexpr SliceTables buildSlices() {
    SliceTables t{};
    for (unsigned v = 0; v < 256; ++v) {
        t[0][v] = timesX8(static_cast<uint16_t>(v << 8));
        for (size_t k = 1; k < SLICE_BYTES; ++k) {
            t[k][v] = timesX8(t[k - 1][v]);
        }
    }
    return t;
}

constexpr SliceTables SLICES = buildSlices();

static_assert(SLICES[0][1] == 0xA097 && SLICES[0][2] == 0xE1B9 && SLICES[0][255] == 0xF087,
              "the byte table of the image CRC");

}  // namespace

void ImageCrc::crc16TableBuild() {
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        unsigned c = i;
        for (int bit = 0; bit < 8; ++bit) {
            if (((r >> 15) & 1) != ((c >> 7) & 1)) {
                r = ((r << 1) & 0xFFFF) ^ IMAGE_CRC_POLYNOMIAL;
            } else {
                r = (r << 1) & 0xFFFF;
            }
            c = (c << 1) & 0xFF;
        }
        table_[i] = static_cast<uint16_t>(r);
    }
}

uint16_t ImageCrc::compute(const uint8_t* data, size_t length) {
    crc16TableBuild();
    return crc16Continue(0, data, length);
}

uint16_t crc16Sliced(uint16_t crc, const uint8_t* data, size_t length) {
    const auto& t = SLICES;
    unsigned r = crc;
    while (length >= SLICE_BYTES) {
        const uint8_t* p = data;
        r = t[15][r >> 8] ^ t[14][r & 0xFF] ^ t[13][p[0]] ^ t[12][p[1]] ^ t[11][p[2]] ^ t[10][p[3]] ^
            t[9][p[4]] ^ t[8][p[5]] ^ t[7][p[6]] ^ t[6][p[7]] ^ t[5][p[8]] ^ t[4][p[9]] ^ t[3][p[10]] ^
            t[2][p[11]] ^ t[1][p[12]] ^ t[0][p[13]] ^ (static_cast<unsigned>(p[14]) << 8) ^ p[15];
        data += SLICE_BYTES;
        length -= SLICE_BYTES;
    }
    while (length-- > 0) {
        r = ((r << 8) & 0xFFFF) ^ t[0][r >> 8] ^ *data++;
    }
    return static_cast<uint16_t>(r);
}

#if SWBOOT_CRC_FOLDING

bool crc16FoldingAvailable() { return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3"); }

namespace {

// Sixteen bytes as a 128-bit polynomial: the first byte's top bit is the
// highest coefficient.
__attribute__((target("pclmul,ssse3"))) inline __m128i loadBlock(const uint8_t* p) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

// a times x^d plus b, congruent modulo the generator: the constants are
// x^(d + 64) (high lane) and x^d (low lane) modulo the generator, so each
// product has at most 79 bits and the sum stays within 128.
__attribute__((target("pclmul,ssse3"))) inline __m128i fold(__m128i a, __m128i b, __m128i constants) {
    return _mm_xor_si128(b, _mm_xor_si128(_mm_clmulepi64_si128(a, constants, 0x11),
                                          _mm_clmulepi64_si128(a, constants, 0x00)));
}

}  // namespace

__attribute__((target("pclmul,ssse3"))) uint16_t crc16Folded(uint16_t crc, const uint8_t* data, size_t length) {
    constexpr size_t BLOCK = 16;
    constexpr size_t LANES = 4;
    constexpr size_t STRIDE = BLOCK * LANES;
    if (length < STRIDE) {
        return crc16Sliced(crc, data, length);
    }
    const __m128i byStride = _mm_set_epi64x(xPower(8 * STRIDE + 64), xPower(8 * STRIDE));
    const __m128i byBlock = _mm_set_epi64x(xPower(8 * BLOCK + 64), xPower(8 * BLOCK));

    // The register stands just above the first block: crc x^128 is
    // congruent to crc times (x^128 mod generator), a 31-bit product.
    __m128i lane0 = _mm_xor_si128(
        loadBlock(data), _mm_clmulepi64_si128(_mm_cvtsi32_si128(crc), _mm_cvtsi32_si128(xPower(8 * BLOCK)), 0x00));
    __m128i lane1 = loadBlock(data + BLOCK);
    __m128i lane2 = loadBlock(data + 2 * BLOCK);
    __m128i lane3 = loadBlock(data + 3 * BLOCK);
    data += STRIDE;
    length -= STRIDE;
    while (length >= STRIDE) {
        lane0 = fold(lane0, loadBlock(data), byStride);
        lane1 = fold(lane1, loadBlock(data + BLOCK), byStride);
        lane2 = fold(lane2, loadBlock(data + 2 * BLOCK), byStride);
        lane3 = fold(lane3, loadBlock(data + 3 * BLOCK), byStride);
        data += STRIDE;
        length -= STRIDE;
    }
    __m128i sum = fold(fold(fold(lane0, lane1, byBlock), lane2, byBlock), lane3, byBlock);
    while (length >= BLOCK) {
        sum = fold(sum, loadBlock(data), byBlock);
        data += BLOCK;
        length -= BLOCK;
    }
    // What is left is the 128-bit sum followed by fewer than sixteen bytes:
    // their remainder, as a message of its own.
    uint8_t rest[2 * BLOCK];
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), _mm_shuffle_epi8(sum, reverse));
    for (size_t i = 0; i < length; ++i) {
        rest[BLOCK + i] = data[i];
    }
    return crc16Sliced(0, rest, BLOCK + length);
}

uint16_t crc16Continue(uint16_t crc, const uint8_t* data, size_t length) {
    static const bool folding = crc16FoldingAvailable();
    return folding ? crc16Folded(crc, data, length) : crc16Sliced(crc, data, length);
}

#else

bool crc16FoldingAvailable() { return false; }

uint16_t crc16Folded(uint16_t crc, const uint8_t* data, size_t length) { return crc16Sliced(crc, data, length); }

uint16_t crc16Continue(uint16_t crc, const uint8_t* data, size_t length) { return crc16Sliced(crc, data, length); }

#endif

}  // namespace swboot
