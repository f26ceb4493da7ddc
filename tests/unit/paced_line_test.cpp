// The paced console line on virtual time, and the meter of a transfer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/paced_line.h"
#include "host/scripted_line.h"
#include "host/sim_clock.h"
#include "support/xmodem_peer.h"

namespace {

using sim::PacedLine;
using sim::ScriptedLine;
using sim::VirtualClock;

struct PacedLineTest : testing::Test {
    VirtualClock clock;
    ScriptedLine far{clock};
    PacedLine line{far, clock};

    // Receives until count bytes came in; the board time of each.
    std::vector<int64_t> receiveTimes(size_t count) {
        std::vector<int64_t> times;
        while (times.size() < count) {
            uint8_t byte;
            long n = line.receive(&byte, 1);
            if (n == 1) {
                times.push_back(clock.nowMicros());
            } else if (n == 0) {
                line.waitInput(-1, true);
            } else {
                break;
            }
        }
        return times;
    }
};

TEST_F(PacedLineTest, SendingTakesTenBitTimesPerCharacterAtTheSpeedSet) {
    struct Case {
        uint32_t speed;
        size_t bytes;
        int64_t micros;
    };
    for (const Case& c : {Case{9600, 960, 1000000}, Case{115200, 1029, 89323}, Case{1200, 3, 25000}}) {
        line.speedChanged(c.speed);
        const int64_t start = clock.nowMicros();
        line.transmit(std::vector<uint8_t>(c.bytes, 0x55).data(), c.bytes);
        EXPECT_NEAR(clock.nowMicros() - start, c.micros, 2) << c.speed << " baud";
    }
    EXPECT_EQ(far.output().size(), 960u + 1029u + 3u);
}

TEST_F(PacedLineTest, TheFarEndGetsEachByteWhenItHasLeft) {
    testing_support::ScriptPeer farEnd(far, {});  // notes when each byte reached the far end
    line.speedChanged(9600);
    line.transmit(reinterpret_cast<const uint8_t*>("0123456789"), 10);
    const std::vector<int64_t>& arrivals = farEnd.heardAt();
    ASSERT_EQ(arrivals.size(), 10u);
    // Never early; late by at most the line's wake-up slice.
    for (size_t i = 0; i < arrivals.size(); ++i) {
        const int64_t left = static_cast<int64_t>(i + 1) * 1041667 / 1000;
        EXPECT_GE(arrivals[i], left) << "byte " << i;
        EXPECT_LE(arrivals[i], left + PacedLine::SEND_SLICE_MICROS + 2) << "byte " << i;
    }
}

TEST_F(PacedLineTest, BytesSentAtOnceArriveOneCharacterTimeApart) {
    line.speedChanged(9600);
    far.deliverAt(0, std::string(5, 'x'));
    std::vector<int64_t> times = receiveTimes(5);
    ASSERT_EQ(times.size(), 5u);
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_NEAR(times[i], static_cast<int64_t>(i + 1) * 1041667 / 1000, 1) << "byte " << i;
    }
    // A gap on the line stays a gap; the next bytes take their own time.
    far.deliverAt(20000, "yy");
    times = receiveTimes(2);
    EXPECT_NEAR(times[0], 20000 + 1042, 1);
    EXPECT_NEAR(times[1], 20000 + 2083, 1);
}

TEST_F(PacedLineTest, WaitingForInputEndsAtTheDeadlineWhileAByteIsOnItsWay) {
    line.speedChanged(1200);  // 8333 microseconds a character
    far.deliverAt(0, "a");
    uint8_t byte;
    EXPECT_EQ(line.receive(&byte, 1), 0);
    line.waitInput(5000, true);
    EXPECT_EQ(clock.nowMicros(), 5000);
    EXPECT_EQ(line.receive(&byte, 1), 0);
    line.waitInput(-1, true);
    EXPECT_EQ(clock.nowMicros(), 8334);
    EXPECT_EQ(line.receive(&byte, 1), 1);
    EXPECT_EQ(line.receive(&byte, 1), -1);  // the script has nothing more
}

TEST_F(PacedLineTest, TheMeterGivesTheShareOfTheLineRate) {
    line.speedChanged(115200);
    line.meterStart();
    // 1000 bytes in, then a pause as long as their own time, then 1000 more:
    // half of the line rate over the span; a few bytes sent back.
    far.deliverAt(0, std::string(1000, 'd'));
    receiveTimes(1000);
    far.deliverAt(2 * 86806, std::string(1000, 'd'));
    receiveTimes(1000);
    line.transmit(reinterpret_cast<const uint8_t*>("\x06\x06"), 2);
    PacedLine::Meter meter = line.meterStop();
    EXPECT_EQ(meter.received, 2000u);
    EXPECT_EQ(meter.sent, 2u);
    EXPECT_TRUE(meter.mostlyReceived());
    EXPECT_NEAR(meter.busiestSeconds(), 0.2604, 0.0001);
    EXPECT_NEAR(meter.lineShare(), 2.0 / 3.0, 0.001);
    EXPECT_EQ(meter.speed, 115200u);
}

}  // namespace
