#include <gtest/gtest.h>

#include "core/layout.h"
#include "core/settings.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

TEST(Layout, PlacementKeepsTheMinimumsAndMovesOffScreenWindowsToTheDefault) {
    const struct {
        int x, y, w, h;
        bool fallback;
        int want_w, want_h;  // 0: not checked
    } cases[] = {
        {-1, -1, -1, -1, true, 480, 400},   // nothing stored
        {10, 10, 100, 20, false, 300, 170}, // below the minimum
        {10, 10, 300, 170, false, 300, 170},
        {-1, 50, 500, 400, true, 0, 0},     // a coordinate missing
        {50, -1, 500, 400, true, 0, 0},
        {1024, 50, 500, 400, true, 0, 0},   // at or beyond the right or bottom edge
        {1023, 50, 500, 400, false, 0, 0},
        {50, 768, 500, 400, true, 0, 0},
        {-600, 50, 500, 400, true, 0, 0},   // entirely left of or above the screen
        {-500, 50, 500, 400, false, 0, 0},
        {50, -401, 500, 400, true, 0, 0},
        {-100, -20, 500, 400, false, 0, 0}, // partly visible: kept
        {-301, 0, 100, 100, true, 0, 0},    // the minimum size takes part: 300 wide at -301 is off
    };
    for (const auto& c : cases) {
        const WindowPlacement p = layout_placement(c.x, c.y, c.w, c.h, 1024, 768);
        EXPECT_EQ(p.default_position, c.fallback) << c.x << "," << c.y;
        if (!c.fallback) {
            EXPECT_EQ(p.x, c.x);
            EXPECT_EQ(p.y, c.y);
        }
        if (c.want_w) {
            EXPECT_EQ(p.width, c.want_w) << c.w;
            EXPECT_EQ(p.height, c.want_h) << c.h;
        }
    }
    const TrackLimits t = layout_track_limits(1920, 1080);
    EXPECT_EQ(t.max_width, 1928);
    EXPECT_EQ(t.max_height, 1088);
}

TEST(Layout, MovesAndResizesAreWrittenByTheRules) {
    TempDir dir;
    settings_set_directory(dir.path());
    uint32_t t = 0;  // each event a second after the last: written at once
    layout_window_moved({15, 25, 640, 480}, false, false, t += 1000);
    EXPECT_EQ(settings_get_int("layout", "main_x"), 15);
    EXPECT_EQ(settings_get_int("layout", "main_y"), 25);
    layout_window_moved({0, 0, 640, 480}, true, false, t += 1000);   // minimised: ignored
    layout_window_moved({-4, -4, 640, 480}, false, true, t += 1000); // maximised: ignored
    EXPECT_EQ(settings_get_int("layout", "main_x"), 15);

    layout_window_resized({0, 0, 640, 480}, false, false, false, t += 1000);  // before the view exists
    EXPECT_EQ(settings_get_int("layout", "main_width"), -1);
    layout_window_resized({0, 0, 640, 480}, false, false, true, t += 1000);
    EXPECT_EQ(settings_get_int("layout", "main_width"), 640);
    EXPECT_EQ(settings_get_int("layout", "main_height"), 480);
    EXPECT_EQ(settings_get_int("layout", "maximized"), 0);
    layout_window_resized({0, 0, 1024, 768}, false, true, true, t += 1000);
    EXPECT_EQ(settings_get_int("layout", "maximized"), 1);
    EXPECT_EQ(settings_get_int("layout", "main_width"), 640) << "maximising keeps the normal size";
    EXPECT_TRUE(layout_start_maximized());
    layout_window_resized({0, 0, 1, 1}, true, false, true, t += 1000);  // minimised: ignored
    EXPECT_EQ(settings_get_int("layout", "main_width"), 640);
    EXPECT_EQ(layout_pending_ms(t), -1);

    // Round trip: what was written opens the same window.
    WindowPlacement p = layout_initial_placement(1024, 768);
    EXPECT_FALSE(p.default_position);
    EXPECT_EQ(p.x, 15);
    EXPECT_EQ(p.width, 640);
}

TEST(Layout, ADraggedWindowIsWrittenOnceASecondAndItsLastPlaceAtTheEnd) {
    TempDir dir;
    settings_set_directory(dir.path());
    layout_flush();
    const uint32_t t0 = 0xFFFFFF00u;  // the tick wraps during the drag
    for (int i = 0; i < 100; ++i) {
        layout_window_moved({i, 2 * i, 640, 480}, false, false, t0 + 9 * i);
        layout_window_resized({0, 0, 600 + i, 400}, false, false, true, t0 + 9 * i + 1);
    }
    const std::string first = read_file(dir.file("zelnik.ini"));
    EXPECT_EQ(settings_get_int("layout", "main_x"), 0) << "the first move is written at once";
    EXPECT_EQ(settings_get_int("layout", "main_width"), -1) << "a millisecond later: held";
    EXPECT_EQ(layout_pending_ms(t0 + 999), 1);
    layout_update(t0 + 999);
    EXPECT_EQ(read_file(dir.file("zelnik.ini")), first) << "nothing more within the second";
    layout_update(t0 + 1000);
    EXPECT_EQ(settings_get_int("layout", "main_x"), 99);
    EXPECT_EQ(settings_get_int("layout", "main_y"), 198);
    EXPECT_EQ(settings_get_int("layout", "main_width"), 699);
    EXPECT_EQ(layout_pending_ms(t0 + 1000), -1);

    // Closing within the next second loses nothing.
    layout_window_moved({7, 8, 640, 480}, false, false, t0 + 1500);
    EXPECT_EQ(settings_get_int("layout", "main_x"), 99);
    layout_flush();
    EXPECT_EQ(settings_get_int("layout", "main_x"), 7);
    EXPECT_EQ(layout_pending_ms(t0 + 1500), -1);
}
