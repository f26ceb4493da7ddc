#include "image_extract.h"

#include <filesystem>
#include <system_error>

#include "image/image_format.h"
#include "image_reader.h"
#include "image_verify.h"
#include "text_format.h"

namespace swboot::tool {

namespace {

// The component's bytes of a verified image, or why they cannot be had.
Result<ExtractedPart> component(std::span<const uint8_t> file, uint64_t fileLength, uint32_t target, size_t index) {
    Result<VerifyReport> report = imageVerify(file, fileLength, target);
    if (!report) {
        return fail(report.error());
    }
    Result<ImageSelection> selection = imageSelect(file, target);
    if (!selection) {
        return fail(selection.error());
    }
    const ImageHeader& header = selection->header;
    ExtractedPart part;
    part.storedSize = header.componentSize(index);
    part.loadAddress = header.componentLoadAddress(index);
    const uint64_t start = uint64_t{header.componentOffset(index)} + IMAGE_HEADER_SIZE;
    if (start + part.storedSize > file.size()) {
        return fail(format("component %zu lies beyond the part of the file that was read", index));
    }
    part.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(start),
                      file.begin() + static_cast<std::ptrdiff_t>(start + part.storedSize));
    return part;
}

}  // namespace

Result<ExtractedPart> bootCodeExtract(std::span<const uint8_t> file, uint64_t fileLength, uint32_t target) {
    Result<ExtractedPart> part = component(file, fileLength, target, COMPONENT_BOOT_CODE);
    if (part && part->storedSize == 0) {
        return fail("the image carries no boot code (it was built with --no-boot-code)");
    }
    return part;
}

Result<ExtractedPart> codeExtract(std::span<const uint8_t> file, uint64_t fileLength, uint32_t target,
                                  bool asStored) {
    Result<ExtractedPart> part = component(file, fileLength, target, COMPONENT_OPERATIONAL_CODE);
    if (!part || asStored) {
        return part;
    }
    ExtractedPart code = std::move(part).value();
    std::vector<uint8_t> inflated;
    InflateOutcome outcome =
        componentInflate(code.bytes, inflateLimit(code.loadAddress) - code.loadAddress, &inflated);
    if (!outcome.ok) {
        return fail("the operational code does not inflate: " + outcome.problem);
    }
    code.bytes = std::move(inflated);
    code.inflated = true;
    return code;
}

namespace {

bool samePlace(const std::string& left, const std::string& right) {
    std::error_code error;
    if (std::filesystem::equivalent(left, right, error)) {
        return true;
    }
    const std::filesystem::path a = std::filesystem::weakly_canonical(left, error);
    const std::filesystem::path b = std::filesystem::weakly_canonical(right, error);
    return !a.empty() && a == b;
}

}  // namespace

std::string extractOutputsProblem(const std::string& image, const std::string& bootCode, const std::string& code) {
    if (!bootCode.empty() && samePlace(bootCode, image)) {
        return "--boot-code " + bootCode + " is the image itself";
    }
    if (!code.empty() && samePlace(code, image)) {
        return "--code " + code + " is the image itself";
    }
    if (!bootCode.empty() && !code.empty() && samePlace(bootCode, code)) {
        return "--boot-code and --code both name " + code;
    }
    return {};
}

}  // namespace swboot::tool
