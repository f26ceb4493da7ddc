#include "image/code_load.h"

#include <cstdio>

#include "common/file_io.h"
#include "common/handles.h"
#include "common/text.h"
#include "image/image_lines.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr size_t PREFIX_SIZE = 16;
constexpr int BOOT_CODE_FILE_MODE = 0644;
}  // namespace

int CodeLoad::codeLoadXmodem(uint32_t targetDeviceId) {
    Loader& l = loader_;
    Files& files = l.p.files;
    Stdio& io = l.io;
    const char* received = CODE_LOAD_RECEIVE_FILE;

    FileStatus status;
    if (files.stat(received, status) == OK) {
        files.remove(received);
    }
    io.printf("Ready to receive the file with XMODEM/CRC....\n");
    char arguments[XMODEM_ARGUMENT_BUFFER_SIZE];
    std::snprintf(arguments, sizeof arguments, CODE_LOAD_XMODEM_ARGUMENTS, received);
    if (l.xmodem.xmodem(arguments) == ERROR) {
        // What arrived stays until the next load deletes it.
        io.printf("Error while receiving file with XMODEM.\n");
        return CODE_LOAD_FAILED;
    }
    io.printf("\n\nXMODEM transfer complete, checking CRC....\n");

    uint8_t prefix[PREFIX_SIZE] = {};
    {
        FileHandle file(files, files.open(received, OPEN_RDONLY, 0));
        if (!file.isOpen()) {
            io.printf("ERROR: Can't open file %s\n", received);
            files.remove(received);
            return CODE_LOAD_FAILED;
        }
        if (readFully(files, file.fd(), prefix, sizeof prefix) < static_cast<long>(sizeof prefix)) {
            file.close();
            io.printf("ERROR: Can't read file %s\n", received);
            return CODE_LOAD_UNREADABLE;
        }
    }

    // Nothing in the header is trusted before the CRC of the whole file.
    ImageHeader header;
    header.clear();
    uint32_t checkedLength = imageCheckedLength(prefix);
    if (l.images.fileCrc16(received, checkedLength) != getBe16(prefix + IMAGE_CRC_OFFSET)) {
        io.printf("ERROR: Operational code CRC is not valid.\n");
        files.remove(received);
        return CODE_LOAD_FAILED;
    }
    io.printf("Verified operational code CRC.\n");

    // A header that cannot be read leaves the area clear, and its Size of 0
    // is refused next.
    l.images.imageHeaderRead(received, header);
    if (header.size() < IMAGE_HEADER_SIZE || header.size() > IMAGE_SIZE_MAX) {
        io.printf("ERROR: Code image size of %d bytes is invalid.\n", static_cast<int>(header.size()));
        files.remove(received);
        return CODE_LOAD_FAILED;
    }
    if (header.targetDevice() != targetDeviceId) {
        io.printf("ERROR: Operational code target %x does not match this device.\n", header.targetDevice());
        files.remove(received);
        return CODE_LOAD_FAILED;
    }

    io.printf("\n\nThe following code has been uploaded:\n\n");
    imageHeaderFieldLines(header, true, io);

    uint32_t bootCodeSize = header.componentSize(COMPONENT_BOOT_CODE);
    if (bootCodeSize != 0 &&
        bootCodeExtract(header.componentOffset(COMPONENT_BOOT_CODE), bootCodeSize) != CODE_LOAD_OK) {
        files.remove(received);
        return CODE_LOAD_FAILED;
    }

    io.printf("Storing Operational code in Flash. This may take several minutes...\n\n");
    char imageName[DIM_FILE_NAME_SIZE] = {};
    if (l.dim.dimActiveImageGet(imageName) != DIM_OK) {
        io.printf("Error obtaining active image name\n");
        textCopy(imageName, sizeof imageName, DIM_IMAGE1);
    }
    if (l.dim.imageInstall(received, imageName) == 0) {
        return CODE_LOAD_OK;
    }
    io.printf("ERROR: Operational code update failed.\n");
    files.remove(received);
    return CODE_LOAD_FAILED;
}

int CodeLoad::bootCodeExtract(uint32_t offset, uint32_t size) {
    Loader& l = loader_;
    Files& files = l.p.files;
    Stdio& io = l.io;
    io.printf("Extracting boot code from image...\n");
    MemoryHandle buffer(l.p.memory, size);
    if (!buffer) {
        io.printf("\nERROR!!\nCould not allocate temporary memory buffer for Boot Code copy.!\n");
        return CODE_LOAD_FAILED;
    }
    long got = 0;
    {
        FileHandle file(files, files.open(CODE_LOAD_RECEIVE_FILE, OPEN_RDONLY, 0));
        if (!file.isOpen()) {
            io.printf("\n\nERROR!!\nCould not open %s file.\n\n", CODE_LOAD_RECEIVE_FILE);
            return CODE_LOAD_FAILED;
        }
        long position = static_cast<long>(offset) + static_cast<long>(IMAGE_HEADER_SIZE);
        if (files.lseek(file.fd(), position, SEEK_FROM_START) == position) {
            got = readFully(files, file.fd(), buffer.data(), size);
        }
    }
    // The boot code file holds exactly this image's boot code: an earlier,
    // longer one must not leave a tail behind.
    FileHandle out(files, files.open(CODE_LOAD_BOOT_CODE_FILE, OPEN_CREAT | OPEN_WRONLY | OPEN_TRUNC, BOOT_CODE_FILE_MODE));
    if (!out.isOpen()) {
        return CODE_LOAD_OK;
    }
    long stored = 0;
    while (stored < got) {
        long n = files.write(out.fd(), buffer.data() + stored, static_cast<size_t>(got - stored));
        if (n <= 0) {
            break;
        }
        stored += n;
    }
    if (stored < static_cast<long>(size)) {
        // Part of a boot code is no boot code: the file goes, so that no
        // update can start from it. The operational code is still loaded.
        out.close();
        files.remove(CODE_LOAD_BOOT_CODE_FILE);
        io.printf("ERROR: only %ld of the %u bytes of boot code could be stored in %s; the file was deleted.\n",
                  stored, size, CODE_LOAD_BOOT_CODE_FILE);
    }
    return CODE_LOAD_OK;
}

}  // namespace swboot
