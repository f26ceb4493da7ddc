// The big-endian test build runs big-endian: a build that ran its tests on
// the host instead cannot pass.
#include <bit>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "common/bytes.h"

#ifdef SWBOOT_EXPECT_BIG_ENDIAN
TEST(ByteOrder, TheTestsRunBigEndian) {
    EXPECT_EQ(std::endian::native, std::endian::big);
    // The same, seen in memory at run time: a word's most significant byte comes first.
    uint32_t word = 0x01020304;
    uint8_t bytes[4];
    std::memcpy(bytes, &word, sizeof word);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(swboot::getBe32(bytes), word);
}
#endif
