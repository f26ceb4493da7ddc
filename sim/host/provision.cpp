#include "host/provision.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "board/flash_array.h"
#include "boot_code.h"
#include "host/host_volume.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "image_builder.h"
#include "platform/status.h"

namespace sim {

// Generated at build time from the cross-compiled demo code.
extern const uint8_t DEMO_CODE_BINARY[];
extern const size_t DEMO_CODE_BINARY_SIZE;

namespace {

constexpr uint16_t SWITCH_CHIP_VENDOR = 0x14E4;
constexpr uint16_t SWITCH_CHIP_IDS[] = {0xB304, 0xB404, 0xB504, 0xB800};
constexpr int PCI_DEVICE_NEVER_PROBED = 31;
constexpr uint8_t BOARD_TYPE_FIBER_DC = 0x80;
constexpr int BOARD_TYPE_48_SHIFT = 4;
constexpr const char* DEMO_TIMESTAMP = "Fri Dec  1 12:00:00 2006";
constexpr const char* DEMO_NAME = "demo-opcode.bin";
constexpr const char* DEMO_CODE_TEXT = "swboot demo operational code\n";
constexpr uint32_t DEMO_BOOT_CODE_SEED = 0x5eed0002;

bool alphanumeric(const std::string& text) {
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

void putText(std::array<uint8_t, VPD_RECORD_SIZE>& record, size_t offset, size_t size, const std::string& text,
             const char* what, bool lettersAndDigitsOnly) {
    if (text.size() >= size) {
        throw std::invalid_argument(std::string("VPD ") + what + " '" + text + "' is longer than " +
                                    std::to_string(size - 1) + " characters");
    }
    if (lettersAndDigitsOnly && !alphanumeric(text)) {
        throw std::invalid_argument(std::string("VPD ") + what + " '" + text + "' may hold only letters and digits");
    }
    std::memcpy(record.data() + offset, text.data(), text.size());
}

// A deterministic stream of bytes that compresses like real code: some
// repetition, mostly varied.
std::vector<uint8_t> demoBytes(size_t size, const char* text, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    size_t textLength = std::strlen(text);
    std::memcpy(bytes.data(), text, textLength);
    uint32_t state = seed;
    for (size_t i = textLength; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        // Instruction-like words: a few opcodes, varied operands.
        bytes[i] = (i % 4 == 0) ? static_cast<uint8_t>(0x38 + ((state >> 29) & 0x7)) : static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

}  // namespace

int switchChipCount(const BoardProfile& profile) {
    int count = 0;
    for (const PciSpace::Function& f : profile.pci) {
        if (f.function != 0 || f.device >= PCI_DEVICE_NEVER_PROBED || f.vendorId != SWITCH_CHIP_VENDOR) {
            continue;
        }
        for (uint16_t id : SWITCH_CHIP_IDS) {
            if (f.deviceId == id) {
                ++count;
            }
        }
    }
    return count;
}

std::string productDescription(const BoardProfile& profile) {
    uint8_t boardType = profile.cpld.boardType;
    if (switchChipCount(profile) == 1) {
        return (boardType & BOARD_TYPE_FIBER_DC) ? "Kestrix Q24 DC Zevirera Fiber Switch"
                                                 : "Kestrix Q24 Zevirera Fiber Switch";
    }
    static const char* const descriptions[] = {
        "Kestrix Q48 Zevirera Stackable Non-POE Switch", "Kestrix Q48 DC Zevirera Stackable Non-POE Switch",
        "Kestrix Q48 DC Zevirera Stackable POE Switch", "Kestrix Q48 Zevirera Stackable POE Switch"};
    return descriptions[(boardType >> BOARD_TYPE_48_SHIFT) & 0x3];
}

std::array<uint8_t, VPD_RECORD_SIZE> vpdRecord(const BoardProfile& profile) {
    std::array<uint8_t, VPD_RECORD_SIZE> record{};
    const VpdValues& v = profile.vpd;
    std::string hex;
    for (char c : v.macAddress) {
        if (c == ':' || c == '-') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            throw std::invalid_argument("VPD MAC address '" + v.macAddress + "' is not hexadecimal");
        }
        hex += c;
    }
    if (hex.size() != 2 * VPD_MAC_SIZE) {
        throw std::invalid_argument("VPD MAC address '" + v.macAddress + "' does not have six bytes");
    }
    for (size_t i = 0; i < VPD_MAC_SIZE; ++i) {
        record[VPD_MAC_OFFSET + i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    }
    putText(record, VPD_SERIAL_OFFSET, VPD_SERIAL_SIZE, v.serialNumber, "serial number", true);
    putText(record, VPD_DESCRIPTION_OFFSET, VPD_DESCRIPTION_SIZE, productDescription(profile), "description", false);
    putText(record, VPD_DATE_CODE_OFFSET, VPD_DATE_CODE_SIZE, v.dateCode, "date code", true);
    putText(record, VPD_PART_NUMBER_OFFSET, VPD_PART_NUMBER_SIZE, v.partNumber, "part number", false);
    putText(record, VPD_REVISION_OFFSET, VPD_REVISION_SIZE, v.revision, "revision", true);
    return record;
}

std::span<const uint8_t> demoCodeBinary() { return {DEMO_CODE_BINARY, DEMO_CODE_BINARY_SIZE}; }

std::vector<uint8_t> demoOperationalCode() {
    std::span<const uint8_t> built = demoCodeBinary();
    if (!built.empty()) {
        return {built.begin(), built.end()};
    }
    return demoBytes(DEMO_CODE_SIZE, DEMO_CODE_TEXT, 0x5eed0001);
}

std::vector<uint8_t> demoBootCode() { return swboot::tool::bootCodeBuild(DEMO_BOOT_CODE_SEED); }

std::vector<uint8_t> demoImage() {
    swboot::tool::ImageBuildInput input;
    input.code = demoOperationalCode();
    input.bootCode = demoBootCode();
    input.loadAddress = DEMO_CODE_LOAD_ADDRESS;
    input.timestamp = DEMO_TIMESTAMP;
    input.name = DEMO_NAME;
    auto image = swboot::tool::oprImageBuild(input);
    if (!image) {
        throw std::runtime_error("cannot build the demo image: " + image.error());
    }
    return image.value();
}

void provisionBoard(const std::filesystem::path& stateDir, const BoardProfile& profile, bool overwrite) {
    std::filesystem::path flashFile = stateDir / "flash.bin";
    if (!overwrite && std::filesystem::exists(flashFile)) {
        throw std::runtime_error(stateDir.string() +
                                 " already holds a board; provisioning would format its volume (use --force)");
    }
    auto record = vpdRecord(profile);
    auto image = demoImage();
    std::filesystem::create_directories(stateDir);

    RealClock clock;  // the factory's own clock dates the files
    // A new flash gets the factory's boot code first, as on the line.
    std::unique_ptr<FlashArray> cells = flashArrayOpen(flashFile);
    FlashArray& flash = *cells;
    if (cells->created()) {
        // A new flash is a new board: block state kept for an earlier one
        // (lock bits, erase counts, torn blocks) does not belong to it.
        std::filesystem::remove(stateDir / FLASH_BLOCKS_FILE);
    }
    HostVolume volume(flash, stateDir / "volume", clock);
    swboot::TffsFormatParams params;
    if (volume.tffsDevFormat(0, params) != swboot::OK || volume.usrTffsConfig(0, 0, "/DskVol/") != swboot::OK ||
        volume.mkdir("/DskVol/files") != swboot::OK) {
        throw std::runtime_error("cannot format the flash volume in " + stateDir.string());
    }
    auto store = [&](const char* name, const uint8_t* data, size_t size) {
        std::string path = std::string("/DskVol/files/") + name;
        int fd = volume.creat(path.c_str(), swboot::OPEN_WRONLY);
        bool ok = fd >= 0 && volume.write(fd, data, size) == static_cast<long>(size);
        if (fd >= 0) {
            ok = volume.close(fd) == swboot::OK && ok;
        }
        if (!ok) {
            throw std::runtime_error(std::string("cannot write ") + name + " to the flash volume");
        }
    };
    store("vpd.bin", record.data(), record.size());
    store("image1", image.data(), image.size());
    const std::string directory = "---IMAGE---\nactive\nactive\nimage1\n0\ndefault image\n";
    store("boot.dim", reinterpret_cast<const uint8_t*>(directory.data()), directory.size());
}

}  // namespace sim
