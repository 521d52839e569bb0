// The visibility manager against a real cell cache, and the placeholder
// every object shows until models arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>
#include <utility>

#include "render/math.h"
#include "world/visible_env.h"

namespace zk {
namespace {

using test::VisibleWorld;

// The offsets of the table's first `end` entries.
std::set<std::pair<int, int>> offsets_of(int end) {
    std::set<std::pair<int, int>> s;
    const VisibleOffset* t = visible_table();
    for (int i = 0; i < end; ++i) s.insert({t[i].dx, t[i].dz});
    return s;
}

int objects_in(int x, int z) {
    visible_start(x, z);
    int n = 0;
    object* o = nullptr;
    while (visible_next(&o)) n += o != nullptr;  // an instance always comes with its object
    EXPECT_EQ(o, nullptr);
    return n;
}

// A frame at `fps` once the range may change again.
void settled_frame(float fps) {
    VisibleWorld::fps = fps;
    VisibleWorld::now += 5001;
    visible_update();
}

TEST(VisibleTable, HoldsEveryOffsetWithin120MetresButSixOnceInAscendingOrder) {
    const VisibleOffset* t = visible_table();
    std::set<std::pair<int, int>> seen;
    for (int i = 0; i < visible_table_size; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(t[i].distance, int(10.0 * std::sqrt(double(t[i].dx * t[i].dx + t[i].dz * t[i].dz)) + 1e-9));
        EXPECT_LE(t[std::max(i - 1, 0)].distance, t[i].distance);
        EXPECT_LE(t[i].distance, 120);
        EXPECT_TRUE(seen.insert({t[i].dx, t[i].dz}).second) << "offset twice";
    }
    for (int dz = -13; dz <= 13; ++dz)
        for (int dx = -13; dx <= 13; ++dx) {
            const bool left_out = (dz == 12 && std::abs(dx) <= 1) || (dx == 12 && std::abs(dz) <= 1);
            const bool within = int(10.0 * std::sqrt(double(dx * dx + dz * dz)) + 1e-9) <= 120;
            EXPECT_EQ(seen.count({dx, dz}), within && !left_out ? 1u : 0u) << dx << "," << dz;
        }
}

TEST(Visible, FirstPassLoadsTheNineNearestCellsEvenWithANegativeBudget) {
    VisibleWorld w;
    VisibleWorld::fill_around_origin(2);
    // Nothing until the world is known, nor while teleporting.
    VisibleWorld::known = false;
    visible_update();
    VisibleWorld::known = true;
    VisibleWorld::teleport = true;
    visible_update();
    EXPECT_EQ(visible_loaded_count(), 0);
    VisibleWorld::teleport = false;

    VisibleWorld::cost = 200;   // every cell overruns the whole budget
    visible_update();
    EXPECT_EQ(visible_loaded_count(), 9);
    EXPECT_EQ(visible_loads(), 9u);
    for (const auto& [dx, dz] : offsets_of(9)) EXPECT_TRUE(visible_cell_loaded(dx, dz));
    EXPECT_LT(visible_budget(), 0);
    // Committed: every placeholder is in the scene.
    EXPECT_EQ(w.scene->clumps.size(), 18u);

    // The deficit carries over, held at 300 ms: with loads now free, the
    // grant of 50 ms per frame needs seven more frames to make it positive.
    visible_update();   // marks the nine again (the pass restarts after entry)
    EXPECT_EQ(visible_loads(), 9u);
    VisibleWorld::cost = 0;
    visible_update();
    EXPECT_EQ(visible_budget(), -300);
    for (int frame = 0; frame < 6; ++frame) {
        visible_update();
        EXPECT_EQ(visible_loaded_count(), 9) << frame;
    }
    visible_update();
    EXPECT_EQ(visible_loaded_count(), visible_range());
    EXPECT_TRUE(visible_done());
}

TEST(Visible, BudgetSpreadsLoadingOverFramesNearestFirst) {
    VisibleWorld w;
    VisibleWorld::fill_around_origin(1);
    VisibleWorld::cost = 6;
    visible_update();          // the 3 x 3 block overruns the 50 ms by 4
    EXPECT_EQ(visible_loaded_count(), 9);
    EXPECT_EQ(visible_budget(), -4);
    VisibleWorld::cost = 10;
    visible_update();          // 46 ms; marking the nine again costs 90
    EXPECT_EQ(visible_loaded_count(), 9);
    EXPECT_EQ(visible_budget(), -44);
    visible_update();          // 6 ms: one cell
    EXPECT_EQ(visible_loaded_count(), 10);
    visible_update();          // 46 ms: five cells
    EXPECT_EQ(visible_loaded_count(), 15);
    // Whatever is loaded is a prefix of the table.
    const VisibleOffset* t = visible_table();
    for (int i = 0; i < visible_loaded_count(); ++i) EXPECT_TRUE(visible_cell_loaded(t[i].dx, t[i].dz)) << i;

    // While moving nothing beyond entry 25 loads.
    VisibleWorld::cost = 0;
    VisibleWorld::vx = 0.15;   // 2.1 m/s: moving
    VisibleWorld::vz = 0.15;
    for (int i = 0; i < 5; ++i) visible_update();
    EXPECT_EQ(visible_loaded_count(), 26);
    VisibleWorld::vz = 0;      // 1.5 m/s counts as standing
    visible_update();
    EXPECT_EQ(visible_loaded_count(), visible_range());
}

TEST(Visible, MinimumRangeAndFrameRateTargetFollowTheSettings) {
    // Setting of [performance], minimum range (40 m by default, hand-edited
    // values held to what the Performance page offers), frame rate, and the
    // 15 entries more than one frame above the target adds.
    const std::tuple<std::string, int, float, int> cases[] = {
        {"", 48, 6.0f, 0}, {"visibility=25", 20, 6.5f, 15}, {"visibility=120", visible_range_limit, 9.0f, 0},
        {"visibility=-7", 20, 5.0f, 0}, {"visibility=9999", visible_range_limit, 5.0f, 0},
        {"framerate=10", 48, 11.0f, 0}, {"framerate=10", 48, 11.5f, 15}};
    for (const auto& [setting, minimum, fps, raised] : cases) {
        VisibleWorld w("[performance]\n" + setting + "\n");
        EXPECT_EQ(visible_minimum_range(), minimum) << setting;
        settled_frame(fps);
        EXPECT_EQ(visible_range(), minimum + raised) << setting << " at " << fps;
    }
}

TEST(Visible, RangeFollowsTheFrameRateInStepsOfFifteen) {
    VisibleWorld w;
    VisibleWorld::fill_around_origin(1);
    ASSERT_GT(VisibleWorld::frames_until_done(), 0);
    const int minimum = visible_minimum_range();

    // Fast frames raise it, but only 5 s after the last commit.
    VisibleWorld::fps = 8.0f;
    VisibleWorld::now += 4000;
    visible_update();
    EXPECT_EQ(visible_range(), minimum);
    VisibleWorld::now += 1001;
    visible_update();
    EXPECT_EQ(visible_range(), minimum + 45);
    ASSERT_GT(VisibleWorld::frames_until_done(), 0);
    EXPECT_EQ(visible_loaded_count(), minimum + 45);

    // 3.5 against a target of 5: one step down, and the cells beyond go.
    settled_frame(3.5f);
    EXPECT_EQ(visible_range(), minimum + 30);
    EXPECT_EQ(visible_loaded_count(), minimum + 30);
    settled_frame(4.5f);   // within one frame of the target: kept
    EXPECT_EQ(visible_range(), minimum + 30);
    settled_frame(0.0f);   // no frame drawn yet: no figure, kept
    EXPECT_EQ(visible_range(), minimum + 30);

    // Not while a neighbourhood query is outstanding.
    VisibleWorld::outstanding = true;
    settled_frame(1.0f);
    EXPECT_EQ(visible_range(), minimum + 30);
    VisibleWorld::outstanding = false;

    // Never below the minimum, never above 458.
    settled_frame(1.0f);
    EXPECT_EQ(visible_range(), minimum);
    settled_frame(60.0f);
    EXPECT_EQ(visible_range(), visible_range_limit);
}

TEST(Visible, AnInvalidatedCellIsReloadedAndMovingOrAResetStartsOver) {
    VisibleWorld w;
    VisibleWorld::fill_around_origin(2);
    ASSERT_GT(VisibleWorld::frames_until_done(), 0);
    const uint64_t loads = visible_loads();
    const int64_t refs = model_reference_count();
    EXPECT_EQ(objects_in(2, -1), 2);

    VisibleWorld::put_cell(2, -1, 5);
    visible_cell_changed(2, -1);
    EXPECT_FALSE(visible_cell_loaded(2, -1));
    EXPECT_EQ(visible_current_cell(), 0);
    EXPECT_EQ(model_reference_count(), refs - 2);

    visible_update();
    EXPECT_TRUE(visible_cell_loaded(2, -1));
    EXPECT_EQ(objects_in(2, -1), 5);
    EXPECT_EQ(visible_loads(), loads + 1);
    EXPECT_EQ(model_reference_count(), refs + 3);

    // Moving one cell restarts the pass at entry 0 without reloading.
    const uint64_t before_move = visible_loads();
    const int range = visible_range();
    VisibleWorld::x = 1.5;   // one cell west
    visible_update();
    EXPECT_EQ(visible_current_cell(), 0);
    EXPECT_FALSE(visible_done());
    EXPECT_EQ(visible_loads(), before_move);
    visible_update();
    // Only the cells that came into range were read from the cache.
    std::set<std::pair<int, int>> old_cells = offsets_of(range), entering;
    for (const auto& [dx, dz] : offsets_of(range))
        if (!old_cells.count({dx + 1, dz})) entering.insert({dx + 1, dz});
    EXPECT_EQ(visible_loads(), before_move + entering.size());
    // Those that left it went at the commit, with their objects.
    EXPECT_EQ(visible_loaded_count(), range);
    EXPECT_FALSE(visible_cell_loaded(-4, 0));
    EXPECT_TRUE(visible_cell_loaded(5, 0));
    EXPECT_EQ(model_reference_count(), 2 * range + 3);

    // A reset drops every cell and starts over where the user stands.
    visible_reset();
    EXPECT_EQ(visible_loaded_count(), 0);
    EXPECT_EQ(model_reference_count(), 0);
    EXPECT_TRUE(w.scene->clumps.empty());
    // Another world, another place: at the edge of the grid, which wraps.
    VisibleWorld::x = 32767.5;
    VisibleWorld::put_cell(-32768, 0, 1);
    visible_update();
    EXPECT_FALSE(visible_cell_loaded(0, 0));
    EXPECT_TRUE(visible_cell_loaded(-32768, 0));
    EXPECT_EQ(objects_in(-32768, 0), 1);
}

TEST(Visible, ObjectsAreFoundByTheirModelInstanceAndCanBeTakenOutAndPutBack) {
    VisibleWorld w;
    VisibleWorld::put_cell(0, 0, 3);
    visible_update();
    ASSERT_EQ(objects_in(0, 0), 3);

    visible_start(0, 0);
    object* o = nullptr;
    RwClump* instance = visible_next(&o);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(visible_element(instance), o);

    int16_t cx = 99, cz = 99;
    object* taken = nullptr;
    ASSERT_EQ(visible_ignore(instance, &cx, &cz, &taken), 1);
    EXPECT_EQ(taken, o);
    EXPECT_EQ(cx, 0);
    EXPECT_EQ(cz, 0);
    EXPECT_EQ(objects_in(0, 0), 2);
    EXPECT_EQ(visible_element(instance), nullptr);
    EXPECT_EQ(visible_ignore(instance, &cx, &cz, &taken), 0);

    // Back into the cell that holds its position...
    visible_consider(taken);
    EXPECT_EQ(objects_in(0, 0), 3);
    // ...and an object of a cell that is not loaded is destroyed.
    object* far = object_create(40.5, 0, 40.5, 0, "box", "", "", 9, 7, false, 0);
    ASSERT_NE(far, nullptr);
    const int64_t refs = model_reference_count();
    visible_consider(far);
    EXPECT_EQ(model_reference_count(), refs - 1);
    EXPECT_EQ(objects_in(40, 40), 0);
}

TEST(Visible, InvisibleObjectsStayHiddenUntilRevealed) {
    VisibleWorld w;
    object_hooks().action_create = [](object* o) { o->visible = o->action != "hide"; };
    VisibleWorld::put_cell(0, 0, 2, "hide");
    VisibleWorld::put_cell(1, 0, 1);
    visible_update();
    EXPECT_EQ(w.scene->clumps.size(), 1u);

    visible_reveal_on();
    EXPECT_EQ(w.scene->clumps.size(), 3u);
    visible_start(0, 0);
    object* o = nullptr;
    visible_next(&o);
    ASSERT_NE(o, nullptr);
    // While revealing, a flag change does not hide it.
    visible_hide_object(o);
    EXPECT_EQ(w.scene->clumps.size(), 3u);
    visible_reveal_off();
    EXPECT_EQ(w.scene->clumps.size(), 1u);
    o->visible = true;
    visible_show_object(o);
    EXPECT_EQ(w.scene->clumps.size(), 2u);

    // A cell loaded while revealing shows its invisible objects at once.
    visible_reveal_on();
    VisibleWorld::put_cell(0, 1, 1, "hide");
    visible_cell_changed(0, 1);
    visible_update();
    EXPECT_EQ(w.scene->clumps.size(), 4u);
}

TEST(Visible, PaneShowsTheRangeInMetresAndRemembersItself) {
    VisibleWorld w("[show]\nvisibility=1\n");
    ASSERT_EQ(w.ui.panes.size(), 1u);
    EXPECT_EQ(w.ui.panes.begin()->second, "40 meters");
    EXPECT_TRUE(visible_pane_shown());
    visible_toggle();
    EXPECT_TRUE(w.ui.panes.empty());
    EXPECT_FALSE(w.ui.menu_checked[120]);
    EXPECT_EQ(settings_get_int("show", "visibility"), 0);
    visible_toggle();
    ASSERT_EQ(w.ui.panes.size(), 1u);

    settled_frame(9.0f);   // 48 + 60 entries: the entry at 108 is 58 m away
    EXPECT_EQ(w.ui.panes.begin()->second, "58 meters");
}

TEST(Placeholder, EveryObjectShowsItsOwnTriangleWhereItStands) {
    VisibleWorld w;
    cell_update_begin(3, -2);
    cell_element_add(1, 7, 0, 500, 1000, 250, 900, "wall", "", "");
    cell_update_end();
    VisibleWorld::x = 3.5;
    VisibleWorld::z = -1.5;
    visible_update();
    visible_start(3, -2);
    object* o = nullptr;
    RwClump* c = visible_next(&o);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c, model_placeholder());
    ASSERT_EQ(c->polygons.size(), 1u);
    ASSERT_EQ(c->vertices.size(), 3u);
    // Yaw 90 turns the triangle's +x edge to -z, then it moves to the object.
    const RwMatrix m = rw_clump_world_matrix(c);
    const RwV3 origin = transform_point(m, RwV3{0, 0, 0});
    EXPECT_NEAR(origin.x, 3.5f, 1e-5);
    EXPECT_NEAR(origin.y, 1.0f, 1e-5);
    EXPECT_NEAR(origin.z, -1.75f, 1e-5);
    const RwV3 east = transform_point(m, RwV3{1, 0, 0});
    EXPECT_NEAR(east.x - origin.x, 0.0f, 1e-5);
    EXPECT_NEAR(east.z - origin.z, -1.0f, 1e-5);
}

}  // namespace
}  // namespace zk
