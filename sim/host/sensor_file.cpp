#include "host/sensor_file.h"

#include <cstdio>
#include <system_error>
#include <toml++/toml.h>

#include "board/i2c_devices.h"
#include "host/diagnostics.h"

namespace sim {

SensorFile::SensorFile(std::filesystem::path path, I2cDevices& devices, Diagnostics& diagnostics)
    : path_(std::move(path)), devices_(devices), diagnostics_(diagnostics) {}

void SensorFile::refresh() {
    std::error_code error;
    const auto time = std::filesystem::last_write_time(path_, error);
    if (error) {
        seen_ = false;  // no file: the temperatures stay as they are
        return;
    }
    const auto size = std::filesystem::file_size(path_, error);
    if (error || (seen_ && time == seenTime_ && size == seenSize_)) {
        return;
    }
    seen_ = true;
    seenTime_ = time;
    seenSize_ = size;

    const std::string file = path_.filename().string();
    toml::table table;
    try {
        table = toml::parse_file(path_.string());
    } catch (const toml::parse_error& e) {
        diagnostics_.linef("sensors: %s:%u: %s; no temperature changed", file.c_str(),
                           static_cast<unsigned>(e.source().begin.line), std::string(e.description()).c_str());
        return;
    }
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        const std::string at = file + ":" + std::to_string(node.source().begin.line);
        Lm75* sensor = devices_.sensor(name);
        const std::optional<double> celsius =
            node.is_floating_point() || node.is_integer() ? node.value<double>() : std::nullopt;
        if (sensor == nullptr) {
            diagnostics_.linef("sensors: %s: this board has no sensor called '%s'", at.c_str(), name.c_str());
        } else if (!celsius || !(*celsius >= SENSOR_MIN_CELSIUS && *celsius <= SENSOR_MAX_CELSIUS)) {
            // Written so that nan is refused too.
            diagnostics_.linef("sensors: %s: %s must be degrees Celsius from %.0f to %.0f", at.c_str(),
                               name.c_str(), SENSOR_MIN_CELSIUS, SENSOR_MAX_CELSIUS);
        } else {
            sensor->setTemperature(*celsius);
            diagnostics_.linef("sensors: %s now reads %.1f C", name.c_str(), *celsius);
        }
    }
}

}  // namespace sim
