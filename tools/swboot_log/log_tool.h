// What swboot-log does, apart from its command line: renders a "log2.bin"
// pulled off a unit as the loader renders it for Boot Menu option 3,
// collects the text logs of a volume directory as the loader collects
// them, and appends entries to a log file for tests and demonstrations.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "eventlog/log_format.h"
#include "result.h"

namespace swboot::tool {

// A log file's text: the rendered text, and warnings about a table the
// loader would not keep as it is (one line each).
struct LogShown {
    std::string text;
    std::vector<std::string> warnings;
};

// Renders the bytes of a log file as "asciilog.bin" holds them, without
// the padding. Fails on bytes that are not a table of whole 52-byte entries
// of at most the loader's 5041.
Result<LogShown> logShow(const std::vector<uint8_t>& file);

// The text logs of a volume directory (slog0-2.txt, olog0-2.txt), as the
// loader's collection writes them; warnings name files that are there but
// cannot be read.
Result<LogShown> logCollect(const std::filesystem::path& directory);

// One entry to append.
struct LogAddEntry {
    uint32_t type = LOG_TYPE_EVENT;
    std::string source;  // event and error entries
    int32_t line = 0;
    uint32_t task = 0;
    uint32_t code = 0;
    LogExceptionRegisters registers;  // exception entries
    uint32_t seconds = 0;
};

// The entry types by the names the command line takes: event, error,
// machine-check, watchdog, exc-0300, exc-1100.
Result<uint32_t> logTypeParse(const std::string& name);

// The file with the entry written after its last used entry; a missing
// file (empty bytes) becomes an erased log of the loader's size first.
// Fails on a damaged table, on one the loader would erase at its start (so
// that nothing in it is lost unnoticed), and on a full one.
Result<std::vector<uint8_t>> logAdd(const std::vector<uint8_t>& file, const LogAddEntry& entry);

}  // namespace swboot::tool
