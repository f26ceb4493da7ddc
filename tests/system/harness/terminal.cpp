#include "harness/terminal.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <initializer_list>
#include <stdexcept>

extern char** environ;

namespace interop {

using Steady = std::chrono::steady_clock;

void makeRaw(int fd) {
    struct termios settings {};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
}

int openRawTerminal(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open " + path + ": " + strerror(errno));
    }
    makeRaw(fd);
    return fd;
}

namespace {

void closeAll(std::initializer_list<int> fds) {
    for (int fd : fds) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

int connectLocal(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::string reason = strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port) + ": " + reason);
    }
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

// The console's terminal that swboot-sim announces.
std::string consoleOf(ChildProcess& sim) {
    std::string path = sim.waitForLine("console: ", std::chrono::seconds(10));
    if (path.rfind("/dev/pts/", 0) != 0) {
        throw std::runtime_error("no console terminal announced: " + sim.diagnostics());
    }
    return path;
}

// Appends what has arrived to the output; false when the other side went
// away.
bool readInto(int fd, std::string& output) {
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        output.append(buffer, static_cast<size_t>(n));
    }
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
}

}  // namespace

TcpClient::TcpClient(int port) : Conversation(connectLocal(port)) {}

Conversation::~Conversation() { close(); }

void Conversation::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool Conversation::expect(const std::string& text, std::chrono::milliseconds timeout) {
    const Steady::time_point deadline = Steady::now() + timeout;
    for (;;) {
        size_t at = output_.find(text, mark_);
        if (at != std::string::npos) {
            mark_ = at + text.size();
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
        if (left <= 0 || fd_ < 0) {
            return false;
        }
        struct pollfd p {fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) > 0 && !readInto(fd_, output_)) {
            close();
        }
    }
}

std::string Conversation::drain(std::chrono::milliseconds quiet) {
    struct pollfd p {fd_, POLLIN, 0};
    while (fd_ >= 0 && poll(&p, 1, static_cast<int>(quiet.count())) > 0 && readInto(fd_, output_)) {
    }
    std::string fresh = unread();
    mark_ = output_.size();
    return fresh;
}

void Conversation::type(const std::string& bytes) {
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            struct pollfd p {fd_, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

MenuTerminal::MenuTerminal(ChildProcess& sim) : Terminal(consoleOf(sim)) {
    // Short marks: a noisy line may still garble the texts around them.
    if (!expect("(1, 2):", std::chrono::seconds(20))) {
        throw std::runtime_error("no two-second choice: " + output());
    }
    type("2\r");
    if (!expect("Menu] ", std::chrono::seconds(10))) {
        throw std::runtime_error("no Boot Menu: " + output());
    }
}

void runToEnd(const std::string& program, const std::vector<std::string>& arguments,
              std::chrono::milliseconds timeout) {
    ChildProcess child(program, arguments);
    if (int status = child.wait(timeout); status != 0) {
        throw std::runtime_error(program + " ended with " + std::to_string(status) + ": " + child.diagnostics());
    }
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& workDir, bool piped) {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (pipe2(err, O_CLOEXEC) != 0 || (piped && (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0))) {
        closeAll({in[0], in[1], out[0], out[1], err[0], err[1]});
        throw std::runtime_error(std::string("pipe: ") + strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (piped) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    }
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int failed = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    closeAll({err[1], in[0], out[1]});
    if (failed != 0) {
        closeAll({err[0], in[1], out[0]});
        throw std::runtime_error("cannot start " + program + ": " + strerror(failed));
    }
    pid_ = pid;
    input_ = in[1];
    output_ = out[0];
    if (piped) {
        fcntl(input_, F_SETFL, O_NONBLOCK);
        fcntl(output_, F_SETFL, O_NONBLOCK);
    }
    reader_ = std::thread([this, fd = err[0]] { collect(fd); });
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

void ChildProcess::collect(int fd) {
    std::string partial;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        partial.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = partial.find('\n')) != std::string::npos) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(partial.substr(0, end));
            partial.erase(0, end + 1);
            changed_.notify_all();
        }
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!partial.empty()) {
        lines_.push_back(partial);
    }
    ended_ = true;
    changed_.notify_all();
}

std::string ChildProcess::waitForLine(const std::string& prefix, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::string found;
    changed_.wait_for(lock, timeout, [&] {
        for (const std::string& line : lines_) {
            if (line.rfind(prefix, 0) == 0) {
                found = line.substr(prefix.size());
                return true;
            }
        }
        return ended_;
    });
    return found;
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return -1;
    }
    const Steady::time_point deadline = Steady::now() + timeout;
    int status = 0;
    for (;;) {
        pid_t reaped = waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_) {
            pid_ = -1;
            // Its last diagnostics may still be in the pipe: collect them
            // before the caller looks.
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait_until(lock, deadline, [&] { return ended_; });
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (Steady::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -1;
        }
        usleep(20000);
    }
}

void ChildProcess::terminate() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
    }
}

std::string ChildProcess::diagnostics() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const std::string& line : lines_) {
        text += line + "\n";
    }
    return text;
}

}  // namespace interop
