#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/bytes.h"
#include "core/settings.h"
#include "net/peer.h"
#include "world/browser_env.h"

using namespace zk;
using namespace zk::test;

namespace {

// World requests carry no length: their type byte tells their size.
size_t world_split(const Bytes& in) {
    if (in.empty()) return 0;
    switch (in[0]) {
    case 0: return in.size() < 27 ? 0 : 27u + in[24] + in[25] + in[26];
    case 2: return 16;
    case 3: return 48;
    default: return in.size();  // unknown: take it whole so the test sees it
    }
}

Bytes status_reply(int code) { return framed({static_cast<uint8_t>(code)}); }

Bytes begin_cell(int x, int z) { return Wire().u8(0).u16(x).u16(z).b; }
Bytes cell(int x, int z, const Bytes& records) { return begin_cell(x, z) + records + Bytes{1}; }
Bytes record(int number, uint32_t owner, const std::string& model) {
    return Wire().u8(2).u8(number).u32(owner).u32(1700000000).zeros(8).u8(static_cast<int>(model.size())).u8(0).u8(0)
        .text(model).b;
}
Bytes stamp(int sx, int sz, uint32_t value) { return Wire().u8(4).u16(sx).u16(sz).u32(value).b; }

class Prop : public ::testing::Test {
protected:
    void SetUp() override {
        env_ = std::make_unique<BrowserEnv>(peer_.port(), "[show]\ncache=1\n");
        prop_init();
    }
    void TearDown() override {
        while (object* o = object_first()) object_destroy(o);
    }

    bool wait_requests(size_t n) {
        return BrowserEnv::frames_until([&] { return peer_.request_count() >= n; });
    }
    bool wait_idle() {
        return BrowserEnv::frames_until([] { return prop_queue_length() == 0 && prop_state() == 1; });
    }
    Bytes request(size_t i) { return peer_.requests().at(i).frame; }
    // Feeds `body` as the reply to a fresh query, as the fuzz target does.
    static void replay(const Bytes& body) {
        prop_reset();
        const Bytes reply = framed(body);
        prop_replay(reply.data(), reply.size());
    }

    // A live object for building requests.
    static object* make(double x, double z, float yaw) {
        return object_create(x, 0, z, yaw, "tree.rwx", "an oak", "create color red", 17, 0x0A0B0C0D, false, 5);
    }

    ScriptedPeer peer_{world_split, 0};
    std::unique_ptr<BrowserEnv> env_;
};

TEST_F(Prop, YawAndPositionRulesAndAnAttributeListTooLongForOneMessage) {
    BrowserEnv::known = false;
    std::vector<uint8_t> huge(prop_attribute_list_limit + 1, 0);
    EXPECT_EQ(prop_attributes_set(huge.data(), huge.size()), 1);
    EXPECT_EQ(prop_queue_length(), 0u);
    // Yaw, its tenths, x, its thousandths.
    const std::vector<std::tuple<float, int, double, int32_t>> cases = {
        {-360.54f, -5, -0.0625, -63}, {359.95f, 0, 0.0625, 63},  {725.04f, 50, 0.0624, 62},
        {-0.04f, 0, -0.0624, -62},    {-90.05f, -901, 12.0, 12000}, {0.05f, 1, -1.5, -1500},
    };
    for (const auto& [yaw, tenths, x, milli] : cases) ASSERT_EQ(prop_object_add(make(x, 0, yaw)), 0);
    peer_.respond([](PeerLink& l, const Request&) { l.send(status_reply(0)); });
    ASSERT_TRUE(wait_requests(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        const Bytes r = request(i);
        EXPECT_EQ(load_be16s(r.data() + 2), std::get<1>(cases[i])) << std::get<0>(cases[i]);
        EXPECT_EQ(load_be32s(r.data() + 12), std::get<3>(cases[i])) << std::get<2>(cases[i]);
    }
}

// The query carries the stamps of its nine sectors; a one-byte 0 reply ends
// it and changes nothing.
TEST_F(Prop, QueriesWaitForTheAttributesAndFollowTheSectorAndTheInterval) {
    BrowserEnv::known = false;
    BrowserEnv::frames_for(30);
    BrowserEnv::known = true;
    BrowserEnv::pending = true;
    BrowserEnv::frames_for(30);
    EXPECT_EQ(peer_.request_count(), 0u);
    BrowserEnv::pending = false;
    BrowserEnv::x = -3.5;  // sector -1
    BrowserEnv::z = 9.5;   // sector 2
    for (int sz = 1; sz <= 3; ++sz)
        for (int sx = -2; sx <= 0; ++sx)
            ASSERT_EQ(cell_sector_set_timestamp(sx, sz, 0x70000000u + static_cast<uint32_t>((sz - 1) * 3 + sx + 2)), 1);
    ASSERT_EQ(cell_sector_set_timestamp(1, 2, 1), 1);  // outside the nine
    peer_.respond([](PeerLink& l, const Request&) { l.send(status_reply(0)); });
    ASSERT_TRUE(wait_requests(1));
    Wire want;
    want.u8(3).zeros(3).u16(-1).u16(2);
    for (uint32_t i = 0; i < 9; ++i) want.u32(0x70000000u + i);
    want.u32(BrowserEnv::citizen);
    EXPECT_EQ(request(0), want.b);
    ASSERT_TRUE(wait_idle());
    EXPECT_TRUE(BrowserEnv::seen.changed.empty());

    BrowserEnv::x = 3.0;  // sector 1
    ASSERT_TRUE(wait_requests(2));
    const Bytes moved = request(1);
    EXPECT_EQ(Bytes(moved.begin() + 4, moved.begin() + 8), (Bytes{0, 1, 0, 2}));
    ASSERT_TRUE(wait_idle());

    const uint32_t queued = BrowserEnv::now;
    BrowserEnv::now = queued + prop_query_interval_ms;
    BrowserEnv::frames_for(50);
    EXPECT_EQ(peer_.request_count(), 2u);
    BrowserEnv::now = queued + prop_query_interval_ms + 1;
    ASSERT_TRUE(wait_requests(3));
    EXPECT_EQ(request(2), moved);
    EXPECT_EQ(peer_.connections(), 1);
}

TEST_F(Prop, EveryStatusCodeAndAttributeReplyHasItsReaction) {
    BrowserEnv::known = false;
    // A refused change refreshes the cells it left and entered, or its one cell.
    ASSERT_EQ(prop_object_change(1, 1, make(2.5, 1.5, 0)), 0);
    ASSERT_EQ(prop_object_change(2, 1, make(2.5, 1.5, 0)), 0);
    // Code and whether it is reported on the console (101 and 0 are silent).
    const std::vector<std::pair<int, bool>> codes = {{0, false},  {3, true},   {11, true},  {100, true}, {101, false},
                                                     {102, true}, {103, true}, {106, true}, {109, true}, {110, true},
                                                     {111, true}, {113, true}, {114, true}, {42, true},  {200, true}};
    Bytes replies = status_reply(3) + status_reply(3);
    std::vector<std::pair<int, int>> want_changed = {{1, 1}, {2, 1}, {2, 1}};
    size_t reported = 2;
    for (size_t i = 0; i < codes.size(); ++i) {
        ASSERT_EQ(prop_object_delete(static_cast<int16_t>(i), 0, 1), 0);  // one delete per code, in cell (i, 0)
        replies = replies + status_reply(codes[i].first);
        reported += codes[i].second;
        if (codes[i].first != 0) want_changed.push_back({static_cast<int>(i), 0});
    }
    // An attribute read hands its reply to the callback: the code, then the
    // body or "null". A list that opens with attribute 12 is a list, not a refusal.
    static std::vector<std::string> calls;
    calls.clear();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(prop_attributes_get([](const uint8_t* body, size_t length, int code) {
                      calls.push_back(std::to_string(code) + (body ? " " + std::string(body, body + length) : " null"));
                  }),
                  0);
    replies = replies + framed({}) + status_reply(7) + status_reply(4) + framed({16, 2, 'z', 'k'}) + framed({12, 1, '5'});
    prop_replay(replies.data(), replies.size());
    ASSERT_EQ(BrowserEnv::seen.console.size(), reported);
    EXPECT_NE(BrowserEnv::seen.console.back().find("(reason -56)"), std::string::npos) << "a signed byte";
    EXPECT_EQ(BrowserEnv::seen.changed, want_changed);
    EXPECT_EQ(calls, (std::vector<std::string>{"0 ", "1 null", "4 null", "0 \x10\x02zk", "0 \x0c\x01" "5"}));
    EXPECT_EQ(BrowserEnv::seen.relogins, 0);
}

// The test holds the first reply back while the peer keeps reading, so a
// second request would be seen. An identity rejection (a status byte, or a
// longer body that opens with it) logs in again and resends on a new connection.
TEST_F(Prop, OnlyOneRequestIsInFlightAndIdentityRejectedResendsOnANewConnection) {
    BrowserEnv::known = false;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(prop_object_delete(0, 0, static_cast<uint8_t>(i)), 0);
    std::atomic<int> held{-1}, n{0};
    peer_.respond([&held, &n](PeerLink& l, const Request&) {
        const int i = n++;
        if (i == 0)
            held = l.fd;
        else
            l.send(i == 2 ? framed({12, 0, 0, 0}) : status_reply(0));
    });
    ASSERT_TRUE(wait_requests(1));
    BrowserEnv::frames_for(100);
    EXPECT_EQ(peer_.request_count(), 1u);
    EXPECT_EQ(prop_state(), 2);
    PeerLink late;
    late.fd = held.load();
    late.send(status_reply(12));
    ASSERT_TRUE(wait_requests(5));
    ASSERT_TRUE(wait_idle());
    auto r = peer_.requests();
    for (int i : {0, 2, 4}) EXPECT_EQ(r[i].frame[1], i / 2) << i;
    EXPECT_EQ(r[0].frame, r[1].frame);
    EXPECT_EQ(r[1].connection, 2);
    EXPECT_EQ(r[2].frame, r[3].frame);
    EXPECT_EQ(r[3].connection, 3);
    EXPECT_EQ(BrowserEnv::seen.relogins, 2);
    EXPECT_TRUE(BrowserEnv::seen.changed.empty());
    EXPECT_TRUE(env_->ui.showed("Identity rejected"));
}

// A peer that closes mid-body, then one that goes silent past the idle limit:
// the request goes again on a new connection, and a cut body is never applied.
TEST_F(Prop, LostConnectionsReconnectAndResend) {
    std::atomic<int> n{0};
    peer_.respond([&n](PeerLink& l, const Request&) {
        const int i = n++;
        if (i == 0) {
            l.send(Wire().u16(100).b + begin_cell(1, 1) + record(1, 1, ""));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            l.close();
        } else if (i == 1) {
            l.send(Wire().u16(65535).b + Bytes(100, 0x42));  // and nothing more
        } else {
            l.send(framed({}));
        }
    });
    ASSERT_TRUE(BrowserEnv::frames_until([&] { return env_->ui.showed("received 100 of 65535"); }));
    BrowserEnv::frames_for(30);
    EXPECT_EQ(prop_state(), 3);
    EXPECT_EQ(peer_.request_count(), 2u);
    BrowserEnv::net_offset = tcp_idle_timeout_ms + 1;
    ASSERT_TRUE(wait_requests(3));
    ASSERT_TRUE(wait_idle());
    auto r = peer_.requests();
    EXPECT_EQ(r[1].frame, r[0].frame);
    EXPECT_EQ(r[2].frame, r[0].frame);
    EXPECT_EQ(r[1].connection, 2);
    EXPECT_EQ(r[2].connection, 3);
    EXPECT_FALSE(prop_query_outstanding());
    EXPECT_TRUE(cached(1, 1).empty());
}

TEST_F(Prop, ResetWhileAReplyIsAppliedLeavesTheResetsState) {
    const Bytes reply = framed(cell(1, 1, record(1, 1, "a")) + cell(2, 2, record(1, 1, "b")) + stamp(0, 0, 99));
    peer_.respond([reply](PeerLink& l, const Request&) { l.send(reply); });
    BrowserEnv::on_changed = [](int, int) { prop_reset(); };
    ASSERT_TRUE(BrowserEnv::frames_until([] { return !BrowserEnv::seen.changed.empty(); }));
    EXPECT_EQ(prop_state(), 1);
    EXPECT_EQ(prop_queue_length(), 0u);
    EXPECT_EQ(BrowserEnv::seen.changed, (std::vector<std::pair<int, int>>{{1, 1}}));
    EXPECT_TRUE(cached(2, 2).empty());
    EXPECT_EQ(cell_sector_timestamp(0, 0), 0u);
    EXPECT_EQ(env_->ui.panes.begin()->second, "");

    // The next frame connects again at once and asks afresh.
    BrowserEnv::on_changed = nullptr;
    peer_.respond([](PeerLink& l, const Request&) { l.send(framed({})); });
    ASSERT_TRUE(wait_requests(2));
    EXPECT_EQ(peer_.requests()[1].connection, 2);
}

TEST_F(Prop, NoConnectionWithoutAnAddressAndReconnectsAtOnceThenUnderTheThrottle) {
    BrowserEnv::address = 0;
    BrowserEnv::frames_for(30);
    EXPECT_EQ(BrowserEnv::seen.unable, 0);
    BrowserEnv::address = 0xFFFFFFFFu;
    prop_update();
    prop_update();
    EXPECT_EQ(BrowserEnv::seen.unable, 2);

    BrowserEnv::address = htonl(INADDR_LOOPBACK);
    peer_.refuse_all(true);
    BrowserEnv::frames_for(300);
    EXPECT_EQ(peer_.connections(), prop_reconnect_limit);
    BrowserEnv::now += prop_connect_throttle_ms;
    BrowserEnv::frames_for(100);
    EXPECT_EQ(peer_.connections(), prop_reconnect_limit);
    BrowserEnv::now += 1;
    EXPECT_TRUE(BrowserEnv::frames_until([&] { return peer_.connections() > prop_reconnect_limit; }));
    // Once the server answers again the query goes through.
    peer_.refuse_all(false);
    peer_.respond([](PeerLink& l, const Request&) { l.send(framed({})); });
    BrowserEnv::now += prop_connect_throttle_ms + 1;
    ASSERT_TRUE(wait_requests(1));
    EXPECT_TRUE(wait_idle());
}

// Damage stops the parse: what came before it stands, nothing after it counts.
// Records outside any cell are skipped: the cell the work buffer held last
// must not take them.
TEST_F(Prop, DamagedReplyKeepsWhatCameBeforeAndRecordsOutsideAnyCellTouchNoCell) {
    const Bytes stray = record(2, 2, "stray") + Bytes{3, 1, 1};
    const Bytes before = stray + cell(3, 3, record(1, 1, "whole")) + stray + stamp(1, 1, 5);
    const std::vector<std::pair<std::string, Bytes>> damage = {
        {"record cut mid-field", begin_cell(4, 4) + Bytes{2, 2, 0, 0, 0, 1, 0x65, 0x53, 0xF1}},
        {"texts past the end", begin_cell(4, 4) + Wire().u8(2).u8(1).zeros(16).u8(255).u8(255).u8(255).text("short").b},
        {"sector record a byte short", Wire().u8(4).u16(0).u16(0).u16(0).u8(0).b},
        {"unknown tag", Bytes{0x55} + cell(4, 4, record(1, 1, "after")) + stamp(0, 0, 9)},
    };
    for (const auto& [what, tail] : damage) {
        SCOPED_TRACE(what);
        ASSERT_EQ(cell_open(env_->cache_dir(), true), 1);  // empty
        cell_start(4, 4);  // as the visibility manager leaves the work buffer
        replay(before + tail);
        const auto kept = cached(3, 3);
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0].model, "whole");
        EXPECT_EQ(cell_sector_timestamp(1, 1), 5u);
        EXPECT_TRUE(cached(4, 4).empty());
        EXPECT_EQ(cell_sector_timestamp(0, 0), 0u);
        EXPECT_EQ(prop_queue_length(), 0u);
    }
    EXPECT_TRUE(BrowserEnv::seen.console.empty());
}

TEST_F(Prop, ThousandsOfObjectsInOneCellStayBounded) {
    Wire records;
    for (int i = 0; i < 3000; ++i) records.raw(record(i % 256, static_cast<uint32_t>(i), ""));
    replay(cell(8, 8, records.b));
    auto objects = cached(8, 8);
    ASSERT_EQ(objects.size(), 256u);
    for (const Cached& o : objects) EXPECT_EQ(o.owner % 256, static_cast<uint32_t>(o.number));
    for (const Cached& o : objects) EXPECT_GE(o.owner, 3000u - 256u);
}

TEST_F(Prop, CellsOutsideTheQueriedSectorsAreIgnoredAndTheWorkIsBounded) {
    // The query is for sector (0, 0), so its 3 x 3 sectors hold cells -9..8.
    Wire body;
    for (int i = 0; i < 5; ++i) body.raw(cell(-9 + i * 4, -9, record(1, 1, "")));
    for (int i = 0; i < 2400; ++i) body.raw(cell(9 + i % 60, -50 + i / 60, record(1, 1, "")));
    const Bytes reply = framed(body.b + stamp(1, 1, 11) + stamp(5, 5, 55));
    peer_.respond([reply](PeerLink& l, const Request&) { l.send(reply); });
    // Every reply is long, and the frame clock stands still.
    size_t most_per_pass = 0;
    const size_t asks = 1 + prop_long_reply_requeries;
    ASSERT_TRUE(BrowserEnv::frames_until([&] {
        const size_t before = BrowserEnv::seen.changed.size();
        prop_update();
        most_per_pass = std::max(most_per_pass, BrowserEnv::seen.changed.size() - before);
        return peer_.request_count() == asks && !prop_query_outstanding();
    }, 10000));
    BrowserEnv::frames_for(200);
    EXPECT_EQ(peer_.request_count(), asks) << "long replies do not make queries for ever";
    EXPECT_EQ(BrowserEnv::seen.changed.size(), 5 * asks);
    for (auto [x, z] : BrowserEnv::seen.changed) EXPECT_TRUE(x >= -9 && x <= 8 && z == -9) << x << "," << z;
    EXPECT_LE(most_per_pass, static_cast<size_t>(prop_writes_per_pass));
    for (int i = 0; i < 2400; i += 61) ASSERT_TRUE(cached(9 + i % 60, -50 + i / 60).empty()) << i;
    EXPECT_EQ(cached(-9, -9).size(), 1u);
    EXPECT_EQ(cell_sector_timestamp(1, 1), 11u);
    EXPECT_EQ(cell_sector_timestamp(5, 5), 0u);
    // The next query waits for its interval.
    BrowserEnv::now += prop_query_interval_ms + 1;
    EXPECT_TRUE(wait_requests(asks + 1));
}

// The pane follows the setting and the menu command; a reply that comes a
// byte at a time is read whole.
TEST_F(Prop, ReplyInPiecesIsReadWholeAndCountedInThePane) {
    ASSERT_EQ(env_->ui.panes.size(), 1u);
    EXPECT_TRUE(env_->ui.menu_checked[133]);
    prop_show_cache();
    EXPECT_TRUE(env_->ui.panes.empty());
    EXPECT_FALSE(env_->ui.menu_checked[133]);
    EXPECT_EQ(settings_get_int("show", "cache"), 0);
    prop_show_cache();
    Wire records;
    for (int i = 0; i < 10; ++i) records.raw(record(i, 1, "m"));
    const Bytes body = cell(1, 1, records.b);
    peer_.respond([reply = framed(body)](PeerLink& l, const Request&) {
        l.trickle(Bytes(reply.begin(), reply.begin() + 2), 40);  // the length in two pieces
        l.trickle(Bytes(reply.begin() + 2, reply.end()), 1);
    });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(peer_.connections(), 1);
    EXPECT_EQ(cached(1, 1).size(), 10u);
    const std::string size = std::to_string(body.size());
    EXPECT_TRUE(env_->ui.showed("received " + size + " of " + size));
    EXPECT_EQ(env_->ui.pane_history.back(), "");
}

}  // namespace
