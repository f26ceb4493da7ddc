// Fuzz target: "log2.bin" as found on the volume, opened the way the
// startup opens the event log, then rendered entry by entry and as the
// whole "asciilog.bin", and recorded into.
//
// The first byte sets the table's size in entries (1 to 80), so that a
// short input can fill the file as well as fall short of it or run past
// it; the rest is the file.
//
// Properties checked beyond the sanitizers: the first empty entry lies
// within the table; an empty log has every entry of its file marked empty;
// every rendered entry is a terminated text within its 512 bytes; the
// walk back from the newest entry ends within the table's entries; a
// recorded event stays within the table.
#include <cstdint>
#include <cstring>
#include <string>

#include "eventlog/event_log.h"
#include "fuzz_board.h"
#include "loader.h"

namespace {

constexpr uint32_t MAX_TABLE_ENTRIES = 80;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::runSelected(data, size, [](fuzzing::FuzzBoard& fb, uint8_t selector, std::string_view file) {
        using namespace swboot;
        const uint32_t entries = 1 + selector % MAX_TABLE_ENTRIES;
        const uint32_t logSize = entries * static_cast<uint32_t>(LOG_ENTRY_SIZE);
        fb.clearFiles();
        fb.plant(LOG_FILE_NAME, reinterpret_cast<const uint8_t*>(file.data()), file.size());
        fb.runLoader([&](Loader& loader) {
            EventLog& log = loader.eventLog;
            log.log_init(logSize, LOG_INIT_FIRST, LOG_INIT_LEVEL, LOG_INIT_FURTHER_1, LOG_INIT_FURTHER_2);
            fuzzing::brokenIf(!log.hasTable() || log.entries() != entries || log.next() >= entries,
                              "the opened log's first empty entry lies outside its table");
            const std::string stored = fb.fileBytes(LOG_FILE_NAME);
            // An empty log: every entry of the file is marked empty (the type
            // word is what marks it).
            for (uint32_t i = 0; log.next() == 0 && i < entries; ++i) {
                fuzzing::brokenIf(
                    stored.size() < (i + 1) * LOG_ENTRY_SIZE ||
                        stored.compare(i * LOG_ENTRY_SIZE, 4, std::string(4, static_cast<char>(LOG_ERASED_BYTE))) != 0,
                    "an empty log whose file still holds entries");
            }

            char text[LOG_RENDER_TEXT_SIZE];
            long entry = -1;
            // An empty log renders nothing.
            const bool empty = logNewestEntry(log.table()) < 0;
            for (uint32_t walked = 0; !empty; ++walked) {
                fuzzing::brokenIf(walked > entries, "the walk back through the log does not end");
                std::memset(text, 0x7E, sizeof text);
                entry = log.log_render_entry(nullptr, entry, text);
                fuzzing::brokenIf(std::memchr(text, '\0', sizeof text) == nullptr,
                                  "a rendered entry without its terminator");
                if (entry < 0) {
                    break;
                }
                fuzzing::brokenIf(entry >= static_cast<long>(entries), "the walk back gave an entry beyond the table");
            }
            fuzzing::brokenIf(log.log_render_file() != 0, "the rendered log could not be written");

            log.log_event_unchecked("fuzz.cpp", 1, 0x1234);
            fuzzing::brokenIf(log.next() > entries, "a recorded event ran past the table");
        });
    });
}
