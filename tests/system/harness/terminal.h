// A person at the far end of the console line, for scripted dialogues:
// waits for texts the board prints and types answers, on a terminal or a
// TCP connection. And a program run as a child process (swboot-sim,
// socat, lrzsz), with the lines of its standard error collected.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace interop {

// Sets the terminal raw (no echo, no line editing, bytes as they are).
void makeRaw(int fd);
// Opens the terminal non-blocking and raw. Throws std::runtime_error on
// failure.
int openRawTerminal(const std::string& path);

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
    explicit Terminal(const std::string& path) : Conversation(openRawTerminal(path)), path_(path) {}
    const std::string& path() const { return path_; }

private:
    std::string path_;
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
    // arguments, in the directory when one is given; its standard error is
    // collected line by line, its standard input and output are the test's
    // or, when piped, pipes whose other ends input() and output() give the
    // caller to use and close. Throws std::runtime_error when it cannot be
    // started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& workDir = {}, bool piped = false);
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
    int input() const { return input_; }
    int output() const { return output_; }

private:
    void collect(int fd);

    int pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ended_ = false;
};

// Runs the program with the arguments to its end. Throws
// std::runtime_error with its diagnostics unless it exits 0 in time.
void runToEnd(const std::string& program, const std::vector<std::string>& arguments,
              std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The terminal of a swboot-sim started with "--console pty", once the
// board shows the Boot Menu's prompt (the two-second choice answered with
// 2). Throws std::runtime_error with what came when it does not.
class MenuTerminal : public Terminal {
public:
    explicit MenuTerminal(ChildProcess& sim);
};

}  // namespace interop
