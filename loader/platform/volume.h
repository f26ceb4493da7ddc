// The flash volume: the flash translation layer's mount and format, the
// file system's check, display and statistics.
#pragma once

#include <cstdint>

namespace swboot {

// Format parameters of the flash translation layer.
struct TffsFormatParams {
    uint32_t bootImageLength = 0;
    uint32_t percentUse = 99;
    uint32_t noOfSpareUnits = 1;
    uint32_t vmAddressingLimit = 0x10000;
    uint32_t noOfFatCopies = 2;
    uint32_t embeddedCisLength = 0;
    uint32_t formatFlags = 1;
};

struct VolumeStatistics {
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    uint32_t freeBlocks = 0;
};

class Volume {
public:
    virtual ~Volume() = default;

    // Mounts the flash drive as the named volume. OK, or a non-zero status
    // when the medium carries no format.
    virtual int usrTffsConfig(int drive, int removable, const char* name) = 0;
    // Formats the flash drive, emptying the volume. OK or a failure status.
    virtual int tffsDevFormat(int drive, const TffsFormatParams& params) = 0;
    // Checks the file system; a status, or ERROR when checking is not offered.
    virtual int dosFsChkDsk(const char* name, uint32_t mode) = 0;
    // Prints the volume's description on the console at the given detail.
    virtual int volumeShow(const char* name, int level) = 0;
    // Statistics of the volume that holds an open file. OK or ERROR.
    virtual int statistics(int fd, VolumeStatistics& statistics) = 0;
};

}  // namespace swboot
