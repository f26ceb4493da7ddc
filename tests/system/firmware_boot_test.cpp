// The loader built as firmware on the emulated e500 (--loader firmware):
// the core starts at the boot flash's reset vector and runs whatever the
// boot code region holds. The firmware reaches its menu, a read no device
// answers is a machine check that its own handler reports with a stack
// trace through its own code before it resets the board, and a region that
// holds no loader leaves a board that does not start. The same sessions on
// the native board and on the firmware give the same console, apart from
// the addresses of the stack trace.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>
#include <regex>
#include <string>

#include "harness/files.h"
#include "harness/terminal.h"

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
        ChildProcess provision(SIM, {"provision", "--state", state.string()});
        ASSERT_EQ(provision.wait(30s), 0) << provision.diagnostics();
    }
    int flashBoot(const std::filesystem::path& file) {
        ChildProcess probe(SIM, {"flash-boot", "--state", state.string(), file.string()});
        return probe.wait(60s);
    }
    std::filesystem::path script(const std::string& text) {
        std::filesystem::path file = dir.path() / "session.script";
        std::ofstream(file) << text;
        return file;
    }

    ScratchDir dir;
    std::filesystem::path state = dir.path() / "state";
    std::filesystem::path log = dir.path() / "console.log";
};

TEST_F(FirmwareBoot, AnUnansweredReadIsReportedByTheFirmwaresHandlerWithItsOwnStack) {
    flashBoot(BOOT_CODE);
    ChildProcess sim(SIM, {"--state", state.string(), "--loader", "firmware", "--clock", "virtual", "--console-log",
                           log.string(), "--script",
                           script("expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 30\\r\n"
                                  "expect Select option (0-20): \nsend 1\\r\nexpect q to quit\n"
                                  "send r b0000000 1\\r\nexpect Silicon fault detected\n"
                                  "expect Machine Check Exception\nexpect Cause: bus error: 8-bit read at 0xb0000000\n"
                                  "expect --- Stack Trace ---\nexpect Boot Menu Version\n")
                               .string()});
    ASSERT_EQ(sim.wait(120s), 0) << sim.diagnostics();
    const std::vector<uint8_t> bytes = interop::readHostFile(log);
    const std::string console(bytes.begin(), bytes.end());
    const std::regex frame("PC = 0x([0-9a-f]+) ");
    int frames = 0;
    for (auto it = std::sregex_iterator(console.begin(), console.end(), frame); it != std::sregex_iterator(); ++it) {
        const unsigned long pc = std::stoul((*it)[1].str(), nullptr, 16);
        EXPECT_TRUE(pc >= FIRMWARE_FIRST && pc < FIRMWARE_END) << std::hex << pc;
        ++frames;
    }
    EXPECT_GE(frames, 3) << console;
    EXPECT_NE(sim.diagnostics().find("board: reset (CPLD reset request)"), std::string::npos) << sim.diagnostics();
}

TEST_F(FirmwareBoot, ABootRegionWithoutALoaderDoesNotStart) {
    // A boot code of the right shape (1 MiB, a branch at its reset vector)
    // whose start-up is zeros: no e500 program.
    std::vector<uint8_t> empty(0x100000, 0x00);
    const uint8_t branch[] = {0x4B, 0xFF, 0xF0, 0x04};  // b 0xFFFFF000
    std::copy(std::begin(branch), std::end(branch), empty.end() - 4);
    const std::filesystem::path file = dir.path() / "zeros.bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(empty.data()),
                                                static_cast<std::streamsize>(empty.size()));
    ASSERT_EQ(flashBoot(file), 0);
    ChildProcess sim(SIM, {"--state", state.string(), "--loader", "firmware", "--clock", "virtual", "--script",
                           script("expect Select (1, 2):\n").string()});
    EXPECT_EQ(sim.wait(120s), EXIT_SCRIPT_FAILED) << sim.diagnostics();
    const std::string diagnostics = sim.diagnostics();
    EXPECT_NE(diagnostics.find("board: will not start: the core stopped before it said anything"), std::string::npos)
        << diagnostics;
    EXPECT_NE(diagnostics.find("the board stopped (exit status 6)"), std::string::npos) << diagnostics;
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

struct Session {
    const char* name;
    bool provisioned;
    const char* script;  // "{dir}" stands for the scratch directory
};

class FirmwareEquality : public FirmwareBoot, public ::testing::WithParamInterface<Session> {
protected:
    // The images the transfer sessions send: code alone for option 4, and
    // code with the firmware's own boot code for option 7.
    void buildImages() {
        interop::writeHostFile(dir.path() / "code.bin", interop::testPattern(20000, 3));
        for (const char* name : {"image.bin", "boot-image.bin"}) {
            std::vector<std::string> arguments = {"build", "--code", (dir.path() / "code.bin").string(),
                                                  "--load-address", "0x10000", "-o", (dir.path() / name).string()};
            if (name == std::string("image.bin")) {
                arguments.push_back("--no-boot-code");
            } else {
                arguments.insert(arguments.end(), {"--boot-code", BOOT_CODE});
            }
            ChildProcess tool(IMAGE_TOOL, arguments);
            ASSERT_EQ(tool.wait(30s), 0) << tool.diagnostics();
        }
    }
};

TEST_P(FirmwareEquality, TheConsoleIsTheNativeBoardsApartFromStackAddresses) {
    const Session& session = GetParam();
    if (!session.provisioned) {
        std::filesystem::remove_all(state);
    }
    ASSERT_NO_FATAL_FAILURE(buildImages());
    const std::string text = std::regex_replace(session.script, std::regex(R"(\{dir\})"), dir.path().string());
    std::string console[2];
    std::vector<uint8_t> received[2];
    const char* loaders[2] = {"native", "firmware"};
    for (int i = 0; i < 2; ++i) {
        // Both boards start from the same stored state; each runs in a
        // directory of its own, where rx writes what it receives.
        const std::filesystem::path board = dir.path() / loaders[i];
        if (session.provisioned) {
            std::filesystem::copy(state, board, std::filesystem::copy_options::recursive);
        }
        const std::filesystem::path home = dir.path() / (std::string(loaders[i]) + "-home");
        std::filesystem::create_directory(home);
        const std::filesystem::path transcript = dir.path() / (std::string(loaders[i]) + ".log");
        ChildProcess sim("/bin/sh", {"-c", "cd \"$0\" && exec \"$@\"", home.string(), SIM, "--state", board.string(),
                                     "--loader", loaders[i], "--clock", "virtual", "--on-handover", "exit",
                                     "--console-log", transcript.string(), "--script", script(text).string()});
        ASSERT_EQ(sim.wait(300s), 0) << loaders[i] << ": " << sim.diagnostics();
        const std::vector<uint8_t> bytes = interop::readHostFile(transcript);
        console[i] = withoutAddresses(std::string(bytes.begin(), bytes.end()));
        if (text.find("\nrx ") != std::string::npos) {
            received[i] = interop::readHostFile(home / "log.txt");
            EXPECT_FALSE(received[i].empty()) << loaders[i] << ": rx received nothing";
        }
    }
    EXPECT_EQ(console[1], console[0]);
    EXPECT_TRUE(received[1] == received[0]) << "the files rx received differ";
}

// The firmware's file calls go through the volume service to the same
// volume, so a power cut counts the same steps: cut at steps of the volume's
// format, the log files' creation and the vital product data's write, both
// boards name the same step and give the same console after it (a cut in
// the record's write asks for it again: the script then waits in vain, for
// a short while).
TEST_F(FirmwareBoot, APowerCutInTheFirstStartMeetsTheSameStepAsOnTheNativeBoard) {
    for (int step : {60, 124, 128, 130, 133, 136}) {
        SCOPED_TRACE(step);
        std::string said[2], console[2];
        int status[2];
        const char* loaders[2] = {"native", "firmware"};
        for (int i = 0; i < 2; ++i) {
            const std::filesystem::path board = dir.path() / (std::string(loaders[i]) + std::to_string(step));
            const std::filesystem::path transcript = board.string() + ".log";
            ChildProcess sim(SIM, {"--state", board.string(), "--loader", loaders[i], "--clock", "virtual",
                                   "--power-cut-after", std::to_string(step), "--console-log", transcript.string(),
                                   "--script", script(std::string("timeout 6\n") + FIRST_START).string()});
            status[i] = sim.wait(120s);
            const std::string diagnostics = sim.diagnostics();
            const size_t at = diagnostics.find("board: power cut at persistent step");
            said[i] = at == std::string::npos ? "" : diagnostics.substr(at, diagnostics.find(';', at) - at);
            const std::vector<uint8_t> bytes = interop::readHostFile(transcript);
            console[i] = std::string(bytes.begin(), bytes.end());
        }
        EXPECT_NE(said[0], "") << "the native board met no such step";
        EXPECT_EQ(said[1], said[0]);
        EXPECT_EQ(status[1], status[0]);
        EXPECT_EQ(console[1], console[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, FirmwareEquality,
    ::testing::Values(
        Session{"FirstStartAsksForTheVitalProductData", false, FIRST_START},
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
                "expect Boot Menu Version\nexpect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \n"},
        Session{"CodeLoadWithSxThenHandOver", true,
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 4\\r\nexpect before transfer starts.\n"
                "sx -k {dir}/image.bin\nexpect [Boot Menu] \nsend 1\\r\nexpect Uncompressing\n"},
        Session{"EventLogToRx", true,
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 3\\r\n"
                "expect before transfer starts.\nrx -c log.txt\nexpect [Boot Menu] \n"},
        Session{"BootCodeUpdateThenPowerCut", true,
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \nsend 4\\r\nexpect before transfer starts.\n"
                "sx -k {dir}/boot-image.bin\nexpect [Boot Menu] \ntimeout 300\nsend 7\\r\n"
                "expect Do you wish to update Boot Code? (y/n) \nsend y\\r\nexpect [Boot Menu] \npower-cut\n"
                "expect Select (1, 2):\nsend 2\\r\nexpect [Boot Menu] \n"}),
    [](const ::testing::TestParamInfo<Session>& session) { return std::string(session.param.name); });

}  // namespace
