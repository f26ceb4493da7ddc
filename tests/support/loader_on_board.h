// A loader instance on a test board, in the state startup leaves it in --
// volume mounted, current directory "/DskVol/files", "image1" the active
// image name -- without running bootMain, so that a test can call one
// routine at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>

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
    // "" when it returned, else "reset: ...", "power off: ...", "machine
    // check: ...". Output written before the event is flushed to the line.
    std::string runUntilEvent(const std::function<void()>& routine);

private:
    TestBoard& board_;
    std::unique_ptr<swboot::Loader> loader_;
};

}  // namespace testing_support
