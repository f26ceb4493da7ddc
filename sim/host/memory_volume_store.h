// The volume's files in memory: a tree of nodes, each directory a map of
// names to nodes (so listings come sorted by name, as on the host), each
// file its bytes and modification time. A handle holds its node, so a file
// removed or replaced while open lives on until it is closed, as on POSIX.
// Nothing here is foreign: only the volume makes entries.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/volume_store.h"

namespace sim {

class MemoryVolumeStore : public VolumeStore {
public:
    MemoryVolumeStore();

    int rootMake() override { return 0; }
    int rootEmpty() override;
    int rootOpen(int& handle) override;
    int statAt(int directory, const std::string& name, EntryStatus& status) override;
    int fstat(int handle, EntryStatus& status) override;
    int directoryOpenAt(int directory, const std::string& name, int& handle) override;
    int fileOpenAt(int directory, const std::string& name, StoreAccess access, bool create, bool truncate,
                   int& handle) override;
    int mkdirAt(int directory, const std::string& name) override;
    int unlinkAt(int directory, const std::string& name, bool isDirectory) override;
    int renameAt(int fromDirectory, const std::string& fromName, int toDirectory, const std::string& toName) override;
    int list(int directory, std::vector<ListedEntry>& entries) override;
    int read(int handle, uint8_t* buffer, size_t length, size_t& count) override;
    int write(int handle, const uint8_t* data, size_t length, size_t& count) override;
    int position(int handle, uint64_t& position) override;
    int seek(int handle, uint64_t position) override;
    void mtimeSet(int handle, int64_t seconds) override;
    void close(int handle) override;

private:
    struct Node {
        bool directory = false;
        uint64_t serial = 0;  // the node's "inode number"
        int64_t mtime = 0;
        std::vector<uint8_t> bytes;
        std::map<std::string, std::shared_ptr<Node>, std::less<>> children;
    };
    struct Open {
        std::shared_ptr<Node> node;
        uint64_t position = 0;
        bool readable = false;
        bool writable = false;
    };

    std::shared_ptr<Node> nodeMake(bool directory);
    // The open node of a handle, or nothing.
    Open* opened(int handle);
    // The directory node of a handle, or nothing.
    Node* directoryOf(int handle);
    // The entry of a directory, SELF the directory itself; nothing when missing.
    std::shared_ptr<Node> child(int directory, const std::string& name);
    int handleMake(Open open, int& handle);
    static EntryStatus statusOf(const Node& node);
    static bool contains(const Node& tree, const Node* node);

    std::shared_ptr<Node> root_;
    std::vector<Open> opens_;  // by handle; a free slot holds no node
    uint64_t nextSerial_ = 1;
};

}  // namespace sim
