#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "core/log.h"
#include "net/peer.h"
#include "net/resolve.h"
#include "net/universe.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

// What the hooks were handed.
struct Seen {
    int telegram_waiting = 0;
    int citizen_name_calls = 0;
    uint32_t citizen_name_number = 0;
    int citizen_name_rc = -1;
    std::string citizen_name;
    int attributes_rc = -1;
    bool attributes_email_set = false;
    std::string email;
    Bytes world_list;
    int whos_at_calls = 0;
    uint8_t whos_at_user[4] = {};
    std::string whos_at_name;
    int citizen_number_rc = -1;
    std::string citizen_number_name;
    uint32_t citizen_number = 0;
    uint32_t relogged = 0;
    std::string identity_name = "Bob";
    bool has_identity = true;
};
Seen seen;

void install_hooks() {
    UniverseHooks& h = universe_hooks();
    h = UniverseHooks{};
    h.identity = [](std::string* name, std::string* password) {
        if (!seen.has_identity) return false;
        *name = seen.identity_name;
        *password = "pw";
        return true;
    };
    h.relogged_in = [](uint32_t n) { seen.relogged = n; };
    h.telegram_waiting = [] { ++seen.telegram_waiting; };
    h.citizen_name = [](uint32_t number, int rc, const std::string& name) {
        ++seen.citizen_name_calls;
        seen.citizen_name_number = number;
        seen.citizen_name_rc = rc;
        seen.citizen_name = name;
    };
    h.attributes = [](int rc, const std::string* email) {
        seen.attributes_rc = rc;
        seen.attributes_email_set = email != nullptr;
        if (email) seen.email = *email;
    };
    h.world_list = [](const uint8_t* bytes, size_t length) { seen.world_list.assign(bytes, bytes + length); };
    h.whos_at = [](const uint8_t user[4], int, const std::string& name) {
        ++seen.whos_at_calls;
        std::copy(user, user + 4, seen.whos_at_user);
        seen.whos_at_name = name;
    };
    h.citizen_number = [](int rc, const std::string& name, uint32_t number) {
        seen.citizen_number_rc = rc;
        seen.citizen_number_name = name;
        seen.citizen_number = number;
    };
}

Bytes login_reply(uint32_t number) { return reply(0, 6, Wire().u32(number).b); }

// Answers logins with citizen 42.
void answer_logins(PeerLink& link, const Request& r) {
    if (r.code == 30) link.send(login_reply(42));
}

class Universe : public ::testing::Test {
protected:
    void SetUp() override {
        seen = Seen{};
        install_hooks();
        ASSERT_EQ(resolve_init(), 0);
        universe_settings(dir_.path(), "127.0.0.1", peer_.port(), extra_settings());
        universe_init();
        peer_.respond(answer_logins);
    }
    void TearDown() override {
        universe_term();
        resolve_term();
        universe_hooks() = UniverseHooks{};
    }
    virtual std::string extra_settings() { return {}; }

    // Runs the universe task until `done` or a few seconds pass.
    // Installs `fn` for everything but logins, which get citizen 42.
    void respond(ScriptedPeer::Respond fn) {
        peer_.respond([fn](PeerLink& link, const Request& r) {
            if (r.code == 30)
                answer_logins(link, r);
            else
                fn(link, r);
        });
    }
    static bool pump(const std::function<bool()>& done, int ms = 3000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            universe_update();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    std::vector<Request> on_connection(int n) {
        std::vector<Request> out;
        for (const Request& r : peer_.requests())
            if (r.connection == n) out.push_back(r);
        return out;
    }

    TestClock clock_;
    TempDir dir_;
    ScriptedPeer peer_;
};

}  // namespace

// --- requests on the wire ------------------------------------------------------

TEST_F(Universe, RequestsCarryTheirFieldsInOrder) {
    EXPECT_EQ(universe_get_citizen_name(0x01020304), 0);
    EXPECT_EQ(universe_send_telegram(7, "hi"), 0);
    EXPECT_EQ(universe_get_citizen_number("Zed"), 0);
    EXPECT_EQ(universe_send_password("Ann"), 0);
    EXPECT_EQ(universe_get_telegram(), 0);
    EXPECT_EQ(universe_get_attributes(), 0);
    EXPECT_EQ(universe_get_worlds(), 0);
    ASSERT_TRUE(peer_.wait_requests(7));
    std::vector<Request> r = peer_.requests();
    EXPECT_EQ(r[6].frame, (Bytes{0x00, 0x01, 31})) << "a code-only request";
    EXPECT_EQ(r[0].frame, (Bytes{0, 5, 33, 1, 2, 3, 4}));
    EXPECT_EQ(r[1].frame, (Bytes{0, 8, 35, 0, 0, 0, 7, 2, 'h', 'i'}));
    EXPECT_EQ(r[2].payload, Wire().str("Zed").b);
    EXPECT_EQ(r[3].payload, Wire().str("Ann").b);
    EXPECT_EQ(r[4].code, 34);
    EXPECT_EQ(r[5].payload, Wire().str("Bob").str("pw").b) << "the current identity";
}

TEST_F(Universe, WhosAtSendsTheIdentifierBytesAsTheyArrivedAndGetsThemBack) {
    const uint8_t user[4] = {0xC0, 0x01, 0x00, 0x7F};
    respond([](PeerLink& link, const Request& r) {
        if (r.code == 37) link.send(reply(0, 13, Wire().raw(r.payload).str("Cy").b));
    });
    EXPECT_EQ(universe_whos_at(user), 0);
    ASSERT_TRUE(peer_.wait_requests(1));
    EXPECT_EQ(peer_.requests()[0].payload, (Bytes{0xC0, 0x01, 0x00, 0x7F}));
    ASSERT_TRUE(pump([] { return seen.whos_at_calls == 1; }));
    EXPECT_EQ(Bytes(seen.whos_at_user, seen.whos_at_user + 4), (Bytes{0xC0, 0x01, 0x00, 0x7F}));
    EXPECT_EQ(seen.whos_at_name, "Cy");
}

TEST_F(Universe, FieldTooLongForItsLengthByteOrTheBufferIsRefusedAndNothingIsSent) {
    EXPECT_EQ(universe_send_telegram(1, std::string(256, 'x')), universe_send_failed);
    EXPECT_EQ(universe_set_attributes(std::string(100, 'n'), std::string(100, 'p'), std::string(100, 'e')),
              universe_send_failed)
        << "a request is at most 256 bytes";
    EXPECT_EQ(universe_send_telegram(1, std::string(245, 'x')), 0) << "the longest telegram fits";
    ASSERT_TRUE(peer_.wait_requests(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(peer_.requests().size(), 1u);
    EXPECT_EQ(peer_.requests()[0].frame.size(), 2u + 1 + 4 + 1 + 245);
}

// --- synchronous requests ----------------------------------------------------------

TEST_F(Universe, LoginRoundTrip) {
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "secret", &number), 0);
    EXPECT_EQ(number, 42u);
    ASSERT_EQ(peer_.requests().size(), 1u);
    EXPECT_EQ(peer_.requests()[0].frame, (Bytes{0, 12, 30, 3, 'B', 'o', 'b', 6, 's', 'e', 'c', 'r', 'e', 't'}));
    EXPECT_TRUE(universe_connected());
    EXPECT_FALSE(universe_relogin_needed()) << "this login is the one the new connection needed";

    peer_.respond([](PeerLink& link, const Request&) { link.send(reply(13, 6)); });
    EXPECT_EQ(universe_login("Bob", "wrong", &number), 13) << "the server's rc";
    EXPECT_EQ(number, 42u);
    EXPECT_TRUE(universe_connected());
}

TEST_F(Universe, SkippedRepliesLeaveTheConnectionUsable) {
    peer_.respond([](PeerLink& link, const Request& r) {
        if (r.code == 30)
            link.send(reply(0, 11, Wire().u32(5).str("junk").b) + reply(3, 200, Bytes(300, 0xEE)) +
                      reply(0, 255) + login_reply(77));
    });
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "pw", &number), 0);
    EXPECT_EQ(number, 77u);
    EXPECT_EQ(universe_frames_received(), 4u);
    EXPECT_TRUE(universe_connected());
    peer_.respond(answer_logins);
    EXPECT_EQ(universe_login("Bob", "pw", &number), 0);
    EXPECT_EQ(number, 42u);
}

TEST_F(Universe, WaitingForAReplyHandlesOtherFramesMeanwhile) {
    peer_.respond([](PeerLink& link, const Request& r) {
        if (r.code == 30)
            link.send(reply(0, 9) + reply(0, 8, Wire().u32(9).str("Zed").b) + reply(0, 6, Wire().u32(1).b));
    });
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "pw", &number), 0);
    EXPECT_EQ(number, 1u);
    EXPECT_EQ(seen.telegram_waiting, 1);
    EXPECT_EQ(seen.citizen_name_number, 9u);
    EXPECT_EQ(seen.citizen_name, "Zed");
}

TEST_F(Universe, LookUpWorldCheckBuildAndImmigrate) {
    peer_.respond([](PeerLink& link, const Request& r) {
        if (r.code == 24 && r.payload == Wire().str("zk").b)
            link.send(reply(0, 0, Wire().u32(0x7F000001).u16(6000).b));
        else if (r.code == 24)
            link.send(reply(27, 0));
        else if (r.code == 29)
            link.send(reply(0, 5, Wire().u32(150).u32(170).u8(1).b));
        else if (r.code == 25)
            link.send(reply(3, 8, Wire().u32(555).b) + reply(0, 1));
        else if (r.code == 26)
            link.send(reply(107, 2));
    });
    uint32_t address = 0;
    uint16_t port = 0;
    EXPECT_EQ(universe_lookup_world("zk", &address, &port), 0);
    EXPECT_EQ(address, 0x7F000001u) << "as the number the server sent";
    EXPECT_EQ(port, 6000);
    EXPECT_EQ(universe_lookup_world("nowhere", &address, &port), 27);
    EXPECT_EQ(address, 0x7F000001u) << "a failed look-up leaves the outputs alone";

    uint32_t minimum = 0, current = 0;
    uint8_t beta = 0;
    EXPECT_EQ(universe_check_build("", "", &minimum, &current, &beta), 0);
    EXPECT_EQ(minimum, 150u);
    EXPECT_EQ(current, 170u);
    EXPECT_EQ(beta, 1);

    uint32_t number = 0;
    EXPECT_EQ(universe_immigrate("Neu", "pass", "a@b.cd", &number), 0);
    EXPECT_EQ(number, 555u) << "the last number the reader saw";

    EXPECT_EQ(universe_set_attributes("New", "np", "x@y.zz"), 107);

    std::vector<Request> r = peer_.requests();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[2].payload, Wire().u32(162).str("").str("").b);
    EXPECT_EQ(r[3].payload, Wire().str("Neu").str("pass").u8(2).str("a@b.cd").b);
    EXPECT_EQ(r[4].payload,
              Wire().str("Bob").str("pw").u8(0).str("New").u8(1).str("np").u8(2).str("x@y.zz").b);
}

// --- asynchronous replies ------------------------------------------------------

TEST_F(Universe, CitizenNameReplyWithNonZeroRcStillYieldsTheNumber) {
    respond([](PeerLink& link, const Request& r) {
        if (r.code == 33) link.send(reply(3, 8, Wire().u32(77).b));
    });
    EXPECT_EQ(universe_get_citizen_name(77), 0);
    ASSERT_TRUE(pump([] { return seen.citizen_name_calls == 1; }));
    EXPECT_EQ(seen.citizen_name_number, 77u);
    EXPECT_EQ(seen.citizen_name_rc, 3);
    EXPECT_EQ(seen.citizen_name, "");
}

TEST_F(Universe, UpdateHandsOneFramePerPassToItsHook) {
    respond([](PeerLink& link, const Request& r) {
        if (r.code == 27)
            link.send(reply(0, 3, Wire().u8(0).str("Bob").u8(2).str("bob@zk.net").u8(9).str("").b) +
                      reply(0, 7, Wire().str("zk").str("").str("Mars").b) +
                      reply(3, 12, Wire().str("Nobody").b) + reply(0, 12, Wire().str("Al").u32(8).b));
    });
    uint32_t number;
    ASSERT_EQ(universe_login("Bob", "pw", &number), 0) << "no relogin to read the frames first";
    EXPECT_EQ(universe_get_attributes(), 0);
    ASSERT_TRUE(pump([] { return seen.attributes_rc == 0; }));
    EXPECT_TRUE(seen.world_list.empty()) << "exactly one frame per pass";
    EXPECT_EQ(seen.email, "bob@zk.net");
    universe_update();
    EXPECT_EQ(seen.world_list, Wire().str("zk").str("").str("Mars").b);
    universe_update();
    EXPECT_EQ(seen.citizen_number_rc, 3);
    EXPECT_EQ(seen.citizen_number_name, "Nobody");
    EXPECT_EQ(seen.citizen_number, 0u);
    universe_update();
    EXPECT_EQ(seen.citizen_number_rc, 0);
    EXPECT_EQ(seen.citizen_number, 8u);
}

TEST_F(Universe, AttributesRefusedGiveRcAndNoAddress) {
    respond([](PeerLink& link, const Request&) { link.send(reply(13, 3)); });
    EXPECT_EQ(universe_get_attributes(), 0);
    ASSERT_TRUE(pump([] { return seen.attributes_rc == 13; }));
    EXPECT_FALSE(seen.attributes_email_set);
}

// --- reconnection, relogin and keep-alive -----------------------------------------

TEST_F(Universe, ReconnectionWithin10SecondsAnswers400WithoutANewSocket) {
    EXPECT_EQ(universe_get_worlds(), 0);
    ASSERT_TRUE(peer_.wait_requests(1));
    peer_.drop();
    ASSERT_TRUE(pump([] { return !universe_connected(); }));
    EXPECT_EQ(universe_get_worlds(), universe_send_failed);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
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
    ASSERT_TRUE(pump([&] { return !on_connection(2).empty(); }));
    EXPECT_EQ(universe_get_worlds(), 0);
    ASSERT_TRUE(peer_.wait_requests(3));
    std::vector<Request> second = on_connection(2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].code, 30);
    EXPECT_EQ(second[0].payload, Wire().str("Bob").str("pw").b);
    EXPECT_EQ(second[1].code, 31);
    EXPECT_EQ(seen.relogged, 42u);
    EXPECT_FALSE(universe_relogin_needed());
}

TEST_F(Universe, TouristIsNotLoggedInAgain) {
    seen.identity_name = "\"Ann\"";
    EXPECT_EQ(universe_get_worlds(), 0);
    EXPECT_TRUE(universe_relogin_needed()) << "a new connection";
    universe_update();
    EXPECT_FALSE(universe_relogin_needed());
    ASSERT_TRUE(peer_.wait_requests(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(peer_.requests().size(), 1u);
}

TEST_F(Universe, RefusedReloginWaitsBeforeTryingAgain) {
    peer_.respond([](PeerLink& link, const Request& r) {
        if (r.code == 30) link.send(reply(13, 6));
    });
    EXPECT_EQ(universe_get_worlds(), 0);
    universe_update();
    universe_update();
    universe_update();
    ASSERT_TRUE(peer_.wait_requests(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(peer_.requests().size(), 2u) << "one relogin, not one per pass";
    EXPECT_TRUE(universe_relogin_needed());
    TestClock::advance(universe_reconnect_interval_ms + 1);
    universe_update();
    EXPECT_EQ(peer_.requests().size(), 3u);
}

TEST_F(Universe, KeepAliveGoesOut60SecondsAfterTheLastSend) {
    uint32_t number;
    ASSERT_EQ(universe_login("Bob", "pw", &number), 0);
    TestClock::advance(59000);
    universe_update();
    TestClock::advance(900);
    universe_update();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(peer_.requests().size(), 1u);
    TestClock::advance(200);
    universe_update();
    ASSERT_TRUE(peer_.wait_requests(2));
    EXPECT_EQ(peer_.requests()[1].frame, (Bytes{0, 1, 32}));
    universe_update();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(peer_.requests().size(), 2u) << "the next one is due 60 s later";
}

TEST_F(Universe, NothingIsSentBeforeTheFirstRequest) {
    TestClock::advance(120000);
    for (int i = 0; i < 5; ++i) universe_update();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(peer_.connections(), 0);
    EXPECT_FALSE(universe_connected());
}

// --- hostile servers ---------------------------------------------------------

TEST_F(Universe, FrameShorterThanItsHeaderIsRefusedAndTheConnectionRenewed) {
    peer_.respond([](PeerLink& link, const Request&) { link.send(reply_claiming(1, 0, 6, {}) + login_reply(1)); });
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "pw", &number), universe_damaged_frame);
    EXPECT_FALSE(universe_connected()) << "dropped; the 10 s rule holds the reconnection back";
    TestClock::advance(universe_reconnect_interval_ms);
    peer_.respond(answer_logins);
    EXPECT_EQ(universe_login("Bob", "pw", &number), 0);
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(peer_.connections(), 2);
}

TEST_F(Universe, StringRunningPastItsFrameIsRefused) {
    // Reply 8 claims a 200-byte name inside a frame that holds 3 bytes of it;
    // the login reply behind it must not be read as the name.
    peer_.respond([](PeerLink& link, const Request&) {
        link.send(reply(0, 8, Wire().u32(5).u8(200).raw({'a', 'b', 'c'}).b) + login_reply(1));
    });
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "pw", &number), universe_damaged_frame);
    EXPECT_EQ(seen.citizen_name_calls, 0);
}

TEST_F(Universe, LengthFarBeyondWhatArrivesTimesOut) {
    TestClock::set_speed(1000);
    peer_.respond([](PeerLink& link, const Request&) { link.send(reply_claiming(60000, 0, 6, Bytes(10, 1))); });
    auto start = std::chrono::steady_clock::now();
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "pw", &number), 4);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(peer_.wait_requests(1));
    ASSERT_TRUE(pump([&] { return peer_.connections() >= 2; })) << "reconnected after the time-out";
}

TEST_F(Universe, PeerTricklingOneByteASecondIsCutOffAfter45Seconds) {
    // 10 ms of real time is one second here: every byte comes well inside the
    // idle time-out, but the frame as a whole never finishes in time.
    TestClock::set_speed(100);
    peer_.respond([](PeerLink& link, const Request& r) {
        if (r.connection == 1) link.trickle(reply_claiming(1000, 0, 6, Bytes(996, 1)), 10);
    });
    auto start = std::chrono::steady_clock::now();
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "pw", &number), 4);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::seconds(3));
}

TEST_F(Universe, WaitFloodedWithOtherFramesEndsAfter45Seconds) {
    // Every frame is whole and skippable, but the awaited reply never comes.
    TestClock::set_speed(100);
    peer_.respond([](PeerLink& link, const Request& r) {
        if (r.connection != 1) return;
        for (int i = 0; i < 400; ++i) {
            if (::send(link.fd, reply(0, 200, Bytes(30, 0)).data(), 34, MSG_NOSIGNAL) != 34) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    auto start = std::chrono::steady_clock::now();
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "pw", &number), 4);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_GT(universe_frames_received(), 20u);
}

TEST_F(Universe, PeerClosingMidFrameAnswers5) {
    peer_.respond([](PeerLink& link, const Request&) {
        Bytes frame = login_reply(1);
        link.send(Bytes(frame.begin(), frame.begin() + 5));
        link.close();
    });
    uint32_t number = 0;
    EXPECT_EQ(universe_login("Bob", "pw", &number), 5);
    EXPECT_FALSE(universe_connected());
}

TEST_F(Universe, HostileUnsolicitedFrameInUpdateEndsInAReconnection) {
    seen.has_identity = false;  // the frame is met by the update's own read
    respond([](PeerLink& link, const Request&) { link.send(reply_claiming(0, 0, 0, {})); });
    EXPECT_EQ(universe_get_worlds(), 0);
    ASSERT_TRUE(pump([] { return !universe_connected(); }));
    TestClock::advance(universe_reconnect_interval_ms);
    peer_.respond(answer_logins);
    EXPECT_EQ(universe_get_worlds(), 0);
    ASSERT_TRUE(peer_.wait_requests(2));
    EXPECT_EQ(peer_.requests()[1].connection, 2);
}

// --- start-up --------------------------------------------------------------------

TEST_F(Universe, HostNameIsResolvedBetweenPassesThenTheUniverseIsReached) {
    universe_settings(dir_.path(), "localhost", peer_.port());
    universe_init();
    EXPECT_EQ(universe_host(), "localhost");
    EXPECT_EQ(universe_address(), 0u) << "pending";
    EXPECT_EQ(universe_get_worlds(), universe_open_failed) << "nowhere to connect yet";
    ASSERT_TRUE(pump([] { return universe_address() != 0; }));
    EXPECT_EQ(universe_address(), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(universe_get_worlds(), 0) << "an unresolved address does not start the 10 s wait";
    EXPECT_TRUE(peer_.wait_requests(1));
}

TEST_F(Universe, EmptyHostTakesTheBuiltInNameAndAnUnresolvableOneFailsCleanly) {
    write_file(dir_.file("zelnik.ini"), "[universe]\nhost=\n");
    universe_init();
    EXPECT_EQ(universe_host(), universe_default_host);
    universe_settings(dir_.path(), "bad..name", peer_.port());
    universe_init();
    ASSERT_TRUE(pump([] { return universe_address() != 0; }));
    EXPECT_EQ(universe_address(), resolve_failed);
    uint32_t number;
    EXPECT_EQ(universe_login("Bob", "pw", &number), universe_open_failed);
    EXPECT_EQ(peer_.connections(), 0);
}

TEST_F(Universe, TraceLinesForSentAndReceivedFrames) {
    char* old = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    universe_settings(dir_.path(), "127.0.0.1", peer_.port(), "[debug]\nuniverse=1\n");
    log_close();
    log_init();
    uint32_t number;
    EXPECT_EQ(universe_login("Bob", "pw", &number), 0);
    log_close();
    std::string log = read_file(dir_.file("zelnik.log"));
    EXPECT_NE(log.find("Sending universe message: code 30, length 8\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Received universe message: code 6, length 6, rc 0\n"), std::string::npos) << log;
    universe_settings(dir_.path(), "127.0.0.1", peer_.port());
    log_init();
    EXPECT_EQ(chdir(old), 0);
    free(old);
}

// --- decoding from memory ---------------------------------------------------------

TEST(UniverseParse, MixedBurstDecodesFrameByFrame) {
    seen = Seen{};
    install_hooks();
    Bytes burst = reply(0, 9) + reply(0, 8, Wire().u32(3).str("Cy").b) + reply(0, 200, Bytes(700, 7)) +
                  reply(0, 7, Bytes(2000, 0)) + reply(0, 13, Wire().raw({9, 8, 7, 6}).str("Di").b);
    size_t frames = 0;
    EXPECT_EQ(universe_parse(burst.data(), burst.size(), &frames), 0);
    EXPECT_EQ(frames, 5u);
    EXPECT_EQ(seen.telegram_waiting, 1);
    EXPECT_EQ(seen.citizen_name, "Cy");
    EXPECT_EQ(seen.world_list.size(), 2000u);
    EXPECT_EQ(seen.whos_at_name, "Di");

    // Cut inside the last frame: the whole ones count, the cut one is an error.
    EXPECT_EQ(universe_parse(burst.data(), burst.size() - 1, &frames), 5);
    EXPECT_EQ(frames, 4u);
    universe_hooks() = UniverseHooks{};
}

TEST(UniverseParse, DamagedAndRandomInputNeverReadsOutsideTheBuffer) {
    seen = Seen{};
    install_hooks();
    Bytes good = reply(0, 3, Wire().u8(2).str("a@b.cd").b) + reply(0, 8, Wire().u32(3).str("Cy").b) +
                 reply(0, 10, Wire().u32(1).str("x").str("y").u8(0).b) + reply(0, 12, Wire().str("n").u32(2).b) +
                 reply(0, 5, Wire().u32(1).u32(2).u8(3).b) + reply(0, 0, Wire().u32(1).u16(2).b);
    std::mt19937 rng(1234);
    for (int round = 0; round < 3000; ++round) {
        Bytes input = good;
        if (round % 3 == 0) {
            input.resize(rng() % 600);
            for (uint8_t& b : input) b = static_cast<uint8_t>(rng());
        } else {
            for (int k = 0; k < 1 + round % 4; ++k) input[rng() % input.size()] = static_cast<uint8_t>(rng());
            input.resize(rng() % (input.size() + 1));
        }
        // An exact-size heap copy lets the sanitizer catch any overread.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[input.size() + 1]);
        std::copy(input.begin(), input.end(), copy.get());
        size_t frames = 0;
        int rc = universe_parse(copy.get(), input.size(), &frames);
        EXPECT_TRUE(rc == 0 || rc == 5 || rc == universe_damaged_frame) << rc;
    }
    universe_hooks() = UniverseHooks{};
}
