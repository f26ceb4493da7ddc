// The loader built as firmware on the emulated e500 (--loader firmware):
// the core starts at the boot flash's reset vector and runs whatever the
// boot code region holds. The firmware reaches its menu, a read no device
// answers is a machine check that its own handler reports with a stack
// trace through its own code before it resets the board, and a region that
// holds no loader leaves a board that does not start.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>
#include <regex>
#include <string>

#include "harness/files.h"
#include "harness/terminal.h"

namespace {

using namespace std::chrono_literals;
using interop::ChildProcess;
using interop::ScratchDir;

constexpr const char* SIM = SWBOOT_SIM_PROGRAM;
constexpr const char* BOOT_CODE = SWBOOT_FIRMWARE_BOOT_CODE;
constexpr int EXIT_SCRIPT_FAILED = 7;
// Where the firmware runs: the top megabyte of RAM.
constexpr unsigned long FIRMWARE_FIRST = 0x0FF00000;
constexpr unsigned long FIRMWARE_END = 0x10000000;

class FirmwareBoot : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(BOOT_CODE)) {
            GTEST_SKIP() << "the firmware was not built (" << BOOT_CODE << ")";
        }
        ChildProcess provision(SIM, {"provision", "--state", state.string()});
        ASSERT_EQ(provision.wait(30s), 0) << provision.diagnostics();
    }
    int flashBoot(const std::filesystem::path& file) {
        ChildProcess probe(SIM, {"flash-boot", "--state", state.string(), file.string()});
        return probe.wait(60s);
    }
    std::filesystem::path script(const std::string& text) {
        std::filesystem::path file = dir.path() / "session.script";
        std::ofstream(file) << text;
        return file;
    }

    ScratchDir dir;
    std::filesystem::path state = dir.path() / "state";
    std::filesystem::path log = dir.path() / "console.log";
};

TEST_F(FirmwareBoot, AnUnansweredReadIsReportedByTheFirmwaresHandlerWithItsOwnStack) {
    flashBoot(BOOT_CODE);
    ChildProcess sim(SIM, {"--state", state.string(), "--loader", "firmware", "--clock", "virtual", "--console-log",
                           log.string(), "--script",
                           script("expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 30\\r\n"
                                  "expect Select option (0-20): \nsend 1\\r\nexpect q to quit\n"
                                  "send r b0000000 1\\r\nexpect Silicon fault detected\n"
                                  "expect Machine Check Exception\nexpect Cause: bus error: 8-bit read at 0xb0000000\n"
                                  "expect --- Stack Trace ---\nexpect Boot Menu Version\n")
                               .string()});
    ASSERT_EQ(sim.wait(120s), 0) << sim.diagnostics();
    const std::vector<uint8_t> bytes = interop::readHostFile(log);
    const std::string console(bytes.begin(), bytes.end());
    const std::regex frame("PC = 0x([0-9a-f]+) ");
    int frames = 0;
    for (auto it = std::sregex_iterator(console.begin(), console.end(), frame); it != std::sregex_iterator(); ++it) {
        const unsigned long pc = std::stoul((*it)[1].str(), nullptr, 16);
        EXPECT_TRUE(pc >= FIRMWARE_FIRST && pc < FIRMWARE_END) << std::hex << pc;
        ++frames;
    }
    EXPECT_GE(frames, 3) << console;
    EXPECT_NE(sim.diagnostics().find("board: reset (CPLD reset request)"), std::string::npos) << sim.diagnostics();
}

TEST_F(FirmwareBoot, ABootRegionWithoutALoaderDoesNotStart) {
    // A boot code of the right shape (1 MiB, a branch at its reset vector)
    // whose start-up is zeros: no e500 program.
    std::vector<uint8_t> empty(0x100000, 0x00);
    const uint8_t branch[] = {0x4B, 0xFF, 0xF0, 0x04};  // b 0xFFFFF000
    std::copy(std::begin(branch), std::end(branch), empty.end() - 4);
    const std::filesystem::path file = dir.path() / "zeros.bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(empty.data()),
                                                static_cast<std::streamsize>(empty.size()));
    ASSERT_EQ(flashBoot(file), 0);
    ChildProcess sim(SIM, {"--state", state.string(), "--loader", "firmware", "--clock", "virtual", "--script",
                           script("expect Select (1, 2):\n").string()});
    EXPECT_EQ(sim.wait(120s), EXIT_SCRIPT_FAILED) << sim.diagnostics();
    const std::string diagnostics = sim.diagnostics();
    EXPECT_NE(diagnostics.find("board: will not start: the core stopped before it said anything"), std::string::npos)
        << diagnostics;
    EXPECT_NE(diagnostics.find("the board stopped (exit status 6)"), std::string::npos) << diagnostics;
}

}  // namespace
