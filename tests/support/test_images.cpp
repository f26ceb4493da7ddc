#include "support/test_images.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "common/bytes.h"
#include "image/image_crc.h"

namespace testing_support {

using namespace swboot;

namespace {

constexpr size_t STORED_BLOCK_MAX = 65535;

}  // namespace

std::vector<uint8_t> storedZlibStreamOf(size_t streamSize) {
    // stream = data + 6 + 5 * blocks, blocks = ceil(data / 65535)
    size_t blocks = 1;
    while (streamSize >= 6 + 5 * blocks && streamSize - 6 - 5 * blocks > blocks * STORED_BLOCK_MAX) {
        ++blocks;
    }
    if (streamSize < 6 + 5 * blocks) {
        throw std::invalid_argument("stream too small");
    }
    const std::vector<uint8_t> data = patternBytes(streamSize - 6 - 5 * blocks, static_cast<uint32_t>(streamSize));
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t done = 0;
    do {
        size_t n = std::min(STORED_BLOCK_MAX, data.size() - done);
        out.push_back(done + n == data.size() ? 0x01 : 0x00);
        out.insert(out.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(~n),
                               static_cast<uint8_t>(~n >> 8)});
        out.insert(out.end(), data.begin() + static_cast<long>(done), data.begin() + static_cast<long>(done + n));
        done += n;
    } while (done < data.size());
    uint8_t tail[4];
    putBe32(tail, static_cast<uint32_t>(adler32(adler32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size()))));
    out.insert(out.end(), tail, tail + 4);
    return out;
}

std::vector<uint8_t> zlibStream(const std::vector<uint8_t>& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(length);
    if (compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK) {
        throw std::runtime_error("compress2 failed");
    }
    out.resize(length);
    return out;
}

std::vector<uint8_t> oprImage(const ImageSpec& layout) {
    std::vector<uint8_t> file(IMAGE_HEADER_SIZE, 0);
    uint8_t* h = file.data();
    putBe32(h + IMAGE_TARGET_OFFSET, layout.target);
    uint32_t components = layout.bootCode ? 2 : 1;
    putBe32(h + IMAGE_COMPONENT_COUNT_OFFSET, components);
    uint8_t* d0 = h + IMAGE_COMPONENT_TABLE_OFFSET;
    putBe32(d0 + COMPONENT_SIZE_OFFSET, static_cast<uint32_t>(layout.component0.size()));
    putBe32(d0 + COMPONENT_DATA_OFFSET, 0);
    putBe32(d0 + COMPONENT_LOAD_ADDRESS_OFFSET, layout.loadAddress);
    if (layout.bootCode) {
        uint8_t* d1 = d0 + COMPONENT_DESCRIPTOR_SIZE;
        putBe32(d1 + COMPONENT_VERSION_OFFSET, 7);
        putBe32(d1 + COMPONENT_SIZE_OFFSET, static_cast<uint32_t>(layout.bootCode->size()));
        putBe32(d1 + COMPONENT_DATA_OFFSET, static_cast<uint32_t>(layout.component0.size()));
        putBe32(d1 + COMPONENT_FLASH_FLAG_OFFSET, 1);
    }
    for (int i = 0; i < 4; ++i) {
        h[IMAGE_VPD_REL_OFFSET + i] = layout.vpd[i];
    }
    std::copy_n(layout.timestamp.begin(), std::min(layout.timestamp.size(), IMAGE_TIMESTAMP_SIZE - 1),
                h + IMAGE_TIMESTAMP_OFFSET);
    std::copy_n(layout.fileText.begin(), std::min(layout.fileText.size(), IMAGE_FILE_SIZE - 1), h + IMAGE_FILE_OFFSET);
    file.insert(file.end(), layout.component0.begin(), layout.component0.end());
    if (layout.bootCode) {
        file.insert(file.end(), layout.bootCode->begin(), layout.bootCode->end());
    }
    putBe32(file.data() + IMAGE_SIZE_OFFSET, static_cast<uint32_t>(file.size()));
    fixCrc(file);
    return file;
}

void fixCrc(std::vector<uint8_t>& file) {
    if (file.size() < 16) {
        return;
    }
    uint32_t length = std::min<uint32_t>(imageCheckedLength(file.data()), static_cast<uint32_t>(file.size()));
    if (length < 2) {
        return;
    }
    ImageCrc crc;
    putBe16(file.data(), crc.compute(file.data() + 2, length - 2));
}

}  // namespace testing_support
