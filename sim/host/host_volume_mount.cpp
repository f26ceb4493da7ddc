// Mount, format and power-up of the host volume: the format record in the
// flash window decides whether the volume is there.
#include "host/host_volume.h"

#include "board/flash_array.h"
#include "platform/status.h"

namespace sim {

namespace {

using swboot::ERROR;
using swboot::OK;

}  // namespace

void HostVolume::unmount() {
    closeAll();
    mounted_ = false;
    format_.reset();
    capacity_ = 0;
    used_ = 0;
}

void HostVolume::powerUp() {
    unmount();
    cwd_.reset();
    errno_ = 0;
}

int HostVolume::usrTffsConfig(int drive, int /*removable*/, const char* name) {
    if (drive != DRIVE || name == nullptr || !volumeDeviceNameIs(name)) {
        return fail(swboot::ERRNO_INVALID);
    }
    const auto record = formatRecordRead(flash_);
    if (!record) {
        // The medium lost its format (or never had one): whatever was
        // mounted is gone with it.
        unmount();
        return fail(swboot::ERRNO_IO);
    }
    if (mounted_) {
        return OK;
    }
    store_->rootMake();
    TreeCount count = countTree();
    if (count.unreadable) {
        return fail(swboot::ERRNO_IO);
    }
    format_ = record;
    mediumLost_ = false;
    capacity_ = capacityOf(*record);
    used_ = count.usedBytes;
    mounted_ = true;
    return OK;
}

int HostVolume::tffsDevFormat(int drive, const swboot::TffsFormatParams& params) {
    if (drive != DRIVE || params.percentUse == 0 || params.percentUse > 100) {
        return fail(swboot::ERRNO_INVALID);
    }
    unmount();
    // The format's own erases and record are no loss to the volume.
    struct Formatting {
        bool& flag;
        explicit Formatting(bool& f) : flag(f) { flag = true; }
        ~Formatting() { flag = false; }
    } formatting(formatting_);
    for (uint32_t unit = VOLUME_FIRST_UNIT; unit < VOLUME_FIRST_UNIT + VOLUME_UNIT_COUNT; ++unit) {
        flash_.eraseUnit(unit);
    }

    // The record is written last, so a format that fails half-way leaves
    // a medium that does not mount.
    if (store_->rootEmpty() != 0) {
        return fail(swboot::ERRNO_IO);
    }

    FormatRecord record;
    record.firstUnit = VOLUME_FIRST_UNIT;
    record.unitCount = VOLUME_UNIT_COUNT;
    record.params = params;
    formatRecordWrite(flash_, record);
    return OK;
}

void HostVolume::mediumChanging(uint32_t unit) {
    if (formatting_ || unit < VOLUME_FIRST_UNIT || unit >= VOLUME_FIRST_UNIT + VOLUME_UNIT_COUNT) {
        return;
    }
    if (!mounted_ && mediumLost_) {
        return;  // nothing left to lose (the diagnostics program every word)
    }
    unmount();
    store_->rootEmpty();
    mediumLost_ = true;
}

}  // namespace sim
