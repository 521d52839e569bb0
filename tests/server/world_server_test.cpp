#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "server/world_server.h"
#include "server/world_store.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"
#include "support/wire.h"

using namespace zk;
using zk::server::WorldServer;
using zk::test::TempDir;
using zk::test::reader;
using zk::test::Wire;

namespace {

constexpr uint32_t kOwner = 1, kAlice = 2, kBob = 3, kStranger = 4;  // nobody the universe knows

std::string add_request(uint32_t citizen, int32_t x, int32_t y, int32_t z, const std::string& model,
                        const std::string& desc = "", const std::string& action = "") {
    return Wire().u8(0).u8(0).u16(0).u32(0).u32(citizen).u32(x).u32(y).u32(z).u8(int(model.size()))
        .u8(int(desc.size())).u8(int(action.size())).text(model + desc + action).s();
}

std::string change_request(uint32_t citizen, int number, uint32_t owner, int32_t x, int32_t z, int old_cx,
                           int old_cz, const std::string& model) {
    return Wire().u8(7).u8(number).u16(0).u32(0).u32(citizen).u32(owner).u32(x).u32(0).u32(z).u16(old_cx)
        .u16(old_cz).u8(int(model.size())).u8(0).u8(0).text(model).s();
}

std::string delete_request(uint32_t citizen, int number, int cx, int cz) {
    return Wire().u8(2).u8(number).u16(0).u16(cx).u16(cz).u32(0).u32(citizen).s();
}

std::string query_request(uint32_t citizen, int sx, int sz, const std::vector<uint32_t>& stamps) {
    Wire w;
    w.u8(3).zeros(3).u16(sx).u16(sz);
    for (size_t i = 0; i < 9; ++i) w.u32(i < stamps.size() ? stamps[i] : 0);
    return w.u32(citizen).s();
}

std::string attributes_request(uint32_t citizen) { return Wire().u8(5).zeros(3).u32(citizen).s(); }

// What a query reply said, decoded as the browser would.
struct Decoded {
    struct Obj {
        int cx, cz, number;
    };
    std::vector<Obj> objects;
    std::map<std::pair<int, int>, uint32_t> stamps;
};

Decoded decode(const std::string& body) {
    Decoded d;
    FieldReader r = reader(body);
    int cx = 0, cz = 0;
    auto s16 = [&] { return static_cast<int>(static_cast<int16_t>(r.get_u16())); };
    while (r.ok() && r.remaining()) {
        const int tag = r.get_byte();
        if (tag == 0) {
            cx = s16();
            cz = s16();
        } else if (tag == 2) {
            d.objects.push_back({cx, cz, r.get_byte()});
            r.skip(4 + 4 + 3 * 2 + 2);  // owner, time, x y z, yaw
            const size_t texts = size_t{r.get_byte()} + r.get_byte() + r.get_byte();
            r.skip(texts);  // model, description, action
        } else if (tag == 3) {
            r.skip(1);
        } else if (tag == 4) {
            const int sx = s16(), sz = s16();
            d.stamps[{sx, sz}] = r.get_u32();
        } else if (tag != 1) {
            break;
        }
    }
    EXPECT_TRUE(r.ok() && r.remaining() == 0) << "a reply ends with its last record";
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
        server_->set_identity_check([](uint32_t citizen, uint32_t) { return citizen != kStranger; });
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
        Wire w;
        w.u8(6).zeros(3).u32(citizen);
        for (const auto& [id, v] : list) w.u8(id).str(v);
        EXPECT_EQ(status(w.s()), expect);
    }

    TempDir dir_;
    server::WorldStore store_;
    std::unique_ptr<WorldServer> server_;
    std::unique_ptr<test::ServiceThread> thread_;
    std::unique_ptr<test::Client> client_;
};

}  // namespace

// Adding, querying, changing and deleting as the browser does them are
// world/prop_server_test's; these are the server's own rules.
TEST_F(WorldServerTest, QueryCoversTheNineSectorsInOrderAndSurvivesARestart) {
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

    stop();
    start();
    Decoded after = decode(call(query_request(kOwner, 1, -1, {})));
    EXPECT_EQ(after.objects.size(), 9u);
    EXPECT_EQ(after.stamps, d.stamps);
}

TEST_F(WorldServerTest, BuildingRightsAndIdentitiesAreChecked) {
    ASSERT_EQ(status(add_request(kAlice, 500, 0, 500, "chair")), 110) << "nobody but the owner builds by default";
    set_attributes(kOwner, {{6, "2, 3"}, {7, ""}, {15, "50"}}, 0);
    ASSERT_EQ(status(add_request(kAlice, 9500, 0, 9500, "wall")), 0);
    Decoded d = decode(call(query_request(kAlice, 2, 2, {})));
    ASSERT_EQ(d.objects.size(), 1u);
    const int n = d.objects[0].number;

    EXPECT_EQ(status(change_request(kBob, n, kAlice, 9600, 9500, 9, 9, "wall")), 3);
    EXPECT_EQ(status(delete_request(kBob, n, 9, 9)), 102);
    EXPECT_EQ(status(change_request(kAlice, n, kBob, 9500, 9500, 9, 9, "wall")), 11);
    EXPECT_EQ(status(add_request(0, 9500, 0, 9500, "wall")), 110) << "tourists do not build";
    EXPECT_EQ(status(add_request(kAlice, 9500, 0, 9500, "zspecial")), 113);
    EXPECT_EQ(status(add_request(kAlice, 9500, 0, 9500, "wall", "", "bump teleport lagoon")), 109);
    EXPECT_EQ(status(add_request(kAlice, 3000, 0, 3000, "wall")), 114) << "4.2 units = 42 m from ground zero";
    EXPECT_EQ(status(add_request(kAlice, 2000000, 0, 0, "wall")), 111);
    // The owner may do all of it.
    EXPECT_EQ(status(add_request(kOwner, 3000, 0, 3000, "zspecial", "", "activate teleport lagoon")), 0);
    EXPECT_EQ(status(delete_request(kOwner, n, 9, 9)), 0);
    EXPECT_EQ(status(delete_request(kOwner, n, 9, 9)), 101) << "nothing there: silent";
    // Every request is checked against the universe's word for who is asking.
    EXPECT_EQ(status(add_request(kStranger, 500, 0, 500, "x")), 12);
    EXPECT_EQ(status(query_request(kStranger, 0, 0, {})), 12);
}

TEST_F(WorldServerTest, AttributesArePerUserAndOnlyTheOwnerWritesThem) {
    set_attributes(kOwner, {{0, "Zelnik Town"}, {8, "1, 2"}, {18, "2"}, {22, "\x01\x02secret"}}, 0);
    auto list = [this](uint32_t citizen) {
        const std::string body = call(attributes_request(citizen));
        FieldReader r = reader(body);
        std::map<int, std::string> m;
        while (r.ok() && r.remaining()) {
            const int id = r.get_byte();
            m[id] = r.get_string();
        }
        return m;
    };
    auto owner = list(kOwner);
    EXPECT_EQ(owner[0], "Zelnik Town");
    EXPECT_EQ(owner[14], "Y");
    EXPECT_EQ(owner[22], "\x01\x02secret");
    auto alice = list(kAlice);
    EXPECT_EQ(alice.count(14), 0u);
    EXPECT_EQ(alice[17], "Y") << "a public speaker";
    EXPECT_EQ(status(attributes_request(kBob)), 1) << "not on the enter list";

    set_attributes(kAlice, {{0, "Alice Town"}}, 3);
    EXPECT_EQ(list(kOwner)[0], "Zelnik Town");
    // Computed numbers sent by a browser are not stored.
    set_attributes(kOwner, {{0, "Two"}, {8, "*"}, {14, "Y"}, {16, "evil"}, {40, "x"}}, 0);
    auto bob = list(kBob);
    EXPECT_EQ(bob[0], "Two");
    EXPECT_EQ(bob.count(14), 0u);
    EXPECT_EQ(bob[16], "zk");
    EXPECT_EQ(bob.count(40), 0u);
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
    // A request split into single bytes is still one request; a tourist needs no identity.
    test::Client slow(server_->port());
    for (char ch : query_request(0, 0, 0, {})) slow.send_bytes(std::string(1, ch));
    EXPECT_EQ(call_on(slow, ""), "");
    EXPECT_EQ(status(add_request(kOwner, INT32_MIN, 0, -2147482000, "edge")), WorldServer::beyond_limits);
    EXPECT_EQ(status(add_request(kOwner, 500, 0, 500, "ok")), 0);
}
