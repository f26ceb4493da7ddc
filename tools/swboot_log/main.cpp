// swboot-log: read the event log and the text logs of a switch's boot
// loader on a laptop, and make event logs for tests and demonstrations.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "host_files.h"
#include "image_builder.h"
#include "log_tool.h"

namespace {

using namespace swboot;
using namespace swboot::tool;

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
// Larger than any event log, so that an oversized file is reported as such.
constexpr uint64_t READ_LIMIT = LOG_FILE_BYTES + 1;

int failed(const std::string& message) {
    std::fprintf(stderr, "swboot-log: %s\n", message.c_str());
    return EXIT_FAILED;
}

int usage(const std::string& message) {
    std::fprintf(stderr, "swboot-log: %s\n", message.c_str());
    return EXIT_USAGE;
}

int printed(const LogShown& shown) {
    for (const std::string& warning : shown.warnings) {
        std::fprintf(stderr, "swboot-log: warning: %s\n", warning.c_str());
    }
    if (std::fwrite(shown.text.data(), 1, shown.text.size(), stdout) != shown.text.size() ||
        std::fflush(stdout) != 0) {
        return failed("cannot write the output");
    }
    return EXIT_SUCCESS;
}

int showRun(const std::string& path) {
    Result<FileBytes> file = fileRead(path, READ_LIMIT);
    if (!file) {
        return failed(file.error());
    }
    Result<LogShown> shown = logShow(file->bytes);
    if (!shown) {
        return failed(path + ": " + shown.error());
    }
    for (std::string& warning : shown.value().warnings) {
        warning = path + ": " + warning;
    }
    return printed(*shown);
}

int collectRun(const std::string& directory) {
    Result<LogShown> shown = logCollect(directory);
    if (!shown) {
        return failed(shown.error());
    }
    return printed(*shown);
}

struct AddArguments {
    std::string file;
    std::string type;
    std::string source;
    int32_t line = 0;
    std::string task = "0";
    std::string code = "0";
    std::string registers[5] = {"0", "0", "0", "0", "0"};
    int64_t seconds = -1;
};

constexpr const char* REGISTER_OPTIONS[5] = {"--srr0", "--srr1", "--msr", "--dsisr", "--dar"};
constexpr const char* EVENT_OPTIONS[4] = {"--source", "--line", "--task", "--code"};

int addRun(const AddArguments& args, CLI::App& command) {
    Result<uint32_t> type = logTypeParse(args.type);
    if (!type) {
        return usage(type.error());
    }
    LogAddEntry entry;
    entry.type = *type;
    bool exception = *type != LOG_TYPE_EVENT && *type != LOG_TYPE_ERROR;
    std::vector<const char*> foreign(std::begin(REGISTER_OPTIONS), std::end(REGISTER_OPTIONS));
    if (exception) {
        foreign.assign(std::begin(EVENT_OPTIONS), std::end(EVENT_OPTIONS));
    }
    for (const char* option : foreign) {
        if (command.count(option) != 0) {
            return usage(std::string(option) + " does not go with an " + (exception ? "exception" : args.type) +
                         " entry");
        }
    }
    entry.source = args.source;
    entry.line = args.line;
    Result<uint32_t> task = hexParse(args.task);
    Result<uint32_t> code = hexParse(args.code);
    if (!task || !code) {
        return usage(!task ? "--task: " + task.error() : "--code: " + code.error());
    }
    entry.task = *task;
    entry.code = *code;
    uint32_t* words[5] = {&entry.registers.srr0, &entry.registers.srr1, &entry.registers.msr,
                          &entry.registers.dsisr, &entry.registers.dar};
    for (int i = 0; i < 5; ++i) {
        Result<uint32_t> value = hexParse(args.registers[i]);
        if (!value) {
            return usage(std::string(REGISTER_OPTIONS[i]) + ": " + value.error());
        }
        *words[i] = *value;
    }
    // The board's clock counts seconds from 1970 as the host's does.
    int64_t seconds = args.seconds >= 0 ? args.seconds : static_cast<int64_t>(std::time(nullptr));
    if (seconds > UINT32_MAX) {
        return usage("--time: " + std::to_string(seconds) + " does not fit in 32 bits");
    }
    entry.seconds = static_cast<uint32_t>(seconds);

    std::vector<uint8_t> old;
    std::error_code error;
    if (std::filesystem::exists(args.file, error)) {
        Result<FileBytes> file = fileRead(args.file, READ_LIMIT);
        if (!file) {
            return failed(file.error());
        }
        old = std::move(file->bytes);
    }
    Result<std::vector<uint8_t>> updated = logAdd(old, entry);
    if (!updated) {
        return failed(args.file + ": " + updated.error());
    }
    Status written = fileReplace(args.file, *updated);
    if (!written) {
        return failed(written.error());
    }
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Read a switch boot loader's event log (log2.bin) and text logs (slog0-2.txt, olog0-2.txt) "
                 "as the loader renders them, and add entries to an event log for tests and demonstrations"};
    app.require_subcommand(1);

    std::string showFile;
    CLI::App* showCommand =
        app.add_subcommand("show", "Print an event log as Boot Menu option 3 sends it (without its padding)");
    showCommand->add_option("file", showFile, "The event log (log2.bin)")->type_name("FILE")->required();

    std::string collectDirectory;
    CLI::App* collectCommand = app.add_subcommand(
        "collect", "Print the text logs of a volume directory, oldest generation first, as the loader collects them");
    collectCommand->add_option("directory", collectDirectory, "The directory holding slog0-2.txt and olog0-2.txt")
        ->type_name("DIR")
        ->required();

    AddArguments add;
    CLI::App* addCommand = app.add_subcommand(
        "add", "Append an entry after the last used entry of an event log (a missing file is made first)");
    addCommand->add_option("file", add.file, "The event log (log2.bin)")->type_name("FILE")->required();
    addCommand->add_option("type", add.type, "event, error, machine-check, watchdog, exc-0300 or exc-1100")
        ->type_name("TYPE")
        ->required();
    addCommand->add_option("--source", add.source, "Source file name (event, error; the first 32 characters)");
    addCommand->add_option("--line", add.line, "Source line (event, error)");
    addCommand->add_option("--task", add.task, "Task identifier (event, error; hex)");
    addCommand->add_option("--code", add.code, "Code (event, error; hex)");
    for (int i = 0; i < 5; ++i) {
        addCommand->add_option(REGISTER_OPTIONS[i], add.registers[i], "Register word (exception entries; hex)");
    }
    addCommand->add_option("--time", add.seconds, "Seconds of the board clock (default: now)")
        ->check(CLI::NonNegativeNumber);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error);  // --help
        }
        app.exit(error);
        return EXIT_USAGE;
    }
    try {
        if (showCommand->parsed()) {
            return showRun(showFile);
        }
        if (collectCommand->parsed()) {
            return collectRun(collectDirectory);
        }
        return addRun(add, *addCommand);
    } catch (const std::exception& error) {
        return failed(error.what());
    }
}
