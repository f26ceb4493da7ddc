// The swboot-sim program with its console on a pseudo-terminal or a TCP
// port, driven as a person at picocom or socat would: the board powers on
// when the terminal is attached, a terminal that leaves does not stop it,
// the next one gets the Boot Menu, and a second simulator keeps off the board.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "harness/files.h"
#include "harness/terminal.h"

namespace {

using namespace std::chrono_literals;
using interop::ScratchDir;
using interop::ChildProcess;
using interop::Terminal;

constexpr const char* SIM = SWBOOT_SIM_PROGRAM;
constexpr int EXIT_TERMINATED = 143;

// A provisioned board (vital product data and a demo image), so that it
// boots to the two-second choice.
class SimConsole : public ::testing::Test {
protected:
    void SetUp() override { interop::runToEnd(SIM, {"provision", "--state", state.string()}); }
    ScratchDir dir;
    std::filesystem::path state = dir.path() / "state";
};

TEST_F(SimConsole, PtyPowersOnWhenATerminalIsAttachedAndTheNextTerminalGetsTheLine) {
    ChildProcess sim(SIM, {"--state", state.string(), "--console", "pty"});
    std::string path = sim.waitForLine("console: ", 10s);
    EXPECT_EQ(std::filesystem::read_symlink(state / "console"), path);

    // A second simulator on the same board names the first and exits; the
    // board in use keeps its profile.
    const auto profile = interop::readHostFile(state / "profile.toml");
    ChildProcess other(SIM, {"--state", state.string(), "--profile", SWBOOT_PROFILES_DIR "/fiber.toml"});
    EXPECT_EQ(other.wait(10s), 1);
    EXPECT_NE(other.diagnostics().find("swboot-sim: the state directory " + state.string() + " is in use by process " +
                                        std::to_string(sim.pid()) + "; one simulator at a time runs a board"),
              std::string::npos)
        << other.diagnostics();
    EXPECT_EQ(interop::readHostFile(state / "profile.toml"), profile);

    {
        interop::MenuTerminal first(sim);
        // Nothing was lost before the terminal came: the banner is there.
        EXPECT_NE(first.output().find("Boot Menu Version"), std::string::npos) << first.output();
    }  // hung up: the board keeps running at its prompt

    Terminal second(path);
    second.type("?\r");
    ASSERT_TRUE(second.expect("4  - Load new operational code using XMODEM", 10s)) << second.output();
    ASSERT_TRUE(second.expect("[Boot Menu] ", 10s)) << second.output();

    sim.terminate();
    EXPECT_EQ(sim.wait(10s), EXIT_TERMINATED) << sim.diagnostics();
    EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status(state / "console")))
        << "the link goes with the terminal";
}

TEST_F(SimConsole, PtyWithoutWaitingTheBoardRunsBeforeAnyTerminalAndLosesItsOutput) {
    ChildProcess sim(SIM, {"--state", state.string(), "--console", "pty", "--no-wait", "--on-handover", "exit",
                         "--dump-memory", "0x10000:16:" + (dir.path() / "dump.bin").string()});
    ASSERT_FALSE(sim.waitForLine("console: ", 10s).empty()) << sim.diagnostics();
    // Nobody answers the two-second choice: the demo code starts.
    EXPECT_EQ(sim.wait(30s), 0) << sim.diagnostics();
    EXPECT_NE(sim.diagnostics().find("handover: entry=0x00010000 mode=1"), std::string::npos) << sim.diagnostics();
}

TEST_F(SimConsole, TcpServesOneClientAtATimeOnTheAnnouncedPort) {
    ChildProcess sim(SIM, {"--state", state.string(), "--console", "tcp:0"});
    std::string where = sim.waitForLine("console: tcp 127.0.0.1:", 10s);
    ASSERT_TRUE(std::regex_match(where, std::regex("[0-9]+"))) << sim.diagnostics();
    int port = std::stoi(where);

    // socat is the documented client; a plain socket does the same.
    interop::TcpClient first(port);
    ASSERT_TRUE(first.expect("Select (1, 2):", 10s)) << first.output();
    interop::TcpClient second(port);
    EXPECT_TRUE(second.expect("the console is in use by another client", 10s)) << second.output();
    first.type("2\r");
    ASSERT_TRUE(first.expect("[Boot Menu] ", 10s)) << first.output();
    first.close();

    interop::TcpClient third(port);
    third.type("?\r");
    ASSERT_TRUE(third.expect("11 - Activate Backup Image", 10s)) << third.output();

    sim.terminate();
    EXPECT_EQ(sim.wait(10s), EXIT_TERMINATED) << sim.diagnostics();
}

TEST(SimConsoleOption, RefusesConsolesItDoesNotKnow) {
    ScratchDir dir;
    for (const char* bad : {"tcp:", "tcp:http", "tcp:70000", "serial", "pty:1"}) {
        ChildProcess sim(SIM, {"--state", (dir.path() / "state").string(), "--console", bad});
        EXPECT_NE(sim.wait(10s), 0) << bad;
        EXPECT_NE(sim.diagnostics().find("--console"), std::string::npos) << bad << ": " << sim.diagnostics();
    }
}

}  // namespace
