#include "support/loader_on_board.h"

#include <stdexcept>

#include "board/board_events.h"
#include "common/text.h"

namespace testing_support {

// What ended a routine on the board, as LoaderOnBoard::run says it.
static std::string boardEventOf(sim::SimBoard& board, const std::function<void()>& routine) {
    try {
        routine();
        return "";
    } catch (const sim::BoardReset& e) {
        return "reset: " + e.cause;
    } catch (const sim::BoardPowerOff& e) {
        return "power off: " + e.cause;
    } catch (const sim::BoardMachineCheck& e) {
        // The loader's handler runs and ends the board its own way.
        return "machine check: " + e.cause + "; " + boardEventOf(board, [&] { board.machineCheck(e); });
    }
}

LoaderOnBoard::LoaderOnBoard(TestBoard& board, bool formatVolume) : board_(board) {
    if (formatVolume) {
        board.formatVolume();
    }
    loader_ = std::make_unique<swboot::Loader>(board.board().platform());
    const swboot::Platform& p = board.board().platform();
    if (p.volume.usrTffsConfig(0, 0, "/DskVol/") != swboot::OK || p.files.chdir("/DskVol/files") != swboot::OK) {
        throw std::runtime_error("the test volume is not ready");
    }
    swboot::textCopy(loader_->activeImageName, sizeof loader_->activeImageName, "image1");
    loader_->flash.flashAccessInit();
    loader_->boardStart();
    board.board().i2c().controller().clearEvents();
    outputTaken_ = board.output().size();
}

std::string LoaderOnBoard::run(const std::function<void()>& routine) {
    std::string ended = boardEventOf(board_.board(), routine);
    loader_->io.flush();
    return ended;
}

std::string LoaderOnBoard::takeOutput() {
    const std::string& all = board_.output();
    std::string fresh = all.substr(outputTaken_ < all.size() ? outputTaken_ : all.size());
    outputTaken_ = all.size();
    return plainText(fresh);
}

std::string plainText(const std::string& console) {
    std::string text = console;
    std::erase(text, '\r');
    return text;
}

BootEnd bootOnPlatform(const swboot::Platform& platform) {
    BootEnd end;
    try {
        swboot::Loader loader(platform);
        loader.bootMain();
        end.event = "returned";
    } catch (const sim::BoardReset& e) {
        end.event = "reset: " + e.cause;
    } catch (const sim::BoardPowerOff& e) {
        end.exitStatus = e.exitStatus;
        end.event = "power off: " + e.cause;
    } catch (const sim::BoardMachineCheck& e) {
        end.event = "machine check: " + e.cause;
    }
    return end;
}

}  // namespace testing_support
