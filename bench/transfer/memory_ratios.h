// The in-memory halves of the speed table, each measured side by side with
// its yardstick: runs of the two alternate, and the medians are compared.
#pragma once

#include <utility>

namespace speedbench {

using Pair = std::pair<double, double>;

// Bytes per second of the image CRC-16 and of zlib's crc32 over the same
// 16 MiB buffer.
Pair imageCrcAgainstZlib();
// Seconds of a boot to hand-over of a 16 MiB image on virtual time, and of
// one read of the file, one inflate and one CRC pass of the same image.
Pair bootAgainstFloor();

}  // namespace speedbench
