// The file system test (copy "image1" through a temporary file with chosen
// write and read sizes and compare) and the directory listing of the
// utilities menu.
#pragma once

#include <cstddef>
#include <cstdint>

namespace swboot {

class Loader;

inline constexpr size_t FS_TEST_BUFFER_SIZE = 0x800000;
inline constexpr size_t FS_TEST_SOURCE_PIECE = 128;
inline constexpr int FS_TEST_MISMATCH_LIMIT = 20;
inline constexpr const char* FS_TEST_SOURCE = "image1";
inline constexpr const char* FS_TEST_TEMP_FILE = "tempcode.bin";

inline constexpr size_t DIR_LISTING_TEXT_SIZE = 4096;
inline constexpr size_t DIR_LISTING_LINE_SIZE = 128;
inline constexpr size_t DIR_LISTING_NAME_WIDTH = 34;
inline constexpr const char* DIR_LISTING_STAT_FILE = "dummy1";

class FsTest {
public:
    explicit FsTest(Loader& loader) : loader_(loader) {}

    void fsTest();
    void dirListingShow();

private:
    // Asks until a line is read; the decimal value of it.
    int numberAsk(const char* question);

    Loader& loader_;
};

}  // namespace swboot
