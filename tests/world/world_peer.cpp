#include "world/world_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace zk::test {

Wire& Wire::u8(int v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
}
Wire& Wire::u16(int v) {
    b.push_back(static_cast<uint8_t>((v >> 8) & 255));
    b.push_back(static_cast<uint8_t>(v & 255));
    return *this;
}
Wire& Wire::u32(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
    return *this;
}
Wire& Wire::text(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
}
Wire& Wire::raw(const Bytes& bytes) {
    b.insert(b.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes framed(const Bytes& body) {
    Wire w;
    w.u16(static_cast<int>(body.size())).raw(body);
    return w.b;
}

Bytes status_reply(int code) { return framed({static_cast<uint8_t>(code)}); }

void WorldLink::send(const Bytes& bytes) {
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void WorldLink::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

WorldPeer::WorldPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listener_, 8) != 0)
        throw std::runtime_error("world peer: cannot listen");
    socklen_t len = sizeof sa;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { run(); });
}

WorldPeer::~WorldPeer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void WorldPeer::respond(Respond fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    respond_ = std::move(fn);
}

std::vector<WorldRequest> WorldPeer::requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t WorldPeer::request_count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

size_t WorldPeer::needed(const Bytes& in) {
    if (in.empty()) return 0;
    switch (in[0]) {
    case 0: return in.size() < 27 ? 0 : 27u + in[24] + in[25] + in[26];
    case 2: return 16;
    case 3: return 48;
    case 5: return 8;
    case 6: return in.size() < 8 ? 0 : in.size();  // the list runs to the end of what came
    case 7: return in.size() < 35 ? 0 : 35u + in[32] + in[33] + in[34];
    default: return in.size();  // unknown: take it whole so the test sees it
    }
}

void WorldPeer::run() {
    WorldLink link;
    Bytes in;
    int connection = 0;
    while (!stop_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {link.fd, POLLIN, 0}};
        const nfds_t count = link.fd >= 0 ? 2 : 1;
        if (::poll(fds, count, 10) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            int fd = ::accept(listener_, nullptr, nullptr);
            if (fd >= 0) {
                ++accepted_;
                if (refuse_) {
                    ::close(fd);
                } else {
                    // The newest connection is the browser's current one.
                    link.close();
                    link.fd = fd;
                    in.clear();
                    connection = accepted_.load();
                }
            }
            continue;
        }
        if (count < 2 || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        uint8_t buf[4096];
        ssize_t n = ::recv(link.fd, buf, sizeof buf, 0);
        if (n <= 0) {
            link.close();
            continue;
        }
        in.insert(in.end(), buf, buf + n);
        for (size_t need = needed(in); need && need <= in.size(); need = needed(in)) {
            WorldRequest r{connection, Bytes(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(need))};
            in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(need));
            Respond fn;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(r);
                fn = respond_;
            }
            if (fn) fn(link, r);
            if (link.fd < 0) break;
        }
    }
    link.close();
}

}  // namespace zk::test
