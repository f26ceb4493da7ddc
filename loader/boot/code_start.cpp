#include "boot/code_start.h"

#include <zlib.h>

#include <cstring>

#include "board_support/cpld_registers.h"
#include "common/file_io.h"
#include "common/handles.h"
#include "loader.h"

namespace swboot {

namespace {

constexpr const char* RECEIVED_FILE = "xcode.bin";
constexpr const char* BOOT_CODE_FILE = "bootcode.bin";
constexpr uint32_t PROGRESS_INITIAL = 1;

// Owns an initialised inflate stream.
class InflateStream {
public:
    InflateStream() { std::memset(&stream_, 0, sizeof stream_); }
    ~InflateStream() {
        if (open_) {
            inflateEnd(&stream_);
        }
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    bool init() {
        open_ = inflateInit_(&stream_, INFLATE_ZLIB_VERSION, static_cast<int>(sizeof stream_)) == Z_OK;
        return open_;
    }
    int end() {
        open_ = false;
        return inflateEnd(&stream_);
    }
    z_stream& operator*() { return stream_; }

private:
    z_stream stream_;
    bool open_ = false;
};

}  // namespace

int CodeStart::opCodeInflate(const char* fileName, uint32_t component) {
    Loader& l = loader_;
    Files& files = l.p.files;
    Stdio& io = l.io;

    ImageHeader header;
    if (l.images.imageHeaderRead(fileName, header) != OK) {
        return 1;
    }
    std::span<uint8_t> staging = l.p.bus.ramView(STAGING_AREA_BASE, STAGING_AREA_SIZE);
    if (staging.empty()) {
        return 1;
    }
    size_t loaded = 0;
    {
        FileHandle file(files, files.open(fileName, OPEN_RDONLY, 0));
        if (!file.isOpen()) {
            return 1;
        }
        loaded = static_cast<size_t>(readFully(files, file.fd(), staging.data(), staging.size()));
    }

    uint32_t size = header.componentSize(component);
    if (size == 0) {
        return 1;
    }
    // The component's data must lie within what was read, and its code must
    // go to RAM outside the staging area.
    uint64_t dataStart = static_cast<uint64_t>(header.componentOffset(component)) + IMAGE_HEADER_SIZE;
    if (dataStart + size > loaded) {
        return 1;
    }
    uint32_t load = header.componentLoadAddress(component);
    uint32_t limit = inflateLimit(load);
    if (limit == 0) {
        return 1;
    }
    std::span<uint8_t> output = l.p.bus.ramView(load, limit - load);
    if (output.empty()) {
        return 1;
    }

    InflateStream inflater;
    z_stream& z = *inflater;
    z.next_in = staging.data() + dataStart;
    z.avail_in = 0;
    z.next_out = output.data();
    if (!inflater.init()) {
        return 1;
    }
    io.printf("                       50%%                     100%%\n");

    uint32_t lastMark = PROGRESS_INITIAL;
    while (z.total_in < size) {
        uint32_t inputLeft = size - static_cast<uint32_t>(z.total_in);
        size_t outputLeft = output.size() - z.total_out;
        z.avail_in = inputLeft < INFLATE_INPUT_STEP ? inputLeft : INFLATE_INPUT_STEP;
        z.avail_out = static_cast<uInt>(outputLeft < INFLATE_OUTPUT_STEP ? outputLeft : INFLATE_OUTPUT_STEP);
        int result = inflate(&z, Z_NO_FLUSH);
        uint32_t percent = static_cast<uint32_t>(static_cast<uint64_t>(z.total_in) * 100 / size);
        if (percent % 2 == 0 && percent != lastMark) {
            io.printf("|");
            io.flush();
            lastMark = percent;
        }
        if (result == Z_STREAM_END) {
            break;
        }
        if (result != Z_OK) {
            return 1;
        }
    }

    int ended = inflater.end();
    io.printf("\n");
    for (unsigned left = l.p.clock.sleep(1); left != 0;) {
        left = l.p.clock.sleep(left);
    }
    return ended != Z_OK ? 1 : 0;
}

int CodeStart::opCodeStart(uint32_t startMode) {
    Loader& l = loader_;
    Stdio& io = l.io;
    Cpu& cpu = l.p.cpu;
    Clock& clock = l.p.clock;

    l.p.files.remove(RECEIVED_FILE);
    l.p.files.remove(BOOT_CODE_FILE);

    ImageHeader header;
    l.images.imageHeaderRead(l.activeImageName, header);
    char timestamp[IMAGE_TIMESTAMP_SIZE + 1];
    header.timestamp(timestamp);
    io.printf("\n\nOperational Code Date: %s\n", timestamp);
    io.printf("Uncompressing.....\n\n");

    if (opCodeInflate(l.activeImageName, COMPONENT_OPERATIONAL_CODE) != 0) {
        l.p.bus.write8(CPLD_LED_REGISTER_1, LED_PATTERN_FAULT);
        io.printf("\n\nThere was an error during decompression... resetting the switch\n");
        io.flush();
        clock.taskDelay(2 * clock.clockRate());
        loader_.board.boardReset();
    }

    cpu.msrSet(cpu.msrGet() & ~(MSR_EE | MSR_CE));
    io.flush();
    clock.taskDelay(clock.clockRate());
    cpu.msrSet(cpu.msrGet() & ~(MSR_EE | MSR_CE));

    uint32_t l1csr1 = cpu.sprRead(SPR_L1CSR1);
    cpu.sprWrite(SPR_L1CSR1, l1csr1 & ~L1CSR1_ICFI);
    cpu.sync();
    cpu.sprWrite(SPR_L1CSR1, l1csr1 | L1CSR1_ICFI);
    cpu.sync();
    cpu.sprWrite(SPR_HID0, 0);

    return cpu.handOver(header.componentLoadAddress(COMPONENT_OPERATIONAL_CODE), startMode);
}

}  // namespace swboot
