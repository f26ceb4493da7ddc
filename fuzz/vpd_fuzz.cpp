// Fuzz target: "vpd.bin" as found on the volume, shown; and the answers
// typed to the VPD generator.
//
// The first byte chooses: even shows the rest as "vpd.bin", odd types the
// rest to the generator over a stored record.
//
// Properties checked beyond the sanitizers: showing leaves the file as it
// was; a generator that runs out of answers leaves the old record whole
// and no "vpd.new"; a finished one leaves a 256-byte record whose text
// fields end within their places.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_board.h"
#include "loader.h"
#include "vpd/vpd.h"

namespace {

void checkField(const std::string& record, size_t offset, size_t size) {
    fuzzing::brokenIf(record.substr(offset, size).find('\0') == std::string::npos,
                      "a generated text field without its terminator");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::runSelected(data, size, [](fuzzing::FuzzBoard& fb, uint8_t selector, std::string_view rest) {
        using namespace swboot;
        fb.clearFiles();
        const bool generate = (selector & 1) != 0;
        std::string old;
        if (generate) {
            old.assign(VPD_RECORD_SIZE, '\0');
            old.replace(VPD_SERIAL_OFFSET, 6, "OLD123");
        } else {
            old = rest;
        }
        fb.plant(VPD_FILE_NAME, reinterpret_cast<const uint8_t*>(old.data()), old.size());
        bool finished = false;
        fb.runLoader([&](Loader& loader) {
            if (!generate) {
                loader.vpd.vpdShow();
                return;
            }
            fb.type(rest);
            loader.vpd.vpdGenerate();
            finished = true;
        });
        const std::string now = fb.fileBytes(VPD_FILE_NAME);
        if (!finished) {
            fuzzing::brokenIf(now != old || fb.fileExists(VPD_NEW_FILE_NAME),
                              "an unfinished show or dialogue changed the stored record");
            return;
        }
        fuzzing::brokenIf(now.size() != VPD_RECORD_SIZE || fb.fileExists(VPD_NEW_FILE_NAME),
                          "a finished dialogue left no whole record");
        checkField(now, VPD_SERIAL_OFFSET, VPD_SERIAL_SIZE);
        checkField(now, VPD_DESCRIPTION_OFFSET, VPD_DESCRIPTION_SIZE);
        checkField(now, VPD_DATE_CODE_OFFSET, VPD_DATE_CODE_SIZE);
        checkField(now, VPD_PART_NUMBER_OFFSET, VPD_PART_NUMBER_SIZE);
        checkField(now, VPD_REVISION_OFFSET, VPD_REVISION_SIZE);
    });
}
