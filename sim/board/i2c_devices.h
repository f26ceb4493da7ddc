// Everything on the board's I2C bus, built from the board profile: the
// processor's controller, the multiplexer behind it, the board EEPROM, the
// temperature sensors, the real-time clock and the pluggable modules in
// their slots, with the profile's faults applied.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/board_profile.h"
#include "board/ds1340.h"
#include "board/eeprom24c02.h"
#include "board/i2c_mux.h"
#include "board/lm75.h"
#include "board/mpc85xx_i2c.h"
#include "board/sfp_module.h"
#include "board/xfp_module.h"

namespace sim {

class I2cDevices {
public:
    // channel: the CPLD's mux register; now: the simulator's calendar time
    // in microseconds, which the clock counts from; rtcState: the clock's
    // kept state. Throws std::invalid_argument for an impossible profile.
    I2cDevices(const I2cProfile& profile, std::function<uint8_t()> channel, std::function<int64_t()> now,
               const Ds1340::State& rtcState);
    I2cDevices(const I2cDevices&) = delete;
    I2cDevices& operator=(const I2cDevices&) = delete;

    Mpc85xxI2c& controller() { return controller_; }
    I2cMux& mux() { return mux_; }
    // Null when the board has none.
    Ds1340* rtc() { return rtc_.get(); }
    Lm75* sensor(const std::string& name);
    Eeprom24c02& eeprom() { return *eeprom_; }

    // Faults, by device name.
    void setNoAcknowledge(const std::string& name, bool noAcknowledge);

    // The DS1340's state a new board starts with.
    static Ds1340::State newRtcState(const I2cProfile& profile);

private:
    void attach(const std::string& name, I2cSlave& device);

    I2cMux mux_;
    Mpc85xxI2c controller_;
    std::unique_ptr<Eeprom24c02> eeprom_;
    std::unique_ptr<Ds1340> rtc_;
    std::map<std::string, std::unique_ptr<Lm75>> sensors_;
    std::vector<std::unique_ptr<SfpModule>> sfps_;
    std::vector<std::unique_ptr<XfpModule>> xfps_;
};

}  // namespace sim
