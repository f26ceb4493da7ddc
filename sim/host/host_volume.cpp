// The host volume's core: construction, the descriptor table, failure
// injection and power-cut steps shared by its operations.
#include "host/host_volume.h"

#include <algorithm>
#include <utility>

#include "board/flash_array.h"
#include "host/posix_volume_store.h"
#include "platform/status.h"

namespace sim {

namespace {

using swboot::ERROR;
using swboot::OK;

}  // namespace

HostVolume::HostVolume(FlashArray& flash, std::filesystem::path hostRoot, swboot::Clock& clock)
    : HostVolume(flash, std::make_unique<PosixVolumeStore>(std::move(hostRoot)), clock) {}

HostVolume::HostVolume(FlashArray& flash, std::unique_ptr<VolumeStore> store, swboot::Clock& clock)
    : flash_(flash), store_(std::move(store)), clock_(clock) {
    if (const auto* host = dynamic_cast<const PosixVolumeStore*>(store_.get())) {
        hostRoot_ = host->root();
    }
    flash_.setChangeHook([this](uint32_t unit) { mediumChanging(unit); });
}

HostVolume::~HostVolume() {
    flash_.setChangeHook(nullptr);
    closeAll();
}

int HostVolume::fail(int error) {
    errno_ = error;
    return ERROR;
}

bool HostVolume::injectedFailure(Operation op) {
    int& spared = failuresSpared_[static_cast<size_t>(op)];
    int& count = failures_[static_cast<size_t>(op)];
    if (count > 0 && spared > 0) {
        --spared;
        return false;
    }
    if (count <= 0) {
        return false;
    }
    --count;
    errno_ = swboot::ERRNO_IO;
    return true;
}

HostVolume::Cut HostVolume::cutAt() {
    if (powerCut_ == nullptr || !powerCut_->step()) {
        return Cut::None;
    }
    return powerCut_->random(2) == 0 ? Cut::Before : Cut::After;
}

void HostVolume::injectFailure(Operation op, int count, int spared) {
    failures_[static_cast<size_t>(op)] = count;
    failuresSpared_[static_cast<size_t>(op)] = spared;
}

std::optional<VolumePath> HostVolume::resolve(const char* name) {
    if (name == nullptr) {
        fail(swboot::ERRNO_INVALID);
        return std::nullopt;
    }
    VolumePath path;
    if (const int error = volumePathResolve(name, cwd_, path); error != 0) {
        fail(error);
        return std::nullopt;
    }
    if (!mounted_) {
        fail(swboot::ERRNO_NOT_FOUND);
        return std::nullopt;
    }
    return path;
}

HostVolume::OpenFile* HostVolume::descriptor(int fd) {
    const int index = fd - FIRST_DESCRIPTOR;
    if (index < 0 || index >= MAX_OPEN_FILES || !files_[index]) {
        fail(swboot::ERRNO_BAD_DESCRIPTOR);
        return nullptr;
    }
    return &*files_[index];
}

void HostVolume::closeAll() {
    for (auto& file : files_) {
        if (file) {
            store_->close(file->handle);
            file.reset();
        }
    }
    for (auto& directory : directories_) {
        directory = OpenDirectory{};
    }
}

void HostVolume::detach(uint64_t device, uint64_t inode) {
    for (auto& file : files_) {
        if (file && file->device == device && file->inode == inode) {
            file->detached = true;
        }
    }
}

void HostVolume::stamp(int handle) { store_->mtimeSet(handle, clock_.time()); }

int HostVolume::openCount() const {
    return static_cast<int>(std::count_if(files_.begin(), files_.end(), [](const auto& f) { return f.has_value(); }));
}

}  // namespace sim
