// Taking the parts an image carries back out of it: the boot code, as
// stored (what Boot Menu option 7 would write into the boot flash), and the
// operational code (component 0), inflated as the loader would place it or
// as stored in the image. The image is verified first, as the loader would
// take it for the target, so that nothing is taken out of a damaged file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "result.h"

namespace swboot::tool {

struct ExtractedPart {
    std::vector<uint8_t> bytes;
    uint32_t storedSize = 0;  // the component's Size in the image
    bool inflated = false;    // the bytes are the inflated code
    uint32_t loadAddress = 0;
};

// The boot code component. Fails when the image does not verify or carries
// no boot code.
Result<ExtractedPart> bootCodeExtract(std::span<const uint8_t> file, uint64_t fileLength, uint32_t target);
// The operational code, inflated unless asStored is set.
Result<ExtractedPart> codeExtract(std::span<const uint8_t> file, uint64_t fileLength, uint32_t target,
                                  bool asStored);

// Why the files named for the parts may not be written: one of them is the
// image itself, or both name one file (the second would silently replace
// the first). Empty when they may be written. A name may be empty (that
// part is not asked for); names are compared as the paths they resolve to.
std::string extractOutputsProblem(const std::string& image, const std::string& bootCode, const std::string& code);

}  // namespace swboot::tool
