// Runs server services on a thread of their own and talks to them as a
// plain TCP client would.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "server/service.h"

namespace zk::test {

class ServiceThread {
public:
    explicit ServiceThread(std::vector<server::Service*> services) : services_(std::move(services)) {
        thread_ = std::thread([this] {
            std::vector<pollfd> fds;
            while (!stop_) {
                fds.clear();
                for (auto* s : services_) s->collect(fds);
                if (poll(fds.data(), fds.size(), 20) < 0) continue;
                const int64_t now = server::now_ms();
                for (auto* s : services_) s->dispatch(fds, now);
            }
        });
    }
    ~ServiceThread() {
        stop_ = true;
        thread_.join();
    }

private:
    std::vector<server::Service*> services_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A blocking client with time limits.
class Client {
public:
    explicit Client(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        timeval tv{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Client() {
        if (fd_ >= 0) close(fd_);
    }
    bool connected() const { return connected_; }
    void send_bytes(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }
    // Reads exactly n bytes; false on time-out or close.
    bool read_exact(std::string& out, size_t n) {
        out.clear();
        while (out.size() < n) {
            char buf[4096];
            ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0) return false;
            out.append(buf, static_cast<size_t>(got));
        }
        return true;
    }
    // True when the server closed the connection within the time limit.
    bool closed_by_peer() {
        char b;
        ssize_t n = recv(fd_, &b, 1, 0);
        return n == 0;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

}  // namespace zk::test
