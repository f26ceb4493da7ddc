#include "image_show.h"

#include <cinttypes>

#include "image/image_crc.h"
#include "image/image_format.h"
#include "image/image_lines.h"
#include "image_reader.h"
#include "text_format.h"

namespace swboot::tool {

namespace {

// How the file's own CRC stands, for the first line of the listing.
std::string crcState(std::span<const uint8_t> file) {
    const uint32_t length = imageCheckedLength(file.data());
    if (length < IMAGE_HEADER_SIZE || length > IMAGE_SIZE_MAX) {
        return "CRC not checked: Size out of range";
    }
    if (length > file.size()) {
        return "CRC not checked: file shorter than its Size";
    }
    ImageCrc crc;
    const uint16_t computed = crc.compute(file.data() + 2, length - 2);
    return computed == getBe16(file.data() + IMAGE_CRC_OFFSET) ? std::string("CRC good")
                                                                : format("CRC bad (computed 0x%04x)", computed);
}

void headerLines(const ImageHeader& header, TextSink& out) {
    imageHeaderFieldLines(header, header.componentSize(COMPONENT_BOOT_CODE) != 0, out);
}

void containerShow(const std::string& name, std::span<const uint8_t> file, TextSink& out) {
    const StkDirectory directory = stkDirectoryRead(file);
    out.printf("%s: STK container, %" PRIu32 " entries, Size 0x%" PRIx32 " (%" PRIu32 "), header length %" PRIu32
               ", %s\n",
               name.c_str(), directory.entryCount, directory.size, directory.size, directory.headerLength,
               crcState(file).c_str());
    if (directory.entries.size() < directory.entryCount) {
        out.printf("Only %zu entries lie within the header length; the loader looks at no others.\n",
                   directory.entries.size());
    }
    for (size_t i = 0; i < directory.entries.size(); ++i) {
        const StkEntry& entry = directory.entries[i];
        out.printf("Entry %zu: offset 0x%" PRIx32 " (%" PRIu32 "), target 0x%08" PRIx32 "\n", i + 1, entry.offset,
                   entry.offset, entry.target);
    }
    for (size_t i = 0; i < directory.entries.size(); ++i) {
        const StkEntry& entry = directory.entries[i];
        out.printf("\nEntry %zu: OPR image at offset 0x%" PRIx32 " (%" PRIu32 ")\n", i + 1, entry.offset,
                   entry.offset);
        if (uint64_t{entry.offset} + IMAGE_HEADER_SIZE > file.size()) {
            out.printf("(its image header lies beyond the end of the file)\n");
            continue;
        }
        headerLines(imageHeaderAt(file, entry.offset), out);
    }
}

}  // namespace

Status imageShow(const std::string& name, std::span<const uint8_t> file, TextSink& out) {
    if (stkContainer(file)) {
        containerShow(name, file, out);
        return Done{};
    }
    if (file.size() < IMAGE_HEADER_SIZE) {
        return fail(name + ": too short for an image header (" + std::to_string(file.size()) + " bytes)");
    }
    out.printf("%s: OPR image, %zu bytes, %s\n", name.c_str(), file.size(), crcState(file).c_str());
    headerLines(imageHeaderAt(file, 0), out);
    return Done{};
}

}  // namespace swboot::tool
