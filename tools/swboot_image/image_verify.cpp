#include "image_verify.h"

#include <zlib.h>

#include <algorithm>
#include <cinttypes>

#include "image/image_crc.h"
#include "image/image_format.h"
#include "image_reader.h"
#include "text_format.h"

namespace swboot::tool {

namespace {

class InflateStream {
public:
    InflateStream() { result_ = inflateInit(&stream_); }
    ~InflateStream() {
        if (result_ == Z_OK) {
            inflateEnd(&stream_);
        }
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    bool ready() const { return result_ == Z_OK; }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    int result_;
};

// The part of a file the loader holds in its staging area.
std::span<const uint8_t> staged(std::span<const uint8_t> file) {
    return file.first(std::min<size_t>(file.size(), IMAGE_SIZE_MAX));
}

}  // namespace

InflateOutcome componentInflate(std::span<const uint8_t> component, uint64_t room,
                                std::vector<uint8_t>* output) {
    InflateOutcome outcome;
    InflateStream inflater;
    if (!inflater.ready()) {
        outcome.problem = "cannot start inflation";
        return outcome;
    }
    z_stream& z = inflater.stream();
    uint8_t scratch[INFLATE_OUTPUT_STEP];
    uint64_t consumed = 0;
    while (consumed < component.size()) {
        const uint64_t roomLeft = room - outcome.produced;
        z.next_in = const_cast<Bytef*>(component.data() + consumed);
        z.avail_in = static_cast<uInt>(std::min<uint64_t>(INFLATE_INPUT_STEP, component.size() - consumed));
        z.next_out = scratch;
        z.avail_out = static_cast<uInt>(std::min<uint64_t>(INFLATE_OUTPUT_STEP, roomLeft));
        const uInt offered = z.avail_out;
        const uInt offeredIn = z.avail_in;
        const int result = inflate(&z, Z_NO_FLUSH);
        const uInt made = offered - z.avail_out;
        consumed += offeredIn - z.avail_in;
        outcome.produced += made;
        if (output != nullptr) {
            output->insert(output->end(), scratch, scratch + made);
        }
        if (result == Z_STREAM_END) {
            outcome.streamEnded = true;
            break;
        }
        if (result == Z_BUF_ERROR && roomLeft == 0) {
            outcome.problem = format("inflates to more than %" PRIu64 " bytes", room);
            return outcome;
        }
        if (result != Z_OK) {
            outcome.problem = z.msg != nullptr ? z.msg : format("inflate error %d", result);
            return outcome;
        }
    }
    outcome.ok = true;
    return outcome;
}

Result<VerifyReport> imageVerify(std::span<const uint8_t> file, uint64_t fileLength, uint32_t target) {
    VerifyReport report;
    report.target = target;
    constexpr size_t firstBytes = 16;
    if (file.size() < firstBytes) {
        return fail(format("file too short (%zu bytes)", file.size()));
    }
    const bool container = stkContainer(file);
    const char* kind = container ? "container" : "image";
    const uint32_t length = imageCheckedLength(file.data());
    if (length < IMAGE_HEADER_SIZE || length > IMAGE_SIZE_MAX) {
        return fail(format("%s Size 0x%" PRIx32 " (%" PRIu32 ") is outside %" PRIu32 "..%" PRIu32, kind,
                           length, length, IMAGE_HEADER_SIZE, IMAGE_SIZE_MAX));
    }
    if (length > file.size()) {
        return fail(format("file (%zu bytes) is shorter than its %s Size (%" PRIu32 ")", file.size(), kind,
                           length));
    }
    report.checkedLength = length;
    ImageCrc crc;
    const uint16_t computed = crc.compute(file.data() + 2, length - 2);
    const uint16_t stored = getBe16(file.data() + IMAGE_CRC_OFFSET);
    if (computed != stored) {
        return fail(format("CRC mismatch: stored 0x%04x, computed 0x%04x", stored, computed));
    }

    Result<ImageSelection> selection = imageSelect(file, target);
    if (!selection) {
        return fail(selection.error());
    }
    const ImageHeader& header = selection->header;
    report.container = selection->container;
    report.entryIndex = selection->entryIndex;
    report.base = selection->base;
    if (header.size() < IMAGE_HEADER_SIZE || header.size() > IMAGE_SIZE_MAX) {
        return fail(format("image Size 0x%" PRIx32 " (%" PRIu32 ") is outside %" PRIu32 "..%" PRIu32,
                           header.size(), header.size(), IMAGE_HEADER_SIZE, IMAGE_SIZE_MAX));
    }
    if (header.targetDevice() != target) {
        return fail(format("Target Device 0x%08" PRIx32 " does not match target 0x%08" PRIx32,
                           header.targetDevice(), target));
    }
    if (header.componentCount() > IMAGE_COMPONENTS_MAX) {
        return fail(format("Number of Components %" PRIu32 " is more than %zu", header.componentCount(),
                           IMAGE_COMPONENTS_MAX));
    }

    const size_t code = COMPONENT_OPERATIONAL_CODE;
    const std::span<const uint8_t> staging = staged(file);
    report.compressedSize = header.componentSize(code);
    if (report.compressedSize == 0) {
        return fail("operational code Size is 0");
    }
    const uint64_t codeStart = uint64_t{header.componentOffset(code)} + IMAGE_HEADER_SIZE;
    const uint64_t codeEnd = codeStart + report.compressedSize;
    if (codeEnd > IMAGE_SIZE_MAX) {
        return fail(format("operational code data (0x%" PRIx64 "..0x%" PRIx64
                           ") lie beyond the first 16 MiB of the file",
                           codeStart, codeEnd - 1));
    }
    if (codeEnd > file.size()) {
        return fail(format("operational code data (0x%" PRIx64 "..0x%" PRIx64
                           ") lie beyond the end of the file (%zu bytes)",
                           codeStart, codeEnd - 1, file.size()));
    }
    report.loadAddress = header.componentLoadAddress(code);
    const uint32_t limit = inflateLimit(report.loadAddress);
    if (limit == 0) {
        return fail(format("load address 0x%08" PRIx32 " is not in RAM the code may be placed in",
                           report.loadAddress));
    }
    InflateOutcome inflated =
        componentInflate(staging.subspan(static_cast<size_t>(codeStart), report.compressedSize),
                         limit - report.loadAddress);
    if (!inflated.ok) {
        return fail(format("operational code at 0x%08" PRIx32 " does not inflate: %s", report.loadAddress,
                           inflated.problem.c_str()));
    }
    report.inflatedSize = inflated.produced;
    report.streamEnded = inflated.streamEnded;

    const size_t boot = COMPONENT_BOOT_CODE;
    report.bootCodeSize = header.componentSize(boot);
    if (report.bootCodeSize != 0) {
        const uint64_t bootStart = uint64_t{header.componentOffset(boot)} + IMAGE_HEADER_SIZE;
        const uint64_t bootEnd = bootStart + report.bootCodeSize;
        if (bootEnd > fileLength) {
            return fail(format("boot code data (0x%" PRIx64 "..0x%" PRIx64
                               ") lie beyond the end of the file (%" PRIu64 " bytes)",
                               bootStart, bootEnd - 1, fileLength));
        }
    }
    return report;
}

std::string verifySummary(const VerifyReport& r) {
    std::string text = r.container ? format("container entry %zu (image at 0x%" PRIx32 ")", r.entryIndex + 1, r.base)
                                   : std::string("OPR image");
    text += format(", target 0x%08" PRIx32 ", operational code %" PRIu32 " bytes inflates to %" PRIu64
                   " bytes at 0x%08" PRIx32,
                   r.target, r.compressedSize, r.inflatedSize, r.loadAddress);
    if (!r.streamEnded) {
        text += " (no stream end within its Size)";
    }
    if (r.bootCodeSize != 0) {
        text += format(", boot code %" PRIu32 " bytes", r.bootCodeSize);
    }
    return text;
}

}  // namespace swboot::tool
