#include "host/data_files.h"

#include <algorithm>
#include <system_error>

namespace sim {

namespace {

// The build tree the program was built in, and the source tree beside it.
#ifndef SWBOOT_BUILD_TREE
#define SWBOOT_BUILD_TREE ""
#endif
#ifndef SWBOOT_SOURCE_TREE
#define SWBOOT_SOURCE_TREE ""
#endif

constexpr const char* PROFILE_SUFFIX = ".toml";

bool sameDirectory(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    return !b.empty() && std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

std::filesystem::path programDirectory() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

DataLayout dataLayout(const std::filesystem::path& programDir) {
    const std::filesystem::path buildTree = SWBOOT_BUILD_TREE;
    if (sameDirectory(programDir, buildTree)) {
        const std::filesystem::path sourceTree = SWBOOT_SOURCE_TREE;
        return {sourceTree / "profiles", buildTree / "demo", buildTree / "firmware"};
    }
    const std::filesystem::path data = programDir.parent_path() / "share" / "swboot";
    return {data / "profiles", data, data};
}

std::optional<std::filesystem::path> shippedProfile(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    std::string file = name;
    if (file.size() < std::char_traits<char>::length(PROFILE_SUFFIX) ||
        file.compare(file.size() - std::char_traits<char>::length(PROFILE_SUFFIX), std::string::npos,
                     PROFILE_SUFFIX) != 0) {
        file += PROFILE_SUFFIX;
    }
    std::filesystem::path path = dataLayout(programDirectory()).profiles / file;
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
        return path;
    }
    return std::nullopt;
}

std::vector<std::string> shippedProfileNames() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dataLayout(programDirectory()).profiles, error)) {
        if (entry.path().extension() == PROFILE_SUFFIX) {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::filesystem::path> shippedDataFile(const std::string& name) {
    DataLayout layout = dataLayout(programDirectory());
    for (const std::filesystem::path& dir : {layout.demoCode, layout.firmware}) {
        std::error_code error;
        if (std::filesystem::is_regular_file(dir / name, error)) {
            return dir / name;
        }
    }
    return std::nullopt;
}

}  // namespace sim
