#include "server/avatar_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/bytes.h"

namespace zk::server {

namespace {

uint64_t key_of(uint32_t address, uint16_t port) { return (uint64_t{address} << 16) | port; }
uint32_t address_of(uint64_t key) { return static_cast<uint32_t>(key >> 16); }
uint16_t port_of(uint64_t key) { return static_cast<uint16_t>(key); }

bool fits16(int64_t v) { return v >= -32768 && v <= 32767; }

// Within the radius horizontally; positions are any 32-bit values, so each
// axis is bounded before it is squared.
bool within(const int32_t ax, const int32_t az, const int32_t bx, const int32_t bz, int64_t* d2) {
    const int64_t dx = int64_t{ax} - bx, dz = int64_t{az} - bz;
    if (dx < -AvatarChannel::kRadius || dx > AvatarChannel::kRadius || dz < -AvatarChannel::kRadius ||
        dz > AvatarChannel::kRadius)
        return false;
    *d2 = dx * dx + dz * dz;
    return *d2 <= AvatarChannel::kRadius * AvatarChannel::kRadius;
}

}  // namespace

AvatarChannel::~AvatarChannel() {
    if (fd_ >= 0) ::close(fd_);
}

std::string AvatarChannel::open(const std::string& address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return "not an IPv4 address: " + address;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::string("socket: ") + std::strerror(errno);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        std::string e = std::strerror(errno);
        ::close(fd);
        return "avatar port " + std::to_string(port) + " on " + address + ": " + e;
    }
    socklen_t length = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
    port_ = ntohs(sa.sin_port);
    fd_ = fd;
    return {};
}

void AvatarChannel::poll(int64_t now) {
    uint8_t buffer[kDatagramMax];
    for (int i = 0; fd_ >= 0 && i < kReadsPerPass; ++i) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n =
            recvfrom(fd_, buffer, sizeof buffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        bytes_in_ += static_cast<uint64_t>(n);
        // Nothing a browser sends is longer; a cut datagram is not read.
        if (static_cast<size_t>(n) > sizeof buffer || from.sin_family != AF_INET) continue;
        receive(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port), buffer, static_cast<size_t>(n), now);
    }
    tick(now);
}

void AvatarChannel::receive(uint32_t address, uint16_t port, const uint8_t* d, size_t size, int64_t now) {
    if (size == 0) return;
    const uint64_t key = key_of(address, port);
    switch (d[0]) {
    case 0:
        if (size == 18) state(key, d, now);
        break;
    case 2:
        if (size >= 2) relay(key, d, size, now);
        break;
    case 3: users_.erase(key); break;
    default: break;  // acknowledgements of relayed lines need nothing
    }
}

void AvatarChannel::state(uint64_t key, const uint8_t* d, int64_t now) {
    auto it = users_.find(key);
    if (it == users_.end()) {
        if (users_.size() >= kMaxUsers || (admit_ && !admit_(address_of(key)))) return;
        it = users_.emplace(key, User{}).first;
        // The rounds start a second after the first user is heard.
        if (!started_) next_update_ms_ = now + kUpdateMs;
        started_ = true;
    }
    User& u = it->second;
    u.x = load_be32s(d + 1);
    u.y = load_be32s(d + 5);
    u.z = load_be32s(d + 9);
    u.yaw = load_be16(d + 13);
    u.type = d[15];
    u.gesture = d[17];
    u.heard_ms = now;
}

void AvatarChannel::relay(uint64_t key, const uint8_t* d, size_t size, int64_t now) {
    auto it = users_.find(key);
    if (it == users_.end()) return;
    User& speaker = it->second;
    const int64_t second = now / 1000;
    if (speaker.relay_second != second) {
        speaker.relay_second = second;
        speaker.relays = 0;
    }
    // Counted before the rights are looked up, so that nobody's flood costs
    // more than a few look-ups a second. Unacknowledged, the browser sends
    // the line again later.
    if (speaker.relays >= kRelaysPerSecond) return;
    ++speaker.relays;
    if (speaker_ && !speaker_(address_of(key))) return;
    std::string ack(2, '\1');
    ack[1] = static_cast<char>(d[1]);
    send(key, ack);
    size_t text = size - 2;
    // The browser pads a 16-byte datagram with one zero.
    if (size == 17 && d[16] == 0) --text;
    text = std::min(text, kTextMax);
    std::string out;
    out.reserve(8 + text);
    out.push_back(3);
    out.push_back(static_cast<char>(d[1]));
    append_be32(out, address_of(key));
    append_be16(out, port_of(key));
    out.append(reinterpret_cast<const char*>(d + 2), text);
    for (const auto& [other, u] : users_) {
        if (other == key) continue;
        int64_t d2 = 0;
        if (within(u.x, u.z, speaker.x, speaker.z, &d2)) send(other, out);
    }
}

void AvatarChannel::tick(int64_t now) {
    std::erase_if(users_, [&](const auto& e) { return now - e.second.heard_ms > kForgetMs; });
    if (!started_ || now < next_update_ms_) return;
    next_update_ms_ = std::max(next_update_ms_ + kUpdateMs, now + 1);
    for (const auto& [key, u] : users_) send_update(key, u);
}

void AvatarChannel::send_update(uint64_t key, const User& self) {
    struct Near {
        int64_t d2;
        uint64_t key;
        const User* user;
    };
    static thread_local std::vector<Near> near;
    near.clear();
    for (const auto& [other, u] : users_) {
        if (other == key) continue;
        int64_t d2 = 0;
        if (within(u.x, u.z, self.x, self.z, &d2) && fits16(int64_t{u.y} - self.y)) near.push_back({d2, other, &u});
    }
    const size_t listed = std::min(near.size(), kMaxListed);
    std::partial_sort(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(listed), near.end(),
                      [](const Near& a, const Near& b) { return a.d2 < b.d2 || (a.d2 == b.d2 && a.key < b.key); });
    std::string out;
    out.reserve(13 + 17 * listed);
    out.push_back(2);
    append_be32(out, static_cast<uint32_t>(self.x));
    append_be32(out, static_cast<uint32_t>(self.y));
    append_be32(out, static_cast<uint32_t>(self.z));
    for (size_t i = 0; i < listed; ++i) {
        const User& u = *near[i].user;
        append_be32(out, address_of(near[i].key));
        append_be16(out, port_of(near[i].key));
        append_be16(out, static_cast<uint16_t>(int64_t{u.x} - self.x));
        append_be16(out, static_cast<uint16_t>(int64_t{u.y} - self.y));
        append_be16(out, static_cast<uint16_t>(int64_t{u.z} - self.z));
        append_be16(out, u.yaw);
        out.push_back(static_cast<char>(u.type));
        out.push_back(0);
        out.push_back(static_cast<char>(u.gesture));
    }
    send(key, out);
}

void AvatarChannel::send(uint64_t key, const std::string& bytes) {
    bytes_out_ += bytes.size();
    if (sender_) {
        sender_(address_of(key), port_of(key), bytes);
        return;
    }
    if (fd_ < 0) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address_of(key));
    to.sin_port = htons(port_of(key));
    sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

bool AvatarChannel::knows(uint32_t address) const {
    for (const auto& [key, u] : users_)
        if (address_of(key) == address) return true;
    return false;
}

}  // namespace zk::server
