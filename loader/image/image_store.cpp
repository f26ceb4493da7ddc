#include "image/image_store.h"

#include <cstring>

#include "common/file_io.h"
#include "common/handles.h"
#include "common/text.h"
#include "image/image_lines.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr size_t CHECK_PREFIX_SIZE = 16;
}  // namespace

uint16_t ImageStore::fileCrc16(const char* name, uint32_t length) {
    Files& files = loader_.p.files;
    crc_.crc16TableBuild();
    FileHandle file(files, files.open(name, OPEN_RDONLY, 0));
    if (!file.isOpen()) {
        return 1;
    }
    uint8_t stored[2];
    readFully(files, file.fd(), stored, sizeof stored);
    uint16_t crc = 0;
    uint32_t position = 2;
    uint8_t block[FILE_CRC_READ_SIZE];
    for (uint32_t reads = 0;; ++reads) {
        if (reads % FILE_CRC_READS_PER_YIELD == 0) {
            loader_.p.clock.taskDelay(1);
        }
        long n = files.read(file.fd(), block, sizeof block);
        if (n < 0) {
            n = 0;
        }
        uint32_t take = static_cast<uint32_t>(n);
        const uint32_t room = position < length ? length - position : 0;
        if (take > room) {
            take = room;
        }
        crc = crc16Continue(crc, block, take);
        position += take;
        if (position >= length || n < static_cast<long>(FILE_CRC_READ_SIZE)) {
            break;
        }
    }
    return crc;
}

int ImageStore::imageHeaderRead(const char* name, ImageHeader& header) {
    Files& files = loader_.p.files;
    Stdio& io = loader_.io;
    FileHandle file(files, files.open(name, OPEN_RDONLY, 0));
    if (!file.isOpen()) {
        io.printf("Error opening the image file %s \n", name);
        return IMAGE_HEADER_OPEN_ERROR;
    }
    uint8_t fixed[STK_HEADER_LENGTH_MAX] = {};
    if (readFully(files, file.fd(), fixed, STK_FIXED_PART_SIZE) < static_cast<long>(STK_FIXED_PART_SIZE)) {
        io.printf("Incomplete file %s\n", name);
        return IMAGE_HEADER_INCOMPLETE;
    }
    uint32_t base = 0;
    if (stkSignaturePresent(fixed)) {
        // Only the fixed area of a container is ever read: a header length
        // beyond it lists no further entries.
        // The entry count comes from the fixed part already read: a header
        // length too short to hold it lists no entries, it does not empty
        // the container.
        const uint32_t entryCount = getBe32(fixed + STK_ENTRY_COUNT_OFFSET);
        uint32_t headerLength = getBe32(fixed + STK_HEADER_LENGTH_OFFSET);
        if (headerLength > STK_HEADER_LENGTH_MAX) {
            headerLength = STK_HEADER_LENGTH_MAX;
        }
        std::memset(fixed, 0, sizeof fixed);
        files.lseek(file.fd(), 0, SEEK_FROM_START);
        long got = readFully(files, file.fd(), fixed, headerLength);
        if (entryCount == 0) {
            io.printf(" Empty STK file \n");
            return IMAGE_HEADER_EMPTY_STK;
        }
        bool found = false;
        for (uint32_t i = 0; i < entryCount; ++i) {
            size_t entry = STK_ENTRY_TABLE_OFFSET + STK_ENTRY_SIZE * i;
            if (entry + STK_ENTRY_SIZE > headerLength || entry + STK_ENTRY_SIZE > static_cast<size_t>(got)) {
                break;
            }
            if (getBe32(fixed + entry + STK_ENTRY_TARGET_OFFSET) == DEVICE_TARGET_ID) {
                base = getBe32(fixed + entry + STK_ENTRY_IMAGE_OFFSET);
                found = true;
                break;
            }
        }
        if (!found) {
            io.printf(" No matching OPR files inside the STK file \n");
            return IMAGE_HEADER_NO_MATCH;
        }
    }
    ImageHeader read;
    if (files.lseek(file.fd(), static_cast<long>(base), SEEK_FROM_START) == static_cast<long>(base)) {
        readFully(files, file.fd(), read.bytes, IMAGE_HEADER_SIZE);
    }
    uint32_t components = read.componentCount();
    if (components > IMAGE_COMPONENTS_MAX) {
        components = IMAGE_COMPONENTS_MAX;
    }
    for (uint32_t i = 0; i < components; ++i) {
        read.setComponentOffset(i, read.componentOffset(i) + base);
    }
    header = read;
    return OK;
}

void ImageStore::activeImageNameGet(char* name) {
    if (loader_.dim.dimActiveImageGet(name) != DIM_OK) {
        loader_.io.printf("ActiveImage could not be found\n");
        textCopy(name, DIM_FILE_NAME_SIZE, DIM_IMAGE1);
    }
}

int ImageStore::activeImageCrcCheck() {
    Files& files = loader_.p.files;
    char name[DIM_FILE_NAME_SIZE] = {};
    activeImageNameGet(name);
    if (loader_.dim.activeEntryUnnamed()) {
        return IMAGE_CRC_BAD;
    }

    uint8_t prefix[CHECK_PREFIX_SIZE] = {};
    {
        FileHandle file(files, files.open(name, OPEN_RDONLY, 0));
        if (file.isOpen()) {
            readFully(files, file.fd(), prefix, sizeof prefix);
        }
    }
    uint32_t length = imageCheckedLength(prefix);
    if (length < IMAGE_HEADER_SIZE || length > IMAGE_SIZE_MAX) {
        return IMAGE_CRC_BAD;
    }
    MemoryHandle buffer(loader_.p.memory, length);
    if (!buffer) {
        loader_.io.printf("\nError trying to allocate mem for file %s \n", name);
        return IMAGE_CRC_BAD;
    }
    FileHandle file(files, files.open(name, OPEN_RDONLY, 0));
    if (!file.isOpen() || readFully(files, file.fd(), buffer.data(), length) < static_cast<long>(length)) {
        return IMAGE_CRC_BAD;
    }
    file.close();
    uint16_t crc = crc_.compute(buffer.data() + 2, length - 2);
    return crc == getBe16(buffer.data()) ? IMAGE_CRC_GOOD : IMAGE_CRC_BAD;
}

void ImageStore::imageHeaderShow() {
    Stdio& io = loader_.io;
    char name[DIM_FILE_NAME_SIZE] = {};
    activeImageNameGet(name);
    ImageHeader header;
    imageHeaderRead(name, header);
    io.printf("\n\n\nThe following image is in the Flash File System:\n\n");
    io.printf("File Name......................................%s\n", name);
    imageHeaderFieldLines(header, header.componentSize(COMPONENT_BOOT_CODE) != 0, io);
}

}  // namespace swboot
