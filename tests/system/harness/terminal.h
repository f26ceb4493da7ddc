// A person at the far end of the console line, for scripted dialogues:
// waits for texts the board prints and types answers, on a terminal or a
// TCP connection. And a program run as a child process (swboot-sim,
// socat), with the lines of its standard error collected.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace interop {

class Conversation {
public:
    virtual ~Conversation();
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    // Reads until the text has arrived after the point the last successful
    // expect stopped at; false at the timeout.
    bool expect(const std::string& text, std::chrono::milliseconds timeout);
    // Reads until nothing has come for the quiet time or the other side
    // went away; returns what arrived after the point the last expect or
    // drain stopped at, and moves that point to the end.
    std::string drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(200));
    // Sends the bytes as typed (add "\r" for Enter).
    void type(const std::string& bytes);
    // Everything received so far.
    const std::string& output() const { return output_; }
    // Everything received after the point the last successful expect
    // stopped at.
    std::string unread() const { return output_.substr(mark_); }
    // Hangs up (the cable is pulled).
    void close();
    int fd() const { return fd_; }

protected:
    // Takes over the descriptor (-1: the connection failed; expect fails).
    explicit Conversation(int fd) : fd_(fd) {}

private:
    int fd_ = -1;
    std::string output_;
    size_t mark_ = 0;
};

class Terminal : public Conversation {
public:
    // Opens the terminal, raw. Throws std::runtime_error on failure.
    explicit Terminal(const std::string& path);
};

class TcpClient : public Conversation {
public:
    // Connects to 127.0.0.1 at the port. Throws std::runtime_error on
    // failure.
    explicit TcpClient(int port);
};

class ChildProcess {
public:
    // Starts the program (a path, or a name looked up on PATH) with the
    // arguments; its standard output goes to the test's, its standard
    // error is collected line by line. Throws std::runtime_error when it
    // cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    // Kills it if it is still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The rest of the first diagnostic line that starts with the prefix,
    // waiting for it at most the timeout; empty when none came.
    std::string waitForLine(const std::string& prefix, std::chrono::milliseconds timeout);
    // Its exit status once it has ended, waiting at most the timeout (then
    // it is killed and -1 returned).
    int wait(std::chrono::milliseconds timeout);
    void terminate();
    std::string diagnostics();
    int pid() const { return pid_; }

private:
    void collect(int fd);

    int pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ended_ = false;
};

}  // namespace interop
