// The avatar channel over real UDP sockets on loopback: the test plays the
// world server and the other browsers (each on an address of its own in
// 127.0.0.0/8) and drives the frames and clocks itself.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "art/art_server.h"
#include "people/avatar.h"
#include "server/assets/zip_writer.h"
#include "support/wire.h"

using namespace zk;
using test::Wire;

namespace {

uint32_t g_frame = 5000, g_now = 5000;
uint16_t g_server_port = 0;  // network order
std::vector<std::string> g_asked;
std::vector<std::pair<int, std::string>> g_printed;
std::map<Balloon*, std::string> g_balloons;
std::vector<std::string> g_menus;

uint32_t ip(int last) { return htonl(0x7F000000u | static_cast<uint32_t>(last)); }

// A UDP socket on 127.0.0.<host>: the world server (host 1) or a browser.
struct Peer {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    uint16_t port = 0;  // host order
    explicit Peer(int host = 1) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ip(host);
        socklen_t n = sizeof a;
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
    }
    ~Peer() { close(fd); }
    void send(const std::string& d) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ip(1);
        a.sin_port = htons(avatar_local_port());
        sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    // Everything that arrived, once the browser's last frame has had time.
    std::vector<std::string> take() const {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::vector<std::string> out;
        char b[600];
        for (ssize_t n; (n = recv(fd, b, sizeof b, 0)) >= 0;) out.emplace_back(b, static_cast<size_t>(n));
        return out;
    }
};

struct Rec {
    int host;
    uint16_t port;
    int dx = 0, dy = 0, dz = 0, yaw = 0, type = 0, gesture = 0;
};
std::string update(const std::vector<Rec>& records, int32_t bx = 1000, int32_t by = 0, int32_t bz = -2000) {
    Wire w;
    w.u8(2).u32(static_cast<uint32_t>(bx)).u32(static_cast<uint32_t>(by)).u32(static_cast<uint32_t>(bz));
    for (const Rec& r : records)
        w.u32(0x7F000000u | static_cast<uint32_t>(r.host)).u16(r.port).u16(r.dx).u16(r.dy).u16(r.dz).u16(r.yaw)
            .u8(r.type).u8(0).u8(r.gesture);
    return w.s();
}
std::string text(int type, int sequence, const std::string& line) { return Wire().u8(type).u8(sequence).text(line).s(); }
std::string relayed(int sequence, int host, uint16_t port, const std::string& line) {
    return Wire().u8(3).u8(sequence).u32(0x7F000000u | static_cast<uint32_t>(host)).u16(port).text(line).s();
}

class AvatarTest : public test::ArtServer {
protected:
    void SetUp() override {
        test::ArtServer::SetUp();
        g_server_port = htons(world.port);
        AvatarPorts& p = avatar_ports();
        p.frame_now = [] { return g_frame; };
        p.now = [] { return g_now; };
        p.server_address = [] { return ip(1); };
        p.server_port = [] { return g_server_port; };
        p.world_entered = [] { return true; };
        p.whos_at = [](const uint8_t u[4]) {
            g_asked.emplace_back(reinterpret_cast<const char*>(u), 4);
            return 0;
        };
        AvatarHooks& h = avatar_hooks();
        h.console_print = [](int style, const std::string& t) { g_printed.emplace_back(style, t); };
        h.balloon_create = [] {
            static char slots[64];
            static int next = 0;
            Balloon* b = reinterpret_cast<Balloon*>(&slots[next++ % 64]);
            g_balloons[b] = "";
            return b;
        };
        h.balloon_set_text = [](Balloon* b, const std::string& t) { g_balloons.at(b) = t; };
        h.balloon_destroy = [](Balloon* b) { EXPECT_EQ(g_balloons.erase(b), 1u); };
        h.menu_rebuild_avatars = [](int count, const char* names) {
            std::string all;
            for (int i = 0; i < count; names += std::strlen(names) + 1, ++i) all += std::string(names) + " ";
            g_menus.push_back(all);
        };
        g_asked.clear(), g_printed.clear(), g_balloons.clear(), g_menus.clear();
        avatar_set_port_range(0, 0);
        ASSERT_EQ(avatar_init(), 0);
        avatar_reload_list();  // nothing published: the built-in type alone
        ASSERT_TRUE(settle());
    }
    void TearDown() override {
        avatar_term();
        EXPECT_TRUE(g_balloons.empty()) << "every balloon is destroyed with its avatar";
        avatar_hooks() = AvatarHooks{};
        avatar_ports_restore();
        test::ArtServer::TearDown();
    }
    // One frame, `ms` after the last.
    void frame(uint32_t ms = 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        g_frame += ms, g_now += ms;
        avatar_update();
    }
    // The avatar at 127.0.0.<host>:port, or null.
    static const AvatarInfo* find(const std::vector<AvatarInfo>& all, int host, uint16_t port) {
        for (const AvatarInfo& a : all)
            if (a.address == ip(host) && ntohs(a.port) == port) return &a;
        return nullptr;
    }

    Peer world{1};
};

}  // namespace

TEST_F(AvatarTest, UpdatesMakeRecordsThenFiguresAndDropMissingUsersAtOnce) {
    const Rec ann{2, 4000, 500, 170, -300, 900, 0, 0}, bob{3, 4001};
    // A second update in the same frame is ignored (had it counted, Bob
    // would be gone and Ann would have her figure).
    world.send(update({ann, bob}));
    world.send(update({ann}));
    frame();
    auto all = avatar_list();
    ASSERT_EQ(all.size(), 2u);
    const AvatarInfo* a = find(all, 2, 4000);
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->figure || a->scene) << "a new user has a record but no figure";
    EXPECT_FLOAT_EQ(a->x, 1.5f);
    EXPECT_FLOAT_EQ(a->y, 0.17f);
    EXPECT_FLOAT_EQ(a->z, -2.3f);
    EXPECT_FLOAT_EQ(a->yaw, 90.0f);

    world.send(update({ann, bob}));
    frame();
    all = avatar_list();
    ASSERT_EQ(all.size(), 2u);
    for (const AvatarInfo& i : all) EXPECT_TRUE(i.figure && i.scene) << "the second update brings the figure";
    EXPECT_EQ(find(all, 2, 4000)->type, 0);

    world.send(update({bob}));
    frame();
    all = avatar_list();
    ASSERT_EQ(all.size(), 1u) << "a user missing from an update goes at once";
    EXPECT_TRUE(find(all, 3, 4001));

    // Type 0xFF (none reported) keeps the figure 0.17 lower; a type beyond
    // the table shows the first.
    world.send(update({Rec{3, 4001, 0, 0, 0, 0, 0xFF, 0xFF}}));
    frame();
    EXPECT_FLOAT_EQ(avatar_list()[0].y, -0.17f);
    world.send(update({Rec{3, 4001, 0, 0, 0, 0, 200, 1}}));
    frame();
    EXPECT_EQ(avatar_list()[0].type, 200);
    EXPECT_FLOAT_EQ(avatar_list()[0].y, 0.0f);
    world.send(update({}));
    frame();
    EXPECT_TRUE(avatar_list().empty());
}

TEST_F(AvatarTest, HostileDatagramsAreCheckedBeforeTheyAreRead) {
    world.send(update({{2, 4000}}));
    frame();
    Peer stranger{1}, other{4};
    std::vector<Rec> many;
    for (int i = 0; i < 25; ++i) many.push_back({2, static_cast<uint16_t>(4000 + i), i});
    struct Case {
        const Peer* from;
        std::string datagram;
        size_t avatars;  // after the frame
        const char* what;
    };
    const std::vector<Case> cases = {
        {&stranger, update({}), 1, "an update from another port of the server's address"},
        {&other, update({}), 1, "an update from another address"},
        {&other, relayed(1, 2, 4000, "Ann: spoofed"), 1, "a relayed text from another address"},
        {&world, update({}).substr(0, 12), 1, "an update cut inside its base"},
        {&world, update({{2, 4000}, {3, 4001}}).substr(0, 13 + 17 + 16), 1, "a cut record is not read"},
        {&world, std::string(600, '\x02'), 1, "a datagram over 512 bytes"},
        {&world, std::string("\x03\x01\x7f\x00\x00", 5), 1, "a relayed text cut in its sender"},
        {&world, std::string("\x01", 1), 1, "an acknowledgement without its sequence"},
        {&world, std::string("\x09\x00", 2), 1, "an unknown type"},
        {&world, update(many), 18, "records past the 18th are ignored"},
    };
    for (const Case& c : cases) {
        c.from->send(c.datagram);
        frame();
        auto all = avatar_list();
        EXPECT_EQ(all.size(), c.avatars) << c.what;
        if (c.avatars == 1) {
            EXPECT_TRUE(find(all, 2, 4000)) << c.what;
        }
    }
    EXPECT_TRUE(g_printed.empty());
    EXPECT_TRUE(g_asked.empty());

    // Strangers cannot grow the name table without end, nor make the
    // universe be asked more than a few times a second.
    for (uint32_t i = 0; i < 3000; ++i) {
        const std::string d = text(0, 1, "X: hello");
        avatar_receive(reinterpret_cast<const uint8_t*>(d.data()), d.size(), htonl(0x7F100000u + i), htons(9));
    }
    EXPECT_EQ(avatar_name_count(), kAvatarNamesMax);
    EXPECT_EQ(g_asked.size(), size_t(kAvatarAsksPerSecond));
}

TEST_F(AvatarTest, AFloodNeitherCrashesNorStallsAFrame) {
    world.send(update({{2, 4000}}));
    frame();
    Peer flood{5};
    std::string junk = text(0, 0, "Mallory: buy now");
    for (int i = 0; i < 10000; ++i) {
        junk[1] = static_cast<char>(i);
        flood.send(i % 3 ? junk : update({{2, 4000}}).substr(0, static_cast<size_t>(i % 40)));
    }
    frame(1);
    const size_t acks = flood.take().size();
    EXPECT_TRUE(acks > 0 && acks <= size_t(kAvatarReadsPerFrame)) << acks << " read in one frame";
    double slowest = 0;
    for (int f = 0; f < 200; ++f) {
        const auto start = std::chrono::steady_clock::now();
        frame(1);
        slowest = std::max(slowest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    EXPECT_LT(slowest, 40.0);
    EXPECT_EQ(avatar_list().size(), 1u);
    EXPECT_LE(g_asked.size(), 1u) << "one address, asked once in 5 s";
}

TEST_F(AvatarTest, LinesFromOthersAreShownOnceAndNamesConfirmed) {
    Peer bob{3};
    world.send(update({{3, bob.port}}));
    frame();
    world.send(update({{3, bob.port}}));
    frame();

    // A name the address is not known by waits for the universe's word.
    bob.send(text(0, 7, "Bob: hello there"));
    frame();
    EXPECT_EQ(bob.take(), std::vector<std::string>{std::string("\x01\x07", 2)});
    ASSERT_EQ(g_asked, std::vector<std::string>{std::string("\x7f\x00\x00\x03", 4)});
    EXPECT_TRUE(g_printed.empty());
    avatar_whos_at_reply(reinterpret_cast<const uint8_t*>(g_asked[0].data()), 0, "Bob");
    EXPECT_EQ(g_printed, (std::vector<std::pair<int, std::string>>{{0, "Bob: hello there"}}));
    ASSERT_TRUE(avatar_list()[0].balloon);
    EXPECT_EQ(g_balloons.begin()->second, "Bob: hello there");

    struct Case {
        const Peer* from;
        std::string datagram;
        std::vector<std::pair<int, std::string>> printed;
        const char* what;
    };
    const std::vector<Case> cases = {
        {&bob, text(0, 7, "Bob: hello there"), {}, "a direct repeat with the same sequence"},
        {&bob, text(0, 8, "Bob: again"), {{0, "Bob: again"}}, "the known name is shown at once"},
        {&world, relayed(9, 3, bob.port, "Bob: to all"), {{1, "Bob: to all"}}, "relayed lines are bold"},
        {&bob, text(0, 10, "Bob: direct"), {{0, "Bob: direct"}}, "between the relayed line and its repeat"},
        {&world, relayed(9, 3, bob.port, "Bob: to all"), {}, "a relayed repeat"},
        {&world, relayed(9, 6, 5000, "\"Tom: hi"), {{1, "\"Tom: hi"}}, "a tourist's name, same sequence, other sender"},
        {&bob, text(0, 11, ":no name"), {}, "no name before the colon"},
        {&bob, text(0, 12, "Bob:"), {{0, "Bob: "}}, "an empty message"},
        {&bob, text(0, 13, "Bob: a\nEve: b"), {{0, "Bob: a Eve: b"}}, "control bytes cannot fake a console line"},
    };
    for (const Case& c : cases) {
        g_printed.clear();
        c.from->send(c.datagram);
        frame();
        EXPECT_EQ(g_printed, c.printed) << c.what;
    }
    int acks = 0;
    for (const std::string& d : world.take()) acks += d == std::string("\x01\x09", 2);
    EXPECT_EQ(acks, 3) << "every relayed line is acknowledged to the server";

    // Muted: the balloon still says something was said, the console not.
    avatar_toggle_mute(ip(3));
    g_printed.clear();
    bob.send(text(0, 14, "Bob: secret"));
    frame();
    EXPECT_TRUE(g_printed.empty());
    EXPECT_EQ(g_balloons.begin()->second, "Bob: <muted>");
    // After 30 s the balloon shows the name again.
    frame(kAvatarSpeechMs + 1);
    EXPECT_EQ(g_balloons.begin()->second, "Bob");
}

TEST_F(AvatarTest, OwnLinesAreSentResentAndAcknowledged) {
    Peer ann{2}, bob{3};
    world.send(update({{2, ann.port}, {3, bob.port}}));
    frame();
    const std::vector<std::string> state = world.take();
    ASSERT_EQ(state.size(), 1u);
    EXPECT_EQ(state[0].size(), 18u);
    EXPECT_EQ(state[0][0], 0);
    frame();
    EXPECT_TRUE(world.take().empty()) << "the state goes once a second";

    const std::string line = "Eve: hello";
    avatar_send_chat(line.data(), line.size());
    EXPECT_EQ(g_printed.back(), (std::pair<int, std::string>{0, line}));
    const std::string sent = text(0, 1, line);
    EXPECT_EQ(ann.take(), std::vector<std::string>{sent});
    EXPECT_EQ(bob.take(), std::vector<std::string>{sent});
    ann.send(std::string("\x01\x01", 2));
    bob.send(std::string("\x01\x00", 2));  // not the current sequence
    frame(kAvatarResendMs + 1);
    EXPECT_TRUE(ann.take().empty()) << "acknowledged";
    EXPECT_EQ(bob.take(), std::vector<std::string>{sent});
    int resends = 1;
    for (int i = 0; i < 15; ++i, frame(kAvatarResendMs + 1)) resends += static_cast<int>(bob.take().size());
    EXPECT_EQ(resends, kAvatarResends);

    // A public speaker's line goes to the server, padded when 16 bytes long,
    // until the server (and nobody else) acknowledges it.
    avatar_set_public_speaker(true);
    const std::string sixteen = "Eve: 14 bytes!";
    world.take();
    avatar_send_chat(sixteen.data(), sixteen.size());
    EXPECT_EQ(g_printed.back().first, 1);
    EXPECT_EQ(world.take(), std::vector<std::string>{text(2, 2, sixteen) + std::string(1, '\0')});
    ann.send(std::string("\x01\x02", 2));
    frame(kAvatarResendMs + 1);
    EXPECT_EQ(world.take().size(), 2u) << "the state and the resent line";
    world.send(std::string("\x01\x02", 2));
    frame(kAvatarResendMs + 1);
    EXPECT_EQ(world.take().size(), 1u) << "only the state";

    // Disabled: figures go, records stay, nothing is sent.
    avatar_set_enabled(false);
    avatar_send_chat(line.data(), line.size());
    frame(kAvatarStateMs + 1);
    EXPECT_TRUE(world.take().empty());
    EXPECT_EQ(avatar_list().size(), 2u);
    avatar_set_enabled(true);

    // Another world: the old server is told twice that the user left.
    Peer next{1};
    g_server_port = htons(next.port);
    avatar_drop_all();
    EXPECT_EQ(world.take(), (std::vector<std::string>{"\x03", "\x03"}));
    EXPECT_TRUE(avatar_list().empty());
    frame();
    EXPECT_EQ(next.take().size(), 1u) << "the state goes to the new server";
    avatar_term();
    EXPECT_EQ(next.take(), (std::vector<std::string>{"\x03", "\x03"}));
}

TEST_F(AvatarTest, TheWorldsAvatarTableIsFetchedUnpackedAndLoaded) {
    EXPECT_EQ(g_menus, std::vector<std::string>{"cy "}) << "a table that cannot be fetched leaves the built-in type";
    publish("avatars/avatars.zip", server::zip_single("avatars.dat", "# animation registry version 0.3\nversion 3\n"
                                                                      "avatar name = andy endavatar\n"
                                                                      "avatar name = beth endavatar\n"));
    avatar_reload_list();
    ASSERT_TRUE(settle());
    EXPECT_EQ(g_menus.back(), "andy beth ");
    // Known now: loaded at once.
    g_menus.clear();
    avatar_reload_list();
    EXPECT_EQ(g_menus, std::vector<std::string>{"andy beth "});
}
