// The I2C bus routines against the controller model and the devices behind
// the multiplexer: the events on the bus for each operation, acknowledge
// polling, the limits on waits, and the device table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_events.h"
#include "hw/i2c.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using namespace swboot;
using testing_support::LoaderOnBoard;
using testing_support::TestBoard;
using Events = std::vector<std::string>;

struct I2cBoard {
    explicit I2cBoard(sim::BoardOptions options = {}) : board(std::move(options)), on(board) {}
    I2c& i2c() { return on->i2c; }
    sim::Mpc85xxI2c& controller() { return board.board().i2c().controller(); }
    Events events() {
        Events e = controller().events();
        controller().clearEvents();
        return e;
    }
    TestBoard board;
    LoaderOnBoard on;
};

TEST(I2c, RtcRegisterReadIsOneStartOffsetRepeatedStartAndOneUnacknowledgedByte) {
    I2cBoard b;
    uint8_t minutes = 0xEE;
    ASSERT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_RTC, 1, 1, &minutes, 1), OK);
    EXPECT_EQ(b.events(), (Events{"start (channel 0)", "address 0xd0 write ack RTC", "data 0x01 ack", "repeated start",
                                  "address 0xd1 read ack RTC", "read 0x00 nack", "stop"}));
    EXPECT_EQ(minutes, 0x00);  // 2007-01-01 00:00:00 on the test board's clock
    EXPECT_EQ(b.controller().protocolErrors(), 0);
    EXPECT_EQ(b.controller().state(), sim::Mpc85xxI2c::State::Idle);
}

TEST(I2c, LongReadAcknowledgesAllButTheLastByte) {
    I2cBoard b;
    uint8_t bytes[3] = {};
    ASSERT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_EEPROM, 0, 1, bytes, 3), OK);
    Events e = b.events();
    ASSERT_EQ(e.size(), 9u);
    EXPECT_EQ(Events(e.begin() + 5, e.end()),
              (Events{"read 0x34 ack", "read 0x38 ack", "read 0x2d nack", "stop"}));  // "48-"
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 3), "48-");
    EXPECT_EQ(b.controller().protocolErrors(), 0);
    // RXAK shows the line's last acknowledge bit: the master's own refusal.
    EXPECT_EQ(b.controller().reg(sim::Mpc85xxI2c::REG_SR) & sim::Mpc85xxI2c::SR_RXAK, sim::Mpc85xxI2c::SR_RXAK);
}

TEST(I2c, AnEmptySlotReadsAsAllOnesAndStillSucceeds) {
    I2cBoard b;
    std::vector<uint8_t> bytes(256, 0);
    ASSERT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_SFP4, 0, 1, bytes.data(), bytes.size()), OK);
    EXPECT_EQ(bytes, std::vector<uint8_t>(256, 0xFF));
    Events e = b.events();
    EXPECT_EQ(Events(e.begin(), e.begin() + 2), (Events{"start (channel 3)", "address 0xa0 write nack"}));
    EXPECT_EQ(b.board.board().cpld().reg(sim::Cpld::REG_I2C_MUX), 3);
}

TEST(I2c, OffsetGoesOutMostSignificantByteFirst) {
    I2cBoard b;
    uint8_t byte = 0;
    // The module's ID memory takes offsets of any length and ignores them.
    ASSERT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_SFP1, 0x1234, 2, &byte, 1), OK);
    Events e = b.events();
    EXPECT_EQ(Events(e.begin() + 2, e.begin() + 5), (Events{"data 0x12 ack", "data 0x34 ack", "repeated start"}));
    ASSERT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_SFP1, 0x00ABCDEF, 3, &byte, 1), OK);
    e = b.events();
    EXPECT_EQ(Events(e.begin() + 2, e.begin() + 5), (Events{"data 0xab ack", "data 0xcd ack", "data 0xef ack"}));
}

TEST(I2c, WritesThenAcknowledgePollingUntilTheEepromFinishesItsCycle) {
    I2cBoard b;
    const uint8_t data[] = {0x10, 0xA5, 0x5A};
    ASSERT_EQ(b.i2c().i2cWrite(I2C_DEVICE_EEPROM, data, sizeof data), OK);
    Events e = b.events();
    Events expected = {"start (channel 0)", "address 0xa2 write ack EEPROM", "data 0x10 ack", "data 0xa5 ack",
                       "data 0x5a ack", "stop"};
    for (int attempt = 0; attempt < sim::Eeprom24c02::WRITE_CYCLE_ADDRESS_ATTEMPTS; ++attempt) {
        expected.insert(expected.end(), {"start (channel 0)", "address 0xa2 write nack EEPROM", "stop"});
    }
    expected.insert(expected.end(), {"start (channel 0)", "address 0xa2 write ack EEPROM", "stop"});
    EXPECT_EQ(e, expected);
    // A register write sends the offset, then the data.
    const uint8_t more = 0x42;
    ASSERT_EQ(b.i2c().i2cRegWrite(I2C_DEVICE_EEPROM, 0x20, 1, &more, 1), OK);
    e = b.events();
    EXPECT_EQ(Events(e.begin(), e.begin() + 5), (Events{"start (channel 0)", "address 0xa2 write ack EEPROM",
                                                        "data 0x20 ack", "data 0x42 ack", "stop"}));
    const auto& contents = b.board.board().i2c().eeprom().contents();
    EXPECT_EQ(std::vector<uint8_t>({contents[0x10], contents[0x11], contents[0x20]}),
              std::vector<uint8_t>({0xA5, 0x5A, 0x42}));
}

TEST(I2c, WriteToADeviceThatNeverAcknowledgesFailsAfterExactly150Polls) {
    I2cBoard b;
    b.board.board().i2c().setNoAcknowledge("LM75A", true);
    int before = b.board.board().i2c().mux().addressCount();
    const uint8_t pointer = 0;
    EXPECT_EQ(b.i2c().i2cWrite(I2C_DEVICE_LM75A, &pointer, 1), ERROR);
    // The write's own address byte, then the polling attempts.
    EXPECT_EQ(b.board.board().i2c().mux().addressCount() - before, 1 + 150);
    EXPECT_EQ(b.events().back(), "stop");
    // The lock was given back: the next transfer goes through.
    EXPECT_EQ(b.i2c().i2cWrite(I2C_DEVICE_LM75B, &pointer, 1), OK);
}

TEST(I2c, RefusalsLeaveTheBusUntouched) {
    I2cBoard b;
    uint8_t byte = 0;
    EXPECT_EQ(b.i2c().i2cRead(I2C_DEVICE_RTC, &byte, 0), ERROR);
    EXPECT_EQ(b.i2c().i2cWrite(I2C_DEVICE_RTC, &byte, 0), ERROR);
    EXPECT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_RTC, 0, 1, &byte, 0), ERROR);
    EXPECT_EQ(b.i2c().i2cRegWrite(I2C_DEVICE_RTC, 0, 1, &byte, 0), ERROR);
    EXPECT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_RTC, 0, 0, &byte, 1), ERROR);
    EXPECT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_RTC, 0, 5, &byte, 1), ERROR);
    for (int device : {0, 63, -1}) {
        EXPECT_EQ(b.i2c().i2cRead(device, &byte, 1), ERROR) << device;
        EXPECT_EQ(b.i2c().i2cRegWrite(device, 0, 1, &byte, 1), ERROR) << device;
    }
    EXPECT_TRUE(b.events().empty());
    // Device 62 is the last one the table has; the lock still works.
    EXPECT_EQ(b.i2c().i2cRead(I2C_DEVICE_LAST, &byte, 1), OK);
    EXPECT_EQ(b.events()[0], "start (channel 31)");
}

TEST(I2c, ABusHeldBusyFailsEveryTransferInsteadOfHanging) {
    I2cBoard b;
    b.board.board().i2c().mux().setHeldBusy(true);
    uint8_t bytes[4] = {0, 0, 0, 0};
    EXPECT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_RTC, 0, 1, bytes, sizeof bytes), ERROR);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), std::vector<uint8_t>(4, 0xFF));
    EXPECT_EQ(b.i2c().i2cRead(I2C_DEVICE_CPU_TEMP, bytes, 2), ERROR);
    const uint8_t data = 1;
    EXPECT_EQ(b.i2c().i2cWrite(I2C_DEVICE_CPU_TEMP, &data, 1), ERROR);
    EXPECT_EQ(b.i2c().i2cRegWrite(I2C_DEVICE_RTC, 0, 1, &data, 1), ERROR);
    EXPECT_TRUE(b.events().empty());  // no start ever went out
    b.board.board().i2c().mux().setHeldBusy(false);
    EXPECT_EQ(b.i2c().i2cRegRead(I2C_DEVICE_EEPROM, 0, 1, bytes, 2), OK);
    EXPECT_EQ(bytes[0], '4');
}

TEST(I2c, DeviceTableChannelsAddressesAndNames) {
    struct Row {
        int device;
        uint8_t channel;
        uint8_t address;
        const char* name;
    };
    const Row rows[] = {
        {0, 0, 0xFF, ""},           {1, 0, 0xA2, "EEPROM"},          {2, 0, 0x92, "CPU"},
        {3, 0, 0x96, "LM75"},       {4, 0, 0x9A, "LM75A"},           {5, 0, 0x9C, "LM75B"},
        {6, 0, 0xD0, "RTC"},        {7, 0, 0xA0, "SFP1"},            {10, 3, 0xA0, "SFP4"},
        {11, 4, 0xA0, "XFP1"},      {14, 7, 0xA0, "XFP4"},           {15, 8, 0xA0, "SFP-Fiber1"},
        {38, 31, 0xA0, "SFP-Fiber24"}, {39, 8, 0xAC, "SFP-Fiber1-MII"}, {62, 31, 0xAC, "SFP-Fiber24-MII"},
    };
    for (const Row& r : rows) {
        const I2cDevice& d = I2C_DEVICE_TABLE[r.device];
        EXPECT_EQ(d.channel, r.channel) << r.device;
        EXPECT_EQ(d.address, r.address) << r.device;
        EXPECT_STREQ(d.name, r.name) << r.device;
    }
    for (int n = 1; n <= 24; ++n) {
        EXPECT_EQ(I2C_DEVICE_TABLE[14 + n].channel, 7 + n);
        EXPECT_EQ(I2C_DEVICE_TABLE[38 + n].channel, 7 + n);
        EXPECT_EQ(std::string(I2C_DEVICE_TABLE[38 + n].name), std::string(I2C_DEVICE_TABLE[14 + n].name) + "-MII");
    }
}

TEST(I2c, InitSetsTheDividerOwnAddressAndEnablesTheController) {
    I2cBoard b;
    sim::Mpc85xxI2c& c = b.controller();
    EXPECT_EQ(c.reg(sim::Mpc85xxI2c::REG_FDR), 0x2C);
    EXPECT_EQ(c.reg(sim::Mpc85xxI2c::REG_ADR), 0x90);
    // Enabled, and not holding the bus after the clock's start-up read.
    EXPECT_EQ(c.reg(sim::Mpc85xxI2c::REG_CR) & (sim::Mpc85xxI2c::CR_MEN | sim::Mpc85xxI2c::CR_MSTA),
              sim::Mpc85xxI2c::CR_MEN);
    EXPECT_EQ(c.reg(sim::Mpc85xxI2c::REG_SR) & sim::Mpc85xxI2c::SR_MBB, 0);
}

TEST(Mpc85xxI2c, OnlyByteAndWordAccessesAtRegisterAddressesDecode) {
    TestBoard board;
    Bus& bus = board.board().platform().bus;
    EXPECT_EQ(bus.read32(0xF000300C) >> 24, sim::Mpc85xxI2c::SR_MCF);
    EXPECT_EQ(bus.read8(0xF000300C), sim::Mpc85xxI2c::SR_MCF);
    EXPECT_THROW(bus.read16(0xF0003008), sim::BoardMachineCheck);
    EXPECT_THROW(bus.read8(0xF0003009), sim::BoardMachineCheck);
    EXPECT_THROW(bus.write8(0xF0003018, 0), sim::BoardMachineCheck);
    bus.write32(0xF0003000, 0x12345678);
    EXPECT_EQ(bus.read32(0xF0003000), 0x12000000u);  // the reserved bytes read 0
}

TEST(Mpc85xxI2c, ADataReadBeforeTheByteArrivedIsAProtocolError) {
    sim::I2cMux mux([] { return uint8_t{0}; });
    sim::Mpc85xxI2c c(mux);
    c.write(sim::Mpc85xxI2c::REG_CR, 1, sim::Mpc85xxI2c::CR_MEN | sim::Mpc85xxI2c::CR_MSTA | sim::Mpc85xxI2c::CR_MTX);
    c.write(sim::Mpc85xxI2c::REG_DR, 1, 0xA1);
    c.read(sim::Mpc85xxI2c::REG_DR, 1);
    EXPECT_EQ(c.protocolErrors(), 1);
    // Completed by polling: no device there.
    for (int i = 0; i < sim::Mpc85xxI2c::BYTE_POLLS; ++i) {
        c.read(sim::Mpc85xxI2c::REG_SR, 1);
    }
    EXPECT_EQ(c.read(sim::Mpc85xxI2c::REG_SR, 1) & (sim::Mpc85xxI2c::SR_MIF | sim::Mpc85xxI2c::SR_RXAK),
              sim::Mpc85xxI2c::SR_MIF | sim::Mpc85xxI2c::SR_RXAK);
    // A second start while the bus is ours is not a start; another master's
    // busy bus loses arbitration.
    c.write(sim::Mpc85xxI2c::REG_CR, 1, sim::Mpc85xxI2c::CR_MEN);
    mux.setHeldBusy(true);
    c.write(sim::Mpc85xxI2c::REG_CR, 1, sim::Mpc85xxI2c::CR_MEN | sim::Mpc85xxI2c::CR_MSTA);
    EXPECT_EQ(c.read(sim::Mpc85xxI2c::REG_SR, 1) & sim::Mpc85xxI2c::SR_MAL, sim::Mpc85xxI2c::SR_MAL);
    EXPECT_EQ(c.reg(sim::Mpc85xxI2c::REG_CR) & sim::Mpc85xxI2c::CR_MSTA, 0);
}

}  // namespace
