#include "support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <sstream>

namespace zk::test {

namespace {

constexpr size_t kMaxHead = 65536;

bool parse_head(const std::string& head, HttpRequestSeen& req) {
    std::istringstream in(head);
    std::string line;
    std::getline(in, line);
    const size_t a = line.find(' '), b = line.rfind(' ');
    if (a == std::string::npos || b == a) return false;
    req.method = line.substr(0, a);
    req.target = line.substr(a + 1, b - a - 1);
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon), value = line.substr(colon + 1);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        value.erase(0, value.find_first_not_of(' '));
        if (!value.empty() && value.back() == '\r') value.pop_back();
        req.headers[name] = value;
    }
    return true;
}

}  // namespace

bool HttpConn::send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (server_.stopping_.load()) return false;
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool HttpConn::peer_gone() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    char c;
    return recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void HttpConn::stall() {
    closing_ = true;
    while (!server_.stopping_.load() && !peer_gone()) {
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, 20);
    }
}

void HttpConn::wait_gate(int value) {
    while (!server_.stopping_.load() && server_.gate_.load() < value && !peer_gone()) {
        std::unique_lock<std::mutex> hold(server_.lock_);
        server_.gate_changed_.wait_for(hold, std::chrono::milliseconds(20));
    }
}

HttpServer::HttpServer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listen_fd_, 128) != 0) {
        close(listen_fd_);
        listen_fd_ = -1;
        return;
    }
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::stop() {
    if (stopping_.exchange(true)) return;
    if (listen_fd_ >= 0) shutdown(listen_fd_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (int fd : fds_) shutdown(fd, SHUT_RDWR);
    }
    gate_changed_.notify_all();
    for (auto& t : threads_) t.join();
    threads_.clear();
}

HttpRequestSeen HttpServer::last_request() {
    std::lock_guard<std::mutex> hold(lock_);
    return last_;
}

void HttpServer::set_gate(int value) {
    gate_.store(value);
    gate_changed_.notify_all();
}

void HttpServer::accept_loop() {
    while (!stopping_.load()) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        accepted_.fetch_add(1);
        std::lock_guard<std::mutex> hold(lock_);
        fds_.push_back(fd);
        threads_.emplace_back([this, fd] { serve(fd); });
    }
}

void HttpServer::serve(int fd) {
    std::string pending;
    HttpConn conn(*this, fd);
    char buf[16384];
    while (!stopping_.load() && !conn.closing_) {
        size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (pending.size() > kMaxHead) break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            pending.append(buf, static_cast<size_t>(n));
            continue;
        }
        HttpRequestSeen req;
        bool ok = parse_head(pending.substr(0, end + 2), req);
        pending.erase(0, end + 4);
        if (!ok) break;
        requests_.fetch_add(1);
        {
            std::lock_guard<std::mutex> hold(lock_);
            last_ = req;
        }
        handler_(req, conn);
    }
    std::lock_guard<std::mutex> hold(lock_);
    fds_.erase(std::remove(fds_.begin(), fds_.end(), fd), fds_.end());
    close(fd);
}

std::string http_response(int status, const std::string& body, const std::string& extra, bool length) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " X\r\n";
    if (length) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += extra;
    out += "\r\n";
    out += body;
    return out;
}

std::string pattern_bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace zk::test
