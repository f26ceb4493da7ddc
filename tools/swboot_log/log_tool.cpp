#include "log_tool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "text_format.h"

namespace swboot::tool {

namespace {

// Renders the entries of a table with the loader's walk.
class TableRenderer : public LogEntryRenderer {
public:
    explicit TableRenderer(LogTable table) : table_(table) {}
    long renderEntry(long entry, char* text) override {
        return logRenderStep(table_, entry, text, LOG_RENDER_TEXT_SIZE);
    }

private:
    LogTable table_;
};

class StringLogWriter : public LogWriter {
public:
    bool write(const char* data, size_t length) override {
        text.append(data, length);
        return true;
    }
    std::string text;
};

// The text log files of a host directory.
class DirectoryLogReader : public LogTextReader {
public:
    explicit DirectoryLogReader(std::filesystem::path directory) : directory_(std::move(directory)) {}
    ~DirectoryLogReader() override { close(); }
    bool open(const char* name) override {
        close();
        std::filesystem::path path = directory_ / name;
        std::error_code error;
        if (!std::filesystem::exists(path, error)) {
            return false;  // a generation not made yet contributes nothing
        }
        if (!std::filesystem::is_regular_file(path, error)) {
            warnings.push_back(path.string() + ": not a regular file, left out");
            return false;
        }
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) {
            warnings.push_back(path.string() + ": cannot open: " + std::strerror(errno) + ", left out");
            return false;
        }
        name_ = path.string();
        return true;
    }
    long read(uint8_t* buffer, size_t length) override {
        size_t n = std::fread(buffer, 1, length, file_);
        if (n == 0 && std::ferror(file_) != 0) {
            warnings.push_back(name_ + ": read error, the rest is left out");
            return -1;
        }
        return static_cast<long>(n);
    }
    void close() override {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }
    std::vector<std::string> warnings;

private:
    std::filesystem::path directory_;
    std::FILE* file_ = nullptr;
    std::string name_;
};

// The table of a file's bytes, or why the bytes are no event log.
Result<LogTable> tableOf(const std::vector<uint8_t>& file) {
    if (file.empty()) {
        return fail("empty file: an event log holds " + std::to_string(LOG_FILE_BYTES) + " bytes");
    }
    if (file.size() % LOG_ENTRY_SIZE != 0) {
        return fail(format("%zu bytes is not a whole number of %zu-byte entries (an event log holds %u bytes): "
                           "the file is damaged or not an event log",
                           file.size(), LOG_ENTRY_SIZE, static_cast<unsigned>(LOG_FILE_BYTES)));
    }
    if (file.size() > LOG_FILE_BYTES) {
        return fail(format("%zu bytes is more than an event log's %u bytes (%u entries)", file.size(),
                           static_cast<unsigned>(LOG_FILE_BYTES), static_cast<unsigned>(LOG_ENTRIES)));
    }
    return LogTable{file.data(), static_cast<uint32_t>(file.size() / LOG_ENTRY_SIZE)};
}

// Why the loader would erase this table at its next start; empty when it
// keeps it. Sets `next` to the first empty entry.
std::string inconsistency(const LogTable& table, uint32_t& next) {
    next = table.entries;
    for (uint32_t i = 0; i < table.entries; ++i) {
        if (logEntryType(table.entry(i)) == LOG_TYPE_EMPTY) {
            next = i;
            break;
        }
    }
    for (uint32_t i = next; i < table.entries; ++i) {
        if (logEntryType(table.entry(i)) != LOG_TYPE_EMPTY) {
            return format("entry %u is used after the empty entry %u", static_cast<unsigned>(i),
                          static_cast<unsigned>(next));
        }
    }
    if (table.entries < LOG_ENTRIES) {
        return format("the file holds %u of the %u entries", static_cast<unsigned>(table.entries),
                      static_cast<unsigned>(LOG_ENTRIES));
    }
    if (next == table.entries) {
        return format("all %u entries are used", static_cast<unsigned>(table.entries));
    }
    return {};
}

constexpr const char* ERASED_AT_START = ": the loader erases this log at its next start";

}  // namespace

Result<LogShown> logShow(const std::vector<uint8_t>& file) {
    Result<LogTable> table = tableOf(file);
    if (!table) {
        return fail(table.error());
    }
    LogShown shown;
    uint32_t next = 0;
    std::string why = inconsistency(*table, next);
    if (!why.empty()) {
        shown.warnings.push_back(why + ERASED_AT_START);
    }
    TableRenderer renderer(*table);
    StringLogWriter out;
    logRenderedTextWrite(renderer, table->entries, out);
    shown.text = std::move(out.text);
    return shown;
}

Result<LogShown> logCollect(const std::filesystem::path& directory) {
    std::error_code error;
    if (!std::filesystem::is_directory(directory, error)) {
        return fail(directory.string() + ": not a directory (give the volume's files directory, " +
                    "STATE/volume/files for the simulator)");
    }
    DirectoryLogReader in(directory);
    StringLogWriter out;
    logTextCollectWrite(in, out);
    LogShown shown;
    shown.text = std::move(out.text);
    shown.warnings = std::move(in.warnings);
    return shown;
}

Result<uint32_t> logTypeParse(const std::string& name) {
    static const struct {
        const char* name;
        uint32_t type;
    } TYPES[] = {{"event", LOG_TYPE_EVENT},
                 {"error", LOG_TYPE_ERROR},
                 {"machine-check", LOG_TYPE_MACHINE_CHECK},
                 {"watchdog", LOG_TYPE_WATCHDOG},
                 {"exc-0300", LOG_TYPE_EXCEPTION_0300},
                 {"exc-1100", LOG_TYPE_EXCEPTION_1100}};
    for (const auto& t : TYPES) {
        if (name == t.name) {
            return t.type;
        }
    }
    return fail("unknown entry type \"" + name + "\" (event, error, machine-check, watchdog, exc-0300, exc-1100)");
}

Result<std::vector<uint8_t>> logAdd(const std::vector<uint8_t>& file, const LogAddEntry& entry) {
    std::vector<uint8_t> bytes = file;
    if (bytes.empty()) {
        bytes.assign(LOG_FILE_BYTES, LOG_ERASED_BYTE);
    }
    Result<LogTable> table = tableOf(bytes);
    if (!table) {
        return fail(table.error());
    }
    uint32_t next = 0;
    std::string why = inconsistency(*table, next);
    if (!why.empty()) {
        return fail(why + ERASED_AT_START + "; nothing added");
    }
    uint8_t* at = bytes.data() + static_cast<size_t>(next) * LOG_ENTRY_SIZE;
    if (entry.type == LOG_TYPE_EVENT || entry.type == LOG_TYPE_ERROR) {
        logEntryBuild(at, entry.type, entry.source.c_str(), entry.line, entry.task, entry.code, entry.seconds);
    } else {
        logExceptionEntryBuild(at, entry.type, entry.registers, entry.seconds);
    }
    return bytes;
}

}  // namespace swboot::tool
