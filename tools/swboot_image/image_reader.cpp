#include "image_reader.h"

#include <algorithm>
#include <string>

#include "text_format.h"

namespace swboot::tool {

bool stkContainer(std::span<const uint8_t> file) {
    return file.size() >= STK_FIXED_PART_SIZE && stkSignaturePresent(file.data());
}

StkDirectory stkDirectoryRead(std::span<const uint8_t> file) {
    StkDirectory directory;
    directory.entryCount = getBe32(file.data() + STK_ENTRY_COUNT_OFFSET);
    directory.size = getBe32(file.data() + STK_SIZE_OFFSET);
    directory.headerLength = getBe32(file.data() + STK_HEADER_LENGTH_OFFSET);
    // The loader reads the header length's worth of bytes into a table of
    // the largest header length; entries past either end are not looked at.
    const size_t tableEnd = std::min<size_t>({directory.headerLength, STK_HEADER_LENGTH_MAX, file.size()});
    for (uint32_t i = 0; i < directory.entryCount; ++i) {
        const size_t entry = STK_ENTRY_TABLE_OFFSET + STK_ENTRY_SIZE * i;
        if (entry + STK_ENTRY_SIZE > tableEnd) {
            break;
        }
        directory.entries.push_back({getBe32(file.data() + entry + STK_ENTRY_IMAGE_OFFSET),
                                     getBe32(file.data() + entry + STK_ENTRY_TARGET_OFFSET)});
    }
    return directory;
}

ImageHeader imageHeaderAt(std::span<const uint8_t> file, uint32_t base) {
    ImageHeader header;
    std::copy_n(file.data() + base, IMAGE_HEADER_SIZE, header.bytes);
    for (size_t i = 0; i < rebasedComponentCount(header); ++i) {
        header.setComponentOffset(i, header.componentOffset(i) + base);
    }
    return header;
}

Result<ImageSelection> imageSelect(std::span<const uint8_t> file, uint32_t target) {
    if (file.size() < STK_FIXED_PART_SIZE) {
        return fail("incomplete file (" + std::to_string(file.size()) + " bytes)");
    }
    ImageSelection selection;
    if (stkContainer(file)) {
        selection.container = true;
        StkDirectory directory = stkDirectoryRead(file);
        if (directory.entryCount == 0) {
            return fail("empty container");
        }
        auto match = std::find_if(directory.entries.begin(), directory.entries.end(),
                                  [target](const StkEntry& e) { return e.target == target; });
        if (match == directory.entries.end()) {
            return fail("no matching image for target " + hex32(target) + " in the container");
        }
        selection.entryIndex = static_cast<size_t>(match - directory.entries.begin());
        selection.base = match->offset;
    }
    if (uint64_t{selection.base} + IMAGE_HEADER_SIZE > file.size()) {
        return fail("image header at offset " + hex32(selection.base) + " lies beyond the end of the file");
    }
    selection.header = imageHeaderAt(file, selection.base);
    return selection;
}

}  // namespace swboot::tool
