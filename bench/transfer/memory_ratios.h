// The in-memory halves of the speed table, each measured side by side with
// its yardstick: runs of the two alternate, and the medians are compared.
#pragma once

#include <utility>

namespace speedbench {

using Pair = std::pair<double, double>;

// Bytes per second of the image CRC-16 and of zlib's crc32 over the same
// 16 MiB buffer.
Pair imageCrcAgainstZlib();
// Seconds of a boot to hand-over of a 16 MiB image on virtual time beside
// one read of the file, one inflate and one CRC pass of the same image;
// and, in a second run of pairs, of the boot beside that work as the boot
// must do it (two reads, the inflate in steps).
struct Boot {
    double boot = 0, floor = 0, bootBesideStepped = 0, stepped = 0;
};
Boot bootAgainstFloor();

}  // namespace speedbench
