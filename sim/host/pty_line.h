// The console line on a pseudo-terminal, for terminal programs (picocom,
// minicom) and file transfer programs (lrzsz) run by a person or a test.
//
// The simulator holds the master side; a program opens the slave side
// (/dev/pts/N, also linked as "console" in the state directory). Opening it
// is plugging the cable in; closing it is pulling the cable: the board keeps
// running, what it sends meanwhile is lost, and the next program to open the
// terminal gets the line. The terminal is kept raw (no echo, no character
// translation), and it reports the line speed the board set last.
//
// Bytes take no time on this line, but they keep their order: what the far
// end sends in answer to a transmission is never received before the
// transmission is over. The board's first look at its input after sending
// finds only what had arrived before; so a driver that flushes its input
// right after sending a block (as a real UART's driver may, knowing the
// block takes a while on the wire) cannot throw the answer away.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/answer_order.h"
#include "host/diagnostics.h"
#include "host/serial_line.h"
#include "host/sim_clock.h"

namespace sim {

class PtyLine : public SerialLine {
public:
    // How often the line looks for a program opening the terminal while
    // none has it open (the master side cannot wait for that).
    static constexpr int PRESENCE_POLL_MS = 10;
    // A program that has the terminal open but reads nothing for this long
    // is treated as gone for what the board sends.
    static constexpr int STALL_LIMIT_MS = 10000;
    // The longest single wait: a termination request that came just before
    // a wait is seen this soon (the signal may have missed the wait).
    static constexpr int WAIT_SLICE_MS = 100;

    // Opens a new pseudo-terminal and prints "console: /dev/pts/N" on the
    // diagnostics. With a link path, also links it to the terminal
    // (replacing an earlier link; anything else there is an error). Throws
    // std::runtime_error when the terminal cannot be set up.
    PtyLine(SimClock& clock, Diagnostics& diagnostics, std::filesystem::path link = {});
    ~PtyLine() override;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // The slave side's path, for the program at the other end.
    const std::string& path() const { return slavePath_; }
    // True when some program has the terminal open.
    bool connected();
    // Waits, in real time, until a program opens the terminal. False when
    // the stop flag was raised first.
    bool waitForClient(const std::atomic<bool>& stop);

    long receive(uint8_t* buffer, size_t length) override;
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override;
    void transmit(const uint8_t* data, size_t length) override;
    bool interactive() const override { return true; }
    void speedChanged(uint32_t bitsPerSecond) override;

private:
    // Looks at the master side: notes a program arriving or leaving.
    // Returns the poll events seen.
    short look();
    void clientLeft();
    // Reads what has arrived on the master side, without waiting.
    long readMaster(uint8_t* buffer, size_t length);
    void applyLineSettings();

    SimClock& clock_;
    Diagnostics& diagnostics_;
    int master_ = -1;
    std::string slavePath_;
    std::filesystem::path link_;
    bool connected_ = false;
    bool stalled_ = false;  // the program stopped reading; output is dropped
    uint32_t speed_ = 9600;
    AnswerOrder order_;
};

}  // namespace sim
