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

Pack& Pack::u8(uint8_t v) {
    b.push_back(v);
    return *this;
}
Pack& Pack::u16(uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
    return *this;
}
Pack& Pack::u32(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
    return *this;
}
Pack& Pack::str(const std::string& s) {
    b.push_back(static_cast<uint8_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
}
Pack& Pack::raw(const Bytes& bytes) {
    b.insert(b.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes reply_claiming(uint16_t length, int rc, int code, const Bytes& payload) {
    Bytes f(4 + payload.size());
    f[0] = static_cast<uint8_t>(length >> 8);
    f[1] = static_cast<uint8_t>(length);
    f[2] = static_cast<uint8_t>(rc);
    f[3] = static_cast<uint8_t>(code);
    std::copy(payload.begin(), payload.end(), f.begin() + 4);
    return f;
}

Bytes reply(int rc, int code, const Bytes& payload) {
    return reply_claiming(static_cast<uint16_t>(payload.size() + 2), rc, code, payload);
}

Bytes operator+(Bytes a, const Bytes& b) {
    size_t at = a.size();
    a.resize(at + b.size());
    std::copy(b.begin(), b.end(), a.begin() + static_cast<ptrdiff_t>(at));
    return a;
}

void PeerLink::send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
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

UniversePeer::UniversePeer() {
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

UniversePeer::~UniversePeer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void UniversePeer::respond(Respond fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    respond_ = std::move(fn);
}

std::vector<Request> UniversePeer::requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool UniversePeer::wait_requests(size_t n, int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return requests_.size() >= n; });
}

void UniversePeer::drop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_ >= 0) ::shutdown(current_, SHUT_RDWR);
}

// Reads one request frame, polling so that the destructor is never kept
// waiting; false when the client went away or the peer stops.
bool UniversePeer::read_frame(int fd, Request& out) {
    auto read_exact = [&](uint8_t* p, size_t n) {
        size_t done = 0;
        while (done < n) {
            if (stop_) return false;
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) continue;
            ssize_t got = ::recv(fd, p + done, n - done, 0);
            if (got <= 0) return false;
            done += static_cast<size_t>(got);
        }
        return true;
    };
    uint8_t head[2];
    if (!read_exact(head, 2)) return false;
    size_t length = (size_t{head[0]} << 8) | head[1];
    Bytes body(length);
    if (length && !read_exact(body.data(), length)) return false;
    out.frame = Bytes{head[0], head[1]} + body;
    out.code = length ? body[0] : -1;
    out.payload.assign(body.begin() + (length ? 1 : 0), body.end());
    return true;
}

void UniversePeer::run() {
    while (!stop_) {
        pollfd pfd{listener_, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0) continue;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int number = ++accepted_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            current_ = fd;
        }
        PeerLink link;
        link.fd = fd;
        Request request;
        while (read_frame(fd, request)) {
            request.connection = number;
            Respond fn;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
                fn = respond_;
            }
            arrived_.notify_all();
            if (fn) fn(link, request);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            current_ = -1;
        }
        ::close(fd);
    }
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
