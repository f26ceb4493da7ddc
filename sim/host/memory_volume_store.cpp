#include "host/memory_volume_store.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/files.h"

namespace sim {

MemoryVolumeStore::MemoryVolumeStore() : root_(nodeMake(true)) {}

std::shared_ptr<MemoryVolumeStore::Node> MemoryVolumeStore::nodeMake(bool directory) {
    auto node = std::make_shared<Node>();
    node->directory = directory;
    node->serial = nextSerial_++;
    return node;
}

MemoryVolumeStore::Open* MemoryVolumeStore::opened(int handle) {
    if (handle < 0 || static_cast<size_t>(handle) >= opens_.size() || !opens_[handle].node) {
        return nullptr;
    }
    return &opens_[handle];
}

MemoryVolumeStore::Node* MemoryVolumeStore::directoryOf(int handle) {
    Open* open = opened(handle);
    return open != nullptr && open->node->directory ? open->node.get() : nullptr;
}

std::shared_ptr<MemoryVolumeStore::Node> MemoryVolumeStore::child(int directory, const std::string& name) {
    if (name == SELF) {
        return opens_[directory].node;
    }
    const Node* parent = directoryOf(directory);
    const auto found = parent->children.find(name);
    return found == parent->children.end() ? nullptr : found->second;
}

int MemoryVolumeStore::handleMake(Open open, int& handle) {
    const auto slot = std::find_if(opens_.begin(), opens_.end(), [](const Open& o) { return !o.node; });
    if (slot == opens_.end()) {
        opens_.push_back(std::move(open));
        handle = static_cast<int>(opens_.size() - 1);
    } else {
        *slot = std::move(open);
        handle = static_cast<int>(slot - opens_.begin());
    }
    return 0;
}

EntryStatus MemoryVolumeStore::statusOf(const Node& node) {
    EntryStatus status;
    status.kind = node.directory ? EntryKind::Directory : EntryKind::Regular;
    status.size = node.bytes.size();
    status.mtime = node.mtime;
    status.inode = node.serial;
    return status;
}

bool MemoryVolumeStore::contains(const Node& tree, const Node* node) {
    if (&tree == node) {
        return true;
    }
    return std::any_of(tree.children.begin(), tree.children.end(),
                       [node](const auto& entry) { return contains(*entry.second, node); });
}

int MemoryVolumeStore::rootEmpty() {
    // Open handles keep their nodes; the tree itself starts over.
    root_->children.clear();
    return 0;
}

int MemoryVolumeStore::rootOpen(int& handle) { return handleMake({root_, 0, true, false}, handle); }

int MemoryVolumeStore::statAt(int directory, const std::string& name, EntryStatus& status) {
    if (directoryOf(directory) == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    const auto node = child(directory, name);
    status = node ? statusOf(*node) : EntryStatus{};
    return 0;
}

int MemoryVolumeStore::fstat(int handle, EntryStatus& status) {
    const Open* open = opened(handle);
    if (open == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    status = statusOf(*open->node);
    return 0;
}

int MemoryVolumeStore::directoryOpenAt(int directory, const std::string& name, int& handle) {
    if (directoryOf(directory) == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    auto node = child(directory, name);
    if (!node) {
        return swboot::ERRNO_NOT_FOUND;
    }
    if (!node->directory) {
        return swboot::ERRNO_NOT_DIRECTORY;
    }
    return handleMake({std::move(node), 0, true, false}, handle);
}

int MemoryVolumeStore::fileOpenAt(int directory, const std::string& name, StoreAccess access, bool create,
                                  bool truncate, int& handle) {
    Node* parent = directoryOf(directory);
    if (parent == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    auto node = child(directory, name);
    const bool writable = access != StoreAccess::Read;
    if (create) {
        if (node) {
            return swboot::ERRNO_EXISTS;
        }
        node = nodeMake(false);
        parent->children.emplace(name, node);
    } else if (!node) {
        return swboot::ERRNO_NOT_FOUND;
    } else if (node->directory) {
        return swboot::ERRNO_IS_DIRECTORY;
    } else if (truncate) {
        node->bytes.clear();  // even for reading, as Linux does
    }
    return handleMake({std::move(node), 0, access != StoreAccess::Write, writable}, handle);
}

int MemoryVolumeStore::mkdirAt(int directory, const std::string& name) {
    Node* parent = directoryOf(directory);
    if (parent == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    if (child(directory, name)) {
        return swboot::ERRNO_EXISTS;
    }
    parent->children.emplace(name, nodeMake(true));
    return 0;
}

int MemoryVolumeStore::unlinkAt(int directory, const std::string& name, bool isDirectory) {
    Node* parent = directoryOf(directory);
    if (parent == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    const auto found = parent->children.find(name);
    if (found == parent->children.end()) {
        return swboot::ERRNO_NOT_FOUND;
    }
    const Node& node = *found->second;
    if (node.directory != isDirectory) {
        return isDirectory ? swboot::ERRNO_NOT_DIRECTORY : swboot::ERRNO_IS_DIRECTORY;
    }
    if (!node.children.empty()) {
        return swboot::ERRNO_NOT_EMPTY;
    }
    parent->children.erase(found);
    return 0;
}

int MemoryVolumeStore::renameAt(int fromDirectory, const std::string& fromName, int toDirectory,
                                const std::string& toName) {
    Node* from = directoryOf(fromDirectory);
    Node* to = directoryOf(toDirectory);
    if (from == nullptr || to == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    const auto source = from->children.find(fromName);
    if (source == from->children.end()) {
        return swboot::ERRNO_NOT_FOUND;
    }
    const auto target = to->children.find(toName);
    if (target != to->children.end()) {
        if (target->second == source->second) {
            return 0;
        }
        const Node& replaced = *target->second;
        if (replaced.directory != source->second->directory) {
            return replaced.directory ? swboot::ERRNO_IS_DIRECTORY : swboot::ERRNO_NOT_DIRECTORY;
        }
        if (!replaced.children.empty()) {
            return swboot::ERRNO_NOT_EMPTY;
        }
    }
    if (source->second->directory && contains(*source->second, to)) {
        return swboot::ERRNO_INVALID;  // a directory cannot move into itself
    }
    std::shared_ptr<Node> moved = std::move(source->second);
    from->children.erase(source);
    to->children.insert_or_assign(toName, std::move(moved));
    return 0;
}

int MemoryVolumeStore::list(int directory, std::vector<ListedEntry>& entries) {
    const Node* node = directoryOf(directory);
    if (node == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    entries.reserve(entries.size() + node->children.size());
    for (const auto& [name, entry] : node->children) {
        entries.push_back({name, statusOf(*entry)});
    }
    return 0;
}

int MemoryVolumeStore::read(int handle, uint8_t* buffer, size_t length, size_t& count) {
    Open* open = opened(handle);
    if (open == nullptr || !open->readable) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    if (open->node->directory) {
        return swboot::ERRNO_IS_DIRECTORY;
    }
    const std::vector<uint8_t>& bytes = open->node->bytes;
    const uint64_t available = open->position < bytes.size() ? bytes.size() - open->position : 0;
    count = static_cast<size_t>(std::min<uint64_t>(length, available));
    if (count > 0) {
        std::memcpy(buffer, bytes.data() + open->position, count);
    }
    open->position += count;
    return 0;
}

int MemoryVolumeStore::write(int handle, const uint8_t* data, size_t length, size_t& count) {
    count = 0;
    Open* open = opened(handle);
    if (open == nullptr || !open->writable) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    std::vector<uint8_t>& bytes = open->node->bytes;
    const uint64_t end = open->position + length;
    if (end > bytes.size()) {
        bytes.resize(static_cast<size_t>(end));  // a gap reads as zeros
    }
    if (length > 0) {
        std::memcpy(bytes.data() + open->position, data, length);
    }
    open->position = end;
    count = length;
    return 0;
}

int MemoryVolumeStore::position(int handle, uint64_t& position) {
    const Open* open = opened(handle);
    if (open == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    position = open->position;
    return 0;
}

int MemoryVolumeStore::seek(int handle, uint64_t position) {
    Open* open = opened(handle);
    if (open == nullptr) {
        return swboot::ERRNO_BAD_DESCRIPTOR;
    }
    open->position = position;
    return 0;
}

void MemoryVolumeStore::mtimeSet(int handle, int64_t seconds) {
    if (Open* open = opened(handle)) {
        open->node->mtime = seconds;
    }
}

void MemoryVolumeStore::close(int handle) {
    if (Open* open = opened(handle)) {
        *open = Open{};
    }
}

}  // namespace sim
