#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "net/peer.h"
#include "net/resolve.h"
#include "net/tcp.h"
#include "net/universe.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

// Every hook call as one line, in order.
std::vector<std::string> heard;
std::string identity = "Bob";  // empty: no identity
const uint8_t kUser[4] = {0xC0, 0x01, 0x00, 0x7F};

template <class... T>
void say(const char* what, const T&... parts) {
    std::ostringstream line;
    line << what;
    ((line << ' ' << parts), ...);
    heard.push_back(line.str());
}

void install_hooks() {
    heard.clear();
    UniverseHooks& h = universe_hooks();
    h = UniverseHooks{};
    h.identity = [](std::string* name, std::string* password) {
        *name = identity;
        *password = "pw";
        return !identity.empty();
    };
    h.relogged_in = [](uint32_t n) { say("relogged", n); };
    h.telegram_waiting = [] { say("telegram"); };
    h.citizen_name = [](uint32_t number, int rc, const std::string& name) { say("name", number, rc, name); };
    h.attributes = [](int rc, const std::string* e) { e ? say("attributes", rc, *e) : say("attributes", rc); };
    h.world_list = [](const uint8_t* bytes, size_t length) { say("worlds", std::string(bytes, bytes + length)); };
    h.whos_at = [](const uint8_t u[4], int rc, const std::string& n) { say("whos_at", std::string(u, u + 4), rc, n); };
    h.citizen_number = [](int rc, const std::string& name, uint32_t number) { say("number", rc, name, number); };
}

Bytes login_reply(uint32_t number) { return reply(0, 6, Wire().u32(number).b); }

// Answers logins with citizen 42.
void answer_logins(PeerLink& link, const Request& r) {
    if (r.code == 30) link.send(login_reply(42));
}

class Universe : public ::testing::Test {
protected:
    void SetUp() override {
        identity = "Bob";
        install_hooks();
        ASSERT_EQ(resolve_init(), 0);
        universe_settings(dir_.path(), "127.0.0.1", peer_.port());
        universe_init();
        peer_.respond(answer_logins);
    }
    void TearDown() override {
        universe_term();
        resolve_term();
        universe_hooks() = UniverseHooks{};
    }

    // Runs the universe task until `done` or a few seconds pass.
    static bool pump(const std::function<bool()>& done) {
        for (int i = 0; i < 1500 && !done(); ++i) {
            universe_update();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return done();
    }
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

    TestClock clock_;
    TempDir dir_;
    ScriptedPeer peer_;
};

}  // namespace

// --- requests on the wire ------------------------------------------------------

TEST_F(Universe, RequestsCarryTheirFieldsInOrder) {
    const struct {
        int (*send)();
        Bytes frame;
    } cases[] = {
        {[] { return universe_get_citizen_name(0x01020304); }, {0, 5, 33, 1, 2, 3, 4}},
        {[] { return universe_send_telegram(7, "hi"); }, {0, 8, 35, 0, 0, 0, 7, 2, 'h', 'i'}},
        {[] { return universe_get_citizen_number("Zed"); }, framed(Wire().u8(36).str("Zed").b)},
        {[] { return universe_send_password("Ann"); }, framed(Wire().u8(28).str("Ann").b)},
        {[] { return universe_get_telegram(); }, {0, 1, 34}},
        {[] { return universe_get_worlds(); }, {0, 1, 31}},
        // The current identity.
        {[] { return universe_get_attributes(); }, framed(Wire().u8(27).str("Bob").str("pw").b)},
        // The identifier bytes as they arrived, in no particular order.
        {[] { return universe_whos_at(kUser); }, {0, 5, 37, 0xC0, 0x01, 0x00, 0x7F}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.send(), 0);
    ASSERT_TRUE(peer_.wait_requests(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(peer_.requests()[i].frame, cases[i].frame) << i;
}

TEST_F(Universe, FieldTooLongForItsLengthByteOrTheBufferIsRefusedAndNothingIsSent) {
    EXPECT_EQ(universe_send_telegram(1, std::string(256, 'x')), universe_send_failed);
    EXPECT_EQ(universe_set_attributes(std::string(100, 'n'), std::string(100, 'p'), std::string(100, 'e')),
              universe_send_failed)
        << "a request is at most 256 bytes";
    EXPECT_EQ(universe_send_telegram(1, std::string(245, 'x')), 0) << "the longest telegram fits";
    ASSERT_TRUE(peer_.wait_requests(1));
    settle();
    ASSERT_EQ(peer_.requests().size(), 1u);
    EXPECT_EQ(peer_.requests()[0].frame.size(), 2u + 1 + 4 + 1 + 245);
}

// --- synchronous requests ----------------------------------------------------------

TEST_F(Universe, LoginWaitsForItsReplyHandlingOrSkippingTheFramesBefore) {
    peer_.respond([](PeerLink& link, const Request&) {
        link.send(reply(0, 9) + reply(0, 8, Wire().u32(9).str("Zed").b) + reply(0, 11, Wire().u32(5).str("junk").b) +
                  reply(3, 200, Bytes(300, 0xEE)) + reply(0, 255) + login_reply(77));
    });
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "secret", &number), 0);
    EXPECT_EQ(number, 77u);
    EXPECT_EQ(universe_frames_received(), 6u);
    EXPECT_EQ(heard, (std::vector<std::string>{"telegram", "name 9 0 Zed"}));
    EXPECT_FALSE(universe_relogin_needed()) << "this login is the one the new connection needed";

    peer_.respond([](PeerLink& link, const Request&) { link.send(reply(13, 6)); });
    number = 0;
    EXPECT_EQ(universe_login("Bob", "wrong", &number), 13) << "the server's rc";
    EXPECT_EQ(number, 0u) << "left alone";
    EXPECT_TRUE(universe_connected());
    EXPECT_EQ(peer_.connections(), 1);
}

TEST_F(Universe, LookUpWorldAnswersTheAddressAndARefusalLeavesTheOutputsAlone) {
    peer_.respond([](PeerLink& link, const Request& r) {
        link.send(r.payload == Wire().str("zk").b ? reply(0, 0, Wire().u32(0x7F000001).u16(6000).b) : reply(27, 0));
    });
    uint32_t address = 1;
    uint16_t port = 1;
    EXPECT_EQ(universe_lookup_world("nowhere", &address, &port), 27);
    EXPECT_EQ(address, 1u);
    EXPECT_EQ(universe_lookup_world("zk", &address, &port), 0);
    EXPECT_EQ(address, 0x7F000001u) << "as the number the server sent";
    EXPECT_EQ(port, 6000);
}

// --- asynchronous replies ------------------------------------------------------

TEST_F(Universe, UpdateHandsOneFramePerPassToItsHook) {
    peer_.respond([](PeerLink& link, const Request& r) {
        const Bytes three = reply(0, 9) + reply(0, 8, Wire().u32(3).str("Cy").b) + reply(0, 9);
        link.send(r.code == 30 ? login_reply(42) : three);
    });
    uint32_t number;
    ASSERT_EQ(universe_login("Bob", "pw", &number), 0) << "no relogin to read the frames first";
    EXPECT_EQ(universe_get_attributes(), 0);
    ASSERT_TRUE(pump([] { return !heard.empty(); }));
    EXPECT_EQ(heard.size(), 1u) << "exactly one frame per pass";
    universe_update();
    EXPECT_EQ(heard.size(), 2u);
    universe_update();
    EXPECT_EQ(heard, (std::vector<std::string>{"telegram", "name 3 0 Cy", "telegram"}));
}

// --- reconnection, relogin and keep-alive -----------------------------------------

TEST_F(Universe, DamagedFrameInUpdateDropsTheConnectionAndTheNextComesAfter10Seconds) {
    identity.clear();  // no relogin: the frame is met by the update's own read
    peer_.respond([](PeerLink& link, const Request&) { link.send(reply_claiming(0, 0, 0, {})); });
    EXPECT_EQ(universe_get_worlds(), 0);
    ASSERT_TRUE(pump([] { return !universe_connected(); }));
    EXPECT_EQ(universe_get_worlds(), universe_send_failed);
    settle();
    EXPECT_EQ(peer_.connections(), 1);

    TestClock::advance(universe_reconnect_interval_ms);
    EXPECT_EQ(universe_get_worlds(), 0);
    ASSERT_TRUE(peer_.wait_requests(2));
    EXPECT_EQ(peer_.requests()[1].connection, 2);
}

TEST_F(Universe, AfterTheServerDropsTheNextUpdateLogsInAgainFirst) {
    uint32_t number = 0;
    ASSERT_EQ(universe_login("Bob", "pw", &number), 0);
    peer_.drop();
    TestClock::advance(universe_reconnect_interval_ms);
    ASSERT_TRUE(pump([&] { return peer_.connections() == 2 && peer_.request_count() == 2; }));
    EXPECT_EQ(universe_get_worlds(), 0);
    ASSERT_TRUE(peer_.wait_requests(3));
    std::vector<Request> r = peer_.requests();
    EXPECT_EQ(r[1].connection, 2);
    EXPECT_EQ(r[1].frame, framed(Wire().u8(30).str("Bob").str("pw").b));
    EXPECT_EQ(r[2].code, 31);
    EXPECT_EQ(heard, std::vector<std::string>{"relogged 42"});
    EXPECT_FALSE(universe_relogin_needed());
}

TEST_F(Universe, TouristIsNotLoggedInAgain) {
    identity = "\"Ann\"";
    EXPECT_EQ(universe_get_worlds(), 0);
    EXPECT_TRUE(universe_relogin_needed()) << "a new connection";
    universe_update();
    EXPECT_FALSE(universe_relogin_needed());
    ASSERT_TRUE(peer_.wait_requests(1));
    settle();
    EXPECT_EQ(peer_.requests().size(), 1u);
}

TEST_F(Universe, RefusedReloginWaitsBeforeTryingAgain) {
    peer_.respond([](PeerLink& link, const Request& r) {
        if (r.code == 30) link.send(reply(13, 6));
    });
    EXPECT_EQ(universe_get_worlds(), 0);
    for (int i = 0; i < 3; ++i) universe_update();
    ASSERT_TRUE(peer_.wait_requests(2));
    settle();
    EXPECT_EQ(peer_.requests().size(), 2u) << "one relogin, not one per pass";
    EXPECT_TRUE(universe_relogin_needed());
    TestClock::advance(universe_reconnect_interval_ms + 1);
    universe_update();
    EXPECT_EQ(peer_.requests().size(), 3u);
}

TEST_F(Universe, KeepAliveGoesOut60SecondsAfterTheLastSendAndNotBeforeTheFirst) {
    TestClock::advance(120000);
    for (int i = 0; i < 5; ++i) universe_update();
    settle();
    EXPECT_EQ(peer_.connections(), 0);
    uint32_t number;
    ASSERT_EQ(universe_login("Bob", "pw", &number), 0);
    TestClock::advance(59900);
    universe_update();
    settle();
    EXPECT_EQ(peer_.requests().size(), 1u);
    TestClock::advance(200);
    universe_update();
    ASSERT_TRUE(peer_.wait_requests(2));
    EXPECT_EQ(peer_.requests()[1].frame, (Bytes{0, 1, 32}));
    universe_update();
    settle();
    EXPECT_EQ(peer_.requests().size(), 2u) << "the next one is due 60 s later";
}

// --- hostile servers ---------------------------------------------------------

TEST_F(Universe, HostileReplyEndsTheWaitInTimeAndTheNextRequestGetsANewConnection) {
    // 10 ms of real time is one second here: a peer that trickles bytes
    // stays inside the idle time-out byte by byte, but a frame, and a wait
    // for a reply, must still end after 45 s.
    TestClock::set_speed(100);
    Bytes flood;
    for (int i = 0; i < 400; ++i) flood = flood + reply(0, 200, Bytes(30, 0));
    const struct {
        const char* what;
        Bytes bytes;
        int gap_ms;  // between bytes; 0: all at once
        bool close;
        int rc;
        uint64_t frames;  // at least this many others handled meanwhile
    } cases[] = {
        {"length below the header", reply_claiming(1, 0, 6, {}) + login_reply(1), 0, false, universe_damaged_frame, 0},
        // The login reply behind must not be read as the rest of the name.
        {"name running past its frame", reply(0, 8, Wire().u32(5).u8(200).text("abc").b) + login_reply(1), 0, false,
         universe_damaged_frame, 0},
        {"closed mid-frame", {0, 6, 0, 6, 0}, 0, true, tcp_closed, 0},
        {"length far beyond what arrives", reply_claiming(60000, 0, 6, Bytes(10, 1)), 0, false, tcp_timeout, 0},
        {"one byte a second", reply_claiming(1000, 0, 6, Bytes(996, 1)), 10, false, tcp_timeout, 0},
        {"other frames only", flood, 1, false, tcp_timeout, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        peer_.respond([&c](PeerLink& l, const Request&) {
            c.gap_ms ? l.trickle(c.bytes, c.gap_ms) : l.send(c.bytes);
            if (c.close) l.close();
        });
        const uint64_t frames = universe_frames_received();
        auto start = std::chrono::steady_clock::now();
        uint32_t number = 0;
        EXPECT_EQ(universe_login("Bob", "pw", &number), c.rc);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_TRUE(heard.empty());
        const int hostile = peer_.requests().back().connection;
        EXPECT_GE(universe_frames_received(), frames + c.frames);

        peer_.respond(answer_logins);
        TestClock::advance(universe_reconnect_interval_ms);
        EXPECT_EQ(universe_login("Bob", "pw", &number), 0);
        EXPECT_GT(peer_.requests().back().connection, hostile);
    }
}

// --- start-up --------------------------------------------------------------------

TEST_F(Universe, HostNameIsResolvedBetweenPassesAndAnUnresolvableOneFailsCleanly) {
    universe_settings(dir_.path(), "localhost", peer_.port());
    universe_init();
    EXPECT_EQ(universe_address(), 0u) << "pending";
    EXPECT_EQ(universe_get_worlds(), universe_open_failed) << "nowhere to connect yet";
    ASSERT_TRUE(pump([] { return universe_address() != 0; }));
    EXPECT_EQ(universe_address(), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(universe_get_worlds(), 0) << "an unresolved address does not start the 10 s wait";
    EXPECT_TRUE(peer_.wait_requests(1));

    universe_settings(dir_.path(), "bad..name", peer_.port());
    universe_init();
    ASSERT_TRUE(pump([] { return universe_address() != 0; }));
    EXPECT_EQ(universe_address(), resolve_failed);
    uint32_t number;
    EXPECT_EQ(universe_login("Bob", "pw", &number), universe_open_failed);
    EXPECT_EQ(peer_.connections(), 1);

    // Last: its look-up of the built-in name goes unanswered.
    write_file(dir_.file("zelnik.ini"), "[universe]\nhost=\n");
    universe_init();
    EXPECT_EQ(universe_host(), universe_default_host);
}

// --- decoding from memory ---------------------------------------------------------

TEST(UniverseParse, BurstDecodesFrameByFrameIntoTheHooks) {
    install_hooks();
    const std::string user(kUser, kUser + 4);
    const Bytes worlds = Wire().str("zk").str("").str("Mars").b;
    Bytes burst = reply(0, 9) + reply(0, 8, Wire().u32(3).str("Cy").b) + reply(3, 8, Wire().u32(77).b) +
                  reply(0, 200, Bytes(2000, 7)) + reply(0, 7, worlds) +
                  reply(0, 3, Wire().u8(0).str("Bob").u8(2).str("bob@zk.net").u8(9).str("").b) + reply(13, 3) +
                  reply(3, 12, Wire().str("Nobody").b) + reply(0, 12, Wire().str("Al").u32(8).b) +
                  reply(0, 13, Wire().text(user).str("Di").b);
    size_t frames = 0;
    EXPECT_EQ(universe_parse(burst.data(), burst.size(), &frames), 0);
    EXPECT_EQ(frames, 10u);
    EXPECT_EQ(heard, (std::vector<std::string>{"telegram", "name 3 0 Cy", "name 77 3 ",
                                               "worlds " + std::string(worlds.begin(), worlds.end()),
                                               "attributes 0 bob@zk.net", "attributes 13", "number 3 Nobody 0",
                                               "number 0 Al 8", "whos_at " + user + " 0 Di"}));

    // Cut inside the last frame: the whole ones count, the cut one is an error.
    EXPECT_EQ(universe_parse(burst.data(), burst.size() - 1, &frames), tcp_closed);
    EXPECT_EQ(frames, 9u);
    universe_hooks() = UniverseHooks{};
}
