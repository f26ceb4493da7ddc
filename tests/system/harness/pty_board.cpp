#include "harness/pty_board.h"

#include <stdexcept>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/status.h"

namespace interop {

PtyBoard::PtyBoard(bool paced, uint32_t speed) {
    diagnostics_.setQuiet(true);
    diagnostics_.setCapture(true);
    line_ = std::make_unique<sim::PtyLine>(clock_, diagnostics_);
    sim::BoardOptions options;
    options.stateDir = state_.path() / "state";
    options.flashInMemory = true;
    options.linePaced = paced;
    board_ = std::make_unique<sim::SimBoard>(std::move(options), clock_, *line_, diagnostics_);

    sim::HostVolume& volume = board_->volume();
    swboot::TffsFormatParams params;
    if (volume.tffsDevFormat(0, params) != 0 || volume.usrTffsConfig(0, 0, "/DskVol/") != 0) {
        throw std::runtime_error("cannot format the board's volume");
    }
    volume.mkdir("/DskVol/files");
    volume.powerUp();
    const swboot::Platform& p = board_->platform();
    if (p.volume.usrTffsConfig(0, 0, "/DskVol/") != swboot::OK || p.files.chdir("/DskVol/files") != swboot::OK) {
        throw std::runtime_error("the board's volume is not ready");
    }
    // The console as the Boot Menu leaves it: terminal options without the
    // monitor trap, 9600 baud.
    board_->tty().powerUp();
    board_->tty().optionsSet(swboot::OPT_TERMINAL & ~swboot::OPT_MON_TRAP);
    if (board_->tty().baudRateSet(speed) != swboot::OK) {
        throw std::runtime_error("the console does not take " + std::to_string(speed) + " baud");
    }
    loader_ = std::make_unique<swboot::Loader>(p);
}

PtyBoard::~PtyBoard() = default;

int PtyBoard::xmodem(const std::string& arguments) {
    int result = loader_->xmodem.xmodem(arguments.c_str());
    loader_->io.flush();
    return result;
}

std::filesystem::path PtyBoard::filePath(const std::string& name) const {
    return board_->volume().hostRoot() / "files" / name;
}

std::vector<uint8_t> PtyBoard::readFile(const std::string& name) const { return readHostFile(filePath(name)); }

}  // namespace interop
