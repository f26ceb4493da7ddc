// Whole-file reads and replace-by-rename writes for the host tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "result.h"

namespace swboot::tool {

struct FileBytes {
    std::vector<uint8_t> bytes;  // at most the limit the caller gave
    uint64_t length = 0;         // the file's real length
};

// Reads at most maxBytes from the start of the file.
Result<FileBytes> fileRead(const std::string& path, uint64_t maxBytes);

// Writes the bytes to path.tmp and renames that over path, so that the
// output is either the whole new file or left as it was.
Status fileReplace(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace swboot::tool
