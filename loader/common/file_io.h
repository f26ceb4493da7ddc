// Whole reads from a file: the I/O system may return fewer bytes than asked
// for, so readers that need a count of bytes loop until they have it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

namespace swboot {

// Reads until the count is reached, the file ends or a read fails; the
// bytes read. When failed is given it tells whether a read failed.
inline long readFully(Files& files, int fd, uint8_t* buffer, size_t length, bool* failed = nullptr) {
    size_t done = 0;
    if (failed != nullptr) {
        *failed = false;
    }
    while (done < length) {
        long n = files.read(fd, buffer + done, length - done);
        if (n < 0 && failed != nullptr) {
            *failed = true;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<long>(done);
}

}  // namespace swboot
