// State directories the simulator cannot use as they are: each is refused
// before anything is written, and the directory stays as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "harness/files.h"
#include "host/diagnostics.h"
#include "host/provision.h"
#include "host/scripted_line.h"
#include "host/sim_board.h"
#include "host/sim_clock.h"
#include "support/test_board.h"

namespace {

using testing_support::TempDir;

// A provisioned board's state directory, with each of its files read.
struct ProvisionedState {
    ProvisionedState() { sim::provisionBoard(state, sim::BoardProfile::builtin(), false); }
    std::map<std::filesystem::path, std::vector<uint8_t>> files() const {
        std::map<std::filesystem::path, std::vector<uint8_t>> all;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(state)) {
            if (entry.is_regular_file() && entry.path().filename() != sim::StateLock::FILE_NAME) {
                all[entry.path()] = interop::readHostFile(entry.path());
            }
        }
        return all;
    }
    // The message the board's start was refused with; empty when it started.
    std::string startRefusal() {
        sim::BoardOptions options;
        options.stateDir = state;
        try {
            sim::SimBoard board(options, clock, line, diagnostics);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }
    TempDir dir;
    std::filesystem::path state = dir.path() / "board";
    sim::VirtualClock clock;
    sim::ScriptedLine line{clock};
    sim::Diagnostics diagnostics;
};

class DamagedFlashImage : public ::testing::TestWithParam<size_t> {};

TEST_P(DamagedFlashImage, IsRefusedAndNothingIsErased) {
    ProvisionedState board;
    std::filesystem::resize_file(board.state / "flash.bin", GetParam());
    const auto before = board.files();
    EXPECT_EQ(board.startRefusal(), "the flash image " + (board.state / "flash.bin").string() + " is not 32 MiB long");
    EXPECT_EQ(board.files(), before);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DamagedFlashImage,
                         ::testing::Values(size_t{0}, size_t{1} << 20, (size_t{32} << 20) - 1, size_t{64} << 20));

TEST(StateDirectory, AVolumeFullerThanItsCapacityIsRefusedAndNothingChanges) {
    ProvisionedState board;
    // The capacity is 32,180,736 bytes; the volume holds vpd.bin, image1 and
    // its directories besides.
    interop::writeHostFile(board.state / "volume" / "files" / "big.bin", std::vector<uint8_t>(33000000, 0x5A));
    const auto before = board.files();
    const std::string refusal = board.startRefusal();
    const std::string volume = (board.state / "volume").string();
    EXPECT_EQ(refusal.rfind("the flash volume " + volume + " holds ", 0), 0u) << refusal;
    EXPECT_NE(refusal.find(" bytes, more than its capacity of 32180736 bytes; the largest file, " + volume +
                           "/files/big.bin, takes 33000000 bytes"),
              std::string::npos)
        << refusal;
    EXPECT_EQ(board.files(), before);
    // Made small enough to fit, the same volume starts.
    std::filesystem::resize_file(board.state / "volume" / "files" / "big.bin", 30000000);
    EXPECT_EQ(board.startRefusal(), "");
}

TEST(StateDirectory, ASecondBoardOnTheSameStateIsRefusedUntilTheFirstIsGone) {
    ProvisionedState first;
    sim::BoardOptions options;
    options.stateDir = first.state;
    {
        sim::SimBoard running(options, first.clock, first.line, first.diagnostics);
        EXPECT_EQ(first.startRefusal(), "the state directory " + first.state.string() +
                                            " is in use by another board of this process (" +
                                            std::to_string(getpid()) + "); one simulator at a time runs a board");
        // A board on another state runs beside it.
        ProvisionedState other;
        EXPECT_EQ(other.startRefusal(), "");
    }
    EXPECT_EQ(first.startRefusal(), "");
}

}  // namespace
