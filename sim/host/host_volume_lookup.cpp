#include "host/host_volume_lookup.h"

#include <utility>

#include "platform/files.h"
#include "platform/status.h"

namespace sim {

int locate(VolumeStore& store, const VolumePath& path, Location& out) {
    StoreHandle directory(store);
    if (const int error = store.rootOpen(directory.out()); error != 0) {
        return error;
    }
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        EntryStatus status;
        if (const int error = store.statAt(directory.get(), path[i], status); error != 0) {
            return error;
        }
        switch (status.kind) {
        case EntryKind::Directory:
            break;
        case EntryKind::Missing:
            return swboot::ERRNO_NOT_FOUND;
        case EntryKind::Regular:
            return swboot::ERRNO_NOT_DIRECTORY;
        default:
            return swboot::ERRNO_IO;
        }
        StoreHandle next(store);
        if (const int error = store.directoryOpenAt(directory.get(), path[i], next.out()); error != 0) {
            return error;
        }
        directory = std::move(next);
    }
    out.parent = std::move(directory);
    out.leaf = path.empty() ? std::string() : path.back();
    return 0;
}

int entryRead(VolumeStore& store, const Location& location, EntryStatus& entry) {
    return location.root() ? store.fstat(location.parent.get(), entry)
                           : store.statAt(location.parent.get(), location.leaf, entry);
}

int lookup(VolumeStore& store, const VolumePath& path, Location& location, EntryStatus& entry) {
    const int error = locate(store, path, location);
    return error != 0 ? error : entryRead(store, location, entry);
}

int lookupExisting(VolumeStore& store, const VolumePath& path, Location& location, EntryStatus& entry) {
    if (int error = lookup(store, path, location, entry); error != 0) {
        return error;
    }
    if (entry.kind == EntryKind::Missing) {
        return swboot::ERRNO_NOT_FOUND;
    }
    if (entry.kind == EntryKind::Foreign) {
        return swboot::ERRNO_IO;
    }
    return 0;
}

}  // namespace sim
