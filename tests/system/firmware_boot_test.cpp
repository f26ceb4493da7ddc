// The loader built as firmware on the emulated e500 (--loader firmware):
// the core starts at the boot flash's reset vector and runs whatever the
// boot code region holds. A region that holds no loader leaves a board that
// does not start. The same sessions on the native board and on the firmware
// give the same console, apart from the addresses of the stack trace, which
// for a read no device answers runs through the firmware's own code before
// its handler resets the board.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>
#include <regex>
#include <string>
#include <thread>

#include "harness/files.h"
#include "harness/terminal.h"
#include "lrzsz_checks.h"

namespace {

using namespace std::chrono_literals;
using interop::ChildProcess;
using interop::ScratchDir;

constexpr const char* SIM = SWBOOT_SIM_PROGRAM;
constexpr const char* BOOT_CODE = SWBOOT_FIRMWARE_BOOT_CODE;
constexpr const char* IMAGE_TOOL = SWBOOT_IMAGE_PROGRAM;
constexpr int EXIT_SCRIPT_FAILED = 7;
// Where the firmware runs: the top megabyte of RAM.
constexpr unsigned long FIRMWARE_FIRST = 0x0FF00000;
constexpr unsigned long FIRMWARE_END = 0x10000000;

class FirmwareBoot : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(BOOT_CODE)) {
            GTEST_SKIP() << "the firmware was not built (" << BOOT_CODE << ")";
        }
        interop::runToEnd(SIM, {"provision", "--state", state.string()});
    }
    std::filesystem::path script(const std::string& text) {
        std::filesystem::path file = dir.path() / "session.script";
        std::ofstream(file) << text;
        return file;
    }

    ScratchDir dir;
    std::filesystem::path state = dir.path() / "state";
};

TEST_F(FirmwareBoot, ABootRegionWithoutALoaderDoesNotStart) {
    // A boot code of the right shape (1 MiB, a branch at its reset vector)
    // whose start-up is zeros: no e500 program.
    std::vector<uint8_t> empty(0x100000, 0x00);
    const uint8_t branch[] = {0x4B, 0xFF, 0xF0, 0x04};  // b 0xFFFFF000
    std::copy(std::begin(branch), std::end(branch), empty.end() - 4);
    const std::filesystem::path file = dir.path() / "zeros.bin";
    interop::writeHostFile(file, empty);
    interop::runToEnd(SIM, {"flash-boot", "--state", state.string(), file.string()}, 60s);
    ChildProcess sim(SIM, {"--state", state.string(), "--loader", "firmware", "--clock", "virtual", "--script",
                           script("expect Select (1, 2):\n").string()});
    EXPECT_EQ(sim.wait(120s), EXIT_SCRIPT_FAILED) << sim.diagnostics();
    const std::string diagnostics = sim.diagnostics();
    EXPECT_NE(diagnostics.find("board: will not start: the core stopped before it said anything"), std::string::npos)
        << diagnostics;
    EXPECT_NE(diagnostics.find("the board stopped (exit status 6)"), std::string::npos) << diagnostics;
}

// Control-X typed in the pause before the event log's transfer goes raw is
// taken in by the UART while the core waits and flushed away with the rest
// of the typing, as on the native board: the transfer then goes on with rx.
TEST_F(FirmwareBoot, ControlXTypedBeforeTheTransferGoesRawIsFlushedAway) {
    SKIP_WITHOUT("rx", "socat");
    ChildProcess sim(SIM, {"--state", state.string(), "--loader", "firmware", "--console", "pty"});
    interop::MenuTerminal terminal(sim);
    terminal.type("3\r");
    ASSERT_TRUE(terminal.expect(interop::CONTROL_X_HINT, 10s)) << terminal.output();
    terminal.type(std::string(5, '\x18'));
    std::this_thread::sleep_for(1s);
    const std::string rx = "SYSTEM:cd " + dir.path().string() + " && exec rx -c log.txt,pipes";
    ChildProcess socat("socat", {terminal.path() + ",rawer", rx});
    EXPECT_EQ(socat.wait(60s), 0) << socat.diagnostics();
    EXPECT_TRUE(terminal.expect("Event log transmitted.\r\n", 20s)) << terminal.unread();
}

// A console transcript with the stack trace's frames (addresses, and how
// many there are: each build has its own) and the exception's address
// folded into markers.
std::string withoutAddresses(const std::string& console) {
    static const std::regex frame(R"((FUNC = 0x[0-9a-f]+, PC = 0x[0-9a-f]+ \(\), SP = 0x[0-9a-f]+|RA 0x[0-9a-f]+ out of range)\r?\n)");
    static const std::regex frames(R"((<frame>)+)");
    static const std::regex counter(R"(Exception program counter: 0x[0-9a-f]+)");
    std::string out = std::regex_replace(console, frame, "<frame>");
    out = std::regex_replace(out, frames, "<stack trace>\n");
    return std::regex_replace(out, counter, "Exception program counter: <address>");
}

// A new board's first start: the volume is formatted, the vital product
// data asked for (a date code refused once), the files made.
constexpr const char* FIRST_START =
    "expect (example: 000629328140)\nsend 000629328140\\r\nexpect (no greater than 20 chars) -> \n"
    "send SN12345\\r\nexpect MMYYYY -> \nsend 12-2026\\r\nexpect MMYYYY -> \nsend 122026\\r\n"
    "expect Part Number -> \nsend PN-1\\r\nexpect Revision -> \nsend A1\\r\nexpect [Boot Menu] \n"
    "send 5\\r\nexpect [Boot Menu] \n";

constexpr const char* CODE_LOAD =
    "timeout 30\nexpect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 4\\r\nexpect before transfer starts.\n"
    "sx -k {dir}/image.bin\nexpect [Boot Menu] \n";

struct Session {
    const char* name;
    bool provisioned;
    const char* script;  // "{dir}" stands for the scratch directory
    std::vector<int> cuts = {};  // persistent steps to cut the power at, each a run of its own
    bool machineCheck = false;   // a read no device answers ends in the firmware's own handler
};

// One session on the native board and on the firmware, from the same
// stored state.
class FirmwareEquality : public FirmwareBoot, public ::testing::WithParamInterface<Session> {
protected:
    struct Run {
        int status;
        std::string console;    // the stack trace's addresses folded
        std::string raw;        // as it came
        std::string cut;        // the step the power was cut at, as the simulator names it
        std::vector<uint8_t> received;  // the file rx wrote
        std::string diagnostics;
    };

    void SetUp() override {
        FirmwareBoot::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (!GetParam().provisioned) {
            std::filesystem::remove_all(state);
        }
        // The images the transfer sessions send: code alone for option 4,
        // and code with the firmware's own boot code for option 7.
        const std::string code = (dir.path() / "code.bin").string();
        interop::writeHostFile(code, interop::testPattern(20000, 3));
        interop::runToEnd(IMAGE_TOOL, {"build", "--code", code, "--load-address", "0x10000", "-o",
                                       (dir.path() / "image.bin").string(), "--no-boot-code"});
        interop::runToEnd(IMAGE_TOOL, {"build", "--code", code, "--load-address", "0x10000", "-o",
                                       (dir.path() / "boot-image.bin").string(), "--boot-code", BOOT_CODE});
    }

    // Runs the session on the loader; each run in directories of its own,
    // where rx writes what it receives.
    Run run(const char* loader, int cutAt = 0) {
        const std::string text = std::regex_replace(GetParam().script, std::regex(R"(\{dir\})"), dir.path().string());
        const std::string name = loader + (cutAt > 0 ? std::to_string(cutAt) : std::string());
        const std::filesystem::path board = dir.path() / name;
        if (GetParam().provisioned) {
            // With the files' times, which the volume's listings show.
            interop::runToEnd("cp", {"-a", state.string(), board.string()});
        }
        const std::filesystem::path home = dir.path() / (name + "-home");
        std::filesystem::create_directory(home);
        const std::filesystem::path transcript = dir.path() / (name + ".log");
        std::vector<std::string> arguments = {"-c", "cd \"$0\" && exec \"$@\"", home.string(), SIM, "--state",
                                              board.string(), "--loader", loader, "--clock", "virtual",
                                              "--on-handover", "exit", "--console-log", transcript.string(),
                                              "--script", script(cutAt > 0 ? "timeout 6\n" + text : text).string()};
        if (cutAt > 0) {
            arguments.insert(arguments.end(), {"--power-cut-after", std::to_string(cutAt)});
        }
        ChildProcess sim("/bin/sh", arguments);
        Run result;
        result.status = sim.wait(300s);
        result.diagnostics = sim.diagnostics();
        const std::string& diagnostics = result.diagnostics;
        if (cutAt == 0) {
            EXPECT_EQ(result.status, 0) << loader << ": " << diagnostics;
        }
        const size_t at = diagnostics.find("board: power cut at persistent step");
        result.cut = at == std::string::npos ? "" : diagnostics.substr(at, diagnostics.find(';', at) - at);
        const std::vector<uint8_t> bytes = interop::readHostFile(transcript);
        result.raw.assign(bytes.begin(), bytes.end());
        result.console = withoutAddresses(result.raw);
        if (text.find("\nrx ") != std::string::npos) {
            result.received = interop::readHostFile(home / "log.txt");
            EXPECT_FALSE(result.received.empty()) << loader << ": rx received nothing";
        }
        return result;
    }
};

TEST_P(FirmwareEquality, TheConsoleIsTheNativeBoardsApartFromStackAddresses) {
    const Run native = run("native");
    const Run firmware = run("firmware");
    EXPECT_EQ(firmware.console, native.console);
    EXPECT_TRUE(firmware.received == native.received) << "the files rx received differ";
    if (GetParam().machineCheck) {
        // Its stack trace runs through the firmware's own code, and its handler resets the board.
        const std::regex frame("PC = 0x([0-9a-f]+) ");
        int frames = 0;
        const std::string& raw = firmware.raw;
        for (auto it = std::sregex_iterator(raw.begin(), raw.end(), frame); it != std::sregex_iterator();
             ++it, ++frames) {
            const unsigned long pc = std::stoul((*it)[1].str(), nullptr, 16);
            EXPECT_TRUE(pc >= FIRMWARE_FIRST && pc < FIRMWARE_END) << std::hex << pc;
        }
        EXPECT_GE(frames, 3) << firmware.raw;
        EXPECT_NE(firmware.diagnostics.find("board: reset (CPLD reset request)"), std::string::npos)
            << firmware.diagnostics;
    }
}

// The firmware's file calls go through the volume service to the same
// volume, so a power cut counts the same steps: cut at the same step, both
// boards name the same step, end with the same status and give the same
// console after it (a script that then waits in vain fails on both, after
// a short while).
class FirmwarePowerCut : public FirmwareEquality {};

TEST_P(FirmwarePowerCut, MeetsTheSameStepAsOnTheNativeBoard) {
    for (int step : GetParam().cuts) {
        SCOPED_TRACE(step);
        const Run native = run("native", step);
        const Run firmware = run("firmware", step);
        EXPECT_NE(native.cut, "") << "the native board met no such step: " << native.diagnostics;
        EXPECT_EQ(firmware.cut, native.cut);
        EXPECT_EQ(firmware.status, native.status);
        EXPECT_EQ(firmware.console, native.console);
    }
}

// Cut across the volume's format, the log files' creation, the vital
// product data's write and the directory's rename.
const Session FIRST_START_SESSION{"FirstStartAsksForTheVitalProductData", false, FIRST_START,
                                  {60, 124, 128, 130, 133, 136}};
// Cut in the install's renames and the old image's delete, once the
// transfer is over (a cut while sx still sends races the line: what the
// board echoes of its blocks after the restart depends on host timing).
const Session CODE_LOAD_SESSION{"CodeLoadWithSx", true, CODE_LOAD, {35, 36, 37}};

std::string sessionName(const ::testing::TestParamInfo<Session>& session) { return session.param.name; }

INSTANTIATE_TEST_SUITE_P(Sessions, FirmwarePowerCut, ::testing::Values(FIRST_START_SESSION, CODE_LOAD_SESSION),
                         sessionName);

INSTANTIATE_TEST_SUITE_P(
    Sessions, FirmwareEquality,
    ::testing::Values(
        FIRST_START_SESSION,
        Session{"BootMenuAndUtilities", true,
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 5\\r\nexpect [Boot Menu] \n"
                "send 11\\r\nexpect [Boot Menu] \nsend 8\\r\nexpect ? (y/n):\nsend n\\r\nexpect [Boot Menu] \n"
                "send 30\\r\nexpect Select option (0-20): \nsend 2\\r\nexpect Select option (0-20): \n"
                "send 3\\r\nexpect Select option (0-20): \nsend 4\\r\nexpect Select option (0-20): \n"
                "send 5\\r\nexpect Select option (0-20): \nsend 7\\r\nexpect Select option (0-20): \n"
                "send 13\\r\nexpect Select option (0-20): \nsend 14\\r\nexpect Select option (0-20): \n"
                "send 16\\r\nexpect Select option (0-20): \nsend 18\\r\nexpect Select option (0-20): \n"
                "send 0\\r\nexpect [Boot Menu] \n"},
        Session{"MachineCheck", true,
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 30\\r\n"
                "expect Select option (0-20): \nsend 1\\r\nexpect q to quit\nsend r b0000000 1\\r\n"
                "expect Boot Menu Version\nexpect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \n",
                {},
                true},
        CODE_LOAD_SESSION,
        Session{"PowerOnToTheHandOver", true, "expect Uncompressing\nexpect 100%\n"},
        Session{"EventLogToRx", true,
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 3\\r\n"
                "expect before transfer starts.\nrx -c log.txt\nexpect [Boot Menu] \n"},
        Session{"BootCodeUpdateThenPowerCut", true,
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 4\\r\nexpect before transfer starts.\n"
                "timeout 300\nsx -k {dir}/boot-image.bin\nexpect [Boot Menu] \nsend 7\\r\n"
                "expect Do you wish to update Boot Code? (y/n) \nsend y\\r\nexpect [Boot Menu] \npower-cut\n"
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \n"}),
    sessionName);

}  // namespace
