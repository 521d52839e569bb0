// A world's avatar channel: one UDP socket on the world's port number. Each
// browser sends its state (type 0, 18 bytes) about once a second; every
// second each known browser gets an update (type 2) listing the other users
// within kRadius world units horizontally, nearest first, at most 18, as
// offsets from its own position (users whose offset does not fit 16 bits are
// left out). A public speaker's line (type 2) is acknowledged (type 1) and
// relayed (type 3) to the users around it; a leave (type 3) or 10 s of
// silence forgets a user. Users are keyed by (address, port).
//
// Every datagram is hostile: lengths are checked before reading, at most
// kReadsPerPass datagrams are read a pass, at most kMaxUsers are known, a
// new user is admitted only where the world has a connection from that
// address, and a speaker's relays are limited to a few a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

namespace zk::server {

class AvatarChannel {
public:
    static constexpr size_t kMaxUsers = 1024;
    static constexpr int kReadsPerPass = 64;
    static constexpr size_t kMaxListed = 18;
    static constexpr int64_t kRadius = 12000;  // thousandths of a world unit: 120 m
    static constexpr int64_t kUpdateMs = 1000;
    static constexpr int64_t kForgetMs = 10000;
    static constexpr size_t kDatagramMax = 512;
    static constexpr size_t kTextMax = 255;
    static constexpr int kRelaysPerSecond = 4;

    AvatarChannel() = default;
    ~AvatarChannel();
    AvatarChannel(const AvatarChannel&) = delete;
    AvatarChannel& operator=(const AvatarChannel&) = delete;

    // Binds the UDP socket; an error text, empty on success.
    std::string open(const std::string& address, uint16_t port);
    int fd() const { return fd_; }
    uint16_t port() const { return port_; }

    // One pass of the loop: reads what waits (bounded), then sends what is due.
    void poll(int64_t now_ms);
    // One datagram from (address, port), host order, as poll hands it on.
    void receive(uint32_t address, uint16_t port, const uint8_t* data, size_t size, int64_t now_ms);
    // Forgets silent users and sends the updates when a second has passed.
    void tick(int64_t now_ms);

    // Whether a new user at this address may be admitted (the world has a
    // connection from it); whether the user at an address is a public
    // speaker. Unset: everybody.
    void set_admit(std::function<bool(uint32_t address)> fn) { admit_ = std::move(fn); }
    void set_speaker(std::function<bool(uint32_t address)> fn) { speaker_ = std::move(fn); }
    // Where datagrams go instead of the socket (fuzzing, measurements).
    void set_sender(std::function<void(uint32_t address, uint16_t port, const std::string& bytes)> fn) {
        sender_ = std::move(fn);
    }

    bool knows(uint32_t address) const;
    size_t user_count() const { return users_.size(); }
    uint64_t bytes_received() const { return bytes_in_; }
    uint64_t bytes_sent() const { return bytes_out_; }

private:
    struct User {
        int32_t x = 0, y = 0, z = 0;
        uint16_t yaw = 0;
        uint8_t type = 0xFF, gesture = 0;
        int64_t heard_ms = 0;
        int64_t relay_second = -1;
        int relays = 0;
    };
    void state(uint64_t key, const uint8_t* d, int64_t now);
    void relay(uint64_t key, const uint8_t* d, size_t size, int64_t now);
    void send_update(uint64_t key, const User& u);
    void send(uint64_t key, const std::string& bytes);

    int fd_ = -1;
    uint16_t port_ = 0;
    std::unordered_map<uint64_t, User> users_;
    int64_t next_update_ms_ = 0;
    bool started_ = false;
    uint64_t bytes_in_ = 0, bytes_out_ = 0;
    std::function<bool(uint32_t)> admit_, speaker_;
    std::function<void(uint32_t, uint16_t, const std::string&)> sender_;
};

}  // namespace zk::server
