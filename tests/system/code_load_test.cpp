// Boot Menu option 4 end to end, as the console guide tells a person to do
// it: swboot-sim with its console on a pseudo-terminal, a terminal for the
// menu dialogue, and the image sent with lrzsz through socat
// ("socat /dev/pts/N,rawer EXEC:'sx -k image.bin',pipes") when the loader
// is ready. After the load the board boots the new code: the hand-over
// report names its entry point and the RAM at the load address holds
// exactly the code the image was built from.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
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
constexpr const char* IMAGE_TOOL = SWBOOT_IMAGE_PROGRAM;
constexpr const char* LOAD_ADDRESS = "0x10000";
constexpr size_t CODE_SIZE = 300000;

class CodeLoad : public ::testing::Test {
protected:
    void SetUp() override {
        runToEnd(SIM, {"provision", "--state", state.string()});
        code = testPattern(CODE_SIZE, 31);
        writeHostFile(dir.path() / "code.bin", code);
    }

    // Builds the image under the given name; its bytes.
    std::vector<uint8_t> buildImage(const std::string& name, const std::vector<std::string>& more = {}) {
        std::filesystem::path image = dir.path() / name;
        std::vector<std::string> arguments = {"build", "--code", (dir.path() / "code.bin").string(),
                                              "--load-address", LOAD_ADDRESS, "-o", image.string()};
        arguments.insert(arguments.end(), more.begin(), more.end());
        runToEnd(IMAGE_TOOL, arguments);
        return readHostFile(image);
    }

    ScratchDir dir{"swboot-codeload"};
    std::filesystem::path state = dir.path() / "state";
    std::vector<uint8_t> code;
};

// Boots to the Boot Menu, chooses option 4, sends the image with sx -k
// through socat, then starts the new code.
TEST_F(CodeLoad, ImageSentWithSx1kIsInstalledAndBooted) {
    SKIP_WITHOUT("sx", "socat");
    std::vector<uint8_t> image = buildImage("image.bin");
    ASSERT_FALSE(image.empty());
    std::filesystem::path dump = dir.path() / "ram.bin";
    ChildProcess sim(SIM, {"--state", state.string(), "--console", "pty", "--on-handover", "exit", "--dump-memory",
                           std::string(LOAD_ADDRESS) + ":" + std::to_string(CODE_SIZE) + ":" + dump.string()});
    MenuTerminal terminal(sim);
    terminal.type("4\r");
    ASSERT_TRUE(terminal.expect(CONTROL_X_HINT, 10s)) << terminal.output();

    // socat takes the line for the transfer; the terminal reads nothing
    // meanwhile, as picocom does while its send command runs.
    ChildProcess socat("socat",
                       {terminal.path() + ",rawer", "EXEC:sx -k " + (dir.path() / "image.bin").string() + ",pipes"});
    ASSERT_EQ(socat.wait(60s), 0) << socat.diagnostics();

    ASSERT_TRUE(terminal.expect("XMODEM transfer complete, checking CRC....\r\n", 20s)) << terminal.unread();
    ASSERT_TRUE(terminal.expect("[Boot Menu] ", 30s)) << terminal.unread();
    EXPECT_EQ(terminal.output().find("ERROR"), std::string::npos) << terminal.output();
    terminal.type("1\r");

    EXPECT_EQ(sim.wait(60s), 0) << sim.diagnostics() << terminal.unread();
    EXPECT_NE(sim.diagnostics().find("handover: entry=0x00010000 mode=1 "), std::string::npos) << sim.diagnostics();
    EXPECT_TRUE(readHostFile(dump) == code) << "RAM at the load address differs from the code";
    // Plain XMODEM keeps the last block's padding; the image's own size
    // field tells the loader where it ends.
    expectPaddedCopy(readHostFile(state / "volume" / "files" / "image1"), image, 1024);
}

// The same load as a scripted session (--script), from a fresh board's
// first start (its volume formatted, its VPD asked for) to the hand-over,
// on either clock; --console-log keeps the transcript. One wrong expect
// fails the run and names its line.
struct ScriptedRun {
    const char* clock;
    bool wrongExpect;
};

class ScriptedCodeLoad : public CodeLoad, public ::testing::WithParamInterface<ScriptedRun> {};

TEST_P(ScriptedCodeLoad, ExitsZeroAfterTheHandoverOrNamesTheLineThatFailed) {
    SKIP_WITHOUT("sx");
    writeHostFile(dir.path() / "code.bin", testPattern(15000, 5));
    ASSERT_FALSE(buildImage("image.bin", {"--no-boot-code"}).empty());
    const std::string verified = GetParam().wrongExpect ? "expect Verified operational code CRC!\n"
                                                        : "expect Verified operational code CRC.\n";
    const std::string script =
        "# first start of a factory-fresh board\n"
        "timeout 10\n"
        "expect starting MAC address\nsend 000629328140\\r\n"
        "expect serial number\nsend SIM0000001\\r\n"
        "expect date code\nsend 102006\\r\n"
        "expect Part Number\nsend 10K7901\\r\n"
        "expect Revision\nsend A\\r\n"
        "expect [Boot Menu] \nsend 4\\r\n"
        "expect before transfer starts.\n"
        "sx -k " + (dir.path() / "image.bin").string() + "\n" +
        verified +  // line 17
        "expect [Boot Menu] \nsend 1\\r\n"
        "expect Uncompressing\n";
    writeHostFile(dir.path() / "load.txt", std::vector<uint8_t>(script.begin(), script.end()));
    const std::filesystem::path log = dir.path() / "console.log";
    ChildProcess sim(SIM, {"--state", (dir.path() / "fresh").string(), "--script", (dir.path() / "load.txt").string(),
                           "--console-log", log.string(), "--clock", GetParam().clock, "--on-handover", "exit"});
    const int status = sim.wait(60s);
    const std::vector<uint8_t> bytes = readHostFile(log);
    const std::string transcript(bytes.begin(), bytes.end());
    if (GetParam().wrongExpect) {
        EXPECT_EQ(status, 7) << sim.diagnostics();
        const std::string named = "load.txt line 17 \"expect Verified operational code CRC!\": not seen within 10 s";
        EXPECT_NE(sim.diagnostics().find(named), std::string::npos) << sim.diagnostics();
        return;
    }
    EXPECT_EQ(status, 0) << sim.diagnostics();
    EXPECT_NE(sim.diagnostics().find("handover: entry=0x00010000 mode=1 "), std::string::npos) << sim.diagnostics();
    for (const char* text : {"Boot Menu Version 01.00.45 10-13-2006", "Enter a Revision -> A", "[Boot Menu] 4",
                             "XMODEM transfer complete", "Storing Operational code in Flash.", "Uncompressing"}) {
        EXPECT_NE(transcript.find(text), std::string::npos) << text << " not in the transcript:\n" << transcript;
    }
    EXPECT_EQ(transcript.find("\x06"), std::string::npos) << "the transfer's acknowledgements in the transcript";
}

INSTANTIATE_TEST_SUITE_P(Clocks, ScriptedCodeLoad,
                         ::testing::Values(ScriptedRun{"real", false}, ScriptedRun{"virtual", false},
                                           ScriptedRun{"real", true}));

// Option 4 through a noisy console line (the simulator's --line-noise
// RATE:SEED, bits flipped and bytes dropped both ways): the load either
// installs the image exactly or fails and leaves "image1", "image2" and
// "boot.dim" as they were. Each seed repeats its noise exactly.
class NoisyCodeLoad : public CodeLoad, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoisyCodeLoad, SxKInstallsExactlyOrChangesNothing) {
    SKIP_WITHOUT("sx", "socat");
    writeHostFile(dir.path() / "code.bin", testPattern(15000, 7));
    const std::vector<uint8_t> image = buildImage("image.bin", {"--no-boot-code"});
    ASSERT_FALSE(image.empty());
    const auto before = imageFilesIn(state / "volume" / "files");
    ChildProcess sim(SIM, {"--state", state.string(), "--console", "pty", "--line-noise", GetParam()});
    MenuTerminal terminal(sim);
    terminal.type("4\r");
    ASSERT_TRUE(terminal.expect("before transfer starts.", 10s)) << terminal.output();
    ChildProcess socat("socat",
                       {terminal.path() + ",rawer", "EXEC:sx -k " + (dir.path() / "image.bin").string() + ",pipes"});
    socat.wait(60s);  // sx may give up on the noise: the loader's answer below counts
    EXPECT_TRUE(terminal.expect("Menu] ", 30s)) << terminal.unread();
    const bool wasStored = terminal.output().find("Storing Operational code in Flash.") != std::string::npos;
    sim.terminate();
    sim.wait(10s);
    const std::string said = sim.diagnostics();
    const size_t hits = said.find("line: the noise hit ");
    ASSERT_NE(hits, std::string::npos) << said;
    const auto after = imageFilesIn(state / "volume" / "files");
    if (wasStored) {
        expectPaddedCopy(after.at("image1"), image, 1024);
        EXPECT_TRUE(after.at("image2") == before.at("image2"));
    } else {
        EXPECT_TRUE(after == before) << terminal.output();
    }
    std::printf("noise %s: %s; %s\n", GetParam(), wasStored ? "installed" : "refused, nothing changed",
                said.substr(hits, said.find('\n', hits) - hits).c_str());
}

INSTANTIATE_TEST_SUITE_P(Seeds, NoisyCodeLoad, ::testing::Values("3e-4:1", "3e-4:2", "3e-4:3"));

}  // namespace
