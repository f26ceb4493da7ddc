// Shared pieces of the lrzsz interoperability tests: finding the programs,
// and checking the bytes that arrived.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "harness/line_peer.h"

namespace interop {

// The loader's last line before a transfer starts, as it comes down the
// line (the console driver sends its line feed as CR LF); a person starts
// the terminal program's transfer when it appears.
inline constexpr const char* CONTROL_X_HINT = "Send several Control-X characters to cancel before transfer starts.\r\n\r";

inline constexpr uint8_t PAD_BYTE = 0x1A;  // SUB fills a plain XMODEM file's last block
inline constexpr size_t RECORD = 128;

// Skips the test, naming the first of the programs missing from PATH.
#define SKIP_WITHOUT(...)                                                                              \
    for (const char* program_ : {__VA_ARGS__}) {                                                       \
        if (!::interop::programAvailable(program_)) {                                                  \
            GTEST_SKIP() << "not installed: " << program_ << " (Debian packages lrzsz and socat)";     \
        }                                                                                              \
    }

// A plain XMODEM receiver cannot know the length: the file is the original
// followed by the SUB padding of its last block, which is shorter than the
// given block size.
inline void expectPaddedCopy(const std::vector<uint8_t>& received, const std::vector<uint8_t>& original,
                             size_t lastBlockMax) {
    ASSERT_GE(received.size(), original.size()) << "the file arrived short";
    EXPECT_EQ(received.size() % RECORD, 0u) << "not whole blocks";
    EXPECT_LT(received.size() - original.size(), lastBlockMax) << "more padding than one last block holds";
    EXPECT_TRUE(std::equal(original.begin(), original.end(), received.begin())) << "the data differ";
    const auto odd = std::find_if(received.begin() + static_cast<long>(original.size()), received.end(),
                                  [](uint8_t byte) { return byte != PAD_BYTE; });
    EXPECT_TRUE(odd == received.end()) << "padding byte " << odd - received.begin() << " is not SUB";
}

// Exactly the original (YMODEM carries the length).
inline void expectExactCopy(const std::vector<uint8_t>& received, const std::vector<uint8_t>& original) {
    EXPECT_TRUE(received == original) << received.size() << " bytes arrived of " << original.size();
}

}  // namespace interop
