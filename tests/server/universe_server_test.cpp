#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/fields.h"
#include "server/citizens.h"
#include "server/universe_server.h"
#include "server/world_server.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"
#include "support/wire.h"

using namespace zk;
using zk::test::TempDir;

namespace {

std::string frame(uint8_t code, const std::string& payload = {}) {
    return test::Wire().u16(static_cast<int>(1 + payload.size())).u8(code).text(payload).s();
}
std::string str(const std::string& s) { return test::Wire().str(s).s(); }
std::string u32(uint32_t v) { return test::Wire().u32(v).s(); }

struct Reply {
    uint8_t rc = 255, code = 255;
    std::string payload;
    bool ok = false;
};

Reply read_reply(test::Client& c) {
    Reply r;
    std::string head;
    if (!c.read_exact(head, 4)) return r;
    FieldReader h = test::reader(head);
    const size_t len = h.get_u16();
    r.rc = h.get_byte();
    r.code = h.get_byte();
    r.ok = len >= 2 && c.read_exact(r.payload, len - 2);
    return r;
}

class UniverseServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(citizens_.open(dir_.file("universe.db")), "");
        start(server::UniverseConfig{162, 170, true});
    }
    // (Re)starts the universe, on one loop with `others`.
    void start(const server::UniverseConfig& config, std::vector<server::Service*> others = {}) {
        thread_.reset();
        server_ = std::make_unique<server::UniverseServer>(citizens_, config);
        ASSERT_EQ(server_->listen_on("127.0.0.1", 0), "");
        server_->add_world("zk", 0x7F000001, 5671);
        server_->add_world("Atlantis", 0x7F000001, 5672);
        others.insert(others.begin(), server_.get());
        thread_ = std::make_unique<test::ServiceThread>(others);
    }
    void TearDown() override { thread_.reset(); }

    Reply request(test::Client& c, uint8_t code, const std::string& payload = {}) {
        c.send_bytes(frame(code, payload));
        return read_reply(c);
    }
    uint8_t immigrate(test::Client& c, const std::string& name, const std::string& pass, const std::string& email) {
        Reply r = request(c, 25, str(name) + str(pass) + std::string(1, 2) + str(email));
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.code, 1);
        return r.rc;
    }

    TempDir dir_;
    server::Citizens citizens_;
    std::unique_ptr<server::UniverseServer> server_;
    std::unique_ptr<test::ServiceThread> thread_;
};

}  // namespace

// Logins, immigration, attributes, world look-ups and the build check as the
// browser makes them are net/login_test's and world/world_test's.
TEST_F(UniverseServerTest, AChangedCitizenKeepsItsNumberAndOnlyHashesAreStored) {
    test::Client c(server_->port());
    ASSERT_EQ(immigrate(c, "Ann Lee", "secret1", "ann@example.org"), 0);
    // Each field is checked, name first; the rules themselves are validate_test's.
    EXPECT_EQ(immigrate(c, "A", "abc", "a@b.c"), 113);
    EXPECT_EQ(immigrate(c, "Ann", "abc", "a@b.c"), 116);
    EXPECT_EQ(immigrate(c, "Ann", "pass1", "a@b.c"), 106);
    Reply r = request(c, 30, str("Ann Lee") + str("secret1"));
    ASSERT_EQ(r.payload.size(), 4u);
    const uint32_t number = test::reader(r.payload).get_u32();

    r = request(c, 26, str("Ann Lee") + str("secret1") + std::string(1, 0) + str("Annabel") + std::string(1, 1) +
                           str("newpass") + std::string(1, 2) + str("annabel@example.org"));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(request(c, 30, str("Annabel") + str("secret1")).rc, 13) << "the old password stops working";
    r = request(c, 30, str("Annabel") + str("newpass"));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(test::reader(r.payload).get_u32(), number) << "the citizen keeps its number";
    EXPECT_EQ(request(c, 33, u32(number)).payload, u32(number) + str("Annabel"));
    r = request(c, 33, u32(9999));
    EXPECT_NE(r.rc, 0);
    EXPECT_EQ(r.payload, u32(9999)) << "the number comes back even when unknown";

    EXPECT_EQ(citizens_.by_name("Annabel")->password_hash.rfind("pbkdf2-sha256$", 0), 0u);
    std::string file = test::read_file(dir_.file("universe.db")) + test::read_file(dir_.file("universe.db-wal"));
    EXPECT_EQ(file.find("secret1"), std::string::npos);
    EXPECT_EQ(file.find("newpass"), std::string::npos);
}

TEST_F(UniverseServerTest, ATelegramNoticeReachesTheRecipientNotTheSender) {
    test::Client a(server_->port()), b(server_->port());
    ASSERT_EQ(immigrate(a, "Alice", "pass1", "alice@example.org"), 0);
    ASSERT_EQ(immigrate(a, "Bert", "pass2", "bert@example.org"), 0);
    ASSERT_EQ(request(a, 30, str("Alice") + str("pass1")).rc, 0);
    Reply r = request(b, 30, str("Bert") + str("pass2"));
    ASSERT_EQ(r.rc, 0);
    a.send_bytes(frame(35, r.payload + str("Meet me at the fountain")));
    EXPECT_EQ(read_reply(b).code, 9);
    r = request(b, 34);
    ASSERT_NE(r.payload.find("Meet me at the fountain"), std::string::npos);
    EXPECT_EQ(r.payload.back(), 0) << "nothing more waiting";
    EXPECT_NE(request(b, 34).rc, 0) << "a telegram is read once";
    EXPECT_EQ(request(a, 31).code, 7) << "nothing came to the sender before this reply";
}

TEST_F(UniverseServerTest, HostileFramesCloseOnlyThatConnectionAndUnknownCodesNone) {
    test::Client good(server_->port());
    ASSERT_EQ(immigrate(good, "Carol", "pass1", "carol@example.org"), 0);
    std::string noise;
    for (int i = 0; i < 3000; ++i) noise.push_back(static_cast<char>((i * 131) ^ 0x5A));
    // An empty frame, one longer than any, a string running past its frame, noise.
    for (const std::string& bytes : {std::string("\x00\x00", 2), std::string("\xFF\xFF\x1E", 3) + std::string(100, 'x'),
                                     frame(30, std::string(1, 50) + "abc"), noise}) {
        test::Client bad(server_->port());
        bad.send_bytes(bytes);
        EXPECT_TRUE(bad.closed_by_peer());
    }
    // Frames split across many small writes still arrive whole.
    test::Client slow(server_->port());
    for (char ch : frame(30, str("Carol") + str("pass1"))) slow.send_bytes(std::string(1, ch));
    EXPECT_EQ(read_reply(slow).rc, 0);

    // Keep-alives and unknown codes get no reply and leave the connection usable.
    good.send_bytes(frame(32) + frame(200, "junk"));
    EXPECT_EQ(request(good, 31).payload, str("zk") + str("Atlantis")) << "others are not disturbed";
}

TEST_F(UniverseServerTest, ALoginFloodStallsNoWorldAndIsAnsweredInOrder) {
    server::WorldStore store;
    ASSERT_EQ(store.open(dir_.file("world.db")), "");
    server::WorldServer world(store, {});
    ASSERT_EQ(world.listen_on("127.0.0.1", 0), "");
    server::UniverseConfig config;
    config.login_burst = 12;
    config.login_refill_ms = 0;  // no refill: the count below is exact
    start(config, {&world});
    struct Stop {  // the loop ends before the world it serves
        std::unique_ptr<test::ServiceThread>& thread;
        ~Stop() { thread.reset(); }
    } stop{thread_};
    ASSERT_GT(citizens_.add("Ann", "pass1", "ann@example.org"), 0u);

    test::Client flood(server_->port()), browser(world.port());
    std::string logins;
    for (int i = 0; i < 1500; ++i) logins += frame(30, str("Ann") + str(i % 2 ? "pass1" : "wrong"));
    flood.send_bytes(logins);
    for (int i = 0; i < 2000 && server_->request_count(30) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    std::string query(48, '\0'), head;
    query[0] = 3;
    const auto asked = std::chrono::steady_clock::now();
    browser.send_bytes(query);
    ASSERT_TRUE(browser.read_exact(head, 2));
    const auto waited = std::chrono::steady_clock::now() - asked;
    EXPECT_LT(waited, std::chrono::milliseconds(500));
    EXPECT_LT(server_->request_count(30), 12u) << "the query waited for the hashing";

    // Replies keep the order of the requests; past the allowance each login
    // is refused, and a client that goes on is cut off.
    for (int i = 0; i < 12; ++i) EXPECT_EQ(read_reply(flood).rc, i % 2 ? 0 : 13) << i;
    for (int i = 0; i <= server::UniverseServer::kMaxRefusals; ++i)
        EXPECT_EQ(read_reply(flood).rc, server::UniverseServer::kTryLater) << i;
    EXPECT_FALSE(read_reply(flood).ok) << "cut off";
}

TEST_F(UniverseServerTest, HashingIsLimitedPerAddressAndSurvivesClosedClients) {
    server::UniverseConfig config;
    config.login_burst = 3;
    config.login_refill_ms = 0;
    start(config);
    ASSERT_GT(citizens_.add("Ann", "pass1", "ann@example.org"), 0u);

    test::Client a(server_->port()), b(server_->port());
    const std::string login = frame(30, str("Ann") + str("pass1")), lookup = frame(24, str("zk"));
    a.send_bytes(login + lookup + frame(30, str("Ann") + str("wrong")) + login + lookup);
    const std::pair<int, int> want[] = {{6, 0}, {0, 0}, {6, 13}, {6, 0}, {0, 0}};
    for (auto [code, rc] : want) {
        Reply r = read_reply(a);
        EXPECT_EQ(r.code, code);
        EXPECT_EQ(r.rc, rc) << "reply " << code;
    }
    EXPECT_EQ(request(a, 30, str("Ann") + str("pass1")).rc, server::UniverseServer::kTryLater);
    Reply r = request(b, 25, str("Bob") + str("pass2") + std::string(1, 2) + str("bob@example.org"));
    EXPECT_EQ(r.rc, server::UniverseServer::kTryLater) << "the allowance is the address's, not the connection's";
    EXPECT_FALSE(citizens_.by_name("Bob").has_value());

    // Hashes in flight are bounded per address whatever its allowance.
    config.login_burst = 100;
    config.hashes_in_flight_per_address = 2;
    start(config);
    std::vector<std::unique_ptr<test::Client>> many;
    for (int i = 0; i < 8; ++i) many.push_back(std::make_unique<test::Client>(server_->port()));
    for (auto& c : many) c->send_bytes(login);
    int ok = 0, refused = 0;
    for (auto& c : many) {
        r = read_reply(*c);
        ok += r.rc == 0;
        refused += r.rc == server::UniverseServer::kTryLater;
    }
    EXPECT_GE(ok, 2);
    EXPECT_GE(refused, 1);
    EXPECT_EQ(ok + refused, 8);

    // A client gone while its hash runs: its later requests are dropped, and
    // the one worker finishes that hash before the next.
    start(server::UniverseConfig{});
    {
        test::Client gone(server_->port());
        gone.send_bytes(login + frame(25, str("Ghost") + str("pass1") + std::string(1, 2) + str("g@example.org")));
    }
    test::Client next(server_->port());
    EXPECT_EQ(request(next, 30, str("Ann") + str("pass1")).rc, 0);
    EXPECT_FALSE(citizens_.by_name("Ghost").has_value());
}
