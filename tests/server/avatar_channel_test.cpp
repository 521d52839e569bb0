// The avatar channel's rules with explicit times and the datagrams it sends
// captured; one test over real sockets through a world server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/avatar_channel.h"
#include "server/world_server.h"
#include "server/world_store.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"
#include "support/wire.h"

using namespace zk;
using server::AvatarChannel;
using test::Wire;

namespace {

constexpr uint32_t kHost = 0x7F000001;

std::string state(int32_t x, int32_t y, int32_t z, int yaw = 0, int type = 1, int gesture = 0) {
    return Wire().u8(0).u32(static_cast<uint32_t>(x)).u32(static_cast<uint32_t>(y)).u32(static_cast<uint32_t>(z))
        .u16(yaw).u8(type).u8(0).u8(gesture).s();
}

struct Listed {
    uint32_t address;
    uint16_t port;
    int dx, dy, dz, yaw, type, gesture;
};
struct Update {
    int32_t bx = 0, by = 0, bz = 0;
    std::vector<Listed> users;
};

Update decode(const std::string& s) {
    Update u;
    FieldReader r = test::reader(s);
    EXPECT_EQ(r.get_byte(), 2);
    u.bx = static_cast<int32_t>(r.get_u32()), u.by = static_cast<int32_t>(r.get_u32());
    u.bz = static_cast<int32_t>(r.get_u32());
    EXPECT_EQ((s.size() - 13) % 17, 0u);
    auto s16 = [&] { return static_cast<int>(static_cast<int16_t>(r.get_u16())); };
    while (r.ok() && r.remaining() >= 17) {
        Listed l{r.get_u32(), r.get_u16(), 0, 0, 0, 0, 0, 0};
        l.dx = s16(), l.dy = s16(), l.dz = s16(), l.yaw = s16();
        l.type = r.get_byte();
        r.get_byte();
        l.gesture = r.get_byte();
        u.users.push_back(l);
    }
    return u;
}

class AvatarChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        channel_.set_sender([this](uint32_t a, uint16_t p, const std::string& b) { sent_.push_back({a, p, b}); });
    }
    void from(uint16_t port, const std::string& d, int64_t t, uint32_t address = kHost) {
        channel_.receive(address, port, reinterpret_cast<const uint8_t*>(d.data()), d.size(), t);
    }
    // What went to `port` since the last call, oldest first.
    std::vector<std::string> to(uint16_t port) {
        std::vector<std::string> out;
        for (const Sent& s : sent_)
            if (s.port == port) out.push_back(s.bytes);
        return out;
    }
    Update last_update(uint16_t port) {
        auto all = to(port);
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if (!it->empty() && (*it)[0] == 2) return decode(*it);
        ADD_FAILURE() << "no update to " << port;
        return {};
    }

    struct Sent {
        uint32_t address;
        uint16_t port;
        std::string bytes;
    };
    AvatarChannel channel_;
    std::vector<Sent> sent_;
};

}  // namespace

TEST_F(AvatarChannelTest, UpdatesListTheNearestOthersFromTheOwnPositionAtMost18) {
    // User 1 at (5, 0.2, -3) world units; users 2..25 east of it, 0.1 unit
    // apart, then one too far and one too high for a 16-bit offset.
    from(1, state(5000, 200, -3000, 900, 4, 2), 0);
    for (int i = 2; i <= 25; ++i) from(static_cast<uint16_t>(i), state(5000 + (27 - i) * 100, 0, -3000, 0, i), 0);
    from(26, state(5000 + 12001, 0, -3000), 0);
    from(27, state(5000, 200 + 40000, -3000), 0);
    from(28, state(INT32_MIN, 0, INT32_MAX), 0);  // far beyond any square that fits 64 bits
    channel_.tick(999);
    EXPECT_TRUE(sent_.empty()) << "the first round comes a second after start";
    channel_.tick(1000);
    Update u = last_update(1);
    EXPECT_EQ(u.bx, 5000);
    EXPECT_EQ(u.by, 200);
    EXPECT_EQ(u.bz, -3000);
    ASSERT_EQ(u.users.size(), 18u);
    for (size_t i = 0; i < u.users.size(); ++i) {
        EXPECT_EQ(u.users[i].port, 25 - i) << "nearest first";
        EXPECT_EQ(u.users[i].dx, 200 + 100 * static_cast<int>(i));
        EXPECT_EQ(u.users[i].dy, -200);
        EXPECT_EQ(u.users[i].type, 25 - static_cast<int>(i));
    }
    // The nearest user sees user 1 behind it, with its yaw, type and gesture.
    int found = 0;
    for (const Listed& l : last_update(25).users)
        if (l.port == 1) {
            ++found;
            EXPECT_TRUE(l.address == kHost && l.dx == -200 && l.dy == 200 && l.yaw == 900 && l.type == 4 &&
                        l.gesture == 2);
        }
    EXPECT_EQ(found, 1);
    for (const Sent& s : sent_) EXPECT_LE(decode(s.bytes).users.size(), 18u);
    for (const Listed& l : u.users) EXPECT_TRUE(l.port < 26);
}

TEST_F(AvatarChannelTest, UsersGoOnLeaveAndSilenceAndBadDatagramsChangeNothing) {
    from(1, state(0, 0, 0), 0);
    from(2, state(1000, 0, 0), 0);
    from(3, state(2000, 0, 0), 0);
    // Cut, long, empty and unknown datagrams from a fourth sender.
    for (const std::string& bad : {state(0, 0, 0).substr(0, 17), state(0, 0, 0) + "x", std::string(), std::string("\x07", 1),
                                   std::string("\x02", 1)})
        from(4, bad, 0);
    EXPECT_EQ(channel_.user_count(), 3u);
    from(2, "\x03", 500);
    channel_.tick(1000);
    EXPECT_EQ(last_update(1).users.size(), 1u) << "the leave removed user 2 at once";
    for (int64_t t = 2000; t <= 11000; t += 1000) {
        from(1, state(0, 0, 0), t);
        channel_.tick(t);
    }
    EXPECT_EQ(channel_.user_count(), 1u) << "user 3 went silent 10 s ago";
    EXPECT_TRUE(last_update(1).users.empty());
    EXPECT_TRUE(channel_.knows(kHost));
    EXPECT_FALSE(channel_.knows(kHost + 1));
}

TEST_F(AvatarChannelTest, AdmissionAndTheUserLimitBoundTheTable) {
    channel_.set_admit([](uint32_t address) { return address != kHost + 1; });
    from(1, state(0, 0, 0), 0, kHost + 1);
    EXPECT_EQ(channel_.user_count(), 0u);
    for (uint32_t i = 0; i < AvatarChannel::kMaxUsers + 50; ++i)
        from(static_cast<uint16_t>(i), state(0, 0, 0), 0, kHost + 2 + (i >> 16));
    EXPECT_EQ(channel_.user_count(), AvatarChannel::kMaxUsers);
}

TEST_F(AvatarChannelTest, ASpeakersLineIsAcknowledgedAndRelayedAroundIt) {
    const uint32_t speaker = kHost, listener = kHost + 1, far = kHost + 2;
    channel_.set_speaker([&](uint32_t a) { return a == speaker; });
    from(1, state(0, 0, 0), 0, speaker);
    from(2, state(3000, 0, 4000), 0, listener);
    from(3, state(50000, 0, 0), 0, far);
    from(2, Wire().u8(2).u8(5).text("Bob: not a speaker").s(), 10, listener);
    EXPECT_TRUE(sent_.empty());

    from(1, Wire().u8(2).u8(7).text("Ann: hi").s(), 20, speaker);
    // A line that makes a 16-byte datagram comes with a zero after it.
    from(1, Wire().u8(2).u8(8).text("Ann: 16 bytes!").u8(0).s(), 30, speaker);
    EXPECT_EQ(to(1), (std::vector<std::string>{"\x01\x07", "\x01\x08"}));
    const std::string head = Wire().u32(speaker).u16(1).s();
    EXPECT_EQ(to(2), (std::vector<std::string>{"\x03\x07" + head + "Ann: hi", "\x03\x08" + head + "Ann: 16 bytes!"}));
    EXPECT_TRUE(to(3).empty()) << "beyond the radius";

    // A few lines a second; the rest wait for the speaker's resend.
    sent_.clear();
    for (int i = 0; i < 10; ++i) from(1, Wire().u8(2).u8(10 + i).text("Ann: flood").s(), 100, speaker);
    EXPECT_EQ(to(2).size(), size_t(AvatarChannel::kRelaysPerSecond - 2));
    from(1, Wire().u8(2).u8(30).text("Ann: later").s(), 1100, speaker);
    EXPECT_EQ(to(2).back(), "\x03\x1e" + head + "Ann: later");
}

TEST(AvatarChannelSockets, TwoBrowsersSeeEachOtherThroughAWorldServer) {
    test::TempDir dir;
    server::WorldStore store;
    ASSERT_EQ(store.open(dir.file("world.db")), "");
    server::WorldServer world(store, server::WorldConfig{});
    ASSERT_EQ(world.listen_on("127.0.0.1", 0), "");
    ASSERT_EQ(world.open_avatar_channel("127.0.0.1"), "");
    test::ServiceThread loop({&world});
    test::Client tcp(world.port());  // admits the address
    ASSERT_TRUE(tcp.connected());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    struct Udp {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        uint16_t port = 0;
        Udp() {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(kHost);
            socklen_t n = sizeof a;
            bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
            port = ntohs(a.sin_port);
            timeval tv{0, 100000};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        }
        ~Udp() { close(fd); }
        void send(uint16_t to, const std::string& d) const {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(kHost);
            a.sin_port = htons(to);
            sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        // The users listed by the next update within 3 s; -1 when none came.
        int next_update_count(uint16_t server, const std::string& own, uint16_t* first = nullptr) const {
            for (int i = 0; i < 30; ++i) {
                send(server, own);
                char b[512];
                const ssize_t n = recv(fd, b, sizeof b, 0);
                if (n <= 0 || b[0] != 2) continue;
                Update u = decode(std::string(b, static_cast<size_t>(n)));
                if (first && !u.users.empty()) *first = u.users[0].port;
                return static_cast<int>(u.users.size());
            }
            return -1;
        }
    } ann, bob;
    ann.send(world.port(), state(0, 0, 0));
    bob.send(world.port(), state(2000, 0, 0));
    uint16_t seen = 0;
    EXPECT_EQ(ann.next_update_count(world.port(), state(0, 0, 0), &seen), 1);
    EXPECT_EQ(seen, bob.port);
    EXPECT_EQ(bob.next_update_count(world.port(), state(2000, 0, 0), &seen), 1);
    EXPECT_EQ(seen, ann.port);
    bob.send(world.port(), "\x03");
    bob.send(world.port(), "\x03");
    EXPECT_EQ(ann.next_update_count(world.port(), state(0, 0, 0)), 0) << "Bob left";
}
