// A scripted console session (--script FILE): a plain text file drives the
// board's console, one step a line, as a person at a terminal with lrzsz
// would:
//
//   expect TEXT      wait until TEXT has come since the last match
//   send TEXT        type TEXT (escapes \r \n \t \\ \xHH) when the board
//                    next waits for input
//   timeout SECONDS  the limit for the following expects and transfers
//                    (default 30)
//   sx|sb|rx ARGS    run that lrzsz program on the line, as a terminal
//                    program's send and receive commands do; it must exit 0
//   reset            the board is reset at once
//   power-cut        the power fails at once; the board comes up again
//   # ...            a comment (so is an empty line)
//
// The session passes when every step has passed; then the script's end is
// the end of console input, which powers the board off once it waits for
// more. A step that fails stops the board at once and is reported with its
// line and the console's last text.
//
// Limits are counted in the host's time on either clock: on the virtual
// clock the board's own delays take no time, while an lrzsz program runs
// in real time and board time follows it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/answer_order.h"
#include "host/diagnostics.h"
#include "host/serial_line.h"
#include "host/sim_clock.h"

namespace sim {

// Exit status of the simulator when a script step failed.
inline constexpr int EXIT_SCRIPT_FAILED = 7;

struct ScriptStep {
    enum class Kind { Expect, Send, Timeout, Transfer, Reset, PowerCut };
    Kind kind = Kind::Expect;
    int line = 0;                      // line number in the file, from 1
    std::string source;                // the line as written
    std::string text;                  // expect, send: the bytes
    double seconds = 0;                // timeout
    std::vector<std::string> command;  // transfer: the program and its arguments
};

// The steps of a script, or the first error as "line N: what is wrong".
struct ParsedScript {
    std::vector<ScriptStep> steps;
    std::string error;
};
ParsedScript parseConsoleScript(const std::string& text);

// The line the script drives. What the board prints (outside file
// transfers) is also written to the output descriptor.
class ScriptLine : public SerialLine {
public:
    static constexpr double DEFAULT_TIMEOUT_SECONDS = 30;
    // A piece of typing not taken for this long (the board never waited
    // for input) is typed anyway, as a person would.
    static constexpr int TYPE_ANYWAY_MS = 1000;
    static constexpr int WAIT_SLICE_MS = 50;
    // How much of the console's text a failure report quotes.
    static constexpr size_t LAST_TEXT_QUOTED = 240;

    ScriptLine(SimClock& clock, Diagnostics& diagnostics, std::vector<ScriptStep> steps, std::string name,
               int outputFd = 1);
    ~ScriptLine() override;
    ScriptLine(const ScriptLine&) = delete;
    ScriptLine& operator=(const ScriptLine&) = delete;

    // After the board's run: reports the outcome on the diagnostics and
    // returns the exit status (0 when every step passed).
    int finish(int boardStatus);
    // The failure report, empty while nothing failed.
    const std::string& failure() const { return failure_; }
    // Everything the board printed outside transfers.
    const std::string& consoleText() const { return output_; }

    long receive(uint8_t* buffer, size_t length) override;
    void waitInput(int64_t deadlineMicros, bool readerWaiting) override;
    void transmit(const uint8_t* data, size_t length) override;
    bool interactive() const override { return false; }
    void rawModeChanged(bool raw) override { raw_ = raw; }

private:
    class Peer;
    using Steady = std::chrono::steady_clock;

    // Runs the steps that can run now; may end the board's run (reset,
    // power cut, a failed step).
    void advance();
    void nextStep();
    [[noreturn]] void fail(const std::string& why);
    bool overTime() const;
    bool typingPending() const { return !typing_.empty() || !arrived_.empty(); }
    long readPeer(uint8_t* buffer, size_t length);
    // Waits in real time for the program on the line, at most the slice.
    void waitForPeer(int64_t deadlineMicros);

    SimClock& clock_;
    Diagnostics& diagnostics_;
    std::vector<ScriptStep> steps_;
    std::string name_;
    int outputFd_;
    size_t index_ = 0;
    Steady::time_point stepStarted_;
    double timeoutSeconds_ = DEFAULT_TIMEOUT_SECONDS;
    std::string output_;
    size_t mark_ = 0;
    std::deque<std::string> typing_;
    Steady::time_point typingSince_;
    std::deque<uint8_t> arrived_;
    std::unique_ptr<Peer> peer_;
    AnswerOrder order_;
    bool raw_ = false;
    bool advancing_ = false;
    std::string failure_;
};

}  // namespace sim
