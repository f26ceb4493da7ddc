// The board's volume with answers set by the test: a mount, format or file
// system check that answers a set status instead of the board's, and a note
// of each such call. Whatever has no set status goes to the board's volume.
#pragma once

#include <optional>
#include <string>

#include "platform/volume.h"

namespace testing_support {

class StatusVolume : public swboot::Volume {
public:
    explicit StatusVolume(swboot::Volume& real) : real_(real) {}
    int usrTffsConfig(int drive, int removable, const char* name) override {
        ++mounts;
        return mountStatus ? *mountStatus : real_.usrTffsConfig(drive, removable, name);
    }
    int tffsDevFormat(int drive, const swboot::TffsFormatParams& params) override {
        ++formats;
        lastFormat = params;
        return formatStatus ? *formatStatus : real_.tffsDevFormat(drive, params);
    }
    int dosFsChkDsk(const char* name, uint32_t mode) override {
        checked = std::string(name) + " " + std::to_string(mode);
        return checkStatus ? *checkStatus : real_.dosFsChkDsk(name, mode);
    }
    int volumeShow(const char* name, int level) override { return real_.volumeShow(name, level); }
    int statistics(int fd, swboot::VolumeStatistics& s) override { return real_.statistics(fd, s); }

    std::optional<int> mountStatus;
    std::optional<int> formatStatus;
    std::optional<int> checkStatus;
    int mounts = 0;
    int formats = 0;
    swboot::TffsFormatParams lastFormat;
    std::string checked;  // "VOLUME MODE" of the last check

private:
    swboot::Volume& real_;
};

}  // namespace testing_support
