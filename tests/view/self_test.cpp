// The own movement step, driven frame by frame at chosen times without a display.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/settings.h"
#include "view/figures.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "art/model.h"
#include "people/registry.h"
#include "people/sequencer.h"
#include "view/camera.h"
#include "view/collision.h"
#include "view/self.h"
#include "world/cell.h"

namespace zk {
namespace {

using namespace test;

std::vector<CollisionItem> g_items;
const RwClump* g_ground = nullptr;
bool g_has_ground = false;
int g_forward = 0, g_turn = 0;  // mouse input for the next frame
std::vector<object*> g_bumps;

class Self : public ::testing::Test {
protected:
    void SetUp() override {
        settings_set_directory(dir_.path());
        g_items.clear();
        g_ground = nullptr;
        g_has_ground = false;
        g_forward = g_turn = 0;
        g_bumps.clear();
        key_clear_all();
        collision_hooks() = CollisionHooks{};
        collision_forget();
        self_hooks() = SelfHooks{};
        self_init();
        collision_hooks().cell_items = [](int, int, std::vector<CollisionItem>* out) {
            // The nine cells are asked in turn; the figures are given once
            // per test, as if they all stood in the first cell.
            static int calls = 0;
            if (calls++ % 9 == 0) out->insert(out->end(), g_items.begin(), g_items.end());
        };
        collision_hooks().ground = [] { return g_ground; };
        collision_hooks().bump = [](object* o) { g_bumps.push_back(o); };
        self_hooks().world_has_ground = [] { return g_has_ground; };
        self_hooks().mouse_input = [](int* f, int* t) {
            *f = g_forward, *t = g_turn;
            g_forward = g_turn = 0;
        };
    }
    void TearDown() override {
        self_term();
        collision_hooks() = CollisionHooks{};
        self_hooks() = SelfHooks{};
        key_clear_all();
    }
    // A floor under the user, and gravity.
    void floor_below() {
        g_has_ground = true;
        g_ground = floor_.get();
    }

    // Sets the position and lets the next frame settle it.
    void place(double x, double y, double z, float yaw) {
        ASSERT_EQ(self_set_position(x, y, z, yaw), 1);
        step(50);
    }
    void step(uint32_t ms) {
        now_ += ms;
        self_step(now_);
    }
    void frames(int n, uint32_t ms) {
        for (int i = 0; i < n; ++i) step(ms);
    }
    double x() { double v; self_position(&v, nullptr, nullptr); return v; }
    double y() { double v; self_position(nullptr, &v, nullptr); return v; }
    double z() { double v; self_position(nullptr, nullptr, &v); return v; }

    test::TempDir dir_;
    test::ScopedFakeUi ui_;
    ClumpPtr floor_ = make_floor(0.5f, 0, 0.5f, 20);
    uint32_t now_ = 100000;
};

TEST_F(Self, KeysTappedBetweenFramesActOnceAndHeldKeysKeepActing) {
    key_event(key_up, true);
    key_event(key_up, false);
    EXPECT_TRUE(key_asked(key_up));
    EXPECT_FALSE(key_asked(key_up));
    key_event(key_left, true);
    EXPECT_TRUE(key_asked(key_left));
    EXPECT_TRUE(key_asked(key_left));
    EXPECT_TRUE(key_held(key_left));
    key_event(-1, true);
    key_event(256, true);
    EXPECT_FALSE(key_asked(256));
    EXPECT_FALSE(key_held(-5));
}

TEST_F(Self, StartsAtHeight8AndSetPositionChecksItsRangeInclusively) {
    EXPECT_DOUBLE_EQ(y(), 8.0);
    EXPECT_FLOAT_EQ(self_eye_height(), 8.0f + 0.9f * 0.2f);
    EXPECT_EQ(self_set_position(32764, 200, -32764, 0), 1);
    EXPECT_EQ(self_set_position(-32764, -35, 32764, 0), 1);
    EXPECT_EQ(self_set_position(32764.01, 0, 0, 0), 0);
    EXPECT_EQ(self_set_position(0, -35.01, 0, 0), 0);
    EXPECT_EQ(self_set_position(0, 200.01, 0, 0), 0);
    EXPECT_EQ(self_set_position(0, 0, -32765, 0), 0);
    EXPECT_EQ(self_set_position(0, NAN, 0, 0), 0);
    EXPECT_EQ(self_move_to(0, 0, 40000, 0), 0);
    EXPECT_FALSE(self_gliding());
    EXPECT_DOUBLE_EQ(x(), -32764);
    EXPECT_DOUBLE_EQ(z(), 32764);
}

TEST_F(Self, TheFrameAfterASetPositionClearsTheKeysPlacesTheCameraAtTheEyeAndDoesNotMove) {
    ASSERT_EQ(camera_init(), 0);
    key_event(key_up, true);
    ASSERT_EQ(self_set_position(3.5, 1.0, 4.5, 0), 1);
    EXPECT_TRUE(self_position_set());
    step(500);
    EXPECT_FALSE(self_position_set());
    EXPECT_DOUBLE_EQ(z(), 4.5);
    const RwV3 eye = camera_position();
    EXPECT_FLOAT_EQ(eye.x, 3.5f);
    EXPECT_FLOAT_EQ(eye.y, 1.0f + 0.18f);
    EXPECT_FLOAT_EQ(eye.z, 4.5f);
    step(500);  // the key was cleared, nothing pushes
    EXPECT_DOUBLE_EQ(z(), 4.5);
    camera_term();
}

TEST_F(Self, AFrameOf2SecondsMovesAsOneOf750Milliseconds) {
    auto walk = [&](uint32_t ms) {
        self_init();
        place(0.5, 0, 0.5, 0);
        key_event(key_up, true);
        step(ms);
        key_event(key_up, false);
        return z() - 0.5;
    };
    const double long_frame = walk(2000), capped = walk(750), shorter = walk(500);
    EXPECT_GT(capped, 0.05);
    EXPECT_DOUBLE_EQ(long_frame, capped);
    EXPECT_LT(shorter, capped);
}

TEST_F(Self, ShiftPassesThroughASolidBoxWithoutGravity) {
    floor_below();
    object stone;
    auto box = make_box(0, 0, 0.6f, 1, 1, 0.8f);
    g_items.push_back({&stone, box.get()});

    place(0.5, 0.3, 0.5, 0);
    key_event(key_shift, true);
    key_event(key_up, true);
    frames(40, 50);
    EXPECT_GT(z(), 0.85);
    EXPECT_DOUBLE_EQ(y(), 0.3);
}

TEST_F(Self, AStepUpTo005IsClimbedAHigherOneStops) {
    floor_below();
    object stone;
    for (float height : {0.02f, 0.04f, 0.1f, 0.3f}) {
        auto step_box = make_box(0, 0, 0.3f, 1, height, 1.5f);
        g_items.assign(1, {&stone, step_box.get()});
        place(0.5, 0, 0.1, 0);
        key_event(key_up, true);
        frames(60, 50);
        if (height <= 0.04f) {
            EXPECT_GT(z(), 0.5) << height;
            EXPECT_NEAR(y(), height, 0.011);
            EXPECT_GE(y(), height - 1e-6);
        } else {
            EXPECT_LE(z(), 0.3 - 0.025 + 1e-6) << height;
            EXPECT_GT(z(), 0.26);
            EXPECT_LT(y(), 0.01);
        }
    }
}

TEST_F(Self, TurningCrossesTheBackOfTheCircle) {
    place(0.5, 0, 0.5, 179);
    g_turn = 40;  // left by 2 degrees
    step(50);
    EXPECT_TRUE(self_turning());
    frames(10, 50);
    EXPECT_FALSE(self_turning());
    EXPECT_NEAR(self_yaw(), -179.0f, 1e-3);

    place(0.5, 0, 0.5, -179);
    g_turn = -40;
    frames(11, 50);
    EXPECT_NEAR(self_yaw(), 179.0f, 1e-3);
    for (int i = 0; i < 50; ++i) {
        key_event(key_left, true);
        step(20);
        ASSERT_GE(self_yaw(), -180.0f);
        ASSERT_LT(self_yaw(), 180.0f);
    }
}

TEST_F(Self, ThePositionIsHeldAtTheWorldsEdge) {
    place(32763.95, 0, 0.5, 90);  // facing west, +x
    key_event(key_control, true);
    key_event(key_up, true);
    frames(5, 750);
    EXPECT_DOUBLE_EQ(x(), 32764);
    EXPECT_DOUBLE_EQ(y(), 0) << "no ground: no gravity";
    key_event(key_control, false);
    key_event(key_up, false);

    g_has_ground = true;  // gravity, and nothing to stand on
    place(0.5, -34.9, 0.5, 0);
    frames(10, 750);
    EXPECT_DOUBLE_EQ(y(), -35);

    place(0.5, 199.9, 0.5, 0);
    key_event(key_add, true);
    key_event(key_control, true);
    frames(20, 750);
    EXPECT_TRUE(self_flying());
    EXPECT_DOUBLE_EQ(y(), 200);
}

TEST_F(Self, AGlideCarriesTheUserThroughWallsToTheTarget) {
    object stone;
    auto wall = make_box(0, 0, 1.0f, 1, 1, 1.1f);
    g_items.push_back({&stone, wall.get()});
    place(0.5, 0, 0.5, 0);
    ASSERT_EQ(self_move_to(0.5, 0, 2.0, 90), 1);
    EXPECT_TRUE(self_gliding());
    frames(400, 20);
    EXPECT_FALSE(self_gliding());
    EXPECT_FALSE(self_arriving());
    EXPECT_NEAR(z(), 2.0, 0.07);
    EXPECT_NEAR(self_yaw(), 90.0f, 1e-3);
    EXPECT_EQ(g_bumps.size(), 1u);  // the wall it glided through
}

TEST_F(Self, KeypadClearStopsAndKeypadMinusEndsFlyingOnTheFloor) {
    floor_below();
    place(0.5, 0.5, 0.5, 0);
    key_event(key_add, true);
    frames(5, 100);
    key_event(key_add, false);
    EXPECT_TRUE(self_flying());
    key_event(key_clear, true);
    key_event(key_clear, false);
    const double before = y();
    step(100);
    EXPECT_DOUBLE_EQ(y(), before);  // velocity gone
    key_event(key_subtract, true);
    frames(80, 100);
    EXPECT_FALSE(self_flying());
    EXPECT_TRUE(self_grounded());
    EXPECT_NEAR(y(), 0.0, 0.01);
    EXPECT_GE(y(), 0.0);
}

TEST_F(Self, TheTitleShowsThePlaceAndChangesAtCellBorders) {
    place(0.5, 0, 0.5, 0);
    EXPECT_EQ(ui_.fake.title, " at ground zero facing N");
    place(0.02, 0, 0.5, -90);  // facing east, -x
    EXPECT_EQ(ui_.fake.title, " at ground zero facing E");
    key_event(key_up, true);
    frames(10, 50);
    key_event(key_up, false);
    ASSERT_LT(x(), 0);
    EXPECT_EQ(ui_.fake.title, " at 0N 1E facing E");

    place(0.5, 0, 0.02, 180);
    EXPECT_EQ(ui_.fake.title, " at ground zero facing S");
    key_event(key_up, true);
    frames(10, 50);
    ASSERT_LT(z(), 0);
    EXPECT_EQ(ui_.fake.title, " at 1S 0W facing S");

    // Rewritten only when the place or the direction changes.
    key_event(key_up, false);
    frames(5, 50);
    ui_.fake.title = "kept";
    step(50);
    EXPECT_EQ(ui_.fake.title, "kept");
    g_turn = 1800;  // a quarter turn left: facing east
    frames(10, 50);
    EXPECT_EQ(ui_.fake.title, " at 1S 0W facing E");

    self_toggle_position_display();
    EXPECT_EQ(ui_.fake.title, "");  // the world's name alone
    EXPECT_FALSE(ui_.fake.menu_checked[kCommandPosition]);
    EXPECT_EQ(settings_get_int("show", "position"), 0);

    // The direction names cover the circle.
    const std::pair<float, const char*> names[] = {{0, "N"}, {21, "N"}, {22, "NW"}, {90, "W"}, {135, "SW"}, {179, "S"},
                                                   {-180, "S"}, {-90, "E"}, {-45, "NE"}, {-23, "N"}, {-24, "NE"}};
    for (const auto& [yaw, name] : names) EXPECT_STREQ(self_direction_name(yaw), name) << yaw;
}

TEST_F(Self, TheAltitudePaneShowsMetres) {
    EXPECT_FALSE(self_altitude_display());
    EXPECT_TRUE(ui_.fake.panes.empty());
    self_toggle_altitude_display();
    ASSERT_EQ(ui_.fake.panes.size(), 1u);
    EXPECT_EQ(ui_.fake.panes.begin()->second, "80.0 meters");
    EXPECT_TRUE(ui_.fake.menu_checked[kCommandAltitude]);
    EXPECT_EQ(settings_get_int("show", "altitude"), 1);
    place(0.5, 1.234, 0.5, 0);
    EXPECT_EQ(ui_.fake.panes.begin()->second, "12.3 meters");
    self_toggle_altitude_display();
    EXPECT_TRUE(ui_.fake.panes.empty());
    EXPECT_EQ(settings_get_int("show", "altitude"), 0);
    // The displays start as stored.
    settings_put_int("show", "position", 0);
    settings_put_int("show", "altitude", 1);
    self_init();
    EXPECT_FALSE(self_position_display());
    EXPECT_TRUE(self_altitude_display());
    EXPECT_EQ(ui_.fake.panes.size(), 1u);
}

}  // namespace
}  // namespace zk

namespace zk {
namespace {

// The own figure is made at each set position: hidden while the camera is
// the user's eyes, shown in third person, and it follows the user.
TEST_F(Self, TheOwnFigureShowsOnlyInThirdPersonAndFollowsTheUser) {
    ASSERT_TRUE(model_init());
    ASSERT_EQ(camera_init(), 0);
    registry_load("");  // the built-in type alone
    place(2, 0, 3, 90);
    ASSERT_TRUE(self_figure());
    model_ref* model = figure_model(self_figure());
    ASSERT_TRUE(model);
    EXPECT_TRUE(model_hidden(model)) << "first person";
    camera_track_self(0);
    EXPECT_FALSE(model_hidden(model)) << "third person";
    step(50);
    float x = 0, y = 0, z = 0;
    figure_position(self_figure(), &x, &y, &z);
    EXPECT_NEAR(x, 2, 0.01);
    EXPECT_NEAR(z, 3, 0.01);
    camera_track_ahead();
    EXPECT_TRUE(model_hidden(model)) << "first person again";
    // A new place makes the figure anew, hidden as the view is.
    place(5, 0, 5, 0);
    EXPECT_TRUE(model_hidden(figure_model(self_figure())));
    self_release_model();
    EXPECT_FALSE(self_figure());
    camera_term();
    registry_reset("");
    model_term();
}

}  // namespace
}  // namespace zk
