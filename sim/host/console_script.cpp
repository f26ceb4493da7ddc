#include "host/console_script.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "board/board_events.h"

extern char** environ;

namespace sim {

namespace {

constexpr const char* TRANSFER_PROGRAMS[] = {"sx", "sb", "rx"};
// How much of a program's standard error a failure report quotes.
constexpr size_t ERROR_TEXT_KEPT = 1024;
// Text before the console's search point is dropped once this much piles up.
constexpr size_t OUTPUT_KEPT_MAX = 1 << 20;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The bytes a step's text stands for; an empty optional for a bad escape.
std::optional<std::string> unescape(const std::string& text, std::string& why) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        char next = i + 1 < text.size() ? text[i + 1] : '\0';
        switch (next) {
            case 'r': bytes += '\r'; ++i; break;
            case 'n': bytes += '\n'; ++i; break;
            case 't': bytes += '\t'; ++i; break;
            case '\\': bytes += '\\'; ++i; break;
            case 'x': {
                int high = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
                int low = i + 3 < text.size() ? hexDigit(text[i + 3]) : -1;
                if (high < 0 || low < 0) {
                    why = "\\x wants two hexadecimal digits";
                    return std::nullopt;
                }
                bytes += static_cast<char>(high * 16 + low);
                i += 3;
                break;
            }
            default:
                why = std::string("unknown escape \\") + (next == '\0' ? "" : std::string(1, next)) +
                      " (\\r, \\n, \\t, \\\\ and \\xHH are known)";
                return std::nullopt;
        }
    }
    return bytes;
}

// Control bytes as escapes, so that a report can be read.
std::string visible(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

void writeAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
}

}  // namespace

ParsedScript parseConsoleScript(const std::string& text) {
    ParsedScript parsed;
    std::istringstream lines(text);
    std::string raw;
    int number = 0;
    while (std::getline(lines, raw)) {
        ++number;
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
        }
        size_t start = raw.find_first_not_of(" \t");
        if (start == std::string::npos || raw[start] == '#') {
            continue;
        }
        std::string source = raw.substr(start);
        size_t space = source.find(' ');
        std::string word = source.substr(0, space);
        std::string argument = space == std::string::npos ? "" : source.substr(space + 1);
        auto error = [&](const std::string& why) {
            parsed.error = "line " + std::to_string(number) + ": " + why;
            parsed.steps.clear();
            return parsed;
        };
        ScriptStep step;
        step.line = number;
        step.source = source;
        if (word == "expect" || word == "send") {
            step.kind = word == "expect" ? ScriptStep::Kind::Expect : ScriptStep::Kind::Send;
            std::string why;
            std::optional<std::string> bytes = unescape(argument, why);
            if (!bytes) {
                return error(why);
            }
            if (bytes->empty()) {
                return error(word + " wants a text");
            }
            step.text = *bytes;
        } else if (word == "timeout") {
            step.kind = ScriptStep::Kind::Timeout;
            char* end = nullptr;
            step.seconds = std::strtod(argument.c_str(), &end);
            if (argument.empty() || end == nullptr || *end != '\0' || !std::isfinite(step.seconds) ||
                step.seconds <= 0 || step.seconds > 1e6) {
                return error("timeout wants a number of seconds above 0, got '" + argument + "'");
            }
        } else if (word == "sx" || word == "sb" || word == "rx") {
            step.kind = ScriptStep::Kind::Transfer;
            std::istringstream words(source);
            for (std::string each; words >> each;) {
                step.command.push_back(each);
            }
            if (step.command.size() < 2) {
                return error(word + " wants a file name");
            }
        } else if (word == "reset" || word == "power-cut") {
            if (!argument.empty()) {
                return error(word + " takes nothing after it");
            }
            step.kind = word == "reset" ? ScriptStep::Kind::Reset : ScriptStep::Kind::PowerCut;
        } else {
            return error("unknown step '" + word +
                         "' (expect, send, timeout, sx, sb, rx, reset, power-cut; # starts a comment)");
        }
        parsed.steps.push_back(std::move(step));
    }
    return parsed;
}

// An lrzsz program on the line, on pipes (its terminal flushes then do
// nothing, as with socat's pipes address): what the board sends goes to
// its standard input, its standard output goes to the board.
class ScriptLine::Peer {
public:
    explicit Peer(const std::vector<std::string>& command) {
        int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            error_ = std::string("cannot make pipes: ") + strerror(errno);
            for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
                if (fd >= 0) {
                    ::close(fd);
                }
            }
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        // The simulator ignores SIGPIPE; the program gets the default back.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        std::vector<std::string> words = command;
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        int failed = posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        if (failed != 0) {
            ::close(in[1]);
            ::close(out[0]);
            ::close(err[0]);
            pid_ = -1;
            error_ = "cannot start " + command[0] + ": " + strerror(failed) + " (lrzsz is a Debian package)";
            return;
        }
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
        for (int fd : {in_, out_, err_}) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }

    ~Peer() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {in_, out_, err_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    const std::string& startError() const { return error_; }

    // What the board sent: to the program, as far as its pipe takes it now.
    void give(const uint8_t* data, size_t length) {
        if (in_ >= 0) {
            toPeer_.append(reinterpret_cast<const char*>(data), length);
        }
        pump();
    }

    // Moves what can move without waiting: pending bytes to the program,
    // its standard error into the report.
    void pump() {
        while (in_ >= 0 && !toPeer_.empty()) {
            ssize_t n = ::write(in_, toPeer_.data(), toPeer_.size());
            if (n > 0) {
                toPeer_.erase(0, static_cast<size_t>(n));
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                break;
            } else {
                closeFd(in_);  // it stopped reading: it has exited
                toPeer_.clear();
            }
        }
        char buffer[1024];
        while (err_ >= 0) {
            ssize_t n = ::read(err_, buffer, sizeof buffer);
            if (n > 0) {
                errorText_.append(buffer, static_cast<size_t>(n));
                if (errorText_.size() > ERROR_TEXT_KEPT) {
                    errorText_.erase(0, errorText_.size() - ERROR_TEXT_KEPT);
                }
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                break;
            } else {
                closeFd(err_);
            }
        }
    }

    // What the program sent, without waiting: a count or 0.
    long read(uint8_t* buffer, size_t length) {
        pump();
        if (out_ < 0) {
            return 0;
        }
        ssize_t n = ::read(out_, buffer, length);
        if (n > 0) {
            return static_cast<long>(n);
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            closeFd(out_);
            closeFd(in_);
        }
        return 0;
    }

    // Waits at most the time for the program to say something.
    void wait(int milliseconds) {
        struct pollfd p[3];
        nfds_t count = 0;
        if (out_ >= 0) {
            p[count++] = {out_, POLLIN, 0};
        }
        if (err_ >= 0) {
            p[count++] = {err_, POLLIN, 0};
        }
        if (in_ >= 0 && !toPeer_.empty()) {
            p[count++] = {in_, POLLOUT, 0};
        }
        poll(p, count, milliseconds);
        pump();
    }

    // True once the program has closed its output and been reaped.
    bool done() {
        pump();
        if (out_ >= 0 || pid_ <= 0) {
            return pid_ <= 0;
        }
        int status = 0;
        pid_t reaped = waitpid(pid_, &status, WNOHANG);
        if (reaped == 0) {
            return false;
        }
        pid_ = -1;
        // What it said last may still be on its way.
        for (int tries = 0; tries < 10 && err_ >= 0; ++tries) {
            wait(10);
        }
        if (reaped > 0 && WIFEXITED(status)) {
            exitStatus_ = WEXITSTATUS(status);
        } else if (reaped > 0 && WIFSIGNALED(status)) {
            exitStatus_ = -WTERMSIG(status);
        }
        return true;
    }

    // Only for a program that is done.
    std::string outcome() const {
        if (exitStatus_ == 0) {
            return {};
        }
        std::string text = exitStatus_ < 0 ? "it was killed by signal " + std::to_string(-exitStatus_)
                                           : "it exited with status " + std::to_string(exitStatus_);
        std::string said = errorText_;
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) {
            said.pop_back();
        }
        size_t lastLine = said.find_last_of("\r\n");
        if (lastLine != std::string::npos) {
            said = said.substr(lastLine + 1);
        }
        if (!said.empty()) {
            text += "; it said: " + said;
        }
        return text;
    }

private:
    static void closeFd(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    int exitStatus_ = -1;
    std::string toPeer_;
    std::string errorText_;
    std::string error_;
};

ScriptLine::ScriptLine(SimClock& clock, Diagnostics& diagnostics, std::vector<ScriptStep> steps, std::string name,
                       int outputFd)
    : clock_(clock),
      diagnostics_(diagnostics),
      steps_(std::move(steps)),
      name_(std::move(name)),
      outputFd_(outputFd),
      stepStarted_(Steady::now()) {}

ScriptLine::~ScriptLine() = default;

bool ScriptLine::overTime() const {
    return Steady::now() - stepStarted_ > std::chrono::duration<double>(timeoutSeconds_);
}

void ScriptLine::nextStep() {
    ++index_;
    stepStarted_ = Steady::now();
}

void ScriptLine::fail(const std::string& why) {
    const ScriptStep& step = steps_[index_];
    std::string last = output_.size() > LAST_TEXT_QUOTED ? output_.substr(output_.size() - LAST_TEXT_QUOTED) : output_;
    failure_ = name_ + " line " + std::to_string(step.line) + " \"" + step.source + "\": " + why +
               "\nthe console's last text: \"" + visible(last) + "\"";
    peer_.reset();
    throw BoardPowerOff{"the script failed at line " + std::to_string(step.line), EXIT_SCRIPT_FAILED};
}

void ScriptLine::advance() {
    if (advancing_ || !failure_.empty()) {
        return;
    }
    struct Guard {
        bool& flag;
        ~Guard() { flag = false; }
    } guard{advancing_ = true};
    while (index_ < steps_.size()) {
        const ScriptStep& step = steps_[index_];
        switch (step.kind) {
            case ScriptStep::Kind::Expect: {
                size_t at = output_.find(step.text, mark_);
                if (at != std::string::npos) {
                    mark_ = at + step.text.size();
                    nextStep();
                    continue;
                }
                if (overTime()) {
                    char why[96];
                    std::snprintf(why, sizeof why, "not seen within %g s", timeoutSeconds_);
                    fail(why);
                }
                return;
            }
            case ScriptStep::Kind::Send:
                if (typing_.empty()) {
                    typingSince_ = Steady::now();
                }
                typing_.push_back(step.text);
                nextStep();
                continue;
            case ScriptStep::Kind::Timeout:
                timeoutSeconds_ = step.seconds;
                nextStep();
                continue;
            case ScriptStep::Kind::Transfer:
                if (!peer_) {
                    // The program takes the line once the typing before it
                    // has gone out, as a person starts it after the Enter.
                    if (typingPending()) {
                        return;
                    }
                    peer_ = std::make_unique<Peer>(step.command);
                    if (!peer_->startError().empty()) {
                        fail(peer_->startError());
                    }
                    stepStarted_ = Steady::now();
                    return;
                }
                if (peer_->done()) {
                    std::string outcome = peer_->outcome();
                    peer_.reset();
                    if (!outcome.empty()) {
                        fail(outcome);
                    }
                    nextStep();
                    continue;
                }
                if (overTime()) {
                    char why[96];
                    std::snprintf(why, sizeof why, "not done within %g s", timeoutSeconds_);
                    fail(why);
                }
                return;
            case ScriptStep::Kind::Reset:
            case ScriptStep::Kind::PowerCut: {
                if (typingPending()) {
                    return;
                }
                const std::string cause = std::string(step.kind == ScriptStep::Kind::Reset ? "reset" : "power cut") +
                                          " by the script (line " + std::to_string(step.line) + ")";
                const bool cut = step.kind == ScriptStep::Kind::PowerCut;
                nextStep();
                if (cut) {
                    throw BoardPowerCut{{cause}};
                }
                throw BoardReset{cause};
            }
        }
    }
}

long ScriptLine::readPeer(uint8_t* buffer, size_t length) { return peer_ ? peer_->read(buffer, length) : 0; }

long ScriptLine::receive(uint8_t* buffer, size_t length) {
    advance();
    // What the program sent is handed over even when it has exited since.
    if (peer_ || order_.pending()) {
        long given =
            order_.receive(buffer, length, [this](uint8_t* into, size_t room) { return readPeer(into, room); });
        if (given > 0 || peer_) {
            return given;
        }
    }
    if (!arrived_.empty()) {
        size_t n = 0;
        while (n < length && !arrived_.empty()) {
            buffer[n++] = arrived_.front();
            arrived_.pop_front();
        }
        return static_cast<long>(n);
    }
    // The script's end is the end of input.
    return index_ >= steps_.size() && typing_.empty() ? -1 : 0;
}

void ScriptLine::waitForPeer(int64_t deadlineMicros) {
    int slice = WAIT_SLICE_MS;
    if (deadlineMicros >= 0 && !clock_.isVirtual()) {
        int64_t left = deadlineMicros - clock_.nowMicros();
        slice = left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(slice, (left + 999) / 1000));
    }
    Steady::time_point before = Steady::now();
    peer_->wait(slice);
    if (clock_.isVirtual() && deadlineMicros >= 0) {
        // Board time follows the program while it works.
        int64_t waited = std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - before).count();
        clock_.passUntil(std::min(deadlineMicros, clock_.nowMicros() + waited));
    }
}

void ScriptLine::waitInput(int64_t deadlineMicros, bool readerWaiting) {
    advance();
    if (order_.pending()) {
        return;
    }
    if (peer_) {
        waitForPeer(deadlineMicros);
        advance();
        return;
    }
    if (!arrived_.empty()) {
        return;
    }
    if (!typing_.empty() &&
        (readerWaiting || Steady::now() - typingSince_ > std::chrono::milliseconds(TYPE_ANYWAY_MS))) {
        arrived_.insert(arrived_.end(), typing_.front().begin(), typing_.front().end());
        typing_.pop_front();
        typingSince_ = Steady::now();
        return;
    }
    if (clock_.isVirtual()) {
        if (deadlineMicros >= 0 && typing_.empty()) {
            clock_.passUntil(deadlineMicros);
        } else {
            // Waiting for the board on no deadline (or for typing to be
            // taken): give the host time, so that limits can run out.
            poll(nullptr, 0, WAIT_SLICE_MS);
        }
        return;
    }
    int slice = WAIT_SLICE_MS;
    if (deadlineMicros >= 0) {
        int64_t left = deadlineMicros - clock_.nowMicros();
        slice = left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(slice, (left + 999) / 1000));
    }
    poll(nullptr, 0, slice);
}

void ScriptLine::transmit(const uint8_t* data, size_t length) {
    if (peer_) {
        order_.sending([this](uint8_t* b, size_t n) { return readPeer(b, n); });
        peer_->give(data, length);
        if (raw_) {
            return;  // the transfer's own bytes
        }
        // Text around the transfer is the console's as well: what the board
        // says once its end of the transfer is over may come before the
        // program has exited.
    }
    output_.append(reinterpret_cast<const char*>(data), length);
    if (output_.size() > OUTPUT_KEPT_MAX && mark_ > OUTPUT_KEPT_MAX / 2) {
        output_.erase(0, mark_);
        mark_ = 0;
    }
    if (!raw_ && outputFd_ >= 0) {
        writeAll(outputFd_, data, length);
    }
    advance();
}

int ScriptLine::finish(int boardStatus) {
    if (failure_.empty() && index_ < steps_.size()) {
        const ScriptStep& step = steps_[index_];
        std::string last =
            output_.size() > LAST_TEXT_QUOTED ? output_.substr(output_.size() - LAST_TEXT_QUOTED) : output_;
        failure_ = name_ + " line " + std::to_string(step.line) + " \"" + step.source +
                   "\": the board stopped (exit status " + std::to_string(boardStatus) + ") before this step was done" +
                   "\nthe console's last text: \"" + visible(last) + "\"";
    }
    peer_.reset();
    if (!failure_.empty()) {
        diagnostics_.line("script: failed at " + failure_);
        return EXIT_SCRIPT_FAILED;
    }
    diagnostics_.line("script: " + name_ + ": all " + std::to_string(steps_.size()) + " steps passed");
    return 0;
}

}  // namespace sim
