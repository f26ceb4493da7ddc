// The real-time clock routines against the DS1340 model: BCD and day of
// week, the register writes of a set, the readings of odd register values,
// the oscillator start, a reading taken across a rollover, failures, and
// the system clock set from the clock at startup, across a restart.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/calendar.h"
#include "hw/ds1340.h"
#include "support/loader_on_board.h"
#include "support/state_dir_board.h"

namespace {

using namespace swboot;
using testing_support::LoaderOnBoard;
using testing_support::TestBoard;

struct RtcBoard {
    RtcBoard() : on(board) {}
    Ds1340& rtc() { return on->rtc; }
    // Year, month, day, hour, minute and second as the clock reads now.
    std::vector<uint32_t> now() {
        uint32_t y, mo, d, h, mi, s;
        rtc().ds1340_tod_get(y, mo, d, h, mi, s);
        return {y, mo, d, h, mi, s};
    }
    std::vector<uint32_t> date() {
        const std::vector<uint32_t> time = now();
        return {time.begin(), time.begin() + 3};
    }
    sim::Ds1340& model() { return *board.board().i2c().rtc(); }
    sim::Mpc85xxI2c& controller() { return board.board().i2c().controller(); }
    // The (register, value) pairs written, in order.
    std::vector<std::pair<int, int>> registerWrites() {
        std::vector<std::pair<int, int>> writes;
        const auto& e = controller().events();
        for (size_t i = 0; i + 3 < e.size(); ++i) {
            if (e[i] == "address 0xd0 write ack RTC" && e[i + 2].rfind("data", 0) == 0) {
                writes.emplace_back(std::stoi(e[i + 1].substr(5, 4), nullptr, 16),
                                    std::stoi(e[i + 2].substr(5, 4), nullptr, 16));
            }
        }
        controller().clearEvents();
        return writes;
    }
    TestBoard board;
    LoaderOnBoard on;
};

TEST(Ds1340, BcdConversionsAndDayOfWeek) {
    const struct {
        uint32_t value;
        uint8_t bcd;
    } bcd[] = {{0, 0x00}, {9, 0x09}, {10, 0x10}, {59, 0x59}, {99, 0x99}, {100, 0xA0}, {2008, 0x88}};  // kept to 8 bits
    for (const auto& c : bcd) {
        EXPECT_EQ(ds1340_to_bcd(c.value), c.bcd) << c.value;
    }
    EXPECT_EQ(ds1340_from_bcd(0x59), 59);
    EXPECT_EQ(ds1340_from_bcd(0xA5), 105);
    EXPECT_EQ(ds1340_from_bcd(0xFF), 165);
    const struct {
        int year, month, day, dow;
    } days[] = {{2008, 2, 29, 5}, {2007, 3, 7, 3}, {2000, 1, 1, 6}, {2000, 2, 29, 2}, {2000, 3, 1, 3},
                {1999, 12, 31, 5}, {2100, 3, 1, 1}, {2024, 1, 1, 1}, {2023, 12, 31, 0}};
    for (const auto& d : days) {
        EXPECT_EQ(ds1340_day_of_week(d.year, d.month, d.day), d.dow) << d.year << "-" << d.month << "-" << d.day;
    }
}

TEST(Ds1340, SetWritesYearDownToSecondsInBcdAndShowPadsOnlyMinutesAndSeconds) {
    RtcBoard b;
    ASSERT_EQ(b.rtc().ds1340_tod_set(2008, 2, 29, 9, 5, 9), OK);
    EXPECT_EQ(b.registerWrites(), (std::vector<std::pair<int, int>>{
                                      {6, 0x08}, {5, 0x02}, {4, 0x29}, {3, 0x06}, {2, 0x09}, {1, 0x05}, {0, 0x09}}));
    EXPECT_EQ(b.now(), std::vector<uint32_t>({2008, 2, 29, 9, 5, 9}));
    EXPECT_EQ(b.model().registerNow(sim::Ds1340::REG_DAY), 6);
    b.on.takeOutput();
    b.rtc().ds1340_tod_show();
    b.on->io.flush();
    EXPECT_EQ(b.on.takeOutput(), "\n\n2/29/2008 9:05:09\n\n");
}

TEST(Ds1340, ADateSetFieldByFieldIsTheDateSetWhateverTheDateBefore) {
    const struct {
        uint32_t from[3], to[3];  // year, month, day
    } cases[] = {
        {{2026, 1, 31}, {2026, 2, 28}}, {{2007, 3, 31}, {2008, 2, 29}}, {{2007, 5, 31}, {2007, 4, 30}},
        {{2008, 2, 29}, {2007, 2, 28}}, {{2007, 4, 30}, {2007, 5, 31}},
    };
    for (const auto& c : cases) {
        RtcBoard b;
        b.rtc().ds1340_tod_set(c.from[0], c.from[1], c.from[2], 12, 0, 0);
        b.rtc().ds1340_tod_set(c.to[0], c.to[1], c.to[2], 12, 0, 0);
        EXPECT_EQ(b.date(), std::vector<uint32_t>(c.to, c.to + 3)) << c.from[1] << "/" << c.from[2];
    }
    // One write of all seven registers, from 10 February to 31 March: the
    // date goes before the month.
    RtcBoard b;
    b.rtc().ds1340_tod_set(2007, 2, 10, 12, 0, 0);
    const uint8_t registers[] = {0x00, 0x00, 0x12, 0x07, 0x31, 0x03, 0x07};
    ASSERT_EQ(b.on->i2c.i2cRegWrite(I2C_DEVICE_RTC, 0, 1, registers, sizeof registers), OK);
    EXPECT_EQ(b.date(), std::vector<uint32_t>({2007, 3, 31}));
}

TEST(Ds1340, YearReadings) {
    RtcBoard b;
    b.rtc().ds1340_tod_set(1999, 12, 31, 23, 59, 0);
    EXPECT_EQ(b.now()[0], 2099u);  // only two digits are kept
    b.model().forceRegister(sim::Ds1340::REG_YEAR, 0xA5);
    EXPECT_EQ(b.now()[0], 2005u);  // 105 is not below 100
}

TEST(Ds1340, AReadingAcrossARolloverIsTakenAgain) {
    RtcBoard b;
    b.rtc().ds1340_tod_set(2007, 12, 31, 10, 59, 59);
    // Let the clock tick to the next hour right after the hours register is
    // read: the minutes and seconds then read 00.
    int stops = 0;
    b.controller().setTrace([&](const std::string& event) {
        if (event == "stop" && ++stops == 5) {
            b.board.clock().advance(1000000);
        }
    });
    EXPECT_EQ(b.now(), std::vector<uint32_t>({2007, 12, 31, 11, 0, 0}));
    EXPECT_EQ(stops, 14);  // two readings of seven registers
}

TEST(Ds1340, FailedTransfersAreReportedAndReadAsZero) {
    RtcBoard b;
    b.board.board().i2c().mux().setHeldBusy(true);
    b.on.takeOutput();
    EXPECT_EQ(b.rtc().ds1340_reg_read(6), 0);
    b.rtc().ds1340_reg_write(0xB, 0x5A);
    uint32_t y, mo, d, h, mi, s;
    EXPECT_EQ(b.rtc().ds1340_tod_get(y, mo, d, h, mi, s), OK);
    EXPECT_EQ(std::vector<uint32_t>({y, mo, d, h, mi, s}), std::vector<uint32_t>({2000, 0, 0, 0, 0, 0}));
    b.on->io.flush();
    EXPECT_EQ(b.on.takeOutput(),
              "Unable to read register 6\nUnable to write register b with 5a\n"
              "Unable to read register 0\nUnable to read register 6\nUnable to read register 5\n"
              "Unable to read register 4\nUnable to read register 2\nUnable to read register 1\n"
              "Unable to read register 0\n");
}

TEST(Ds1340, TheModelCountsUntilStoppedAndInitStartsItAgainKeepingTheSeconds) {
    RtcBoard b;
    b.rtc().ds1340_tod_set(2008, 2, 28, 23, 59, 30);
    b.board.clock().advance(45 * 1000000LL);
    EXPECT_EQ(b.now(), std::vector<uint32_t>({2008, 2, 29, 0, 0, 15}));
    EXPECT_EQ(b.model().registerNow(sim::Ds1340::REG_DAY), 6);  // Friday follows Thursday
    const uint8_t stoppedAtFive = 0x85;  // the seconds register with the oscillator's stop bit
    ASSERT_EQ(b.on->i2c.i2cRegWrite(I2C_DEVICE_RTC, 0, 1, &stoppedAtFive, 1), OK);
    EXPECT_TRUE(b.model().state().stopped);
    b.board.clock().advance(3600 * 1000000LL);
    EXPECT_EQ(b.now(), std::vector<uint32_t>({2008, 2, 29, 0, 0, 5}));
    b.registerWrites();
    ASSERT_EQ(b.rtc().ds1340_init(), OK);
    EXPECT_EQ(b.registerWrites(), (std::vector<std::pair<int, int>>{{0, 0x05}}));
    EXPECT_FALSE(b.model().state().stopped);
    // A running clock is left alone.
    ASSERT_EQ(b.rtc().ds1340_init(), OK);
    EXPECT_TRUE(b.registerWrites().empty());
}

TEST(Ds1340, StartupSetsTheSystemClockFromTheRtcAndTheTimeSurvivesARestart) {
    testing_support::StateDirBoard dir;
    {
        sim::SimBoard board(dir.options, dir.clock, dir.line, dir.diagnostics);
        Loader loader(board.platform());
        loader.boardStart();
        loader.rtc.ds1340_tod_set(2012, 6, 15, 13, 14, 15);
    }
    EXPECT_TRUE(std::filesystem::exists(dir.state / "rtc.toml"));
    // The simulator starts again an hour later; the clock counted on.
    sim::VirtualClock clock;
    clock.advance(3600 * 1000000LL);
    sim::ScriptedLine line(clock);
    sim::SimBoard board(dir.options, clock, line, dir.diagnostics);
    EXPECT_EQ(board.run(), 0);
    BrokenDownTime now = brokenDownTime(clock.time());
    EXPECT_EQ(std::vector<int>({now.year, now.month, now.day, now.hour, now.minute}),
              std::vector<int>({2012, 6, 15, 14, 14}));
    EXPECT_LT(now.second - 15, 30);  // the boot took a few seconds
}

// The kept state is read as strictly as the board profile: a value that is
// not what the clock can hold stops the board with the file, the line and
// the reason, and the file stays as it was.
TEST(Ds1340StateFile, ABadValueStopsTheBoardAndChangesNothing) {
    const std::pair<std::string, std::string> cases[] = {
        {"offset_us = 1.5\n", "1: 'offset_us' must be an integer"},
        {"offset_us = \"x\"\n", "1: 'offset_us' must be an integer"},
        {"offset_us = 5\ncontrol = 99999\n", "2: 'control' must be from 0 to 255"},
        {"trickle = -1\n", "1: 'trickle' must be from 0 to 255"},
        {"flags = 256\n", "1: 'flags' must be from 0 to 255"},
        {"weekday_shift = 7\n", "1: 'weekday_shift' must be from 0 to 6"},
        {"frozen_us = 2.0\n", "1: 'frozen_us' must be an integer"},
        {"oscillator_stopped = 1\n", "1: 'oscillator_stopped' must be true or false"},
        {"\ncentury_enable = \"no\"\n", "2: 'century_enable' must be true or false"},
        {"offset_us = 0\nalarm = 3\n", "2: unknown key 'alarm'"},
    };
    testing_support::StateDirBoard dir(false);
    dir.options.flashInMemory = true;
    const auto file = dir.state / "rtc.toml";
    for (const auto& [text, said] : cases) {
        interop::writeHostFile(file, std::vector<uint8_t>(text.begin(), text.end()));
        EXPECT_EQ(dir.startRefusal(), file.string() + ":" + said);
        const auto kept = interop::readHostFile(file);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), text);
    }
}

}  // namespace
