#include "net/peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "core/settings.h"
#include "net/tcp.h"
#include "platform/os.h"
#include "support/temp_dir.h"

namespace zk::test {

Bytes reply_claiming(uint16_t length, int rc, int code, const Bytes& payload) {
    return Wire().u16(length).u8(rc).u8(code).raw(payload).b;
}

Bytes reply(int rc, int code, const Bytes& payload) {
    return reply_claiming(static_cast<uint16_t>(payload.size() + 2), rc, code, payload);
}

size_t universe_split(const Bytes& in) { return in.size() < 2 ? 0 : 2 + ((size_t{in[0]} << 8) | in[1]); }

void PeerLink::send(const Bytes& bytes) {
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void PeerLink::trickle(const Bytes& bytes, int gap_ms) {
    for (uint8_t b : bytes) {
        if (::send(fd, &b, 1, MSG_NOSIGNAL) != 1) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
    }
}

void PeerLink::close() { ::shutdown(fd, SHUT_RDWR); }

ScriptedPeer::ScriptedPeer(Split split, size_t header) : split_(std::move(split)), header_(header) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("peer cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void ScriptedPeer::respond(Respond fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    respond_ = std::move(fn);
}

std::vector<Request> ScriptedPeer::requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t ScriptedPeer::request_count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool ScriptedPeer::wait_requests(size_t n, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return requests_.size() >= n; });
}

void ScriptedPeer::drop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_ >= 0) ::shutdown(current_, SHUT_RDWR);
}

void ScriptedPeer::run() {
    PeerLink link;
    Bytes in;
    int connection = 0;
    auto take = [&](int fd) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (link.fd >= 0) ::close(link.fd);
        link.fd = current_ = fd;
        in.clear();
    };
    while (!stop_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {link.fd, POLLIN, 0}};
        const nfds_t count = link.fd >= 0 ? 2 : 1;
        if (::poll(fds, count, 10) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++accepted_;
            if (refuse_) {
                ::close(fd);
            } else {
                // The newest connection is the client's current one.
                take(fd);
                connection = accepted_.load();
            }
            continue;
        }
        if (count < 2 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        uint8_t buf[4096];
        ssize_t n = ::recv(link.fd, buf, sizeof buf, 0);
        if (n <= 0) {
            take(-1);
            continue;
        }
        in.insert(in.end(), buf, buf + n);
        for (size_t need = split_(in); need && need <= in.size(); need = split_(in)) {
            Request r{connection, -1, {}, Bytes(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(need))};
            in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(need));
            if (r.frame.size() > header_) {
                r.code = r.frame[header_];
                r.payload.assign(r.frame.begin() + static_cast<std::ptrdiff_t>(header_ + 1), r.frame.end());
            }
            Respond fn;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(r);
                fn = respond_;
            }
            arrived_.notify_all();
            if (fn) fn(link, r);
        }
    }
    take(-1);
}

namespace {
std::atomic<uint32_t> g_speed{1};
std::atomic<uint32_t> g_offset{0};
std::atomic<uint32_t> g_start{0};
std::atomic<uint32_t> g_base{0};

uint32_t test_now() {
    return g_base.load() + (os_tick_count() - g_start.load()) * g_speed.load() + g_offset.load();
}
}  // namespace

TestClock::TestClock(uint32_t speed) {
    g_offset = 0;
    g_base = 1000000;
    g_start = os_tick_count();
    g_speed = speed;
    net_set_clock(test_now);
}

TestClock::~TestClock() { net_set_clock(nullptr); }

void TestClock::advance(uint32_t ms) { g_offset += ms; }

void TestClock::set_speed(uint32_t speed) {
    // Keep the present moment where it is.
    uint32_t now = test_now();
    g_start = os_tick_count();
    g_speed = speed;
    g_base = now - g_offset.load();
}

void universe_settings(const std::string& dir, const std::string& host, int port, const std::string& extra) {
    write_file(dir + "/zelnik.ini",
               "[universe]\nhost=" + host + "\nport=" + std::to_string(port) + "\n" + extra);
    settings_set_directory(dir);
}

}  // namespace zk::test
