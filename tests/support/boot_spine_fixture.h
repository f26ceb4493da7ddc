// Helpers for tests of the boot spine (startup, Boot Menu, console input,
// image directory and image checks): a loader instance on a test board
// that a test drives one routine at a time, a run of bootMain on a platform
// the test composed itself, and console text as the loader wrote it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "loader.h"
#include "support/test_board.h"

namespace testing_support::boot {

// The console sends every line feed as CR LF and echoes a typed Enter as
// CR LF; this gives the text with the CRs taken out, as printf wrote it.
std::string plainText(const std::string& console);

// A loader on the test board's platform, left as startup leaves it: the
// volume mounted (formatted first unless told otherwise) and the current
// directory "/DskVol/files". The image directory is not loaded.
class DirectLoader {
public:
    explicit DirectLoader(TestBoard& board, bool formatVolume = true);

    swboot::Loader& loader() { return *loader_; }
    swboot::Loader* operator->() { return loader_.get(); }

    // Runs a routine that may end in a board event. "" when it returned,
    // otherwise "reset: <cause>", "power off: <cause>" or "machine check:
    // <cause>". What the loader buffered is sent to the line first.
    std::string run(const std::function<void()>& routine);

    // Console text (CRs taken out) since the previous call.
    std::string takeOutput();

private:
    TestBoard& board_;
    std::unique_ptr<swboot::Loader> loader_;
    size_t outputTaken_ = 0;
};

// What ended a run of bootMain on a platform composed by the test.
struct BootEnd {
    int exitStatus = 0;   // as SimBoard::run reports it
    std::string event;    // "reset: ...", "power off: ...", "machine check: ..."
};

// Runs bootMain of a fresh loader on the given platform (the test board's
// services with some of them replaced), once, until a board event ends it.
// Nothing is caught but board events.
BootEnd bootOnPlatform(const swboot::Platform& platform);

}  // namespace testing_support::boot
