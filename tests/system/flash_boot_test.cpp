// A board whose boot code region was left without a start at the reset
// vector, or with a block torn, as an update cut short leaves it:
// swboot-sim refuses to start it with one line and its own exit status, and
// the service probe (swboot-sim flash-boot) brings it back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "boot_code.h"
#include "harness/files.h"
#include "harness/terminal.h"

namespace {

using namespace std::chrono_literals;
using interop::ChildProcess;
using interop::ScratchDir;

constexpr const char* SIM = SWBOOT_SIM_PROGRAM;
constexpr const char* IMAGE = SWBOOT_IMAGE_PROGRAM;
constexpr int EXIT_BRICKED = 6;
constexpr std::streamoff RESET_VECTOR_OFFSET = 0x01FFFFFC;
constexpr std::streamoff REGION_OFFSET = 0x01F00000;

// The simulator with nobody at the console: standard input at its end.
int boot(const std::filesystem::path& state, std::string& diagnostics) {
    ChildProcess sim("/bin/sh", {"-c", std::string("exec \"") + SIM + "\" --state \"" + state.string() +
                                           "\" --clock virtual </dev/null >/dev/null"});
    int status = sim.wait(60s);
    diagnostics = sim.diagnostics();
    return status;
}

TEST(FlashBoot, ABrickedBoardIsRefusedUntilTheProbeWritesBootCode) {
    ScratchDir dir;
    const auto state = dir.path() / "state";
    std::string said;
    ASSERT_EQ(boot(state, said), 0) << said;  // a new board starts: the factory programmed its boot code
    {
        std::fstream flash(state / "flash.bin", std::ios::in | std::ios::out | std::ios::binary);
        flash.seekp(RESET_VECTOR_OFFSET);
        flash.write("\xff\xff\xff\xff", 4);
    }
    EXPECT_EQ(boot(state, said), EXIT_BRICKED);
    EXPECT_NE(said.find("board: will not start: the reset vector 0xfffffffc is erased (0xffffffff): there is no "
                        "boot code to start"),
              std::string::npos)
        << said;

    const auto tooLarge = dir.path() / "large.bin";
    interop::writeHostFile(tooLarge, std::vector<uint8_t>(0x100001, 0x00));
    ChildProcess refused(SIM, {"flash-boot", "--state", state.string(), tooLarge.string()});
    EXPECT_EQ(refused.wait(30s), 1);
    EXPECT_NE(refused.diagnostics().find("boot code must be 1 to 1048576 bytes, not 1048577"), std::string::npos)
        << refused.diagnostics();

    auto code = swboot::tool::bootCodeBuild(42);
    code[swboot::tool::CHECK_WORD_OFFSET] ^= 0xFF;  // any boot code written whole starts, without a check word
    // Taken back out of the image it travels in, as a service engineer would.
    const auto file = dir.path() / "bootcode.bin";
    interop::writeHostFile(dir.path() / "given.bin", code);
    interop::writeHostFile(dir.path() / "code.bin", std::vector<uint8_t>(4096, 0x60));
    interop::runToEnd(IMAGE, {"build", "--code", (dir.path() / "code.bin").string(), "--load-address", "0x10000",
                              "--boot-code", (dir.path() / "given.bin").string(), "-o",
                              (dir.path() / "image.bin").string()});
    interop::runToEnd(IMAGE, {"extract", (dir.path() / "image.bin").string(), "--boot-code", file.string()});
    ChildProcess probe(SIM, {"flash-boot", "--state", state.string(), file.string()});
    EXPECT_EQ(probe.wait(30s), 0) << probe.diagnostics();
    EXPECT_NE(probe.diagnostics().find("the board starts again"), std::string::npos) << probe.diagnostics();
    const auto flash = interop::readHostFile(state / "flash.bin");
    EXPECT_TRUE(std::equal(code.begin(), code.end(), flash.begin() + REGION_OFFSET));

    EXPECT_EQ(boot(state, said), 0) << said;
    EXPECT_EQ(said.find("will not start"), std::string::npos) << said;

    // A block of the region marked torn, as an update killed in its erase
    // leaves it, keeps the board from starting whatever the cells hold.
    const std::vector<uint8_t> kept = interop::readHostFile(state / "flash-blocks.txt");
    std::string blocks(kept.begin(), kept.end());
    const size_t line = blocks.find("\n1 125 ");
    ASSERT_NE(line, std::string::npos) << blocks;
    blocks[blocks.find('\n', line + 1) - 1] = '1';
    std::ofstream(state / "flash-blocks.txt", std::ios::trunc) << blocks;
    EXPECT_EQ(boot(state, said), EXIT_BRICKED);
    EXPECT_NE(said.find("board: will not start: the boot code region is not one whole boot code: its block at "
                        "0xfff40000 (device 1) was erased and has not been programmed whole since"),
              std::string::npos)
        << said;
}

}  // namespace
