#include "server/service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zk::server {

int64_t now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string address_text(uint32_t address) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", address >> 24, (address >> 16) & 255, (address >> 8) & 255,
                  address & 255);
    return buf;
}

namespace {
std::atomic<bool> g_log_quiet{false};
}

void server_log_quiet(bool quiet) { g_log_quiet = quiet; }

void server_log(const char* format, ...) {
    if (g_log_quiet) return;
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    time_t t = time(nullptr);
    tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s %s\n", stamp, text);
    std::fflush(stderr);
}

Service::Service(std::string name, std::string log_prefix)
    : name_(std::move(name)), log_prefix_(std::move(log_prefix)) {}

Service::~Service() {
    for (auto& c : clients_)
        if (c->fd >= 0) ::close(c->fd);
    if (listener_ >= 0) ::close(listener_);
}

void Service::log(const char* format, ...) {
    char text[1800];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    server_log("%s: %s", log_prefix_.c_str(), text);
}

std::string Service::listen_on(const std::string& address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return "not an IPv4 address: " + address;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::string("socket: ") + std::strerror(errno);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        std::string e = std::strerror(errno);
        ::close(fd);
        return "port " + std::to_string(port) + " on " + address + ": " + e;
    }
    if (::listen(fd, 64) != 0) {
        std::string e = std::strerror(errno);
        ::close(fd);
        return "listen: " + e;
    }
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    listener_ = fd;
    return {};
}

void Service::collect(std::vector<pollfd>& fds) {
    if (wake_fd_ >= 0) fds.push_back({wake_fd_, POLLIN, 0});
    listener_index_ = fds.size();
    fds.push_back({listener_, POLLIN, 0});
    first_client_fd_ = fds.size();
    for (auto& c : clients_) {
        // A waiting client is not read: its bytes stay with the kernel,
        // which in turn slows the sender. Its hanging up is still noticed.
        short events = c->waiting ? POLLRDHUP : POLLIN;
        if (!c->out.empty()) events |= POLLOUT;
        fds.push_back({c->fd, events, 0});
    }
}

void Service::dispatch(const std::vector<pollfd>& fds, int64_t now) {
    now_ = now;
    on_wake();
    // Clients present when the array was built map to it one to one.
    const size_t known = fds.size() > first_client_fd_ ? fds.size() - first_client_fd_ : 0;
    const size_t n = std::min(known, clients_.size());
    for (size_t i = 0; i < n; ++i) {
        Client& c = *clients_[i];
        const pollfd& p = fds[first_client_fd_ + i];
        if (p.fd != c.fd) continue;
        if (c.waiting && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            close_client(c, "closed by peer");
        else if (!c.waiting && (p.revents & (POLLIN | POLLHUP | POLLERR)))
            read_client(c, now);
        if (c.fd >= 0 && (p.revents & POLLOUT)) write_client(c);
    }
    for (auto& c : clients_) {
        if (c->fd < 0) continue;
        on_tick(*c, now);
        if (c->fd < 0) continue;
        if (!c->out.empty()) write_client(*c);
        if (c->fd >= 0 && now - c->last_activity_ms > kIdleMs) close_client(*c, "idle");
        if (c->fd >= 0 && c->closing && c->out.empty()) close_client(*c, nullptr);
    }
    if (listener_index_ < fds.size() && (fds[listener_index_].revents & POLLIN)) accept_all(now);
    std::erase_if(clients_, [](const std::unique_ptr<Client>& c) { return c->fd < 0; });
}

void Service::accept_all(int64_t now) {
    for (;;) {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (clients_.size() >= kMaxClients) {
            log("refused %s: too many connections", address_text(ntohl(sa.sin_addr.s_addr)).c_str());
            ::close(fd);
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        adopt(fd, ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port), now);
    }
}

Client& Service::adopt(int fd, uint32_t peer_address, uint16_t peer_port, int64_t now) {
    auto c = std::make_unique<Client>();
    c->fd = fd;
    c->peer_address = peer_address;
    c->peer_port = peer_port;
    c->last_activity_ms = now;
    c->id = next_id_++;
    log("connection %llu from %s:%u", static_cast<unsigned long long>(c->id), address_text(c->peer_address).c_str(),
        c->peer_port);
    clients_.push_back(std::move(c));
    Client& added = *clients_.back();
    on_open(added);
    return added;
}

void Service::receive(Client& c, std::string_view bytes, int64_t now) {
    now_ = now;
    c.last_activity_ms = now;
    if (c.closing || c.fd < 0) return;  // draining before close
    c.in.append(bytes);
    on_data(c);
}

Client* Service::find_client(uint64_t id) {
    for (auto& c : clients_)
        if (c->id == id && c->fd >= 0) return c.get();
    return nullptr;
}

void Service::read_client(Client& c, int64_t now) {
    char buf[16384];
    for (size_t taken = 0; taken < kReadPerPass;) {
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            taken += static_cast<size_t>(n);
            receive(c, std::string_view(buf, static_cast<size_t>(n)), now);
            if (c.fd < 0 || c.waiting) return;
            continue;
        }
        if (n == 0) {
            close_client(c, "closed by peer");
            return;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        close_client(c, std::strerror(errno));
        return;
    }
}

void Service::write_client(Client& c) {
    while (!c.out.empty()) {
        ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        close_client(c, "send failed");
        return;
    }
}

void Service::send(Client& c, const std::string& bytes) {
    if (c.fd < 0) return;
    if (c.out.size() + bytes.size() > kMaxOutput) {
        close_client(c, "peer does not read");
        return;
    }
    c.out += bytes;
    write_client(c);
}

void Service::close_client(Client& c, const char* why) {
    if (c.fd < 0) return;
    on_close(c);
    if (why) log("connection %llu closed: %s", static_cast<unsigned long long>(c.id), why);
    ::close(c.fd);
    c.fd = -1;
}

void Service::each_client(const std::function<void(Client&)>& fn) {
    for (auto& c : clients_)
        if (c->fd >= 0) fn(*c);
}

}  // namespace zk::server
