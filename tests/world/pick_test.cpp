#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "net/peer.h"
#include "support/fake_object_window.h"
#include "view/self.h"
#include "world/browser_env.h"
#include "world/pick.h"
#include "world/visible_env.h"

using namespace zk;
using namespace zk::test;

namespace {

// A loaded cell (0, 0) with object 1 at (0.5, 0, 0.25) turned 30 degrees and
// object 2 beside it; the world server is a scripted peer.
class Pick : public ::testing::Test {
protected:
    static inline RwClump* under = nullptr;  // what the mouse points at
    static inline float user_yaw = 0;

    void SetUp() override {
        BrowserEnv::known = false;  // no neighbourhood queries, only building
        prop_reset();
        BrowserEnv::on_changed = [](int x, int z) { visible_invalidate(x, z); };
        cell_update_begin(0, 0);
        cell_element_add(1, 7, 1700000000, 500, 0, 250, 300, "box", "", "");
        cell_element_add(2, 7, 1700000000, 200, 0, 700, 0, "cone", "", "");
        ASSERT_EQ(cell_update_end(), 1);
        ASSERT_GT(VisibleWorld::frames_until_done(), 0);
        object_window_set_port(&window_);
        under = nullptr;
        user_yaw = 0;
        pick_ports().instance_at = [](int, int) { return under; };
        pick_ports().user_yaw = [] { return user_yaw; };
        peer_.respond([](PeerLink& l, const Request&) { l.send(framed({0})); });
        pick_init();
    }
    void TearDown() override {
        pick_term();
        pick_ports_restore();
        object_window_set_port(nullptr);
        key_clear_all();
    }

    static object* loaded(int number, int* count = nullptr) {
        object* found = nullptr;
        object* o = nullptr;
        if (count) *count = 0;
        for (visible_start(0, 0); visible_next(&o), o;) {
            if (count) ++*count;
            if (o->number == number) found = o;
        }
        return found;
    }
    static int loaded_count() {
        int n = 0;
        loaded(0, &n);
        return n;
    }
    static int select(int number) {
        under = model_clump(loaded(number)->model);
        return pick_at(1, 1);
    }
    // The next request the server receives, once its reply is applied.
    Bytes sent() {
        const size_t n = peer_.request_count();
        EXPECT_TRUE(BrowserEnv::frames_until([&] { return peer_.request_count() > n && prop_queue_length() == 0; }));
        return peer_.request_count() > n ? peer_.requests().back().frame : Bytes{};
    }

    ScriptedPeer peer_{[](const Bytes& in) { return in.size(); }, 0};
    VisibleWorld world_;
    BrowserEnv env_{peer_.port()};
    FakeObjectWindow window_;
};

// Object 1's axes point at 30, 120, 210 and 300 degrees; "back" is the one
// nearest to where the user looked when selecting.
TEST_F(Pick, CommandsMoveAlongTheObjectsAxesAndAnEmptyModelDropsTheEdit) {
    const double c = 0.05 * std::cos(M_PI / 6), h = 0.025;
    struct Case {
        float user_yaw;
        int command;
        bool shift;
        double dx, dy, dz;
        float dyaw;
    };
    const std::vector<Case> cases = {
        {0, 112, false, h, 0, c, 0},     {0, 112, true, h / 10, 0, c / 10, 0}, {90, 112, false, c, 0, -h, 0},
        {200, 112, false, -h, 0, -c, 0}, {-100, 113, false, c, 0, -h, 0},      {0, 114, false, c, 0, -h, 0},
        {0, 115, false, -c, 0, h, 0},    {0, 110, false, 0, 0.05, 0, 0},      {0, 111, true, 0, -0.005, 0, 0},
        {0, 116, false, 0, 0, 0, 15},    {0, 117, true, 0, 0, 0, -1.5f},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.user_yaw) + " " + std::to_string(k.command) + (k.shift ? " shift" : ""));
        user_yaw = k.user_yaw;
        ASSERT_EQ(select(1), 1);
        EXPECT_EQ(loaded_count(), 1);
        key_event(key_shift, k.shift);
        EXPECT_EQ(pick_command(k.command), 1);
        const object* o = pick_object();
        EXPECT_NEAR(o->x - 0.5, k.dx, 1e-6);
        EXPECT_NEAR(o->y, k.dy, 1e-6);
        EXPECT_NEAR(o->z - 0.25, k.dz, 1e-6);
        EXPECT_NEAR(o->yaw - 30, k.dyaw, 1e-4);
        EXPECT_NEAR(rw_clump_matrix(model_clump(o->model)).at(0, 3), o->x, 1e-5);
        window_.typed.model.clear();
        pick_off();
        EXPECT_FALSE(pick_selected());
        EXPECT_EQ(prop_queue_length(), 0u);
        const object* back = loaded(1);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(loaded_count(), 2);
        EXPECT_EQ(std::vector<double>({back->x, back->y, back->z, back->yaw}), std::vector<double>({0.5, 0, 0.25, 30}));
    }
    EXPECT_EQ(pick_command(105), 0);
}

// Each way of ending a selection of object 1 hands one object back and
// sends a change exactly when something differs or was undone.
TEST_F(Pick, EndingASelectionHandsBackOneObjectAndSendsWhatChanged) {
    enum End { enter, click_again, click_nothing };
    struct Case {
        const char* name;
        std::function<void(FakeObjectWindow&)> edit;
        End end;
        bool sends;
        uint32_t owner;
        int32_t y_milli;
        int description_length;
    };
    const std::vector<Case> cases = {
        {"untouched", [](FakeObjectWindow&) {}, click_again, false, 0, 0, 0},
        {"raised", [](FakeObjectWindow&) { pick_command(110); }, click_again, true, 7, 50, 0},
        {"raised", [](FakeObjectWindow&) { pick_command(110); }, click_nothing, true, 7, 50, 0},
        {"owner", [](FakeObjectWindow& w) { w.typed.owner = " 9"; }, enter, true, 9, 0, 0},
        {"owner not a number", [](FakeObjectWindow& w) { w.typed.owner = "9x"; }, enter, false, 0, 0, 0},
        {"description", [](FakeObjectWindow& w) { w.typed.description = "a box"; }, enter, true, 7, 0, 5},
        {"undone",
         [](FakeObjectWindow& w) {
             w.typed.description = "a box";
             pick_command(110);
             pick_command(140);
         },
         enter, true, 7, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_EQ(select(1), 1);
        EXPECT_EQ(window_.typed, (ObjectFields{"box", "", "", "7"}));
        EXPECT_TRUE(window_.enabled);
        k.edit(window_);
        if (k.end == enter) pick_off();
        if (k.end == click_nothing) under = nullptr;
        if (k.end != enter) {
            EXPECT_EQ(pick_at(1, 1), k.end == click_again ? 1 : 0);
        }
        EXPECT_FALSE(pick_selected());
        EXPECT_FALSE(window_.enabled);
        EXPECT_EQ(loaded_count(), 2);
        ASSERT_EQ(prop_queue_length(), k.sends ? 1u : 0u);
        if (!k.sends) continue;
        const Bytes r = sent();
        ASSERT_GE(r.size(), 35u);
        EXPECT_EQ(r[0], 7);
        EXPECT_EQ(r[1], 1);
        EXPECT_EQ(load_be32(r.data() + 12), k.owner);
        EXPECT_EQ(load_be32s(r.data() + 20), k.y_milli);
        EXPECT_EQ(load_be32(r.data() + 28), 0u);  // the old cell
        EXPECT_EQ(r[33], k.description_length);
        // The server took it; the cache still holds the old object.
        visible_invalidate(0, 0);
        ASSERT_GT(VisibleWorld::frames_until_done(), 0);
    }
}

TEST_F(Pick, DuplicateThenDeleteSendsNothingWhileDeletingASentObjectDoes) {
    ASSERT_EQ(select(1), 1);
    EXPECT_EQ(pick_command(109), 1);
    const object* copy = pick_object();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(loaded_count(), 2);  // the original went back
    EXPECT_GE(copy->number, 32);
    EXPECT_LE(copy->number, 254);
    EXPECT_NEAR(copy->z - 0.25, 0.05 * std::cos(M_PI / 6), 1e-6);
    EXPECT_EQ(window_.owner_name, "  <Tourist>");
    EXPECT_EQ(pick_command(108), 1);
    EXPECT_FALSE(pick_selected());
    EXPECT_EQ(prop_queue_length(), 0u);
    EXPECT_EQ(loaded_count(), 2);

    // A copy sent is an add; a delete names the object and its cell.
    ASSERT_EQ(select(2), 1);
    pick_command(109);
    pick_off();
    EXPECT_EQ(loaded_count(), 3);
    EXPECT_EQ(sent().at(0), 0);
    ASSERT_EQ(select(2), 1);
    pick_command(108);
    EXPECT_EQ(loaded_count(), 2);
    EXPECT_EQ(loaded(2), nullptr);
    EXPECT_EQ(sent(), Wire().u8(2).u8(2).zeros(6).u32(0).u32(BrowserEnv::citizen).b);
}

TEST_F(Pick, ARefusedMoveIsUndoneByReloadingTheCell) {
    peer_.respond([](PeerLink& l, const Request&) { l.send(framed({3})); });
    ASSERT_EQ(select(1), 1);
    pick_command(112);
    pick_command(110);
    pick_off();
    EXPECT_NEAR(loaded(1)->y, 0.05, 1e-6);
    EXPECT_EQ(sent().at(0), 7);
    ASSERT_EQ(BrowserEnv::seen.console.size(), 1u);
    EXPECT_EQ(BrowserEnv::seen.console[0].rfind("Building Inspector: ", 0), 0u);
    ASSERT_GT(VisibleWorld::frames_until_done(), 0);
    const object* back = loaded(1);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(loaded_count(), 2);
    EXPECT_EQ(std::vector<double>({back->x, back->y, back->z}), std::vector<double>({0.5, 0, 0.25}));
}

// World reset drops the cells, then the selection: nothing is sent and no
// object is left over.
TEST_F(Pick, WorldResetWhileSelectedSendsNothingAndKeepsNothing) {
    ASSERT_EQ(select(1), 1);
    pick_command(110);
    EXPECT_TRUE(visible_revealing());
    visible_reset();
    pick_drop_selection();
    EXPECT_FALSE(pick_selected());
    EXPECT_FALSE(visible_revealing());
    EXPECT_FALSE(window_.enabled);
    EXPECT_EQ(prop_queue_length(), 0u);
    EXPECT_EQ(object_first(), nullptr);
}

}  // namespace
