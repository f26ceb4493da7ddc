// Capacity and usage accounting of the host volume: the tree count, the
// disk check, the volume display and the statistics of a descriptor.
#include "host/host_volume.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "board/flash_array.h"
#include "platform/status.h"

namespace sim {

namespace {

using swboot::ERROR;
using swboot::OK;

std::string format(const char* pattern, auto... values) {
    char line[256];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

}  // namespace

void HostVolume::walk(const std::function<void(const VolumePath&, const ListedEntry&)>& visit, bool& unreadable) const {
    // Depth-first over directory handles, never following links.
    struct Pending {
        StoreHandle directory;
        VolumePath path;
    };
    std::vector<Pending> pending;
    StoreHandle root(*store_);
    if (store_->rootOpen(root.out()) != 0) {
        unreadable = true;
        return;
    }
    pending.push_back({std::move(root), {}});
    while (!pending.empty()) {
        Pending current = std::move(pending.back());
        pending.pop_back();
        std::vector<ListedEntry> listed;
        if (store_->list(current.directory.get(), listed) != 0) {
            unreadable = true;
            continue;
        }
        for (const auto& item : listed) {
            VolumePath path = current.path;
            path.push_back(item.name);
            visit(path, item);
            if (item.status.kind == EntryKind::Directory) {
                StoreHandle child(*store_);
                if (store_->directoryOpenAt(current.directory.get(), item.name, child.out()) != 0) {
                    unreadable = true;
                    continue;
                }
                pending.push_back({std::move(child), std::move(path)});
            }
        }
    }
}

HostVolume::TreeCount HostVolume::countTree() const {
    TreeCount count;
    walk(
        [&count](const VolumePath& path, const ListedEntry& item) {
            switch (item.status.kind) {
            case EntryKind::Regular:
                count.usedBytes += roundToBlocks(item.status.size);
                ++count.files;
                break;
            case EntryKind::Directory:
                count.usedBytes += BLOCK_SIZE;
                ++count.directories;
                break;
            default:
                count.foreign.push_back(volumePathName(path));
                break;
            }
        },
        count.unreadable);
    std::sort(count.foreign.begin(), count.foreign.end());
    return count;
}

void HostVolume::print(std::string_view text) {
    if (printer_) {
        printer_(text);
    }
}

int HostVolume::dosFsChkDsk(const char* name, uint32_t mode) {
    if (name == nullptr || !volumeDeviceNameIs(name) || !mounted_) {
        return fail(swboot::ERRNO_NOT_FOUND);
    }
    const bool verbose = (mode & CHKDSK_VERBOSITY_MASK) != 0;
    const bool repair = (mode & CHKDSK_LEVEL_MASK) >= CHKDSK_REPAIR;
    const TreeCount count = countTree();
    int problems = 0;

    if (verbose) {
        print(format("Checking volume \"%s\"\n", VOLUME_DEVICE_NAME.data()));
    }
    for (const auto& entry : count.foreign) {
        ++problems;
        if (verbose) {
            print("  unusable entry: " + entry + "\n");
        }
    }
    if (count.unreadable) {
        ++problems;
        if (verbose) {
            print("  part of the tree cannot be read\n");
        }
    }
    if (count.usedBytes != used_) {
        if (verbose) {
            print(format("  usage recorded %llu bytes, found %llu bytes%s\n",
                         static_cast<unsigned long long>(used_),
                         static_cast<unsigned long long>(count.usedBytes), repair ? ": corrected" : ""));
        }
        if (repair && !count.unreadable) {
            used_ = count.usedBytes;
        } else {
            ++problems;
        }
    }
    if (verbose) {
        print(format("  %u files, %u directories\n", count.files, count.directories));
        print(format("  %llu bytes used, %llu bytes free, %llu bytes total\n",
                     static_cast<unsigned long long>(used_), static_cast<unsigned long long>(freeBytes()),
                     static_cast<unsigned long long>(capacity_)));
    }
    return problems;
}

int HostVolume::volumeShow(const char* name, int level) {
    if (name == nullptr || !volumeDeviceNameIs(name)) {
        return fail(swboot::ERRNO_NOT_FOUND);
    }
    if (!mounted_) {
        print(format("volume \"%s\": not mounted\n", VOLUME_DEVICE_NAME.data()));
        return fail(swboot::ERRNO_NOT_FOUND);
    }
    const TreeCount count = countTree();
    const auto bytesLine = [this](const char* label, uint64_t bytes) {
        print(format("  %-12s%llu bytes (%llu blocks)\n", label, static_cast<unsigned long long>(bytes),
                     static_cast<unsigned long long>(bytes / BLOCK_SIZE)));
    };
    print(format("volume \"%s\": mounted\n", VOLUME_DEVICE_NAME.data()));
    print(format("  %-12s%u bytes\n", "block size:", BLOCK_SIZE));
    bytesLine("capacity:", capacity_);
    bytesLine("used:", used_);
    bytesLine("free:", freeBytes());
    print(format("  %-12s%u in %u directories\n", "files:", count.files, count.directories));
    if (level >= 2 && format_) {
        print(format("  %-12s0x%08X, %u units of 0x%X bytes\n", "window:",
                     FlashArray::BASE + format_->firstUnit * FlashArray::UNIT_SIZE, format_->unitCount,
                     FlashArray::UNIT_SIZE));
        print(format("  %-12s%u percent in use, %u spare units, %u FAT copies, flags 0x%X\n", "format:",
                     format_->params.percentUse, format_->params.noOfSpareUnits, format_->params.noOfFatCopies,
                     format_->params.formatFlags));
    }
    return OK;
}

int HostVolume::statistics(int fd, swboot::VolumeStatistics& statistics) {
    if (descriptor(fd) == nullptr) {
        return ERROR;
    }
    statistics.blockSize = BLOCK_SIZE;
    statistics.totalBlocks = static_cast<uint32_t>(capacity_ / BLOCK_SIZE);
    statistics.freeBlocks = static_cast<uint32_t>(freeBytes() / BLOCK_SIZE);
    return OK;
}

std::string HostVolume::capacityProblem() const {
    const auto record = formatRecordRead(flash_);
    if (!record) {
        return {};
    }
    const uint64_t capacity = capacityOf(*record);
    uint64_t used = 0;
    uint64_t largestSize = 0;
    VolumePath largest;
    bool unreadable = false;
    walk(
        [&](const VolumePath& path, const ListedEntry& item) {
            if (item.status.kind == EntryKind::Directory) {
                used += BLOCK_SIZE;
            } else if (item.status.kind == EntryKind::Regular) {
                used += roundToBlocks(item.status.size);
                if (largest.empty() || item.status.size > largestSize) {
                    largest = path;
                    largestSize = item.status.size;
                }
            }
        },
        unreadable);
    if (used <= capacity) {
        return {};
    }
    std::string where = hostRoot_.empty() ? std::string(VOLUME_DEVICE_NAME) : hostRoot_.string();
    std::string file = where + "/" + volumePathName(largest).substr(VOLUME_DEVICE_NAME.size());
    return "the flash volume " + where + " holds " + std::to_string(used) + " bytes, more than its capacity of " +
           std::to_string(capacity) + " bytes; the largest file, " + file + ", takes " + std::to_string(largestSize) +
           " bytes";
}

}  // namespace sim
