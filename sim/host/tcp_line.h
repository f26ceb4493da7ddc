// The console line on a TCP port of 127.0.0.1, for a raw TCP client
// (socat, nc) on this machine. Bytes pass unchanged both ways; there is no
// telnet negotiation.
//
// One client holds the line at a time; another that connects meanwhile gets
// a one-line refusal and is closed. A client that goes away is an unplugged
// cable: the board keeps running, its output is lost, and the next client to
// connect gets the line.
//
// As on the pseudo-terminal line, the client's answer to a transmission is
// never received in the same look at the input that follows the sending.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/answer_order.h"
#include "host/diagnostics.h"
#include "host/serial_line.h"
#include "host/sim_clock.h"

namespace sim {

class TcpLine : public SerialLine {
public:
    // What a second client reads before it is closed.
    static constexpr const char* BUSY_TEXT = "swboot-sim: the console is in use by another client\r\n";
    // A client that takes nothing for this long loses what the board sends.
    static constexpr int STALL_LIMIT_MS = 10000;
    // The longest single wait: a termination request that came just before
    // a wait is seen this soon (the signal may have missed the wait).
    static constexpr int WAIT_SLICE_MS = 100;

    // Listens on 127.0.0.1 at the port (0: a free port) and prints
    // "console: tcp 127.0.0.1:PORT" on the diagnostics. Throws
    // std::runtime_error when the port cannot be had.
    TcpLine(SimClock& clock, Diagnostics& diagnostics, uint16_t port);
    ~TcpLine() override;
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    uint16_t port() const { return port_; }
    // True when a client holds the line.
    bool connected();
    // Waits, in real time, for the first client. False when the stop flag
    // was raised first.
    bool waitForClient(const std::atomic<bool>& stop);

    long receive(uint8_t* buffer, size_t length) override;
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override;
    void transmit(const uint8_t* data, size_t length) override;
    bool interactive() const override { return true; }

private:
    // Takes in clients waiting to connect: the first gets the line, the
    // others are refused.
    void acceptWaiting();
    bool clientHasLeft();
    // Reads what the client has sent, without waiting.
    long readClient(uint8_t* buffer, size_t length);
    void dropClient(const char* why);

    SimClock& clock_;
    Diagnostics& diagnostics_;
    int listener_ = -1;
    int client_ = -1;
    uint16_t port_ = 0;
    bool stalled_ = false;
    AnswerOrder order_;
};

}  // namespace sim
