// The board support's console driver on the 16550 UART, as the loader sees
// it through swboot::Console.
//
// Normal mode (the option word as the operating system sets it up): input is
// echoed and delivered a line at a time, a carriage return ends a line and
// reaches the reader as a line feed, output line feeds go out as CR LF, and
// Control-X resets the board while the monitor trap option is set. Option
// word 0 (raw mode) passes bytes unchanged both ways. Only the speeds of the
// loader's baud-rate table are accepted.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "host/serial_line.h"
#include "host/sim_clock.h"
#include "platform/console.h"

namespace sim {

class ConsoleTty : public swboot::Console {
public:
    static constexpr uint8_t CONTROL_X = 0x18;
    static constexpr uint8_t XON = 0x11;
    static constexpr uint8_t XOFF = 0x13;
    static constexpr size_t EDIT_LINE_MAX = 1024;      // longest line the driver assembles
    static constexpr size_t QUEUE_MAX = 65536;    // input held for the reader
    static constexpr uint32_t POWER_ON_SPEED = 9600;
    // Options under which the driver looks at each byte that arrives.
    static constexpr uint32_t BYTE_HANDLING_OPTIONS =
        swboot::OPT_ECHO | swboot::OPT_CRMOD | swboot::OPT_TANDEM | swboot::OPT_7_BIT | swboot::OPT_MON_TRAP |
        swboot::OPT_LINE;

    ConsoleTty(SerialLine& line, SimClock& clock);

    // Called when the monitor trap fires; expected not to return.
    void setResetHandler(std::function<void()> handler) { resetHandler_ = std::move(handler); }
    // Called whenever the driver waits or is used, to deliver pending host
    // signals (the termination signal).
    void setPollHook(std::function<void()> hook) { pollHook_ = std::move(hook); }
    // Called with true when the option word becomes 0 (raw mode, as a file
    // transfer sets it) and with false when it leaves 0.
    void setRawModeHook(std::function<void(bool raw)> hook) { rawModeHook_ = std::move(hook); }

    // Power-on state: terminal options, 9600 baud, empty queues.
    void powerUp();
    // Takes in whatever has arrived, without waiting.
    void pump();
    // Lets board time pass until the deadline while serving the line.
    void idleUntil(int64_t deadlineMicros);

    // Control face for tests: make the speed query fail or report a value.
    void setSpeedQueryFault(bool fails, uint32_t reported = 0);
    void setSpeedSetFault(bool fails) { speedSetFails_ = fails; }
    uint32_t speed() const { return speed_; }

    // swboot::Console
    uint32_t optionsGet() override { return options_; }
    void optionsSet(uint32_t options) override;
    int flush() override;
    int flushInput() override;
    int baudRateSet(uint32_t speed) override;
    int baudRateGet(uint32_t& speed) override;
    int waitReadable(int64_t microseconds) override;
    long read(uint8_t* buffer, size_t length) override;
    long write(const uint8_t* data, size_t length) override;

private:
    void accept(uint8_t byte);
    bool readable() const;
    void echo(uint8_t byte);
    void poll();

    SerialLine& line_;
    SimClock& clock_;
    std::function<void()> resetHandler_;
    std::function<void()> pollHook_;
    std::function<void(bool)> rawModeHook_;
    uint32_t options_ = swboot::OPT_TERMINAL;
    uint32_t speed_ = POWER_ON_SPEED;
    bool speedQueryFails_ = false;
    uint32_t speedQueryValue_ = 0;
    bool speedQueryFaulted_ = false;
    bool speedSetFails_ = false;
    bool endOfInput_ = false;
    std::deque<uint8_t> queue_;      // bytes ready for the reader
    size_t completeLines_ = 0;       // line mode: line ends held in queue_
    std::vector<uint8_t> editLine_;  // line mode: the line being typed
};

}  // namespace sim
