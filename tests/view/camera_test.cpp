// Camera, viewport and frame-rate rules of the view.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "core/settings.h"
#include "render/camera.h"
#include "render/clump.h"
#include "render/device.h"
#include "render/math.h"
#include "render/texture.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "view/camera.h"
#include "view/frame.h"
#include "view/scene.h"
#include "view/viewport.h"

namespace zk {
namespace {

OwnView g_own;
int g_model_shown = -1;

class View : public ::testing::Test {
protected:
    void SetUp() override {
        settings_set_directory(dir_.path());
        g_own = {};
        g_model_shown = -1;
        camera_set_own_view([] { return g_own; });
        camera_set_own_model_switch([](bool shown) { g_model_shown = shown ? 1 : 0; });
        ASSERT_EQ(camera_init(), 0);
    }
    void TearDown() override {
        camera_term();
        camera_set_own_view(nullptr);
        camera_set_own_model_switch(nullptr);
        frame_clear_counters();
        if (fps_display_on()) fps_toggle_display();
    }
    test::TempDir dir_;
    test::ScopedFakeUi ui_;
};

TEST_F(View, StartsFirstPersonAt200By120WithTheDefaultBackground) {
    EXPECT_EQ(camera_view_mode(), 0);
    RwCamera* m = camera_main();
    ASSERT_TRUE(m && camera_half());
    EXPECT_EQ(m->width, 200);
    EXPECT_EQ(m->viewport.width, 196);
    EXPECT_EQ(m->viewport.height, 116);
    EXPECT_EQ(camera_half()->width, 100);
    EXPECT_EQ(camera_half()->viewport.width, 98);
    EXPECT_FLOAT_EQ(m->window_w, 1.0f);
    EXPECT_FLOAT_EQ(m->window_h, 116.0f / 196.0f);
    EXPECT_TRUE(ui_.fake.toolbar_enabled[126]);
    EXPECT_TRUE(ui_.fake.toolbar_enabled[127]);
    EXPECT_TRUE(ui_.fake.menu_checked[126]);
    EXPECT_FALSE(ui_.fake.menu_enabled[131]);  // already level
    EXPECT_EQ(g_model_shown, 0);                // own model hidden in first person
}

TEST_F(View, LookKeysStopAtTheirLimitsAndSetTheMenus) {
    auto& f = ui_.fake;
    for (int i = 0; i < 18; ++i) camera_look_up();
    EXPECT_FLOAT_EQ(camera_pitch(), -85);
    EXPECT_FALSE(f.menu_enabled[124]);
    EXPECT_FALSE(f.toolbar_enabled[124]);
    EXPECT_TRUE(f.menu_enabled[125]);
    EXPECT_TRUE(f.menu_enabled[131]);
    camera_look_level();
    EXPECT_FLOAT_EQ(camera_pitch(), 0);
    EXPECT_FALSE(f.menu_enabled[131]);
    EXPECT_TRUE(f.menu_enabled[124]);
    for (int i = 0; i < 20; ++i) camera_look_down();
    EXPECT_FLOAT_EQ(camera_pitch(), 85);
    EXPECT_FALSE(f.menu_enabled[125]);
    // Third person: look keys do nothing and are disabled.
    camera_track_self(1);
    EXPECT_TRUE(camera_third_person());
    EXPECT_EQ(g_model_shown, 1);
    camera_look_up();
    camera_look_level();
    EXPECT_FLOAT_EQ(camera_pitch(), 85);
    for (int c : {124, 125, 131}) {
        EXPECT_FALSE(f.menu_enabled[c]);
        EXPECT_FALSE(f.toolbar_enabled[c]);
    }
    EXPECT_TRUE(f.menu_checked[127]);
    EXPECT_FALSE(f.menu_checked[126]);
    EXPECT_FALSE(f.toolbar_pressed[126]);
    EXPECT_TRUE(f.toolbar_pressed[127]);
    // Third person has the narrower view window.
    EXPECT_FLOAT_EQ(camera_main()->window_w, 0.5f);
}

TEST_F(View, ThirdPersonCyclesDistancesAndCatchesUp) {
    camera_track_self(1);  // switching does not step the distance
    EXPECT_FLOAT_EQ(camera_distance(), 0.5f);
    for (float d : {1.0f, 2.0f, 4.0f, 0.5f}) {
        camera_track_self(1);
        EXPECT_FLOAT_EQ(camera_distance(), d);
    }
    camera_track_self(0);
    EXPECT_FLOAT_EQ(camera_distance(), 0.5f);
    // The camera closes a fifth of the gap a frame and looks at the eye.
    g_own = {10, 0, 20, 0, 0.2f};
    camera_update();
    EXPECT_TRUE(camera_catching_up());
    RwV3 p = camera_position();
    EXPECT_NEAR(p.x, 2.0f, 1e-4);     // 0.2 * 10
    EXPECT_NEAR(p.z, 0.2f * 19.5f, 1e-4);  // behind the user facing north
    for (int i = 0; i < 60; ++i) camera_update();
    p = camera_position();
    EXPECT_NEAR(p.z, 19.5f, 1e-3);
    EXPECT_NEAR(p.y, 0.7f, 1e-3);
    EXPECT_FALSE(camera_catching_up());
    RwV3 look = rw_camera_look_at(camera_main());
    EXPECT_GT(look.z, 0.5f);  // towards the user, northwards
    EXPECT_LT(look.y, 0);
}

TEST_F(View, FirstPersonFollowsHeadingAndPitchAndGoesHalfSizeWhilePanning) {
    g_own = {3, 1, 4, 90, 1.2f};  // facing west (+x)
    camera_update();
    RwV3 p = camera_position(), look = rw_camera_look_at(camera_main());
    EXPECT_FLOAT_EQ(p.x, 3);
    EXPECT_FLOAT_EQ(p.y, 1.2f);
    EXPECT_NEAR(look.x, 1, 1e-5);
    camera_look_down();
    camera_update();
    look = rw_camera_look_at(camera_main());
    EXPECT_LT(look.y, -0.08f);  // 5 degrees down
    EXPECT_GT(look.x, 0.99f);
    EXPECT_EQ(camera_half()->matrix.m[12], camera_main()->matrix.m[12]);
    // The half-size camera draws only while panning in first person and turning.
    camera_decide_half_size(true);
    EXPECT_FALSE(camera_half_size());
    camera_set_panning(true);
    camera_decide_half_size(true);
    EXPECT_TRUE(camera_half_size());
    EXPECT_EQ(camera_current(), camera_half());
    camera_decide_half_size(false);
    EXPECT_EQ(camera_current(), camera_main());
    camera_track_self(0);
    camera_decide_half_size(true);
    EXPECT_FALSE(camera_half_size());
}

TEST_F(View, ResizeRemakesCamerasOnlyForANewSizeAndKeepsThePosition) {
    g_own = {5, 0, 6, 0, 0.5f};
    camera_update();
    camera_set_color(255, 0, 51);
    RwCamera* before = camera_main();
    ASSERT_EQ(camera_resize(200, 120), 0);
    EXPECT_EQ(camera_main(), before);
    ASSERT_EQ(camera_resize(640, 400), 0);
    RwCamera* after = camera_main();
    EXPECT_EQ(after->width, 640);
    EXPECT_EQ(camera_half()->height, 200);
    EXPECT_FLOAT_EQ(camera_position().x, 5);
    EXPECT_FLOAT_EQ(camera_position().z, 6);
    EXPECT_FLOAT_EQ(after->bg_r, 1);
    EXPECT_FLOAT_EQ(after->bg_b, 0.2f);
    EXPECT_FLOAT_EQ(after->window_h, 396.0f / 636.0f);
    // A portrait view keeps height 1.
    ASSERT_EQ(camera_resize(104, 204), 0);
    EXPECT_FLOAT_EQ(camera_main()->window_w, 0.5f);
    EXPECT_FLOAT_EQ(camera_main()->window_h, 1.0f);
    // Backdrops go to the new cameras again.
    RwRaster* full = rw_raster_create(16, 8, 8);
    RwRaster* half = rw_raster_create(8, 4, 8);
    camera_set_backdrops(full, half);
    ASSERT_EQ(camera_resize(300, 300), 0);
    EXPECT_EQ(camera_main()->backdrop, full);
    EXPECT_EQ(camera_half()->backdrop, half);
    camera_set_backdrops(nullptr, nullptr);
    rw_raster_destroy(full);
    rw_raster_destroy(half);
    EXPECT_NE(camera_resize(0, 10), 0);  // no camera of no size
    EXPECT_EQ(camera_main()->width, 300);
}

int g_clicks = 0, g_picks = 0, g_to_picker = 0, g_focus = 0;
bool g_mover = false, g_menu = false;

TEST_F(View, RightClickRoutesToPickerAvatarMenuOrPick) {
    auto& h = viewport_hooks();
    h = {};
    h.click = [](int, int) { ++g_clicks; };
    h.focus_main_window = [] { ++g_focus; };
    h.mouse_is_mover = [] { return g_mover; };
    h.mouse_to_picker = [] { ++g_to_picker; };
    h.avatar_menu = [](int, int) { return g_menu; };
    h.pick_at = [](int, int) { ++g_picks; };
    viewport_left_down(1, 2);
    EXPECT_EQ(g_clicks, 1);
    g_mover = true;
    viewport_right_down(1, 2);
    EXPECT_EQ(g_to_picker, 1);
    EXPECT_EQ(g_picks, 0);
    g_mover = false;
    g_menu = true;
    viewport_right_down(1, 2);
    EXPECT_EQ(g_picks, 0);
    g_menu = false;
    viewport_right_down(1, 2);
    EXPECT_EQ(g_picks, 1);
    EXPECT_EQ(g_focus, 3);
    h = {};
    viewport_right_down(1, 2);  // no hooks: nothing happens
}

// Counts what passes ask of the device.
struct CountingDevice : RwDevice {
    int drawn = 0, shown = 0;
    bool begin_update(RwCamera&) override { return true; }
    void clear(RwCamera&) override {}
    void render(RwCamera&, RwScene&) override { ++drawn; }
    void end_update(RwCamera&) override {}
    void show(RwCamera&, bool) override { ++shown; }
    void clump_destroyed(uint64_t) override {}
    void texture_destroyed(uint64_t) override {}
    void camera_destroyed(uint64_t) override {}
};

// Idle, the view is not drawn again; whatever it shows that changes is.
TEST_F(View, AViewIsDrawnAgainOnlyWhenSomethingItShowsChanged) {
    ASSERT_TRUE(scene_init());
    CountingDevice device;
    rw_set_device(&device);
    RwClump* box = rw_clump_create();
    RwTexture* wood = rw_texture_create(rw_raster_create(2, 2, 32));
    box->materials.emplace_back().texture = wood;  // the clump holds its one reference
    rw_scene_add_clump(scene_current(), box);
    const struct {
        const char* what;
        std::function<void()> change;
        bool drawn;
    } steps[] = {
        {"the first pass", [] {}, true},
        {"nothing changed", [] {}, false},
        {"an object moved", [&] { rw_clump_transform(box, matrix_translation(1, 0, 0)); }, true},
        {"idle again", [] {}, false},
        {"a texture's picture changed", [&] { rw_texture_set_raster(wood, rw_raster_create(4, 4, 32)); }, true},
        {"the camera moved", [] { rw_camera_set_matrix(camera_current(), matrix_translation(0, 1, 0)); }, true},
        {"an object was hidden", [&] { rw_clump_hide(box); }, true},
        {"the device came anew", [&] { rw_set_device(&device); }, true},
        {"the view was resized", [] { camera_resize(300, 200); }, true},
    };
    for (const auto& step : steps) {
        const int drawn = device.drawn, shown = device.shown;
        step.change();
        camera_begin_update(), scene_update(), camera_end_update(), viewport_update();
        EXPECT_EQ(device.drawn - drawn, step.drawn ? 1 : 0) << step.what;
        EXPECT_EQ(device.shown - shown, step.drawn ? 1 : 0) << step.what;
    }
    rw_clump_destroy(box);
    rw_set_device(nullptr);
    scene_term();
}

TEST_F(View, TextureFramesAdvanceEvery200MsAndNeverCatchUp) {
    RwRaster* r = rw_raster_create(2, 6, 8);
    RwTexture* t = rw_texture_create(r);
    ASSERT_EQ(t->frames, 3);
    // The first frame only sets the clock; a jump of a whole second is one step.
    const std::pair<uint32_t, int> steps[] = {{10000, 0}, {10199, 0}, {10200, 1}, {11200, 2}, {11399, 2}, {11400, 0}};
    for (const auto& [now, frame] : steps) {
        frame_update_at(now);
        EXPECT_EQ(t->frame, frame) << now;
    }
    rw_texture_destroy(t);
}

TEST_F(View, FrameRateIsWhatDrawnFramesSustainAndShowsInItsPane) {
    uint32_t now = 50000;
    const auto passes = [&](int n, uint32_t step, int draw_every) {
        for (int i = 1; i <= n; ++i) fps_update_at(now += step, i % draw_every == 0);
    };
    passes(240, 50, 1);  // 12 s of drawing every 50 ms
    EXPECT_NEAR(frame_rate(), 20.0f, 1.0f);
    // Idle passes (nothing changed, nothing drawn) do not read as slow frames.
    passes(600, 16, 1000);
    EXPECT_NEAR(frame_rate(), 20.0f, 1.0f);
    // Drawing one pass in four at 16 ms a pass is a fast view, not a slow one.
    passes(800, 16, 4);
    EXPECT_NEAR(frame_rate(), 62.5f, 1.0f);
    // A drawn frame that took 5 s shows at once.
    fps_update_at(now += 5000, true);
    EXPECT_LT(frame_rate(), 25.0f);
    EXPECT_GT(frame_rate(), 15.0f);

    auto& f = ui_.fake;
    EXPECT_TRUE(f.panes.empty());
    fps_toggle_display();
    EXPECT_EQ(settings_get_int("show", "framerate"), 1);
    EXPECT_EQ(f.panes.size(), 1u);
    fps_toggle_display();
    EXPECT_TRUE(f.panes.empty());
    EXPECT_EQ(settings_get_int("show", "framerate"), 0);
    // The setting switches it on at start-up.
    settings_put_int("show", "framerate", 1);
    frame_init();
    EXPECT_TRUE(fps_display_on());
    EXPECT_EQ(f.panes.size(), 1u);
}

}  // namespace
}  // namespace zk
