// Fuzz target: "boot.dim" as found on the volume, loaded, listed and then
// changed by the directory's operations.
//
// Properties checked beyond the sanitizers: results are the documented
// codes; at most two entries; a file the loader rewrote reads back to the
// same directory and is rewritten to the same text; after a successful
// dimImageActivate exactly one entry is scheduled to become active.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_board.h"
#include "loader.h"

namespace {

int scheduledActive(const swboot::ImageDirectory& dim) {
    int count = 0;
    for (int i = 0; i < swboot::DIM_SLOTS; ++i) {
        if (dim.slot(i).fileName[0] != '\0' && std::strcmp(dim.slot(i).nextStatus, swboot::DIM_STATE_ACTIVE) == 0) {
            ++count;
        }
    }
    return count;
}

// Counted entries whose slot holds no image: the rewrite leaves them out.
int emptySlots(const swboot::ImageDirectory& dim) {
    int count = 0;
    for (int i = 0; i < dim.entryCount() && i < swboot::DIM_SLOTS; ++i) {
        if (dim.slot(i).fileName[0] == '\0') {
            ++count;
        }
    }
    return count;
}

void checkNameFits(const char* name) {
    fuzzing::brokenIf(std::memchr(name, '\0', swboot::DIM_FILE_NAME_SIZE) == nullptr,
                      "an image name without its terminator");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace swboot;
    fuzzing::FuzzBoard& fb = fuzzing::FuzzBoard::instance();
    fb.plant("boot.dim", data, size);
    fb.runLoader([&](Loader& loader) {
        ImageDirectory& dim = loader.dim;
        int result = dim.dimInitialize();
        fuzzing::brokenIf(result != 0 && result != 1 && result != 3, "dimInitialize gave an undocumented result");
        fuzzing::brokenIf(dim.entryCount() < 0 || dim.entryCount() > DIM_SLOTS, "more entries than slots");
        int shown = dim.dimFileShow();
        fuzzing::brokenIf(shown != 0 && shown != -1 && shown != -2 && shown != -3,
                          "dimFileShow gave an undocumented result");

        if (result == 0) {
            // An empty directory is rewritten as an empty file, which reads
            // back as "empty" (3).
            const std::string first = fb.fileBytes(DIM_FILE_NAME);
            Loader again(fb.platform());
            const int expected = first.empty() ? 3 : 0;
            fuzzing::brokenIf(again.dim.dimInitialize() != expected || fb.fileBytes(DIM_FILE_NAME) != first ||
                                  again.dim.entryCount() != dim.entryCount() - emptySlots(dim),
                              "a rewritten boot.dim does not read back to the same directory");
        }

        char name[DIM_FILE_NAME_SIZE];
        if (dim.dimActiveImageGet(name) == 0) {
            checkNameFits(name);
        }
        if (dim.dimBackupImageGet(name) == 0) {
            checkNameFits(name);
        }
        int backupState = dim.dimBackupStateGet();
        fuzzing::brokenIf(backupState != 1 && backupState != 3 && backupState != 4 && backupState != 5,
                          "dimBackupStateGet gave an undocumented result");
        for (const char* image : {DIM_IMAGE2, DIM_IMAGE1}) {
            int activated = dim.dimImageActivate(image);
            fuzzing::brokenIf(activated == 0 && scheduledActive(dim) != 1,
                              "after dimImageActivate not exactly one entry is scheduled active");
            fuzzing::brokenIf(activated != 0 && activated != 3 && activated != 7,
                              "dimImageActivate gave an undocumented result");
        }
        int counter = 0;
        dim.dimActiveCounterSet(12345);
        dim.dimActiveCounterGet(counter);
        dim.dimImageAdd(DIM_IMAGE2);
        dim.dimImageRemove(DIM_IMAGE1);
        dim.dimImageRemove(DIM_IMAGE2);
        fuzzing::brokenIf(dim.entryCount() < 0 || dim.entryCount() > DIM_SLOTS + 1, "the entry count ran away");
    });
    return 0;
}
