#include "diag/fs_test.h"

#include <cstdio>
#include <cstring>

#include "common/calendar.h"
#include "common/handles.h"
#include "common/text.h"
#include "loader.h"

namespace swboot {

namespace {

// Room kept at the end of the listing text for the summary and the notes.
constexpr size_t DIR_LISTING_SUMMARY_ROOM = 320;
// A name cut to fit the listing ends with this mark.
constexpr char SHORTENED_MARK = '*';

}  // namespace

int FsTest::numberAsk(const char* question) {
    Stdio& io = loader_.io;
    char line[CONSOLE_LINE_SIZE];
    io.printf("%s", question);
    io.flush();
    while (!io.lineRead(line, sizeof line)) {
        io.printf("Please input a number\n\n");
        io.printf("%s", question);
        io.flush();
    }
    char clean[CONSOLE_LINE_SIZE];
    ConsoleInput::consoleLineClean(line, clean);
    io.printf("\n");
    return decimalToInt(clean);
}

void FsTest::fsTest() {
    Stdio& io = loader_.io;
    Files& files = loader_.p.files;

    const int iterations = numberAsk("\nInput iterations (0=forever) ");
    const int writeSize = numberAsk("Input write size ");
    const int readSize = numberAsk("Input read size ");
    if (writeSize <= 0) {
        io.printf("\nERROR: Write size %d is invalid; it must be 1 or more. Test not run.\n", writeSize);
        return;
    }
    if (readSize <= 0) {
        io.printf("\nERROR: Read size %d is invalid; it must be 1 or more. Test not run.\n", readSize);
        return;
    }
    io.printf("\nTest will run %d times (forever if 0)\n", iterations);

    MemoryHandle source(loader_.p.memory, FS_TEST_BUFFER_SIZE);
    MemoryHandle copy(loader_.p.memory, FS_TEST_BUFFER_SIZE);
    if (!source || !copy || source.size() < FS_TEST_BUFFER_SIZE || copy.size() < FS_TEST_BUFFER_SIZE) {
        io.printf("\nERROR: No memory for the test buffers (2 x %u bytes). Test not run.\n",
                  static_cast<unsigned>(FS_TEST_BUFFER_SIZE));
        return;
    }

    FileHandle image(files, files.open(FS_TEST_SOURCE, OPEN_RDWR, 0));
    if (!image.isOpen()) {
        io.printf("\nError opening operational code.\n");
        return;
    }
    FileStatus status;
    if (files.fstat(image.fd(), status) == OK && status.size > FS_TEST_BUFFER_SIZE) {
        io.printf("\nERROR: '%s' is %u bytes, more than the %u-byte test buffers. Test not run.\n", FS_TEST_SOURCE,
                  status.size, static_cast<unsigned>(FS_TEST_BUFFER_SIZE));
        return;
    }
    size_t fileSize = 0;
    for (;;) {
        size_t room = FS_TEST_BUFFER_SIZE - fileSize;
        long n = files.read(image.fd(), source.data() + fileSize, room < FS_TEST_SOURCE_PIECE ? room : FS_TEST_SOURCE_PIECE);
        if (n == ERROR) {
            io.printf("\nReading of Operational Code '%s' failed.\n", FS_TEST_SOURCE);
            return;
        }
        if (n == 0) {
            break;
        }
        fileSize += static_cast<size_t>(n);
        if (fileSize == FS_TEST_BUFFER_SIZE) {
            // Full buffers: the file must end here, or it has grown past them.
            uint8_t probe;
            if (files.read(image.fd(), &probe, 1) != 0) {
                io.printf("\nERROR: '%s' is larger than the %u-byte test buffers. Test not run.\n", FS_TEST_SOURCE,
                          static_cast<unsigned>(FS_TEST_BUFFER_SIZE));
                return;
            }
            break;
        }
    }
    image.close();
    io.printf("File size:  %d\n", static_cast<int>(fileSize));

    const size_t writePiece = static_cast<size_t>(writeSize);
    const size_t readPiece = static_cast<size_t>(readSize);
    for (int iteration = 1;; ++iteration) {
        io.printf("\nIter %d of %d -\n", iteration, iterations);
        std::memset(copy.data(), 0, FS_TEST_BUFFER_SIZE);

        files.remove(FS_TEST_TEMP_FILE);
        FileHandle temp(files, files.creat(FS_TEST_TEMP_FILE, OPEN_RDWR));
        if (!temp.isOpen()) {
            io.printf("\nError creating temp file.\n\n");
            return;
        }
        size_t offset = 0;
        bool written = true;
        if (writePiece < fileSize) {
            for (; offset + writePiece < fileSize && written; offset += writePiece) {
                written = files.write(temp.fd(), source.data() + offset, writePiece) == static_cast<long>(writePiece);
            }
        }
        if (written && offset < fileSize) {
            size_t last = fileSize - offset;
            written = files.write(temp.fd(), source.data() + offset, last) == static_cast<long>(last);
        }
        if (!written) {
            io.printf("\nWriting to test file failed.\n");
            return;
        }
        temp.close();

        FileHandle back(files, files.open(FS_TEST_TEMP_FILE, OPEN_RDWR, 0));
        size_t got = 0;
        for (;;) {
            size_t room = FS_TEST_BUFFER_SIZE - got;
            long n = back.isOpen() ? files.read(back.fd(), copy.data() + got, room < readPiece ? room : readPiece)
                                   : ERROR;
            if (n == ERROR) {
                io.printf("\nReading from test file failed.\n");
                return;
            }
            if (n == 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        back.close();

        if (std::memcmp(source.data(), copy.data(), fileSize) != 0) {
            int mismatches = 0;
            for (size_t i = 0; i < fileSize; ++i) {
                if (source.data()[i] == copy.data()[i]) {
                    continue;
                }
                io.printf("\nData mismatch at location %d, expected 0x%x and received 0x%x", static_cast<int>(i),
                          source.data()[i], copy.data()[i]);
                if (++mismatches > FS_TEST_MISMATCH_LIMIT) {
                    io.printf("\nMore than 20 data mismatch\n");
                    break;
                }
            }
            return;
        }
        if (iterations > 0 && iteration >= iterations) {
            return;
        }
    }
}

void FsTest::dirListingShow() {
    Stdio& io = loader_.io;
    Files& files = loader_.p.files;
    char text[DIR_LISTING_TEXT_SIZE];
    size_t textLength = 0;
    text[0] = '\0';

    char cwd[PATH_MAX_LENGTH + 1] = {};
    DirectoryHandle dir(files, files.getcwd(cwd, sizeof cwd) == OK ? files.opendir(cwd) : ERROR);
    if (!dir.isOpen()) {
        io.printf("Could not open directory!\n\n");
        return;
    }

    long used = 0;
    int shortened = 0;
    int omitted = 0;
    DirectoryEntry entry;
    while (files.readdir(dir.dir(), entry) == OK) {
        char line[DIR_LISTING_LINE_SIZE] = {};
        FileStatus status;
        const bool known = files.stat(entry.name, status) == OK;
        const bool regular = known && fileIsRegular(status);
        // A regular file's name fills at most the name column, and one that
        // must be cut keeps a blank before the size; a directory's name may
        // take the whole line.
        const size_t nameRoom = regular ? DIR_LISTING_NAME_WIDTH : DIR_LISTING_LINE_SIZE - 2;
        const size_t cutLength = regular ? DIR_LISTING_NAME_WIDTH - 1 : nameRoom;
        size_t nameLength = std::strlen(entry.name);
        if (nameLength > nameRoom) {
            std::memcpy(line, entry.name, cutLength - 1);
            line[cutLength - 1] = SHORTENED_MARK;
            line[cutLength] = '\0';
            ++shortened;
        } else {
            std::memcpy(line, entry.name, nameLength + 1);
        }
        size_t length = std::strlen(line);
        if (regular) {
            for (; length < DIR_LISTING_NAME_WIDTH; ++length) {
                line[length] = ' ';
            }
            BrokenDownTime t = brokenDownTime(status.mtime);
            std::snprintf(line + length, sizeof line - length, "%-10lu %d/%d/%d %d:%.2d:%.2d\n",
                          static_cast<unsigned long>(status.size), t.month, t.day, t.year, t.hour, t.minute,
                          t.second);
            used += static_cast<long>(status.size);
        } else if (known && fileIsDirectory(status)) {
            std::snprintf(line + length, sizeof line - length, "\n");
        } else {
            std::snprintf(line + length, sizeof line - length, "\n");
        }
        length = std::strlen(line);
        if (omitted > 0 || textLength + length + DIR_LISTING_SUMMARY_ROOM >= DIR_LISTING_TEXT_SIZE) {
            ++omitted;
            continue;
        }
        std::memcpy(text + textLength, line, length + 1);
        textLength += length;
    }

    VolumeStatistics stats;
    {
        FileHandle dummy(files, files.creat(DIR_LISTING_STAT_FILE, OPEN_RDWR));
        if (!dummy.isOpen() || loader_.p.volume.statistics(dummy.fd(), stats) != OK) {
            stats = VolumeStatistics{};
        }
    }
    files.remove(DIR_LISTING_STAT_FILE);
    const long total = static_cast<long>(stats.blockSize) * static_cast<long>(stats.totalBlocks);

    auto append = [&](const char* format, auto... values) {
        int n = std::snprintf(text + textLength, sizeof text - textLength, format, values...);
        if (n > 0) {
            textLength += static_cast<size_t>(n) < sizeof text - textLength ? static_cast<size_t>(n)
                                                                             : sizeof text - textLength - 1;
        }
    };
    if (omitted > 0) {
        append("... %d more entries not shown: the listing is full (their sizes are counted below)\n", omitted);
    }
    if (shortened > 0) {
        append("(%d long names shortened, marked %c)\n", shortened, SHORTENED_MARK);
    }
    append("\nFilesystem size %ld\n", total);
    append("Bytes used      %ld\n", used);
    append("Bytes free      %ld\n", total - used);
    io.puts(text);
}

}  // namespace swboot
