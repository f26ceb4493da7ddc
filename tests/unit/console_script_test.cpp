// Scripted console sessions: parsing, and a board driven by a script; also
// where the simulator finds the data it ships with.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/console_script.h"
#include "host/data_files.h"
#include "support/boot_texts.h"
#include "support/state_dir_board.h"

namespace {

using ::testing::HasSubstr;

using sim::ScriptStep;

struct ParseCase {
    const char* text;
    const char* error;  // nullptr: the script parses
};

const ParseCase PARSE_CASES[] = {
    {"expect Boot Menu\n  # a comment\n\nsend \\x32\\r\\n\\t\\\\a\\x7Fb\\x00\n"
     "timeout 2.5\nsx -k image.bin\nreset\npower-cut\r\n",
     nullptr},
    {"send \\x1\n", "line 1: \\x wants two hexadecimal digits"},
    {"expect a\nsend \\q\n", "line 2: unknown escape \\q"},
    {"send\n", "line 1: send wants a text"},
    {"expect \n", "line 1: expect wants a text"},
    {"timeout 0\n", "line 1: timeout wants a number of seconds above 0, got '0'"},
    {"timeout 5s\n", "line 1: timeout wants a number"},
    {"sx\n", "line 1: sx wants a file name"},
    {"rb log.txt\n", "line 1: unknown step 'rb'"},
    {"reset now\n", "line 1: reset takes nothing after it"},
    {"# only\nexpect x\n\npower-cut 1\n", "line 4: power-cut takes nothing after it"},
};

TEST(ConsoleScript, ParsesEachStepAndNamesTheLineOfAMistake) {
    for (const ParseCase& c : PARSE_CASES) {
        SCOPED_TRACE(c.text);
        sim::ParsedScript parsed = sim::parseConsoleScript(c.text);
        if (c.error != nullptr) {
            EXPECT_EQ(parsed.error.rfind(c.error, 0), 0u) << parsed.error;
            EXPECT_TRUE(parsed.steps.empty());
            continue;
        }
        ASSERT_EQ(parsed.error, "");
        ASSERT_EQ(parsed.steps.size(), 6u);
        const ScriptStep& expect = parsed.steps[0];
        EXPECT_EQ(expect.kind, ScriptStep::Kind::Expect);
        EXPECT_EQ(expect.text, "Boot Menu");
        EXPECT_EQ(expect.line, 1);
        EXPECT_EQ(parsed.steps[1].text, std::string("2\r\n\t\\a\x7F" "b\0", 9)) << "the send's escapes";
        EXPECT_EQ(parsed.steps[1].line, 4);
        EXPECT_EQ(parsed.steps[2].seconds, 2.5);
        EXPECT_EQ(parsed.steps[3].command, (std::vector<std::string>{"sx", "-k", "image.bin"}));
        EXPECT_EQ(parsed.steps[4].kind, ScriptStep::Kind::Reset);
        EXPECT_EQ(parsed.steps[5].kind, ScriptStep::Kind::PowerCut);
        EXPECT_EQ(parsed.steps[5].line, 8);
    }
}

class ScriptedBoard : public ::testing::Test {
protected:
    // Runs a fresh board on the virtual clock under the script; the exit
    // status the simulator would give.
    int run(const std::string& text, std::string* failure = nullptr, int maxPowerOns = 10) {
        sim::ParsedScript parsed = sim::parseConsoleScript(text);
        EXPECT_EQ(parsed.error, "");
        sim::ScriptLine line(state.clock, state.diagnostics, parsed.steps, "session.txt", -1);
        state.options.flashInMemory = true;
        state.options.maxPowerOns = maxPowerOns;
        sim::SimBoard board(state.options, state.clock, line, state.diagnostics);
        int status = line.finish(board.run());
        powerOns = board.powerOnCount();
        if (failure != nullptr) {
            *failure = line.failure();
        }
        return status;
    }

    testing_support::StateDirBoard state{false};
    int powerOns = 0;
};

// A fresh board's first start: the VPD dialogue, then the menu; a reset and
// a power cut bring the banner back.
const std::string FIRST_START =
    "expect starting MAC address\nsend 000629328140\\r\n"
    "expect serial number\nsend SIM0000001\\r\n"
    "expect date code\nsend 102006\\r\n"
    "expect Part Number\nsend 10K7901\\r\n"
    "expect Revision\nsend A\\r\n"
    "expect " + testing_support::boot::PROMPT + "\n"
    "reset\n"
    "expect Boot Menu Version\n"
    "expect [Boot Menu]\n"
    "power-cut\n"
    "expect Boot Menu Version\n"
    "expect [Boot Menu]\n"
    "send 9\\r\n"
    "expect (y/n):\n"
    "send y\\r\n";

TEST_F(ScriptedBoard, PassesWhenEveryStepPassesAndResetsAndCutsThePowerWhereItSays) {
    std::string failure;
    EXPECT_EQ(run(FIRST_START, &failure), 0) << failure;
    EXPECT_EQ(failure, "");
    // First start, the script's reset, its power cut, and option 9's reset.
    EXPECT_EQ(powerOns, 4);
}

TEST_F(ScriptedBoard, AFailedExpectStopsTheBoardAndNamesItsLineAndTheLastText) {
    std::string script = FIRST_START;
    script.replace(script.find("expect Revision"), 15, "timeout 1\nexpect Revisions");
    std::string failure;
    EXPECT_EQ(run(script, &failure), sim::EXIT_SCRIPT_FAILED);
    EXPECT_EQ(failure.rfind("session.txt line 10 \"expect Revisions\": not seen within 1 s\n", 0), 0u) << failure;
    EXPECT_THAT(failure, HasSubstr("the console's last text: \""));
    EXPECT_THAT(failure, HasSubstr("Enter a Revision -> "));
    EXPECT_EQ(powerOns, 1);
}

TEST_F(ScriptedBoard, ABoardThatStopsBeforeTheScriptEndsFails) {
    std::string failure;
    EXPECT_EQ(run("reset\nreset\nexpect never printed\n", &failure, 2), sim::EXIT_SCRIPT_FAILED);
    EXPECT_THAT(failure, HasSubstr("line 3 \"expect never printed\": the board stopped (exit status 4)"));
}

TEST(DataFiles, AnInstalledProgramLooksOnlyUnderItsOwnPrefix) {
    sim::DataLayout installed = sim::dataLayout("/opt/swboot/bin");
    EXPECT_EQ(installed.profiles, "/opt/swboot/share/swboot/profiles");
    EXPECT_EQ(installed.demoCode, "/opt/swboot/share/swboot");
    EXPECT_EQ(installed.firmware, "/opt/swboot/share/swboot");
}

}  // namespace
