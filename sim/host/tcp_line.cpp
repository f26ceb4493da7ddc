#include "host/tcp_line.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace sim {

namespace {

constexpr int LISTEN_BACKLOG = 4;

std::string peerName(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

int millisUntil(SimClock& clock, int64_t deadlineMicros) {
    int64_t left = deadlineMicros - clock.nowMicros();
    if (left <= 0) {
        return 0;
    }
    return left > 3600 * 1000000LL ? 3600 * 1000 : static_cast<int>((left + 999) / 1000);
}

}  // namespace

TcpLine::TcpLine(SimClock& clock, Diagnostics& diagnostics, uint16_t port) : clock_(clock), diagnostics_(diagnostics) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        throw std::runtime_error(std::string("cannot open a TCP socket: ") + strerror(errno));
    }
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, LISTEN_BACKLOG) != 0) {
        std::string reason = strerror(errno);
        close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + reason);
    }
    socklen_t size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    diagnostics_.linef("console: tcp 127.0.0.1:%u", static_cast<unsigned>(port_));
}

TcpLine::~TcpLine() {
    if (client_ >= 0) {
        close(client_);
    }
    if (listener_ >= 0) {
        close(listener_);
    }
}

void TcpLine::acceptWaiting() {
    for (;;) {
        sockaddr_in address {};
        socklen_t size = sizeof address;
        int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&address), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // nobody else waiting (or a client that gave up already)
        }
        if (client_ >= 0 && clientHasLeft()) {
            dropClient("disconnected");
        }
        if (client_ >= 0) {
            send(fd, BUSY_TEXT, strlen(BUSY_TEXT), MSG_NOSIGNAL);
            close(fd);
            diagnostics_.line("console: refused " + peerName(address) + " (the line is in use)");
            continue;
        }
        int on = 1;
        // Protocol bytes (one ACK, one keystroke) must not wait for more.
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        client_ = fd;
        stalled_ = false;
        diagnostics_.line("console: client " + peerName(address) + " connected");
    }
}

bool TcpLine::clientHasLeft() {
    // A client that closed its end just before the next one connected has
    // not been noticed yet: it must not keep the line from the newcomer.
    struct pollfd p {client_, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void TcpLine::dropClient(const char* why) {
    if (client_ < 0) {
        return;
    }
    close(client_);
    client_ = -1;
    diagnostics_.line(std::string("console: client ") + why + "; the board keeps running");
}

bool TcpLine::connected() {
    acceptWaiting();
    return client_ >= 0;
}

bool TcpLine::waitForClient(const std::atomic<bool>& stop) {
    while (!stop.load()) {
        if (connected()) {
            return true;
        }
        struct pollfd p {listener_, POLLIN, 0};
        poll(&p, 1, 100);
    }
    return false;
}

long TcpLine::receive(uint8_t* buffer, size_t length) {
    return order_.receive(buffer, length, [this](uint8_t* b, size_t n) { return readClient(b, n); });
}

long TcpLine::readClient(uint8_t* buffer, size_t length) {
    acceptWaiting();
    if (client_ < 0) {
        return 0;
    }
    ssize_t n = recv(client_, buffer, length, 0);
    if (n > 0) {
        return static_cast<long>(n);
    }
    if (n == 0) {
        dropClient("disconnected");
    } else if (errno != EAGAIN && errno != EINTR) {
        dropClient("lost");
    }
    return 0;
}

void TcpLine::waitInput(int64_t deadlineMicros, bool /*readerWaiting*/) {
    if (order_.pending()) {
        return;  // there is something to receive (or to look at) already
    }
    struct pollfd p[2] = {{listener_, POLLIN, 0}, {client_, POLLIN, 0}};
    nfds_t count = client_ >= 0 ? 2 : 1;
    if (clock_.isVirtual()) {
        if (poll(p, count, 0) > 0) {
            return;
        }
        if (deadlineMicros >= 0) {
            clock_.passUntil(deadlineMicros);
            return;
        }
        poll(p, count, WAIT_SLICE_MS);
        return;
    }
    int timeoutMs = deadlineMicros < 0 ? WAIT_SLICE_MS : millisUntil(clock_, deadlineMicros);
    poll(p, count, timeoutMs > WAIT_SLICE_MS ? WAIT_SLICE_MS : timeoutMs);
}

void TcpLine::transmit(const uint8_t* data, size_t length) {
    acceptWaiting();
    if (client_ < 0) {
        return;  // nobody on the line: the bytes are lost
    }
    order_.sending([this](uint8_t* b, size_t n) { return readClient(b, n); });
    using Steady = std::chrono::steady_clock;
    size_t done = 0;
    Steady::time_point lastProgress = Steady::now();
    while (client_ >= 0 && done < length) {
        ssize_t n = send(client_, data + done, length - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            stalled_ = false;
            lastProgress = Steady::now();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            dropClient("lost");
            return;
        }
        if (stalled_) {
            return;  // still not reading: drop at once instead of waiting again
        }
        struct pollfd p {client_, POLLOUT, 0};
        poll(&p, 1, 100);
        if (Steady::now() - lastProgress > std::chrono::milliseconds(STALL_LIMIT_MS)) {
            diagnostics_.line("console: the client reads nothing; board output is dropped");
            stalled_ = true;
            return;
        }
    }
}

}  // namespace sim
