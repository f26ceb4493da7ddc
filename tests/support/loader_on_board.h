// A loader instance on a test board, in the state startup leaves it in --
// volume mounted, current directory "/DskVol/files", "image1" the active
// image name, the flash access lock created, the I2C controller and the
// real-time clock started (the I2C events of that start forgotten), the image
// directory not loaded -- without running bootMain,
// so that a test can call one routine at a time; and a run of bootMain on
// a platform the test composed itself.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "board/board_events.h"
#include "loader.h"
#include "support/test_board.h"

namespace testing_support {

class LoaderOnBoard {
public:
    // Formats the test board's volume unless told it is already prepared.
    explicit LoaderOnBoard(TestBoard& board, bool formatVolume = true);

    swboot::Loader& loader() { return *loader_; }
    swboot::Loader* operator->() { return loader_.get(); }

    // Runs a routine that may end in a board event; returns what ended it:
    // "" when it returned, else "reset: ...", "power off: ...", or "machine
    // check: CAUSE; " and what ended the loader's handler of it. Output
    // written before the event is flushed to the line.
    std::string run(const std::function<void()>& routine);
    // Console text (CRs taken out) since the loader was made or since the
    // previous call.
    std::string takeOutput();

private:
    TestBoard& board_;
    std::unique_ptr<swboot::Loader> loader_;
    size_t outputTaken_ = 0;
};

// A test on a fresh test board with a loader on it; the loader's xmodem
// command runs with an argument string.
class OnBoardTest : public ::testing::Test {
protected:
    int xmodem(const std::string& arguments) { return loader->xmodem.xmodem(arguments.c_str()); }
    bool outputHas(const std::string& text) { return board.output().find(text) != std::string::npos; }

    TestBoard board;
    LoaderOnBoard loader{board};
};

// The console sends every line feed as CR LF and echoes a typed Enter as
// CR LF; this gives the text with the CRs taken out, as printf wrote it.
std::string plainText(const std::string& console);

// What ended a run of bootMain on a platform composed by the test.
struct BootEnd {
    int exitStatus = 0;   // as SimBoard::run reports it
    std::string event;    // "reset: ...", "power off: ...", "machine check: ..."
};

// Runs bootMain of a fresh loader on the given platform (the test board's
// services with some of them replaced), once, until a board event ends it.
BootEnd bootOnPlatform(const swboot::Platform& platform);

}  // namespace testing_support
