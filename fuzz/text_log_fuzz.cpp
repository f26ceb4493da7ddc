// Fuzz target: the text log's slot files as found on the volume, rotated
// at startup, written into and collected.
//
// The input's pieces (split at INPUT_SEPARATOR) are, in turn, the files
// "slog0.txt", "olog0.txt", "slog1.txt", "olog1.txt", "slog2.txt" and
// "olog2.txt" (a missing piece leaves its file out), then lines stored
// with log_text_store and log_text_line (up to LINE_PIECES_MAX of them).
//
// Properties checked beyond the sanitizers: results are the documented
// codes; after the rotation the new generation-0 files exist and the
// former ones are generation 1; a stored line fills exactly its slot.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "eventlog/text_log.h"
#include "fuzz_board.h"
#include "loader.h"

namespace {

constexpr const char* SLOT_FILES[] = {"slog0.txt", "olog0.txt", "slog1.txt", "olog1.txt", "slog2.txt", "olog2.txt"};
constexpr size_t SLOT_FILE_COUNT = sizeof SLOT_FILES / sizeof SLOT_FILES[0];
constexpr const char* COLLECTED = "collect.txt";
// Each piece stores two lines, so this many pieces run past the startup
// log's 32 slots and once round the operation log's; more only repeat
// the same wrap at the cost of a file rewrite per line.
constexpr size_t LINE_PIECES_MAX = 34;

void checkResult(int result, const char* what) {
    fuzzing::brokenIf(result != swboot::LOG_TEXT_OK && result != swboot::LOG_TEXT_NOT_STORED, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace swboot;
    const std::vector<std::string_view> pieces = fuzzing::inputPieces(data, size);
    fuzzing::FuzzBoard& fb = fuzzing::FuzzBoard::instance();
    fb.clearFiles();
    for (size_t i = 0; i < SLOT_FILE_COUNT && i < pieces.size(); ++i) {
        fb.plant(SLOT_FILES[i], reinterpret_cast<const uint8_t*>(pieces[i].data()), pieces[i].size());
    }
    fb.runLoader([&](Loader& loader) {
        TextLog& log = loader.textLog;
        const std::string formerStartup = fb.fileBytes("slog0.txt");
        const bool hadStartup = fb.fileExists("slog0.txt");
        checkResult(log.log_text_rotate(), "log_text_rotate gave an undocumented result");
        fuzzing::brokenIf(!fb.fileExists("slog0.txt") || !fb.fileExists("olog0.txt") ||
                              (hadStartup && fb.fileBytes("slog1.txt") != formerStartup),
                          "the rotation lost a generation");
        const size_t end = std::min(pieces.size(), SLOT_FILE_COUNT + LINE_PIECES_MAX);
        for (size_t i = SLOT_FILE_COUNT; i < end; ++i) {
            const std::string line(pieces[i]);
            const uint32_t slot = log.log_text_seq();
            const int stored = log.log_text_store(line.c_str(), line.size());
            checkResult(stored, "log_text_store gave an undocumented result");
            const char* name = slot < LOG_TEXT_SLOTS ? log.startupFileName() : log.operationFileName();
            fuzzing::brokenIf(
                stored == LOG_TEXT_OK && fb.fileBytes(name).size() < (slot % LOG_TEXT_SLOTS + 1) * LOG_TEXT_SLOT_SIZE,
                "a stored line does not fill its slot");
            checkResult(log.log_text_line(1, 3, "fuzz.cpp", static_cast<int>(i), line.c_str()),
                        "log_text_line gave an undocumented result");
        }
        checkResult(log.log_text_collect(COLLECTED), "log_text_collect gave an undocumented result");
    });
    return 0;
}
