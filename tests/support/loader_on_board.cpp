#include "support/loader_on_board.h"

#include <stdexcept>

#include "board/board_events.h"
#include "common/text.h"

namespace testing_support {

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
}

std::string LoaderOnBoard::runUntilEvent(const std::function<void()>& routine) {
    std::string ended;
    try {
        routine();
    } catch (const sim::BoardReset& e) {
        ended = "reset: " + e.cause;
    } catch (const sim::BoardPowerOff& e) {
        ended = "power off: " + e.cause;
    } catch (const sim::BoardMachineCheck& e) {
        ended = "machine check: " + e.cause;
    }
    loader_->io.flush();
    return ended;
}

}  // namespace testing_support
