// Boot Menu option 3 end to end, as a service engineer does it: a board
// whose "log2.bin" holds a few entries (made with swboot-log add), the
// option chosen on a terminal, the rendered log received with lrzsz's rx
// through socat, and the file that arrived compared byte for byte with
// what swboot-log show prints for the same "log2.bin".
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "harness/files.h"
#include "harness/terminal.h"
#include "lrzsz_checks.h"

namespace {

using namespace interop;
using namespace std::chrono_literals;

constexpr const char* SIM = SWBOOT_SIM_PROGRAM;
constexpr const char* LOG_TOOL = SWBOOT_LOG_PROGRAM;
constexpr size_t RENDER_PAD = 1024;

// Runs swboot-log; its standard output (kept in the directory).
std::string logTool(const ScratchDir& dir, const std::vector<std::string>& arguments) {
    const std::filesystem::path output = dir.path() / "log-tool.txt";
    std::vector<std::string> argv = {"-c", "exec \"$0\" \"$@\" > " + output.string(), LOG_TOOL};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    runToEnd("sh", argv);
    std::vector<uint8_t> bytes = readHostFile(output);
    return std::string(bytes.begin(), bytes.end());
}

TEST(EventLogRetrieval, OptionThreeSendsWhatSwbootLogShows) {
    SKIP_WITHOUT("rx", "socat");
    ScratchDir dir{"swboot-logretrieve"};
    std::filesystem::path state = dir.path() / "state";
    runToEnd(SIM, {"provision", "--state", state.string()});

    // The volume is a plain directory: the log is made where the loader
    // finds it.
    std::filesystem::path log = state / "volume" / "files" / "log2.bin";
    logTool(dir, {"add", log.string(), "event", "--source", "fan_control.c", "--line", "214", "--code", "2",
                  "--time", "1167609661"});
    logTool(dir, {"add", log.string(), "error", "--source", "a_source_file_name_of_forty_chars.c", "--line", "-1",
                  "--task", "ffe000", "--code", "deadbeef", "--time", "90061"});
    logTool(dir, {"add", log.string(), "machine-check", "--srr0", "fff00100", "--dar", "e0000000", "--time", "86399"});
    std::string shown = logTool(dir, {"show", log.string()});
    ASSERT_NE(shown.find("Machine Check > srr0:FFF00100"), std::string::npos) << shown;

    ChildProcess sim(SIM, {"--state", state.string(), "--console", "pty"});
    MenuTerminal terminal(sim);
    terminal.type("3\r");
    ASSERT_TRUE(terminal.expect("Sending event log, start XMODEM receive.....\r\n", 10s)) << terminal.output();
    ASSERT_TRUE(terminal.expect(CONTROL_X_HINT, 10s)) << terminal.output();

    // rx writes only below its working directory.
    const std::string rx = "SYSTEM:cd " + dir.path().string() + " && exec rx -c received.txt,pipes";
    ChildProcess socat("socat", {terminal.path() + ",rawer", rx});
    ASSERT_EQ(socat.wait(60s), 0) << socat.diagnostics();
    ASSERT_TRUE(terminal.expect("Event log transmitted.\r\n", 20s)) << terminal.unread();
    ASSERT_TRUE(terminal.expect("[Boot Menu] ", 10s)) << terminal.unread();

    // "asciilog.bin" is the shown text padded with spaces to 1 KiB; its
    // length is whole blocks, so rx adds nothing.
    std::string expected = shown + std::string((RENDER_PAD - shown.size() % RENDER_PAD) % RENDER_PAD, ' ');
    std::vector<uint8_t> bytes = readHostFile(dir.path() / "received.txt");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
    EXPECT_FALSE(std::filesystem::exists(state / "volume" / "files" / "asciilog.bin"));
}

}  // namespace
