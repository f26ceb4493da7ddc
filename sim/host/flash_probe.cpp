#include "host/flash_probe.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "board/strataflash.h"
#include "host/sim_board.h"

namespace sim {

namespace {

constexpr uint32_t REGION_OFFSET = 0x01F00000;
constexpr uint32_t REGION_SIZE = 0x00100000;
constexpr uint32_t REGION_UNITS = REGION_SIZE / StrataFlash::UNIT_SIZE;
constexpr uint32_t READY_BOTH = 0x80008000;

constexpr uint32_t both(uint8_t command) { return (uint32_t{command} << 24) | (uint32_t{command} << 8); }

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

class Probe {
public:
    explicit Probe(StrataFlash& flash) : flash_(flash) {}

    void expectReady(uint32_t offset, const std::string& what) {
        flash_.write32(offset, both(StrataFlash::CMD_READ_STATUS));
        const uint32_t status = flash_.read(offset, 4);
        flash_.write32(offset, both(StrataFlash::CMD_CLEAR_STATUS));
        flash_.write32(offset, both(StrataFlash::CMD_READ_ARRAY));
        if (status != READY_BOTH) {
            throw std::runtime_error(what + " failed: status " + hex32(status) + " at " +
                                     hex32(StrataFlash::BASE + offset));
        }
    }

    void run(std::span<const uint8_t> code) {
        flash_.write32(REGION_OFFSET, both(StrataFlash::CMD_CLEAR_STATUS));
        flash_.write32(REGION_OFFSET, both(StrataFlash::CMD_LOCK_SETUP));
        flash_.write32(REGION_OFFSET, both(StrataFlash::CMD_CONFIRM));
        expectReady(REGION_OFFSET, "clearing the lock bits");
        for (uint32_t unit = 0; unit < REGION_UNITS; ++unit) {
            const uint32_t offset = REGION_OFFSET + unit * StrataFlash::UNIT_SIZE;
            flash_.write32(offset, both(StrataFlash::CMD_BLOCK_ERASE));
            flash_.write32(offset, both(StrataFlash::CMD_CONFIRM));
            expectReady(offset, "erasing");
        }
        std::vector<uint8_t> padded(code.begin(), code.end());
        padded.resize((padded.size() + 3) & ~size_t{3}, 0xFF);
        const uint32_t words = static_cast<uint32_t>(padded.size() / 4);
        for (uint32_t first = 0; first < words; first += StrataFlash::BUFFER_WORDS) {
            const uint32_t n = std::min<uint32_t>(StrataFlash::BUFFER_WORDS, words - first);
            const uint32_t offset = REGION_OFFSET + 4 * first;
            flash_.write32(offset, both(StrataFlash::CMD_WRITE_TO_BUFFER));
            flash_.write32(offset, both(static_cast<uint8_t>(n - 1)));
            for (uint32_t k = 0; k < n; ++k) {
                const uint8_t* p = padded.data() + 4 * (first + k);
                flash_.write32(offset + 4 * k, (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                                   (uint32_t{p[2]} << 8) | p[3]);
            }
            flash_.write32(offset, both(StrataFlash::CMD_CONFIRM));
            expectReady(offset, "programming");
        }
        for (uint32_t i = 0; i < code.size(); ++i) {
            if (flash_.read(REGION_OFFSET + i, 1) != code[i]) {
                throw std::runtime_error("the boot code region does not read back as written at " +
                                         hex32(StrataFlash::BASE + REGION_OFFSET + i));
            }
        }
    }

private:
    StrataFlash& flash_;
};

}  // namespace

std::string flashBootWrite(const std::filesystem::path& stateDir, const BoardProfile& profile,
                           std::span<const uint8_t> code) {
    const std::filesystem::path file = stateDir / "flash.bin";
    if (!std::filesystem::exists(file)) {
        throw std::runtime_error("there is no board in " + stateDir.string() + " (no flash.bin)");
    }
    auto cells = flashArrayOpen(file);
    StrataFlash flash(*cells, profile.flash, [] { return int64_t{0}; });
    flash.setBlockStateFile(stateDir / FLASH_BLOCKS_FILE);
    return flashBootProbe(flash, code);
}

std::string flashBootProbe(StrataFlash& flash, std::span<const uint8_t> code) {
    if (code.empty() || code.size() > REGION_SIZE) {
        throw std::runtime_error("boot code must be 1 to " + std::to_string(REGION_SIZE) + " bytes, not " +
                                 std::to_string(code.size()));
    }
    Probe(flash).run(code);
    return flashResetProblem(flash);
}

}  // namespace sim
