#include "board/i2c_devices.h"

#include <stdexcept>

namespace sim {

namespace {

constexpr int64_t RTC_POWER_ON_MICROS = 946684800LL * 1000000;  // 2000-01-01 00:00:00

}  // namespace

I2cDevices::I2cDevices(const I2cProfile& profile, std::function<uint8_t()> channel, std::function<int64_t()> now,
                       const Ds1340::State& rtcState)
    : mux_(std::move(channel)), controller_(mux_) {
    std::array<uint8_t, Eeprom24c02::SIZE> contents;
    contents.fill(0xFF);
    for (size_t i = 0; i < profile.eepromText.size() && i < contents.size(); ++i) {
        contents[i] = static_cast<uint8_t>(profile.eepromText[i]);
    }
    eeprom_ = std::make_unique<Eeprom24c02>(contents);
    attach("EEPROM", *eeprom_);
    if (profile.rtcPresent) {
        rtc_ = std::make_unique<Ds1340>(std::move(now), rtcState);
        attach("RTC", *rtc_);
    }
    for (const SensorProfile& s : profile.sensors) {
        auto sensor = std::make_unique<Lm75>(s.celsius);
        attach(s.name, *sensor);
        sensors_[s.name] = std::move(sensor);
    }
    for (const ModuleProfile& m : profile.modules) {
        if (m.kind == ModuleKind::Xfp) {
            auto module = std::make_unique<XfpModule>(m.identity);
            attach(m.slot, *module);
            xfps_.push_back(std::move(module));
            continue;
        }
        auto module = std::make_unique<SfpModule>(m.identity);
        attach(m.slot, module->idPage());
        if (m.slot.rfind("SFP-Fiber", 0) == 0) {
            attach(m.slot + "-MII", module->diagnosticsPage());
        }
        sfps_.push_back(std::move(module));
    }
    for (const std::string& name : profile.noAcknowledge) {
        setNoAcknowledge(name, true);
    }
    mux_.setHeldBusy(profile.busHeldBusy);
}

void I2cDevices::attach(const std::string& name, I2cSlave& device) {
    I2cPlace place;
    if (!i2cPlaceOf(name, place)) {
        throw std::invalid_argument("no I2C place is called '" + name + "'");
    }
    mux_.attach(place.channel, place.address7, device, name);
}

Lm75* I2cDevices::sensor(const std::string& name) {
    auto it = sensors_.find(name);
    return it == sensors_.end() ? nullptr : it->second.get();
}

void I2cDevices::setNoAcknowledge(const std::string& name, bool noAcknowledge) {
    I2cPlace place;
    if (!i2cPlaceOf(name, place)) {
        throw std::invalid_argument("no I2C place is called '" + name + "'");
    }
    try {
        mux_.setNoAcknowledge(place.channel, place.address7, noAcknowledge);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("'" + name + "' is not on this board's I2C bus, so it cannot fail");
    }
}

Ds1340::State I2cDevices::newRtcState(const I2cProfile& profile) {
    Ds1340::State state;
    if (profile.rtcOscillatorStopped) {
        // A part that never ran: stopped at its power-on time, 1 January 2000.
        state.stopped = true;
        state.frozenMicros = RTC_POWER_ON_MICROS;
        state.flags = Ds1340::FLAGS_OSF;
    }
    return state;
}

}  // namespace sim
