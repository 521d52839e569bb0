#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "server/world_server.h"
#include "server/world_store.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"

using namespace zk;
using zk::server::WorldServer;
using zk::test::TempDir;

namespace {

constexpr uint32_t kOwner = 1, kAlice = 2, kBob = 3;

void p16(std::string& s, int v) {
    s.push_back(static_cast<char>((v >> 8) & 255));
    s.push_back(static_cast<char>(v & 255));
}
void p32(std::string& s, uint32_t v) {
    p16(s, static_cast<int>(v >> 16));
    p16(s, static_cast<int>(v & 0xFFFF));
}
uint32_t g32(const std::string& s, size_t at) {
    auto b = [&](size_t i) { return uint32_t{static_cast<uint8_t>(s[at + i])}; };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}
int g16(const std::string& s, size_t at) {
    return static_cast<int16_t>((static_cast<uint8_t>(s[at]) << 8) | static_cast<uint8_t>(s[at + 1]));
}

std::string add_request(uint32_t citizen, int32_t x, int32_t y, int32_t z, const std::string& model,
                        const std::string& desc = "", const std::string& action = "", int yaw = 0) {
    std::string m(1, 0);
    m.push_back(0);
    p16(m, yaw);
    p32(m, 0);
    p32(m, citizen);
    p32(m, static_cast<uint32_t>(x));
    p32(m, static_cast<uint32_t>(y));
    p32(m, static_cast<uint32_t>(z));
    m.push_back(static_cast<char>(model.size()));
    m.push_back(static_cast<char>(desc.size()));
    m.push_back(static_cast<char>(action.size()));
    return m + model + desc + action;
}

std::string change_request(uint32_t citizen, int number, uint32_t owner, int32_t x, int32_t z, int old_cx,
                           int old_cz, const std::string& model, const std::string& action = "") {
    std::string m(1, 7);
    m.push_back(static_cast<char>(number));
    p16(m, 0);
    p32(m, 0);
    p32(m, citizen);
    p32(m, owner);
    p32(m, static_cast<uint32_t>(x));
    p32(m, 0);
    p32(m, static_cast<uint32_t>(z));
    p16(m, old_cx);
    p16(m, old_cz);
    m.push_back(static_cast<char>(model.size()));
    m.push_back(0);
    m.push_back(static_cast<char>(action.size()));
    return m + model + action;
}

std::string delete_request(uint32_t citizen, int number, int cx, int cz) {
    std::string m(1, 2);
    m.push_back(static_cast<char>(number));
    p16(m, 0);
    p16(m, cx);
    p16(m, cz);
    p32(m, 0);
    p32(m, citizen);
    return m;
}

std::string query_request(uint32_t citizen, int sx, int sz, const std::vector<uint32_t>& stamps) {
    std::string m(1, 3);
    m.append(3, '\0');
    p16(m, sx);
    p16(m, sz);
    for (int i = 0; i < 9; ++i) p32(m, i < static_cast<int>(stamps.size()) ? stamps[i] : 0);
    p32(m, citizen);
    return m;
}

std::string attributes_request(uint32_t citizen) {
    std::string m(1, 5);
    m.append(3, '\0');
    p32(m, citizen);
    return m;
}

// What a query reply said, decoded as the browser would.
struct Decoded {
    struct Obj {
        int cx, cz, number;
        uint32_t owner;
        int x, y, z;
        std::string model, desc, action;
    };
    std::vector<Obj> objects;
    std::vector<std::pair<std::pair<int, int>, int>> gone;  // cell, number
    std::map<std::pair<int, int>, uint32_t> stamps;
    bool well_formed = true;
};

Decoded decode(const std::string& body) {
    Decoded d;
    size_t at = 0;
    int cx = 0, cz = 0;
    while (at < body.size()) {
        int tag = static_cast<uint8_t>(body[at++]);
        if (tag == 0 && at + 4 <= body.size()) {
            cx = g16(body, at);
            cz = g16(body, at + 2);
            at += 4;
        } else if (tag == 1) {
        } else if (tag == 2 && at + 19 <= body.size()) {
            Decoded::Obj o{};
            o.cx = cx;
            o.cz = cz;
            o.number = static_cast<uint8_t>(body[at]);
            o.owner = g32(body, at + 1);
            o.x = g16(body, at + 9);
            o.y = g16(body, at + 11);
            o.z = g16(body, at + 13);
            size_t a = static_cast<uint8_t>(body[at + 17]), b = static_cast<uint8_t>(body[at + 18]),
                   c = static_cast<uint8_t>(body[at + 19]);
            at += 20;
            o.model = body.substr(at, a);
            o.desc = body.substr(at + a, b);
            o.action = body.substr(at + a + b, c);
            at += a + b + c;
            d.objects.push_back(o);
        } else if (tag == 3 && at + 1 <= body.size()) {
            d.gone.push_back({{cx, cz}, static_cast<uint8_t>(body[at++])});
        } else if (tag == 4 && at + 8 <= body.size()) {
            d.stamps[{g16(body, at), g16(body, at + 2)}] = g32(body, at + 4);
            at += 8;
        } else {
            d.well_formed = false;
            break;
        }
    }
    return d;
}

class WorldServerTest : public ::testing::Test {
protected:
    void SetUp() override { start(); }
    void start() {
        ASSERT_EQ(store_.open(dir_.file("world.db")), "");
        server::WorldConfig config;
        config.name = "zk";
        config.owner = kOwner;
        config.radius_cells = 1000;
        server_ = std::make_unique<WorldServer>(store_, config);
        server_->set_identity_check([this](uint32_t citizen, uint32_t) { return citizen != rejected_; });
        ASSERT_EQ(server_->listen_on("127.0.0.1", 0), "");
        thread_ = std::make_unique<test::ServiceThread>(std::vector<server::Service*>{server_.get()});
        client_ = std::make_unique<test::Client>(server_->port());
    }
    void stop() {
        client_.reset();
        thread_.reset();
        server_.reset();
    }
    void TearDown() override { stop(); }

    std::string call(const std::string& request) { return call_on(*client_, request); }
    std::string call_on(test::Client& c, const std::string& request) {
        c.send_bytes(request);
        std::string head, body;
        if (!c.read_exact(head, 2)) return "<no reply>";
        size_t n = (size_t{static_cast<uint8_t>(head[0])} << 8) | static_cast<uint8_t>(head[1]);
        if (n && !c.read_exact(body, n)) return "<cut reply>";
        return body;
    }
    int status(const std::string& request) {
        std::string r = call(request);
        return r.size() == 1 ? static_cast<uint8_t>(r[0]) : -1;
    }
    void set_attributes(uint32_t citizen, const std::map<int, std::string>& list, int expect) {
        std::string m(1, 6);
        m.append(3, '\0');
        p32(m, citizen);
        for (const auto& [id, v] : list) {
            m.push_back(static_cast<char>(id));
            m.push_back(static_cast<char>(v.size()));
            m += v;
        }
        EXPECT_EQ(status(m), expect);
    }

    TempDir dir_;
    server::WorldStore store_;
    std::unique_ptr<WorldServer> server_;
    std::unique_ptr<test::ServiceThread> thread_;
    std::unique_ptr<test::Client> client_;
    uint32_t rejected_ = 999;
};

}  // namespace

TEST_F(WorldServerTest, QueryBringsObjectsAndThenNothingForCurrentTimestamps) {
    ASSERT_EQ(status(add_request(kOwner, 1500, 200, -2250, "tree1", "A tree", "create color red")), 0);
    ASSERT_EQ(status(add_request(kOwner, 1700, 0, -2100, "bench")), 0);

    Decoded d = decode(call(query_request(kOwner, 0, 0, {})));
    ASSERT_TRUE(d.well_formed);
    ASSERT_EQ(d.objects.size(), 2u);
    EXPECT_EQ(d.objects[0].cx, 1);
    EXPECT_EQ(d.objects[0].cz, -3);
    EXPECT_EQ(d.objects[0].x, 500);
    EXPECT_EQ(d.objects[0].z, 750) << "offsets count from the cell corner";
    EXPECT_EQ(d.objects[0].y, 200);
    EXPECT_EQ(d.objects[0].model, "tree1");
    EXPECT_EQ(d.objects[0].desc, "A tree");
    EXPECT_EQ(d.objects[0].action, "create color red");
    EXPECT_EQ(d.objects[0].owner, kOwner);
    EXPECT_NE(d.objects[0].number, d.objects[1].number);
    ASSERT_EQ(d.stamps.size(), 1u);
    uint32_t stamp = d.stamps[{0, 0}];
    EXPECT_NE(stamp, 0u);

    // Holding the current timestamp, nothing comes back.
    std::vector<uint32_t> held(9, 0);
    held[4] = stamp;
    EXPECT_EQ(call(query_request(kOwner, 0, 0, held)), "");

    // A change in the sector issues a new timestamp and only the change.
    ASSERT_EQ(status(add_request(kOwner, 2100, 0, 100, "lamp")), 0);
    d = decode(call(query_request(kOwner, 0, 0, held)));
    ASSERT_EQ(d.objects.size(), 1u);
    EXPECT_EQ(d.objects[0].model, "lamp");
    EXPECT_GT((d.stamps[{0, 0}]), stamp);
}

TEST_F(WorldServerTest, QueryCoversTheNineSectorsInOrder) {
    // One object in each of the 3 x 3 sectors around sector (1, -1).
    for (int sz = -2; sz <= 0; ++sz)
        for (int sx = 0; sx <= 2; ++sx)
            ASSERT_EQ(status(add_request(kOwner, sx * 6000 + 500, 0, sz * 6000 + 500, "m")), 0);
    ASSERT_EQ(status(add_request(kOwner, 30000, 0, 30000, "far")), 0);
    Decoded d = decode(call(query_request(kOwner, 1, -1, {})));
    ASSERT_EQ(d.objects.size(), 9u);
    EXPECT_EQ(d.stamps.size(), 9u);
    // z - 1 first, x - 1 first within it.
    EXPECT_EQ(d.objects[0].cx, 0);
    EXPECT_EQ(d.objects[0].cz, -12);
    EXPECT_EQ(d.objects[1].cx, 6);
    EXPECT_EQ(d.objects[8].cx, 12);
    EXPECT_EQ(d.objects[8].cz, 0);
}

TEST_F(WorldServerTest, DeletesAndMovesAreSentAsGoneAndNew) {
    ASSERT_EQ(status(add_request(kAlice, 500, 0, 500, "chair")), 110) << "nobody but the owner builds by default";
    set_attributes(kOwner, {{6, "*"}}, 0);
    ASSERT_EQ(status(add_request(kAlice, 500, 0, 500, "chair")), 0);
    Decoded first = decode(call(query_request(kAlice, 0, 0, {})));
    ASSERT_EQ(first.objects.size(), 1u);
    int number = first.objects[0].number;
    std::vector<uint32_t> held(9, 0);
    held[4] = first.stamps[{0, 0}];

    // Move to cell (1, 0): gone from (0, 0), new in (1, 0).
    ASSERT_EQ(status(change_request(kAlice, number, kAlice, 1500, 500, 0, 0, "chair")), 0);
    Decoded d = decode(call(query_request(kAlice, 0, 0, held)));
    ASSERT_EQ(d.gone.size(), 1u);
    EXPECT_EQ(d.gone[0].first, std::make_pair(0, 0));
    EXPECT_EQ(d.gone[0].second, number);
    ASSERT_EQ(d.objects.size(), 1u);
    EXPECT_EQ(d.objects[0].cx, 1);
    held[4] = d.stamps[{0, 0}];

    ASSERT_EQ(status(delete_request(kAlice, d.objects[0].number, 1, 0)), 0);
    d = decode(call(query_request(kAlice, 0, 0, held)));
    EXPECT_TRUE(d.objects.empty());
    ASSERT_EQ(d.gone.size(), 1u);
    EXPECT_EQ(d.gone[0].first, std::make_pair(1, 0));
    EXPECT_EQ(status(delete_request(kAlice, 7, 1, 0)), 101) << "nothing there: silent";
}

TEST_F(WorldServerTest, BuildingRightsAreChecked) {
    set_attributes(kOwner, {{6, "2, 3"}, {7, ""}, {15, "50"}}, 0);
    ASSERT_EQ(status(add_request(kAlice, 9500, 0, 9500, "wall")), 0);
    Decoded d = decode(call(query_request(kAlice, 2, 2, {})));
    ASSERT_EQ(d.objects.size(), 1u);
    const int n = d.objects[0].number;

    EXPECT_EQ(status(change_request(kBob, n, kAlice, 9600, 9500, 9, 9, "wall")), 3);
    EXPECT_EQ(status(delete_request(kBob, n, 9, 9)), 102);
    EXPECT_EQ(status(change_request(kAlice, n, kBob, 9500, 9500, 9, 9, "wall")), 11);
    EXPECT_EQ(status(add_request(0, 9500, 0, 9500, "wall")), 110) << "tourists do not build";
    EXPECT_EQ(status(delete_request(0, n, 9, 9)), 102) << "nor demolish";
    EXPECT_EQ(status(change_request(0, n, kAlice, 9600, 9500, 9, 9, "wall")), 3);
    EXPECT_EQ(status(add_request(kAlice, 9500, 0, 9500, "zspecial")), 113);
    EXPECT_EQ(status(add_request(kAlice, 9500, 0, 9500, "wall", "", "bump teleport lagoon")), 109);
    EXPECT_EQ(status(add_request(kAlice, 3000, 0, 3000, "wall")), 114) << "4.2 units = 42 m from ground zero";
    EXPECT_EQ(status(add_request(kAlice, 2000000, 0, 0, "wall")), 111);
    // The owner may do all of it.
    EXPECT_EQ(status(add_request(kOwner, 3000, 0, 3000, "zspecial", "", "activate teleport lagoon")), 0);
    EXPECT_EQ(status(delete_request(kOwner, n, 9, 9)), 0);

    // A full cell refuses more.
    int result = 0;
    for (int i = 0; i < 100 && result == 0; ++i)
        result = status(add_request(kAlice, 12500 + i, 0, 12500, "a-model-with-a-long-name", "described at length"));
    EXPECT_EQ(result, 103);
}

TEST_F(WorldServerTest, IdentityIsCheckedForEveryRequest) {
    rejected_ = kAlice;
    EXPECT_EQ(status(add_request(kAlice, 500, 0, 500, "x")), 12);
    EXPECT_EQ(status(query_request(kAlice, 0, 0, {})), 12);
    EXPECT_NE(call(query_request(0, 0, 0, {})), "<no reply>") << "tourists need no identity";
}

TEST_F(WorldServerTest, AttributesArePerUserAndOnlyTheOwnerWritesThem) {
    set_attributes(kOwner, {{0, "Zelnik Town"}, {8, "1, 2"}, {18, "2"}, {22, "\x01\x02secret"}}, 0);
    auto list = [](const std::string& body) {
        std::map<int, std::string> m;
        size_t at = 0;
        while (at + 2 <= body.size()) {
            size_t n = static_cast<uint8_t>(body[at + 1]);
            m[static_cast<uint8_t>(body[at])] = body.substr(at + 2, n);
            at += 2 + n;
        }
        return m;
    };
    auto owner = list(call(attributes_request(kOwner)));
    EXPECT_EQ(owner[0], "Zelnik Town");
    EXPECT_EQ(owner[14], "Y");
    EXPECT_EQ(owner[16], "zk");
    EXPECT_EQ(owner[22], "\x01\x02secret");
    auto alice = list(call(attributes_request(kAlice)));
    EXPECT_EQ(alice.count(14), 0u);
    EXPECT_EQ(alice[17], "Y") << "a public speaker";
    EXPECT_EQ(alice[16], "zk");
    EXPECT_EQ(status(attributes_request(kBob)), 1) << "not on the enter list";

    set_attributes(kAlice, {{0, "Alice Town"}}, 3);
    EXPECT_EQ(list(call(attributes_request(kOwner)))[0], "Zelnik Town");
    // Computed numbers sent by a browser are not stored.
    set_attributes(kOwner, {{0, "Two"}, {8, "*"}, {14, "Y"}, {16, "evil"}, {40, "x"}}, 0);
    auto bob = list(call(attributes_request(kBob)));
    EXPECT_EQ(bob[0], "Two");
    EXPECT_EQ(bob.count(14), 0u);
    EXPECT_EQ(bob[16], "zk");
    EXPECT_EQ(bob.count(40), 0u);
}

TEST_F(WorldServerTest, ObjectsAndTimestampsSurviveARestart) {
    ASSERT_EQ(status(add_request(kOwner, 500, 0, 500, "statue")), 0);
    Decoded before = decode(call(query_request(kOwner, 0, 0, {})));
    stop();
    start();
    Decoded after = decode(call(query_request(kOwner, 0, 0, {})));
    ASSERT_EQ(after.objects.size(), 1u);
    EXPECT_EQ(after.objects[0].model, "statue");
    EXPECT_EQ(after.stamps, before.stamps);
}

TEST_F(WorldServerTest, LongRepliesComeInPartsThatMakeProgress) {
    // Fill many sectors; every reply stays bounded and re-asking with the
    // timestamps received so far brings the rest.
    for (int s = -1; s <= 1; ++s)
        for (int t = -1; t <= 1; ++t)
            for (int i = 0; i < 60; ++i)
                ASSERT_EQ(status(add_request(kOwner, (6 * s - 3 + i % 6) * 1000 + 100 + i / 36 * 300, 0,
                                             (6 * t - 3 + i / 6 % 6) * 1000 + 100,
                                             "model" + std::to_string(i), "an object of the test")),
                          0);
    std::vector<uint32_t> held(9, 0);
    size_t objects = 0;
    int replies = 0;
    for (; replies < 20; ++replies) {
        std::string body = call(query_request(kOwner, 0, 0, held));
        if (body.empty()) break;
        EXPECT_LE(body.size(), WorldServer::kReplyTarget);
        Decoded d = decode(body);
        ASSERT_TRUE(d.well_formed);
        ASSERT_FALSE(d.stamps.empty()) << "each reply completes at least one sector";
        objects += d.objects.size();
        for (auto& [sector, stamp] : d.stamps) held[(sector.second + 1) * 3 + (sector.first + 1)] = stamp;
    }
    EXPECT_GT(replies, 1);
    EXPECT_EQ(objects, 540u);
}

TEST_F(WorldServerTest, HostileRequestsCloseOnlyThatConnection) {
    test::Client junk(server_->port());
    junk.send_bytes(std::string("\x09garbage", 8));
    EXPECT_TRUE(junk.closed_by_peer());
    test::Client list(server_->port());
    list.send_bytes(std::string("\x06\0\0\0\0\0\0\x01", 8) + "\x05" + "\x50" + "ab");  // entry longer than what follows
    EXPECT_TRUE(list.closed_by_peer());
    // A request split into single bytes is still one request.
    test::Client slow(server_->port());
    std::string q = query_request(0, 0, 0, {});
    for (char ch : q) slow.send_bytes(std::string(1, ch));
    EXPECT_EQ(call_on(slow, ""), "");
    EXPECT_EQ(status(add_request(kOwner, INT32_MIN, 0, -2147482000, "edge")), WorldServer::beyond_limits);
    EXPECT_EQ(status(add_request(kOwner, 500, 0, 500, "ok")), 0);
}
