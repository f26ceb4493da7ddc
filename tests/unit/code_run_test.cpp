// After the hand-over the code runs: whole boots on virtual time in which
// the loader starts an image and the emulated core executes what it
// inflated. The demo operational code prints its banner, answers keys sent
// through the scripted console and resets the board into the loader; code
// that executes an illegal instruction is stopped and reported; code
// inflated at another load address runs from there, and so does code just
// loaded over the console.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "board/e500_emulator.h"
#include "host/provision.h"
#include "image/code_load.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"
#include "support/test_images.h"
#include "support/xmodem_peer.h"

namespace {

using namespace testing_support;

const std::string LOADER_BANNER = "Boot Menu Version 01.00.45 10-13-2006";
const std::string DEMO_BANNER =
    "\nDemo operational code, start mode 1 (normal start), running at 0x00010000\n";

class CodeRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sim::E500Emulator::available()) {
            GTEST_SKIP() << "built without the emulated core (libunicorn-dev)";
        }
    }

    // A board as provisioned, with the given image active.
    void provision(const std::vector<uint8_t>& image) {
        board.formatVolume();  // with the profile's vpd.bin
        board.writeFile("image1", image);
        board.writeFile("boot.dim", "---IMAGE---\nactive\nactive\nimage1\n0\ndemo\n");
    }
    std::string text() { return plainText(board.output()); }

    TestBoard board{sim::OnHandover::Run};
};

TEST_F(CodeRunTest, TheDemoCodePrintsItsBannerEchoesKeysAndResetsIntoTheLoader) {
    if (sim::demoCodeBinary().empty()) {
        GTEST_SKIP() << "the demo code was not built (no powerpc-linux-gnu-gcc)";
    }
    provision(sim::demoImage());
    // The operator answers the demo's prompts in turn as they appear.
    const std::pair<std::string, std::string> answers[] = {
        {"Choice: ", "3"}, {"Ctrl-C ends.\r\n", "hi!\r\x03"}, {"Choice: ", "1"}, {"Choice: ", "4"}};
    size_t answered = 0;
    OnSent op(board, [&](sim::ScriptedLine& line, std::string_view) {
        if (answered < std::size(answers) && line.output().ends_with(answers[answered].first)) {
            const std::string& keys = answers[answered++].second;
            line.deliver(std::vector<uint8_t>(keys.begin(), keys.end()));
        }
    });
    EXPECT_EQ(board.run(), 0);  // the second boot's demo finds no more input
    EXPECT_EQ(answered, 4u);
    const std::string shown = text();
    const std::string menu =
        "\n"
        "  1  Show the CPLD registers\n"
        "  2  Blink the lamps\n"
        "  3  Echo keys (Ctrl-C ends)\n"
        "  4  Reset the board\n"
        "  5  Spin a tight loop\n"
        "Choice: ";
    const std::string firstRun = DEMO_BANNER + menu + "3\nEchoing keys; Ctrl-C ends.\nhi!\n\n" + menu +
                                 "1\nCPLD registers at 0xd0000000:\n"
                                 "  0=00 1=50 2=00 3=44 4=00 5=3f 6=77 7=03\n"
                                 "  8=00 9=00 a=00 b=01 c=03 d=00 e=10 f=10\n" +
                                 menu + "4\nResetting the board.\n";
    size_t first = shown.find(firstRun);
    ASSERT_NE(first, std::string::npos) << shown;
    size_t loaderAgain = shown.find(LOADER_BANNER, first);
    size_t demoAgain = shown.find(DEMO_BANNER, first + 1);
    EXPECT_NE(loaderAgain, std::string::npos) << shown;
    EXPECT_LT(loaderAgain, demoAgain) << shown;
    EXPECT_EQ(board.board().powerOnCount(), 2);
    EXPECT_EQ(board.board().lastResetCause(), "CPLD reset request");
}

TEST_F(CodeRunTest, AnIllegalInstructionStopsTheCoreWithAReport) {
    const std::vector<uint8_t> code = {
        0x38, 0x60, 0x00, 0x05,  // li r3,5
        0x00, 0x00, 0x00, 0x00,  // not an instruction
    };
    provision(oprImage({.component0 = zlibStream(code)}));
    EXPECT_EQ(board.run(), sim::EXIT_CORE_STOPPED);
    const std::string report = board.diagnosticsText();
    EXPECT_NE(report.find("core: stopped: illegal instruction (not an instruction of this core)\n"
                          "core: instruction 0x00000000 at 0x00010004\n"
                          "core: r0  00000000 01fffff0 00000000 00000005 "),
              std::string::npos)
        << report;
    EXPECT_EQ(board.board().powerOnCount(), 1);
}

TEST_F(CodeRunTest, CodeLoadedOverTheConsoleIsWhatRunsNext) {
    std::vector<uint8_t> code = interop::readHostFile(std::filesystem::path(SWBOOT_DEMO_DIR) / "demo-at-4m.bin");
    if (code.empty()) {
        GTEST_SKIP() << "the demo code was not built (no powerpc-linux-gnu-gcc)";
    }
    provision(sim::demoImage());
    LoaderOnBoard loader(board, false);
    {
        XmodemSenderPeer sender(board.line(), XmodemSenderPeer::Protocol::Xmodem,
                                {PeerFile{"", oprImage({.component0 = zlibStream(code), .loadAddress = 0x00400000}), ""}},
                                1024);
        ASSERT_EQ(loader->codeLoad.codeLoadXmodem(swboot::DEVICE_TARGET_ID), 0) << text();
    }
    EXPECT_EQ(loader.run([&] { loader->codeStart.opCodeStart(swboot::START_MODE_NORMAL); }),
              "power off: end of console input");
    EXPECT_NE(text().find("\nDemo operational code (rebuilt), start mode 1 (normal start), running at 0x00400000\n"),
              std::string::npos)
        << text();
}

}  // namespace
