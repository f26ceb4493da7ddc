// Files for the interoperability tests and benchmarks: scratch
// directories, whole host files, and test data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace interop {

// A fresh temporary directory, removed with everything in it.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& stem = "swboot-interop");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Reads a whole host file; empty when it cannot be read.
std::vector<uint8_t> readHostFile(const std::filesystem::path& path);
void writeHostFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// "image1", "image2" and "boot.dim" in the directory, what installing an
// image may change; empty for a file that is not there.
std::map<std::string, std::vector<uint8_t>> imageFilesIn(const std::filesystem::path& directory);
// Pseudo-random bytes: every value, the protocol's control bytes among
// them, in an order that a dropped, doubled or swapped block cannot hide in.
std::vector<uint8_t> testPattern(size_t length, uint32_t seed);

}  // namespace interop
