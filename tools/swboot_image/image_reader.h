// Reading OPR images and STK containers from the bytes of a file, the way
// the loader reads them: a file is a container only when it carries the
// whole signature, the first container entry for the target is chosen, and
// the component Offsets of the chosen image are rebased to file positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image/image_format.h"
#include "result.h"

namespace swboot::tool {

struct StkEntry {
    uint32_t offset = 0;
    uint32_t target = 0;
};

// The fixed part and the entry table of a container.
struct StkDirectory {
    uint32_t entryCount = 0;    // as stored
    uint32_t size = 0;          // as stored
    uint32_t headerLength = 0;  // as stored
    // The entries the loader scans: at most entryCount, and only those that
    // lie within the header length (itself taken as at most 316 bytes).
    std::vector<StkEntry> entries;
};

// True when the bytes are long enough to tell and carry the container signature.
bool stkContainer(std::span<const uint8_t> file);

// The directory of a container; the file must carry the signature.
StkDirectory stkDirectoryRead(std::span<const uint8_t> file);

// The image the loader would take for the target.
struct ImageSelection {
    ImageHeader header;        // with the component Offsets rebased
    bool container = false;
    size_t entryIndex = 0;     // of the chosen container entry
    uint32_t base = 0;         // file position of the chosen image
};

// The loader's header read on a file held in memory. Fails with the reason
// when the file is too short, the container is empty or lists no image for
// the target, or the chosen image's header lies beyond the end of the file.
Result<ImageSelection> imageSelect(std::span<const uint8_t> file, uint32_t target);

// Reads the header at a file position and rebases the Offsets of the first
// Number-of-Components descriptors (at most 16) by that position. The
// header must lie within the file.
ImageHeader imageHeaderAt(std::span<const uint8_t> file, uint32_t base);

// The descriptors the loader rebases.
inline size_t rebasedComponentCount(const ImageHeader& header) {
    return header.componentCount() < IMAGE_COMPONENTS_MAX ? header.componentCount()
                                                          : IMAGE_COMPONENTS_MAX;
}

}  // namespace swboot::tool
