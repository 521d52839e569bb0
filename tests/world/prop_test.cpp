#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "net/peer.h"
#include "world/browser_env.h"
#include "world/cell.h"
#include "world/prop.h"

using namespace zk;
using namespace zk::test;

namespace {

constexpr uint32_t kCitizen = 0x01020304;

// World requests carry no length: their type byte tells their size.
size_t world_split(const Bytes& in) {
    if (in.empty()) return 0;
    switch (in[0]) {
    case 0: return in.size() < 27 ? 0 : 27u + in[24] + in[25] + in[26];
    case 2: return 16;
    case 3: return 48;
    case 5: return 8;
    case 6: return in.size() < 8 ? 0 : in.size();  // the list runs to the end of what came
    case 7: return in.size() < 35 ? 0 : 35u + in[32] + in[33] + in[34];
    default: return in.size();  // unknown: take it whole so the test sees it
    }
}

Bytes status_reply(int code) { return framed({static_cast<uint8_t>(code)}); }

struct CellObject {
    int number;
    uint32_t owner;
    std::string model;
    double x, y, z;
};

// The objects of a cached cell, in cache order.
std::vector<CellObject> cell_objects(int16_t x, int16_t z) {
    std::vector<CellObject> out;
    cell_start(x, z);
    object* o = nullptr;
    while (cell_next(&o)) {
        out.push_back({o->number, o->owner, o->model_name, o->x, o->y, o->z});
        object_destroy(o);
    }
    return out;
}

// Query reply records.
Wire& begin_cell(Wire& w, int x, int z) { return w.u8(0).u16(x).u16(z); }
Wire& end_cell(Wire& w) { return w.u8(1); }
Wire& object_record(Wire& w, int number, uint32_t owner, const std::string& model, int x = 0, int y = 0, int z = 0,
                    int yaw = 0) {
    return w.u8(2).u8(number).u32(owner).u32(1700000000).u16(x).u16(y).u16(z).u16(yaw).u8(
        static_cast<int>(model.size())).u8(0).u8(0).text(model);
}
Wire& stamp_record(Wire& w, int sx, int sz, uint32_t stamp) { return w.u8(4).u16(sx).u16(sz).u32(stamp); }

class Prop : public ::testing::Test {
protected:
    void SetUp() override {
        env_ = std::make_unique<BrowserEnv>(peer_.port(), "[show]\ncache=1\n");
        prop_init();
    }
    void TearDown() override { env_.reset(); }

    bool wait_requests(size_t n) {
        return BrowserEnv::frames_until([&] { return peer_.request_count() >= n; });
    }
    bool wait_idle() {
        return BrowserEnv::frames_until([] { return prop_queue_length() == 0 && prop_state() == 1; });
    }
    Bytes request(size_t i) { return peer_.requests().at(i).frame; }

    // A live object for building requests, taken off the global list again
    // at the end of the test.
    object* make(double x, double y, double z, float yaw, const std::string& model = "tree.rwx",
                 const std::string& description = "an oak", const std::string& action = "create color red") {
        object* o = object_create(x, y, z, yaw, model, description, action, 17, 0x0A0B0C0D, false, 5);
        made_.emplace_back(o, object_destroy);
        return o;
    }

    ScriptedPeer peer_{world_split, 0};
    std::unique_ptr<BrowserEnv> env_;
    std::vector<std::unique_ptr<object, void (*)(object*)>> made_;
};

// --- Request layouts ----------------------------------------------------------

TEST_F(Prop, YawAndPositionRules) {
    BrowserEnv::known = false;
    struct Case {
        float yaw;
        int tenths;
        double x;
        int32_t milli;
    };
    const std::vector<Case> cases = {
        {-360.54f, -5, -0.0625, -63}, {359.95f, 0, 0.0625, 63},  {725.04f, 50, 0.0624, 62},
        {-0.04f, 0, -0.0624, -62},    {-90.05f, -901, 12.0, 12000}, {0.05f, 1, -1.5, -1500},
    };
    for (const Case& c : cases) ASSERT_EQ(prop_object_add(make(c.x, 0, 0, c.yaw, "m", "", "")), 0);
    peer_.respond([](PeerLink& l, const Request&) { l.send(status_reply(0)); });
    ASSERT_TRUE(wait_requests(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        const Bytes r = request(i);
        const int yaw = static_cast<int16_t>((r[2] << 8) | r[3]);
        const int32_t x = static_cast<int32_t>((uint32_t{r[12]} << 24) | (uint32_t{r[13]} << 16) |
                                               (uint32_t{r[14]} << 8) | r[15]);
        EXPECT_EQ(yaw, cases[i].tenths) << cases[i].yaw;
        EXPECT_EQ(x, cases[i].milli) << cases[i].x;
    }
}

TEST_F(Prop, AttributeListTooLongForOneMessageIsNotQueued) {
    BrowserEnv::known = false;
    std::vector<uint8_t> huge(prop_attribute_list_limit + 1, 0);
    EXPECT_EQ(prop_attributes_set(huge.data(), huge.size()), 1);
    EXPECT_EQ(prop_queue_length(), 0u);
}

// --- The neighbourhood query --------------------------------------------------

TEST_F(Prop, CrossingASectorBoundaryQueriesOnTheNextFrame) {
    peer_.respond([](PeerLink& l, const Request&) { l.send(framed({})); });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(wait_idle());
    EXPECT_FALSE(prop_query_outstanding());

    BrowserEnv::now += 1000;
    BrowserEnv::x = 2.9;  // still sector 0
    BrowserEnv::frames_for(50);
    EXPECT_EQ(peer_.request_count(), 1u);
    EXPECT_FALSE(prop_query_outstanding());

    BrowserEnv::x = 3.0;  // sector 1
    prop_update();
    EXPECT_TRUE(prop_query_outstanding());
    ASSERT_TRUE(wait_requests(2));
    EXPECT_EQ(request(1)[4], 0);
    EXPECT_EQ(request(1)[5], 1);
    ASSERT_TRUE(wait_idle());
    EXPECT_FALSE(prop_query_outstanding());
}

TEST_F(Prop, StandingStillRequeriesAfterThirtySecondsNotBefore) {
    peer_.respond([](PeerLink& l, const Request&) { l.send(framed({})); });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(wait_idle());
    const uint32_t queued = BrowserEnv::now;

    BrowserEnv::now = queued + prop_query_interval_ms;
    BrowserEnv::frames_for(50);
    EXPECT_EQ(peer_.request_count(), 1u);

    BrowserEnv::now = queued + prop_query_interval_ms + 1;
    prop_update();
    EXPECT_TRUE(prop_query_outstanding());
    ASSERT_TRUE(wait_requests(2));
    EXPECT_EQ(request(1), request(0));
}

TEST_F(Prop, NoQueryWhileAttributesAreUnknownOrBeingRead) {
    BrowserEnv::known = false;
    BrowserEnv::frames_for(30);
    BrowserEnv::known = true;
    BrowserEnv::pending = true;
    BrowserEnv::frames_for(30);
    EXPECT_EQ(peer_.request_count(), 0u);
    EXPECT_FALSE(prop_query_outstanding());
    BrowserEnv::pending = false;
    peer_.respond([](PeerLink& l, const Request&) { l.send(framed({})); });
    EXPECT_TRUE(wait_requests(1));
}

TEST_F(Prop, AReplyOfOneZeroByteChangesNothingAndEndsTheQuery) {
    cell_update_begin(5, 5);
    cell_element_add(1, 9, 0, 0, 0, 0, 0, "kept", "", "");
    cell_update_end();
    peer_.respond([](PeerLink& l, const Request&) { l.send(status_reply(0)); });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(wait_idle());
    EXPECT_FALSE(prop_query_outstanding());
    EXPECT_TRUE(BrowserEnv::seen.changed.empty());
    EXPECT_TRUE(BrowserEnv::seen.console.empty());
    ASSERT_EQ(cell_objects(5, 5).size(), 1u);
    EXPECT_EQ(peer_.connections(), 1);
}

// --- Status replies -----------------------------------------------------------

TEST_F(Prop, RefusedChangeAcrossCellsRefreshesBothCells) {
    BrowserEnv::known = false;
    ASSERT_EQ(prop_object_change(1, 1, make(2.5, 0, 1.5, 0)), 0);
    peer_.respond([](PeerLink& l, const Request&) { l.send(status_reply(3)); });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(BrowserEnv::seen.changed, (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}}));
    EXPECT_EQ(BrowserEnv::seen.console,
              std::vector<std::string>{"Building Inspector: You are only allowed to change your own property"});

    // Within one cell there is one cell to refresh.
    BrowserEnv::seen.changed.clear();
    ASSERT_EQ(prop_object_change(2, 1, make(2.5, 0, 1.5, 0)), 0);
    ASSERT_TRUE(wait_requests(2));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(BrowserEnv::seen.changed, (std::vector<std::pair<int, int>>{{2, 1}}));
}

TEST_F(Prop, EveryStatusCodeHasItsReaction) {
    BrowserEnv::known = false;
    // Code and whether it is reported on the console (101 and 0 are silent).
    const std::vector<std::pair<int, bool>> codes = {{0, false},  {3, true},   {11, true},  {100, true}, {101, false},
                                                     {102, true}, {103, true}, {106, true}, {109, true}, {110, true},
                                                     {111, true}, {113, true}, {114, true}, {42, true},  {200, true}};
    // One delete per code; its cell x tells which code the peer answers.
    for (size_t i = 0; i < codes.size(); ++i) ASSERT_EQ(prop_object_delete(static_cast<int16_t>(i), 0, 1), 0);
    std::map<int, int> code_of_cell;
    for (size_t i = 0; i < codes.size(); ++i) code_of_cell[static_cast<int>(i)] = codes[i].first;
    peer_.respond([code_of_cell](PeerLink& l, const Request& r) {
        l.send(status_reply(code_of_cell.at(static_cast<int16_t>((r.frame[4] << 8) | r.frame[5]))));
    });
    ASSERT_TRUE(wait_requests(codes.size()));
    ASSERT_TRUE(wait_idle());
    std::vector<std::pair<int, int>> want_changed;
    size_t reported = 0;
    for (size_t i = 0; i < codes.size(); ++i) {
        reported += codes[i].second;
        if (codes[i].first != 0) want_changed.push_back({static_cast<int>(i), 0});
    }
    ASSERT_EQ(BrowserEnv::seen.console.size(), reported);
    for (const std::string& line : BrowserEnv::seen.console) EXPECT_EQ(line.rfind("Building Inspector: ", 0), 0u);
    EXPECT_NE(BrowserEnv::seen.console.back().find("(reason -56)"), std::string::npos) << "a signed byte";
    EXPECT_EQ(BrowserEnv::seen.changed, want_changed);
}

TEST_F(Prop, OnlyOneRequestIsInFlight) {
    BrowserEnv::known = false;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(prop_object_delete(0, 0, static_cast<uint8_t>(i)), 0);
    // The first request is answered later by the test itself; the peer
    // keeps reading meanwhile, so a second request would be seen.
    std::atomic<int> held{-1};
    peer_.respond([&held](PeerLink& l, const Request&) {
        if (held.load() == -1)
            held = l.fd;
        else
            l.send(status_reply(0));
    });
    ASSERT_TRUE(wait_requests(1));
    BrowserEnv::frames_for(100);
    EXPECT_EQ(peer_.request_count(), 1u);
    EXPECT_EQ(prop_state(), 2);
    PeerLink late;
    late.fd = held.load();
    late.send(status_reply(0));
    ASSERT_TRUE(wait_requests(3));
    ASSERT_TRUE(wait_idle());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(request(static_cast<size_t>(i))[1], i);
}

TEST_F(Prop, AttributeReadHandsItsReplyToTheCallback) {
    BrowserEnv::known = false;
    struct Call {
        Bytes body;
        bool null_body;
        int code;
    };
    static std::vector<Call> calls;
    calls.clear();
    auto callback = [](const uint8_t* body, size_t length, int code) {
        calls.push_back({body ? Bytes(body, body + length) : Bytes{}, body == nullptr, code});
    };
    const std::vector<Bytes> replies = {framed({}), status_reply(7), status_reply(4),
                                        framed({16, 2, 'z', 'k'}), framed({12, 1, '5'})};
    for (size_t i = 0; i < replies.size(); ++i) ASSERT_EQ(prop_attributes_get(callback), 0);
    std::atomic<size_t> next{0};
    peer_.respond([&](PeerLink& l, const Request&) { l.send(replies.at(next++)); });
    ASSERT_TRUE(wait_requests(replies.size()));
    ASSERT_TRUE(wait_idle());
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].code, 0);
    EXPECT_FALSE(calls[0].null_body);
    EXPECT_TRUE(calls[0].body.empty());
    EXPECT_EQ(calls[1].code, 1);
    EXPECT_TRUE(calls[1].null_body);
    EXPECT_EQ(calls[2].code, 4);
    EXPECT_TRUE(calls[2].null_body);
    EXPECT_EQ(calls[3].code, 0);
    EXPECT_EQ(calls[3].body, (Bytes{16, 2, 'z', 'k'}));
    // A list that opens with attribute 12 is a list, not a refusal.
    EXPECT_EQ(calls[4].body, (Bytes{12, 1, '5'}));
    EXPECT_EQ(BrowserEnv::seen.relogins, 0);
    EXPECT_TRUE(BrowserEnv::seen.console.empty());
}

TEST_F(Prop, IdentityRejectedLogsInAgainAndResendsOnANewConnection) {
    BrowserEnv::known = false;
    ASSERT_EQ(prop_object_delete(3, 4, 9), 0);
    ASSERT_EQ(prop_object_delete(3, 4, 10), 0);
    std::atomic<int> n{0};
    peer_.respond([&n](PeerLink& l, const Request&) {
        const int i = n++;
        // A status byte, then a longer body that opens with the same byte.
        l.send(i == 0 ? status_reply(12) : i == 2 ? framed({12, 0, 0, 0}) : status_reply(0));
    });
    ASSERT_TRUE(wait_requests(4));
    ASSERT_TRUE(wait_idle());
    auto r = peer_.requests();
    EXPECT_EQ(r[0].frame, r[1].frame);
    EXPECT_EQ(r[0].connection, 1);
    EXPECT_EQ(r[1].connection, 2);
    EXPECT_EQ(r[2].frame, r[3].frame);
    EXPECT_EQ(r[3].connection, 3);
    EXPECT_EQ(BrowserEnv::seen.relogins, 2);
    EXPECT_TRUE(BrowserEnv::seen.changed.empty());
    const auto& h = env_->ui.pane_history;
    EXPECT_NE(std::find(h.begin(), h.end(), "Identity rejected"), h.end());
}

// --- Lost connections ---------------------------------------------------------

TEST_F(Prop, PeerClosingMidBodyCausesAReconnectAndAResend) {
    std::atomic<int> n{0};
    peer_.respond([&n](PeerLink& l, const Request&) {
        if (n++ == 0) {
            Wire w;
            w.u16(100);
            begin_cell(w, 1, 1);
            object_record(w, 1, 1, "");
            l.send(w.b);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            l.close();
        } else {
            l.send(framed({}));
        }
    });
    ASSERT_TRUE(wait_requests(2));
    ASSERT_TRUE(wait_idle());
    auto r = peer_.requests();
    EXPECT_EQ(r[0].frame, r[1].frame);
    EXPECT_EQ(r[0].frame[0], 3);
    EXPECT_EQ(r[1].connection, 2);
    EXPECT_FALSE(prop_query_outstanding());
    EXPECT_TRUE(cell_objects(1, 1).empty());  // a cut body is never applied
    const auto& h = env_->ui.pane_history;
    EXPECT_NE(std::find(h.begin(), h.end(), "received 26 of 100"), h.end());
    EXPECT_NE(std::find(h.begin(), h.end(), "Waiting for server"), h.end());
    EXPECT_EQ(env_->ui.panes.begin()->second, "");
}

TEST_F(Prop, SilentPeerIsLeftAfterTheIdleLimitAndTheRequestSentAgain) {
    std::atomic<int> n{0};
    peer_.respond([&n](PeerLink& l, const Request&) {
        if (n++ == 0) {
            Wire w;
            w.u16(65535);
            for (int i = 0; i < 100; ++i) w.u8(0x42);
            l.send(w.b);  // and nothing more
        } else {
            l.send(framed({}));
        }
    });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(BrowserEnv::frames_until([] { return prop_state() == 3; }));
    BrowserEnv::frames_for(30);
    EXPECT_EQ(prop_state(), 3);
    EXPECT_EQ(peer_.request_count(), 1u);
    BrowserEnv::net_offset = tcp_idle_timeout_ms + 1;
    ASSERT_TRUE(wait_requests(2));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(peer_.requests()[1].connection, 2);
}

TEST_F(Prop, LengthPrefixInTwoPiecesIsReadWhole) {
    Wire body;
    begin_cell(body, 2, 2);
    object_record(body, 4, 4, "split");
    end_cell(body);
    const Bytes reply = framed(body.b);
    peer_.respond([reply](PeerLink& l, const Request&) {
        l.send(Bytes(reply.begin(), reply.begin() + 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        l.send(Bytes(reply.begin() + 1, reply.end()));
    });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(peer_.connections(), 1);
    ASSERT_EQ(cell_objects(2, 2).size(), 1u);
}

TEST_F(Prop, ResetWhileAReplyIsAppliedLeavesTheResetsState) {
    Wire body;
    begin_cell(body, 1, 1);
    object_record(body, 1, 1, "first");
    end_cell(body);
    begin_cell(body, 2, 2);
    object_record(body, 1, 1, "second");
    end_cell(body);
    stamp_record(body, 0, 0, 99);
    const Bytes reply = framed(body.b);
    peer_.respond([reply](PeerLink& l, const Request&) { l.send(reply); });
    BrowserEnv::on_changed = [](int, int) { prop_reset(); };
    ASSERT_TRUE(BrowserEnv::frames_until([] { return !BrowserEnv::seen.changed.empty(); }));
    EXPECT_EQ(prop_state(), 1);
    EXPECT_EQ(prop_queue_length(), 0u);
    EXPECT_FALSE(prop_query_outstanding());
    EXPECT_EQ(BrowserEnv::seen.changed, (std::vector<std::pair<int, int>>{{1, 1}}));
    EXPECT_EQ(cell_objects(1, 1).size(), 1u);
    EXPECT_TRUE(cell_objects(2, 2).empty());
    EXPECT_EQ(cell_sector_timestamp(0, 0), 0u);
    EXPECT_EQ(env_->ui.panes.begin()->second, "");

    // The next frame connects again at once and asks afresh.
    BrowserEnv::on_changed = nullptr;
    peer_.respond([](PeerLink& l, const Request&) { l.send(framed({})); });
    ASSERT_TRUE(wait_requests(2));
    EXPECT_EQ(peer_.requests()[1].connection, 2);
}

TEST_F(Prop, ReconnectsAtOnceThenUnderTheThrottle) {
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

TEST_F(Prop, NoConnectionWithoutAnAddress) {
    BrowserEnv::address = 0;
    BrowserEnv::frames_for(30);
    EXPECT_EQ(BrowserEnv::seen.unable, 0);
    BrowserEnv::address = 0xFFFFFFFFu;
    prop_update();
    prop_update();
    EXPECT_EQ(BrowserEnv::seen.unable, 2);
    BrowserEnv::frames_for(30);
    EXPECT_EQ(peer_.connections(), 0);
    EXPECT_EQ(peer_.request_count(), 0u);
}

// --- Hostile replies ----------------------------------------------------------

class HostileReply : public Prop {
protected:
    // Sends `body` as the reply to the first query and waits for the end.
    void answer(const Bytes& body) {
        const Bytes reply = framed(body);
        peer_.respond([reply](PeerLink& l, const Request&) { l.send(reply); });
        ASSERT_TRUE(wait_requests(1));
        ASSERT_TRUE(BrowserEnv::frames_until([] { return !prop_query_outstanding(); }));
        EXPECT_EQ(prop_state(), 1);
        EXPECT_EQ(prop_queue_length(), 0u);
    }
};

TEST_F(HostileReply, RecordCutMidFieldKeepsWhatCameBefore) {
    Wire body;
    begin_cell(body, 3, 3);
    object_record(body, 1, 1, "whole");
    end_cell(body);
    begin_cell(body, 4, 4);
    Wire cut;
    object_record(cut, 2, 2, "cut");
    body.raw(Bytes(cut.b.begin(), cut.b.begin() + 10));
    answer(body.b);
    ASSERT_EQ(cell_objects(3, 3).size(), 1u);
    EXPECT_TRUE(cell_objects(4, 4).empty());
    EXPECT_TRUE(BrowserEnv::seen.console.empty());
}

TEST_F(HostileReply, TextLengthsRunningPastTheBodyStopTheParse) {
    Wire body;
    begin_cell(body, 3, 3);
    body.u8(2).u8(1).u32(1).u32(0).u16(0).u16(0).u16(0).u16(0).u8(255).u8(255).u8(255).text("short");
    answer(body.b);
    EXPECT_TRUE(cell_objects(3, 3).empty());
}

TEST_F(HostileReply, ShortSectorRecordStopsTheParse) {
    Wire body;
    stamp_record(body, 1, 1, 5);
    body.u8(4).u16(0).u8(0);
    answer(body.b);
    EXPECT_EQ(cell_sector_timestamp(1, 1), 5u);
    EXPECT_EQ(cell_sector_timestamp(0, 0), 0u);
}

TEST_F(HostileReply, UnknownTagSkipsTheRest) {
    Wire body;
    begin_cell(body, 1, 2);
    object_record(body, 1, 1, "before");
    end_cell(body);
    body.u8(0x55);
    begin_cell(body, 7, 7);
    object_record(body, 1, 1, "after");
    end_cell(body);
    answer(body.b);
    EXPECT_EQ(cell_objects(1, 2).size(), 1u);
    EXPECT_TRUE(cell_objects(7, 7).empty());
}

TEST_F(HostileReply, RecordsOutsideAnyCellTouchNoCell) {
    // The work buffer holds a cell that the visibility manager just loaded.
    cell_update_begin(6, 6);
    cell_element_add(1, 1, 0, 0, 0, 0, 0, "resident", "", "");
    cell_update_end();
    cell_start(6, 6);
    Wire body;
    object_record(body, 2, 2, "stray");
    body.u8(3).u8(1);
    end_cell(body);
    begin_cell(body, 8, 8);
    object_record(body, 1, 1, "placed");
    end_cell(body);
    answer(body.b);
    auto resident = cell_objects(6, 6);
    ASSERT_EQ(resident.size(), 1u);
    EXPECT_EQ(resident[0].model, "resident");
    EXPECT_EQ(cell_objects(8, 8).size(), 1u);
    EXPECT_EQ(BrowserEnv::seen.changed, (std::vector<std::pair<int, int>>{{8, 8}}));
}

TEST_F(HostileReply, ThousandsOfObjectsInOneCellStayBoundedAndALongReplyAsksAgain) {
    Wire body;
    begin_cell(body, 8, 8);
    for (int i = 0; i < 3000; ++i) object_record(body, i % 256, static_cast<uint32_t>(i), "");
    end_cell(body);
    ASSERT_LT(body.b.size(), 65536u);
    answer(body.b);
    auto objects = cell_objects(8, 8);
    ASSERT_EQ(objects.size(), 256u);
    for (const CellObject& o : objects) EXPECT_EQ(o.owner % 256, static_cast<uint32_t>(o.number));
    for (const CellObject& o : objects) EXPECT_GE(o.owner, 3000u - 256u);
    // More than 4,096 bytes: the same sector is asked again at once, with
    // the frame clock standing still.
    ASSERT_TRUE(wait_requests(2));
    EXPECT_EQ(request(1), request(0));
}

TEST_F(HostileReply, CellsOutsideTheQueriedSectorsAreIgnoredAndTheWorkIsBounded) {
    // The query is for sector (0, 0), so its 3 x 3 sectors hold cells -9..8.
    Wire body;
    for (int i = 0; i < 5; ++i) {
        begin_cell(body, -9 + i * 4, -9);
        object_record(body, 1, 1, "");
        end_cell(body);
    }
    for (int i = 0; i < 2400; ++i) {
        begin_cell(body, 9 + i % 60, -50 + i / 60);
        object_record(body, 1, 1, "");
        end_cell(body);
    }
    stamp_record(body, 1, 1, 11);
    stamp_record(body, 5, 5, 55);
    const Bytes reply = framed(body.b);
    peer_.respond([reply](PeerLink& l, const Request&) { l.send(reply); });
    // Every reply is long, and the frame clock stands still.
    size_t most_per_pass = 0;
    std::chrono::steady_clock::duration longest{};
    const size_t asks = 1 + prop_long_reply_requeries;
    ASSERT_TRUE(BrowserEnv::frames_until([&] {
        const size_t before = BrowserEnv::seen.changed.size();
        const auto start = std::chrono::steady_clock::now();
        prop_update();
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        most_per_pass = std::max(most_per_pass, BrowserEnv::seen.changed.size() - before);
        return peer_.request_count() == asks && !prop_query_outstanding();
    }, 10000));
    BrowserEnv::frames_for(200);
    EXPECT_EQ(peer_.request_count(), asks) << "long replies do not make queries for ever";
    EXPECT_EQ(BrowserEnv::seen.changed.size(), 5 * asks);
    for (auto [x, z] : BrowserEnv::seen.changed) EXPECT_TRUE(x >= -9 && x <= 8 && z == -9) << x << "," << z;
    EXPECT_LE(most_per_pass, static_cast<size_t>(prop_writes_per_pass));
    // Each write is a commit to disk: milliseconds each, 2,400 take many seconds.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count(), 2000);
    for (int i = 0; i < 2400; i += 61) ASSERT_TRUE(cell_objects(9 + i % 60, -50 + i / 60).empty()) << i;
    EXPECT_EQ(cell_objects(-9, -9).size(), 1u);
    EXPECT_EQ(cell_sector_timestamp(1, 1), 11u);
    EXPECT_EQ(cell_sector_timestamp(5, 5), 0u);
    // The next query waits for its interval.
    BrowserEnv::now += prop_query_interval_ms + 1;
    EXPECT_TRUE(wait_requests(asks + 1));
}

// --- The pane ---------------------------------------------------------------------

TEST_F(Prop, CachePaneFollowsTheSettingAndTheMenuCommand) {
    ASSERT_EQ(env_->ui.panes.size(), 1u);
    EXPECT_TRUE(env_->ui.menu_checked[133]);
    prop_show_cache();
    EXPECT_TRUE(env_->ui.panes.empty());
    EXPECT_FALSE(env_->ui.menu_checked[133]);
    EXPECT_EQ(settings_get_int("show", "cache"), 0);
    prop_show_cache();
    EXPECT_EQ(env_->ui.panes.size(), 1u);
    EXPECT_TRUE(env_->ui.menu_checked[133]);
    EXPECT_EQ(settings_get_int("show", "cache"), 1);
}

TEST_F(Prop, CachePaneCountsTheQueryReplyAndClearsAtTheEnd) {
    Wire body;
    begin_cell(body, 1, 1);
    for (int i = 0; i < 10; ++i) object_record(body, i, 1, "m");
    end_cell(body);
    const Bytes reply = framed(body.b);
    const size_t half = 2 + body.b.size() / 2;
    peer_.respond([reply, half](PeerLink& l, const Request&) {
        l.send(Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(half)));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        l.send(Bytes(reply.begin() + static_cast<std::ptrdiff_t>(half), reply.end()));
    });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(wait_idle());
    const size_t total = body.b.size();
    const auto& h = env_->ui.pane_history;
    const std::string first = "received " + std::to_string(half - 2) + " of " + std::to_string(total);
    const std::string last = "received " + std::to_string(total) + " of " + std::to_string(total);
    EXPECT_NE(std::find(h.begin(), h.end(), first), h.end());
    EXPECT_NE(std::find(h.begin(), h.end(), last), h.end());
    EXPECT_EQ(h.back(), "");
}

// --- A restart keeps the cache ----------------------------------------------------

TEST_F(Prop, CellsAndTimestampsSurviveARestartAndGoBackInTheNextQuery) {
    Wire body;
    begin_cell(body, 2, -3);
    object_record(body, 5, 321, "kept-over", 100, 200, 300, 450);
    end_cell(body);
    for (int sz = -1; sz <= 1; ++sz)
        for (int sx = -1; sx <= 1; ++sx) stamp_record(body, sx, sz, 0x70000000u + static_cast<uint32_t>((sz + 1) * 3 + sx + 1));
    const Bytes reply = framed(body.b);
    peer_.respond([reply](PeerLink& l, const Request& r) {
        // Timestamps of zero: the browser has nothing yet.
        bool empty = true;
        for (int i = 8; i < 44; ++i) empty = empty && r.frame[i] == 0;
        l.send(empty ? reply : framed({}));
    });
    ASSERT_TRUE(wait_requests(1));
    ASSERT_TRUE(wait_idle());

    // The program ends and starts again over the same directory.
    prop_reset();
    cell_term();
    ASSERT_TRUE(cell_init());
    ASSERT_EQ(cell_open(env_->cache_dir(), false), 1);
    auto objects = cell_objects(2, -3);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].model, "kept-over");
    EXPECT_EQ(objects[0].owner, 321u);
    EXPECT_DOUBLE_EQ(objects[0].y, 0.2);

    ASSERT_TRUE(wait_requests(2));
    Wire want;
    want.u8(3).u8(0).u8(0).u8(0).u16(0).u16(0);
    for (int i = 0; i < 9; ++i) want.u32(0x70000000u + static_cast<uint32_t>(i));
    want.u32(kCitizen);
    EXPECT_EQ(request(1), want.b);
    EXPECT_EQ(peer_.requests()[1].connection, 2);
}

}  // namespace
