// A program at the far end of the console line -- lrzsz's sx, rx, sb or rb
// -- run on pipes and relayed to a terminal.
//
// lrzsz flushes its terminal after each acknowledgement and when it exits
// (TCIOFLUSH); on a pseudo-terminal that throws away bytes already on their
// way in both directions: a block sent right after an ACK, or the last ACK
// of a transfer. On pipes those flushes do nothing. So the peer gets pipes
// for its standard input and output, and a relay thread here moves bytes
// between them and the terminal, as socat's "EXEC:...,pipes" would. The
// relay keeps the terminal open until the program has exited and all its
// output has been passed on, then closes it (the cable is pulled).
//
// The relay notes when bytes pass, so that a benchmark can time the block
// phase of a transfer from outside both ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace interop {

using Steady = std::chrono::steady_clock;

enum class Flow {
    ToPeer,    // from the terminal (the board) to the program
    FromPeer,  // from the program to the terminal
};

// Sees every piece of data the relay moves, on the relay's thread.
using FlowObserver = std::function<void(Flow flow, const uint8_t* data, size_t length, Steady::time_point when)>;

struct PeerOptions {
    std::vector<std::string> argv;        // the program and its arguments (looked up on PATH)
    std::filesystem::path workDir;        // where it runs (its files land here)
    // Start the program only once this text has come down the line (as a
    // person would after seeing the prompt). Empty: start at once.
    std::string startAfter;
    std::chrono::milliseconds limit{120000};  // the program is killed after this
    FlowObserver observer;
};

struct PeerResult {
    bool started = false;      // the program ran (startAfter was seen)
    bool timedOut = false;     // killed at the limit
    int exitStatus = -1;       // the program's exit status; -1 when it did not exit normally
    std::string errorText;     // its standard error
    size_t bytesToPeer = 0;
    size_t bytesFromPeer = 0;
    std::string lastToPeer;    // the last bytes the board sent the program (messages, for failures)
    Steady::time_point exited{};

    // One line for a failure message.
    std::string summary() const;
};

// True when a program can be found on PATH.
bool programAvailable(const std::string& name);

// A new pseudo-terminal, raw: the master side's descriptor and the slave
// side's path; for two lrzsz programs talking to each other over the same
// kind of line the board has. Throws std::runtime_error on failure.
struct PtyPair {
    int master = -1;
    std::string slavePath;
};
PtyPair openPtyPair();

class LinePeer {
public:
    // Opens the terminal (raw) and starts the relay; the program starts at
    // once or when PeerOptions::startAfter has been seen. Throws
    // std::runtime_error when the terminal cannot be opened.
    LinePeer(const std::string& terminalPath, PeerOptions options);
    // The same on a descriptor already open (a pseudo-terminal's master
    // side, say); the peer owns it from now on.
    LinePeer(int terminalFd, PeerOptions options);
    // Kills a program still running.
    ~LinePeer();
    LinePeer(const LinePeer&) = delete;
    LinePeer& operator=(const LinePeer&) = delete;

    // Waits for the program to end (at most the limit) and the relay to
    // finish. A program that has not been started by now never will be.
    PeerResult finish();

private:
    void relay();

    PeerOptions options_;
    int terminal_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finishing_{false};
    std::mutex mutex_;
    PeerResult result_;
    std::thread thread_;
};

}  // namespace interop
