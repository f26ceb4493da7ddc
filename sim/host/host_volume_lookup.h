// Name lookup in a volume store for the host volume's parts: walks a volume
// path down one directory handle at a time, never following a symbolic
// link, to the entry's parent directory and its last component.
#pragma once

#include <string>

#include "host/host_volume_paths.h"
#include "host/volume_store.h"

namespace sim {

// Where a volume path lives in the store: a handle of its parent directory
// and its last component, or, for the root, the root's own handle and an
// empty leaf.
struct Location {
    explicit Location(VolumeStore& store) : parent(store) {}
    StoreHandle parent;
    std::string leaf;
    bool root() const { return leaf.empty(); }
    // The name to hand to the *At() calls for the entry itself.
    std::string at() const { return root() ? std::string(VolumeStore::SELF) : leaf; }
};

// Walks down to the parent of `path`. 0 or an error number.
int locate(VolumeStore& store, const VolumePath& path, Location& out);
// The entry at a location; a missing entry is not an error. 0 or an error number.
int entryRead(VolumeStore& store, const Location& location, EntryStatus& entry);
// locate() and entryRead() together. 0 or an error number.
int lookup(VolumeStore& store, const VolumePath& path, Location& location, EntryStatus& entry);
// As lookup, for an entry that must exist as a regular file or directory:
// a missing one, or one the volume cannot use (a link, a socket, a name FAT
// cannot hold), is an error.
int lookupExisting(VolumeStore& store, const VolumePath& path, Location& location, EntryStatus& entry);

}  // namespace sim
