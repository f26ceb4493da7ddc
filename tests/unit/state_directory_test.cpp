// State directories the simulator cannot use as they are: each is refused
// before anything is written, and the directory stays as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "support/state_dir_board.h"

namespace {

using ProvisionedState = testing_support::StateDirBoard;

TEST(StateDirectory, AFlashImageOfAnotherSizeIsRefusedAndNothingIsErased) {
    for (size_t size : {size_t{0}, size_t{1} << 20, (size_t{32} << 20) - 1, size_t{64} << 20}) {
        ProvisionedState board;
        std::filesystem::resize_file(board.state / "flash.bin", size);
        const auto before = board.files();
        EXPECT_EQ(board.startRefusal(), "the flash image " + (board.state / "flash.bin").string() + " is not 32 MiB long");
        EXPECT_EQ(board.files(), before) << size;
    }
}

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
    {
        sim::SimBoard running(first.options, first.clock, first.line, first.diagnostics);
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
