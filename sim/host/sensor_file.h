// Temperatures an engineer changes while the board runs: a small TOML file
// in the state directory, "temperatures.toml", with one line per LM75
// sensor ("CPU = 85.5"). The board looks at it at the start of every I2C
// transfer and applies what changed since, so the next reading the loader
// takes sees the new value, as a real sensor would.
#pragma once

#include <filesystem>
#include <string>

namespace sim {

class Diagnostics;
class I2cDevices;

inline constexpr const char* SENSOR_FILE = "temperatures.toml";
// The range an LM75 reports.
inline constexpr double SENSOR_MIN_CELSIUS = -55.0;
inline constexpr double SENSOR_MAX_CELSIUS = 125.0;

class SensorFile {
public:
    SensorFile(std::filesystem::path path, I2cDevices& devices, Diagnostics& diagnostics);

    // Reads the file again when its time or size changed: every valid line
    // sets its sensor; every bad one is named and changes nothing.
    void refresh();

private:
    std::filesystem::path path_;
    I2cDevices& devices_;
    Diagnostics& diagnostics_;
    std::filesystem::file_time_type seenTime_{};
    std::uintmax_t seenSize_ = 0;
    bool seen_ = false;
};

}  // namespace sim
