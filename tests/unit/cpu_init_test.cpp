// The I2C readouts: temperatures from the LM75 models, the dump of every
// present device, and the module identities, on both board kinds.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "hw/cpu_init.h"
#include "host/sensor_file.h"
#include "hw/i2c.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using namespace swboot;
using testing_support::countOf;
using testing_support::LoaderOnBoard;
using testing_support::TestBoard;

sim::ModuleProfile module(const char* slot, const char* vendor, uint8_t bitRate,
                          sim::ModuleKind kind = sim::ModuleKind::Sfp) {
    return {.slot = slot, .kind = kind, .identity = {.vendor = vendor, .partNumber = std::string("PN-") + slot,
                                                     .serialNumber = std::string("SN-") + slot, .bitRate = bitRate}};
}

// A loader on a board with these I2C devices and switch chips.
struct I2cBench {
    explicit I2cBench(const sim::I2cProfile& i2c = sim::BoardProfile::builtin().i2c, int chips = -1)
        : board([&] {
              sim::BoardOptions options;
              options.profile.i2c = i2c;
              return options;
          }()),
          on(board) {
        if (chips >= 0) {
            on->switchChipCount = chips;
        }
    }
    // What the display prints.
    std::string shown(void (CpuInit::*display)()) {
        on.takeOutput();
        (on->cpuInit.*display)();
        on->io.flush();
        return on.takeOutput();
    }
    TestBoard board;
    LoaderOnBoard on;
};

// Failure lines carry the line of the call; that number is blanked.
std::string lineBlanked(const std::string& text) {
    return std::regex_replace(text, std::regex("cpu_init:[0-9]+"), "cpu_init:N");
}

TEST(Temperature, ReadingsToDegrees) {
    const struct {
        uint16_t reading;
        int celsius;
        int fahrenheit;
    } cases[] = {
        {0x1900, 25, 77},   {0x1980, 25, 77},  {0xE700, -25, -13}, {0xFF80, 0, 32},  {0x8000, -128, -198},
        {0x0000, 0, 32},    {0x0080, 0, 32},   {0x7D00, 125, 257}, {0xC900, -55, -67}, {0xFF00, -1, 31},
        {0xFE80, -1, 31},   {0x207F, 32, 89},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lm75Celsius(c.reading), c.celsius) << std::hex << c.reading;
        EXPECT_EQ(celsiusToFahrenheit(lm75Celsius(c.reading)), c.fahrenheit) << std::hex << c.reading;
    }
}

// The 48-port board shows the processor's sensor, then both switch chips';
// the fiber board one switch chip's, from the LM75 at the first address.
TEST(Temperature, EachBoardShowsTheProcessorThenItsSwitchChipSensors) {
    I2cBench copper({.sensors = {{"CPU", 32.0}, {"LM75", 99.0}, {"LM75A", -0.5}, {"LM75B", -25.0}}}, 2);
    EXPECT_EQ(copper.shown(&CpuInit::temperatureShow),
              "\nCPU Temp sensor read +32 degrees Celsius (89 degrees Fahrenheit)\n"
              "\nMAC Temp sensor read +0 degrees Celsius (32 degrees Fahrenheit)\n"
              "\nMAC Temp sensor read -25 degrees Celsius (-13 degrees Fahrenheit)\n");
    I2cBench fiber({.sensors = {{"CPU", 40.0}, {"LM75", 51.5}, {"LM75A", 1.0}}}, 1);
    EXPECT_EQ(fiber.shown(&CpuInit::temperatureShow),
              "\nCPU Temp sensor read +40 degrees Celsius (104 degrees Fahrenheit)\n"
              "\nMAC Temp sensor read +51 degrees Celsius (123 degrees Fahrenheit)\n");
}

TEST(Temperature, TheTemperatureFileChangesSensorsWhileTheBoardRuns) {
    I2cBench bench({.sensors = {{"CPU", 32.0}, {"LM75A", 20.0}, {"LM75B", 20.0}}}, 2);
    TestBoard& board = bench.board;
    const auto file = board.board().options().stateDir / sim::SENSOR_FILE;
    const auto edit = [&](const std::string& text) {
        std::ofstream(file) << text;
        // A new time as well: two edits within the file system's tick still count.
        std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + std::chrono::seconds(1));
    };
    edit("CPU = 70.5\nLM75B = -30\n");
    EXPECT_EQ(bench.shown(&CpuInit::temperatureShow),
              "\nCPU Temp sensor read +70 degrees Celsius (158 degrees Fahrenheit)\n"
              "\nMAC Temp sensor read +20 degrees Celsius (68 degrees Fahrenheit)\n"
              "\nMAC Temp sensor read -30 degrees Celsius (-22 degrees Fahrenheit)\n");
    // Bad lines are named and change nothing; the good ones still apply.
    edit("CPU = 126\nFAN = 3\nLM75A = \"hot\"\nLM75B = 125\n");
    const std::string kept = "\nCPU Temp sensor read +70 degrees Celsius (158 degrees Fahrenheit)\n"
                             "\nMAC Temp sensor read +20 degrees Celsius (68 degrees Fahrenheit)\n"
                             "\nMAC Temp sensor read +125 degrees Celsius (257 degrees Fahrenheit)\n";
    EXPECT_EQ(bench.shown(&CpuInit::temperatureShow), kept);
    const std::string said = board.diagnosticsText();
    for (const char* line : {"sensors: temperatures.toml:1: CPU must be degrees Celsius from -55 to 125",
                             "sensors: temperatures.toml:2: this board has no sensor called 'FAN'",
                             "sensors: temperatures.toml:3: LM75A must be degrees Celsius from -55 to 125",
                             "sensors: LM75B now reads 125.0 C"}) {
        EXPECT_NE(said.find(line), std::string::npos) << line;
    }
    // Not a number is no temperature either.
    edit("\nCPU = nan\nLM75A = -inf\n");
    EXPECT_EQ(bench.shown(&CpuInit::temperatureShow), kept);
    EXPECT_NE(board.diagnosticsText().find("temperatures.toml:2: CPU must be degrees"), std::string::npos);
    edit("CPU = [");
    bench.shown(&CpuInit::temperatureShow);
    EXPECT_NE(board.diagnosticsText().find("no temperature changed"), std::string::npos);
}

TEST(Temperature, TheFirstFailingSensorEndsTheDisplay) {
    I2cBench bench({.sensors = {{"CPU", 20.0}, {"LM75A", 30.0}}});  // no LM75B on this board
    EXPECT_EQ(lineBlanked(bench.shown(&CpuInit::temperatureShow)),
              "\nCPU Temp sensor read +20 degrees Celsius (68 degrees Fahrenheit)\n"
              "\nMAC Temp sensor read +30 degrees Celsius (86 degrees Fahrenheit)\n"
              "cpu_init:N - i2cWrite returned -1\n");
    bench.board.board().i2c().mux().setHeldBusy(true);
    EXPECT_EQ(lineBlanked(bench.shown(&CpuInit::temperatureShow)), "cpu_init:N - i2cWrite returned -1\n");
}

TEST(DeviceDump, ShowsEveryDeviceThatAnswersAndSkipsOnlyTwoLeadingFFs) {
    // The last fiber slot is dumped; its diagnostics page at 0x56 is not.
    I2cBench bench({.eepromText = std::string("\xFF\x00" "ab", 4),
                    .rtcPresent = false,
                    .modules = {module("XFP2", "XV", 0, sim::ModuleKind::Xfp), module("SFP-Fiber24", "FV", 0)}});
    std::string out = bench.shown(&CpuInit::i2cDevicesShow);
    std::string eeprom = "------------------------------\nEEPROM\n00 ff 00 61 62 ff ff ff ff ff ff ff ff ff ff ff ff --ab------------";
    for (int row = 16; row < 256; row += 16) {
        char line[80];
        std::snprintf(line, sizeof line, "\n%02x ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ----------------", row);
        eeprom += line;
    }
    eeprom += "\n\n";
    EXPECT_EQ(out.substr(0, eeprom.size()), eeprom);
    EXPECT_EQ(countOf(out, "------------------------------\n"), 3u);
    EXPECT_NE(out.find("------------------------------\nXFP2\n00 06 "), std::string::npos);
    EXPECT_NE(out.find("------------------------------\nSFP-Fiber24\n00 03 "), std::string::npos);
    // Ten devices read a tenth of a second apart... thirty-eight of them.
    EXPECT_GE(bench.board.clock().nowMicros(), 38 * 100000);
}

TEST(DeviceDump, TheSensorsAndClockOfTheDefaultBoard) {
    std::string out = I2cBench().shown(&CpuInit::i2cDevicesShow);
    std::regex names("------------------------------\n([A-Za-z0-9-]+)\n");
    std::string order;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), names); it != std::sregex_iterator(); ++it) {
        order += (*it)[1].str() + " ";
    }
    EXPECT_EQ(order, "EEPROM CPU LM75A LM75B RTC SFP1 ");
    // The LM75's temperature register, over and over: 38.5 degrees.
    EXPECT_NE(out.find("CPU\n00 26 80 26 80 "), std::string::npos);
}

TEST(HwModules, SfpAndXfpIdentitiesWithTheirSpeed) {
    I2cBench bench({.modules = {module("SFP1", "ABCDEFGHIJKLMNOP", 12), module("SFP3", "Short", 3),
                                module("XFP4", "XFP VENDOR", 0, sim::ModuleKind::Xfp), module("SFP-Fiber2", "Fiber", 1)}},
                   2);
    EXPECT_EQ(bench.shown(&CpuInit::hwModulesShow),
              "------------------------------\nSFP1\n"
              "Vendor Name ------------ ABCDEFGHIJKLMNOP\n"
              "Part Number ------------ PN-SFP1         \n"
              "Serial Number ------------ SN-SFP1         \n"
              "Speed --------------- Upto 1200Mbps\n\n\n"
              "------------------------------\nSFP3\n"
              "Vendor Name ------------ Short           \n"
              "Part Number ------------ PN-SFP3         \n"
              "Serial Number ------------ SN-SFP3         \n"
              "Speed --------------- 1000M\n\n\n"
              "------------------------------\nXFP4\n"
              "Vendor Name ------------ XFP VENDOR      \n"
              "Part Number ------------ PN-XFP4         \n"
              "Serial Number ------------ SN-XFP4         \n\n\n");
    bench.on->switchChipCount = 1;
    std::string fiber = bench.shown(&CpuInit::hwModulesShow);
    EXPECT_EQ(fiber.find("------------------------------\nSFP-Fiber2\nVendor Name ------------ Fiber           \n"), 0u);
    EXPECT_NE(fiber.find("Speed --------------- 100M\n"), std::string::npos);
    EXPECT_NE(fiber.find("XFP4"), std::string::npos);
}

TEST(HwModules, EachBoardShowsItsSlotsUpToTheLast) {
    I2cBench bench({.modules = {module("SFP4", "LAST", 1), module("SFP-Fiber24", "LAST FIBER", 1)}});
    for (int chips : {1, 2}) {
        bench.on->switchChipCount = chips;
        std::string out = bench.shown(&CpuInit::hwModulesShow);
        EXPECT_EQ(countOf(out, "------------------------------\n"), 1u) << chips;
        EXPECT_EQ(out.rfind(chips == 1 ? "------------------------------\nSFP-Fiber24\n"
                                       : "------------------------------\nSFP4\n", 0),
                  0u)
            << out;
    }
}

TEST(HwModules, SpeedLines) {
    const struct {
        uint8_t code;
        const char* line;
    } cases[] = {
        {1, "Speed --------------- 100M\n"},          {2, "Speed --------------- OC-3 (Upto 155Mbps)\n"},
        {6, "Speed --------------- OC-12 (Upto 620Mbps)\n"}, {25, "Speed --------------- OC-48 (Upto 2480Mbps)\n"},
        {12, "Speed --------------- Upto 1200Mbps\n"}, {0, "Speed --------------- 1000M\n"},
        {3, "Speed --------------- 1000M\n"},          {13, "Speed --------------- 1000M\n"},
        {255, "Speed --------------- 1000M\n"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(sfpSpeedLine(c.code), c.line) << int(c.code);
    }
}

TEST(HwModules, AStuckBusIsReportedNotShownAsModules) {
    I2cBench bench;
    bench.board.board().i2c().mux().setHeldBusy(true);
    std::string out = lineBlanked(bench.shown(&CpuInit::hwModulesShow));
    EXPECT_EQ(countOf(out, "cpu_init:N - i2cRegRead returned -1\n"), 8u);  // four SFP and four XFP slots
    EXPECT_EQ(countOf(out, "Vendor"), 0u);
}

}  // namespace
