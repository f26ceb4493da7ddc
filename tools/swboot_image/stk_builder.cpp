#include "stk_builder.h"

#include <cstring>

#include "image/image_crc.h"
#include "image/image_format.h"
#include "image_reader.h"
#include "image_verify.h"
#include "text_format.h"

namespace swboot::tool {

namespace {

uint64_t aligned(uint64_t position) {
    return (position + STK_IMAGE_ALIGNMENT - 1) / STK_IMAGE_ALIGNMENT * STK_IMAGE_ALIGNMENT;
}

}  // namespace

Result<StkBuild> stkContainerBuild(const std::vector<StkInput>& inputs) {
    if (inputs.empty()) {
        return fail("a container needs at least one image");
    }
    if (inputs.size() > STK_ENTRIES_MAX) {
        return fail("a container holds at most " + std::to_string(STK_ENTRIES_MAX) + " images, not " +
                    std::to_string(inputs.size()));
    }
    const uint32_t headerLength = static_cast<uint32_t>(STK_ENTRY_TABLE_OFFSET + STK_ENTRY_SIZE * inputs.size());

    StkBuild build;
    std::vector<StkEntry> entries;
    uint64_t position = headerLength;
    for (const StkInput& input : inputs) {
        if (stkContainer(input.image)) {
            return fail(input.name + ": is a container; containers do not nest");
        }
        if (input.image.size() < IMAGE_HEADER_SIZE) {
            return fail(input.name + ": not an OPR image (" + std::to_string(input.image.size()) + " bytes)");
        }
        const uint32_t own = getBe32(input.image.data() + IMAGE_TARGET_OFFSET);
        const uint32_t target = input.target.value_or(own);
        if (target != own) {
            return fail(input.name + ": entry target " + hex32(target) + " differs from the image's Target Device " +
                        hex32(own));
        }
        Result<VerifyReport> check = imageVerify(input.image, target);
        if (!check) {
            return fail(input.name + ": not a valid OPR image: " + check.error());
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].target == target) {
                build.warnings.push_back(input.name + ": target " + hex32(target) + " is already served by entry " +
                                         std::to_string(i + 1) + "; the loader never chooses this entry");
                break;
            }
        }
        position = aligned(position);
        entries.push_back({static_cast<uint32_t>(position), target});
        position += input.image.size();
        if (position > IMAGE_SIZE_MAX) {
            return fail("the container would be more than " + std::to_string(IMAGE_SIZE_MAX) + " bytes");
        }
    }

    std::vector<uint8_t>& c = build.container;
    c.assign(static_cast<size_t>(position), 0);
    putBe16(c.data() + 2, STK_SIGNATURE_16);
    putBe32(c.data() + 4, STK_SIGNATURE_32);
    putBe32(c.data() + STK_ENTRY_COUNT_OFFSET, static_cast<uint32_t>(entries.size()));
    putBe32(c.data() + STK_SIZE_OFFSET, static_cast<uint32_t>(c.size()));
    putBe32(c.data() + STK_HEADER_LENGTH_OFFSET, headerLength);
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* entry = c.data() + STK_ENTRY_TABLE_OFFSET + STK_ENTRY_SIZE * i;
        putBe32(entry + STK_ENTRY_IMAGE_OFFSET, entries[i].offset);
        putBe32(entry + STK_ENTRY_TARGET_OFFSET, entries[i].target);
        std::memcpy(c.data() + entries[i].offset, inputs[i].image.data(), inputs[i].image.size());
    }
    ImageCrc crc;
    putBe16(c.data(), crc.compute(c.data() + 2, c.size() - 2));

    // Every entry the loader can choose must start on its target.
    for (size_t i = 0; i < entries.size(); ++i) {
        Result<VerifyReport> check = imageVerify(c, entries[i].target);
        if (!check) {
            return fail("built container fails its own check for " + inputs[i].name + ": " + check.error());
        }
    }
    return build;
}

}  // namespace swboot::tool
