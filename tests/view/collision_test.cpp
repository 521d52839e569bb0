// Collision of the user's box with figures and the ground, and "bump" once per touch.
#include <gtest/gtest.h>

#include <deque>
#include <limits>
#include <vector>

#include "view/figures.h"
#include "view/collision.h"
#include "world/cell.h"

namespace zk {
namespace {

using namespace test;

TEST(PolygonCube, CornersEdgesPiercingPlanesAndDamage) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* what;
        std::vector<RwV3> p;
        bool hits;
    } cases[] = {
        {"a corner inside", {{0.1f, 0.1f, 0.1f}, {3, 0, 0}, {0, 3, 0}}, true},
        {"wholly beyond one face", {{0.6f, -2, -2}, {0.7f, 2, -2}, {0.6f, 0, 2}}, false},
        {"corners outside, an edge through", {{-2, 0, 0}, {2, 0.1f, 0}, {0, 5, 5}}, true},
        // Corners and edges all outside: only the diagonal through its plane finds it.
        {"a large square through the middle", {{-3, 0.2f, -3}, {-3, 0.2f, 3}, {3, 0.2f, 3}, {3, 0.2f, -3}}, true},
        // No face separates it; the corner bevel does.
        {"past a corner", {{1.6f, 0, 0}, {0, 1.6f, 0}, {0, 0, 1.6f}}, false},
        {"at a corner", {{1.4f, 0, 0}, {0, 1.4f, 0}, {0, 0, 1.4f}}, true},
        {"a square beside", {{0.7f, 0, -3}, {0.7f, 0, 3}, {3, 0, 3}, {3, 0, -3}}, false},
        {"two points", {{0, 0, 0}, {0.1f, 0, 0}}, false},
        {"not a number", {{nan, 0, 0}, {0, nan, 0}, {0, 0, nan}}, false},
        {"endless", {{-inf, 0, 0}, {inf, 0, 0}, {0, 0, 1}}, false},
        {"collinear outside", {{2, 2, 2}, {3, 3, 3}, {4, 4, 4}}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(collision_polygon_hits_cube(c.p.data(), c.p.size()), c.hits) << c.what;
}

TEST(Figure, ABoxStopsFromEverySideButNotWhenLeaving) {
    // The user's box: 0.05 x 0.2 x 0.05 standing on (0, 0, 0); a box next
    // to it on each side, touching it.
    struct Case {
        float x0, y0, z0, x1, y1, z1;
        RwV3 into;
    } cases[] = {
        {0.02f, 0, -0.1f, 0.3f, 0.2f, 0.1f, {1, 0, 0}},     // west (+x)
        {-0.3f, 0, -0.1f, -0.02f, 0.2f, 0.1f, {-1, 0, 0}},  // east
        {-0.1f, 0, 0.02f, 0.1f, 0.2f, 0.3f, {0, 0, 1}},     // north
        {-0.1f, 0, -0.3f, 0.1f, 0.2f, -0.02f, {0, 0, -1}},  // south
        {-0.1f, 0.19f, -0.1f, 0.1f, 0.4f, 0.1f, {0, 1, 0}}, // above
        {-0.1f, -0.2f, -0.1f, 0.1f, 0.01f, 0.1f, {0, -1, 0}},  // below
    };
    for (const Case& c : cases) {
        auto box = make_box(c.x0, c.y0, c.z0, c.x1, c.y1, c.z1);
        EXPECT_TRUE(collision_figure_hits(box.get(), 0, 0, 0, 0.2f, c.into)) << c.into.x << c.into.y << c.into.z;
        EXPECT_FALSE(collision_figure_hits(box.get(), 0, 0, 0, 0.2f, c.into * -1.0f));
        // Out of reach.
        EXPECT_FALSE(collision_figure_hits(box.get(), 0, 0.6, 0.5, 0.2f, c.into));
    }
}

TEST(Figure, TheBoxIsTallAsTheModelAndNeverLowerThan005) {
    auto beam = make_box(-1, 0.3f, 0.01f, 1, 0.32f, 0.3f);  // a beam at head height ahead
    EXPECT_FALSE(collision_figure_hits(beam.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    EXPECT_TRUE(collision_figure_hits(beam.get(), 0, 0, 0, 0.4f, {0, 0, 1}));
    auto kerb = make_box(-1, 0.03f, 0.01f, 1, 0.04f, 0.3f);
    EXPECT_TRUE(collision_figure_hits(kerb.get(), 0, 0, 0, 0.001f, {0, 0, 1}));  // counted as 0.05
    EXPECT_FALSE(collision_figure_hits(kerb.get(), 0, 0.05, 0, 0.001f, {0, 0, 1}));
}

TEST(Figure, ChildClumpsArePlacedByTheirTransforms) {
    auto parent = make_box(50, 50, 50, 51, 51, 51);
    auto child = make_wall(-1, 1, 0, 1, 0);
    rw_clump_transform(child.get(), matrix_translation(0, 0, 0.02f));
    rw_clump_add_child(parent.get(), child.release());
    EXPECT_TRUE(collision_figure_hits(parent.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    rw_clump_transform(parent.get(), matrix_translation(0, 0, 1));
    EXPECT_FALSE(collision_figure_hits(parent.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    EXPECT_TRUE(collision_figure_hits(parent.get(), 0, 0, 1, 0.2f, {0, 0, 1}));
}

TEST(Figure, MoreThan64VerticesIsTestedAsItsBoundingBoxAndBadIndicesAreSkipped) {
    // One small triangle far off; the other vertices reach around the user.
    auto build = [](size_t vertices) {
        std::vector<RwV3> corners = {{5, 0, 5}, {5.1f, 0, 5}, {5, 0.1f, 5}};
        corners.resize(vertices, {-5, -1, 0.02f});
        return test::make_clump(corners, {{0, 1, 2}});
    };
    auto small = build(64), busy = build(65);
    EXPECT_FALSE(collision_figure_hits(small.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    EXPECT_TRUE(collision_figure_hits(busy.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    EXPECT_FALSE(collision_figure_hits(busy.get(), 0, 0, 0, 0.2f, {0, 0, -1}));
    // A polygon with a bad index is skipped.
    auto wall = make_wall(-1, 1, 0, 1, 0.02f);
    wall->polygons[0].v[2] = 999;
    EXPECT_FALSE(collision_figure_hits(wall.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
}

// The list-level test with its "bump" memory.
class Bump : public ::testing::Test {
protected:
    void SetUp() override {
        collision_forget();
        bumps.clear();
        collision_hooks() = CollisionHooks{};
        collision_hooks().bump = [](object* o) { bumps.push_back(o); };
    }
    void TearDown() override {
        collision_hooks() = CollisionHooks{};
        collision_forget();
    }
    int test_at(double z, RwV3 v = {0, 0, 1}) {
        return collision_test_items(items.data(), items.size(), 0, 0, z, v, 0.2f);
    }
    // An object shown as a wall across the way at `z`.
    object* wall_at(float z, bool solid) {
        object* o = &objects.emplace_back();
        o->solid = solid;
        items.push_back({o, clumps.emplace_back(make_wall(-1, 1, 0, 1, z)).get()});
        return o;
    }
    static inline std::vector<object*> bumps;
    std::vector<CollisionItem> items;
    std::deque<object> objects;
    std::vector<test::ClumpPtr> clumps;
};

TEST_F(Bump, ANonSolidObjectFiresOnceUntilLeftAndTwoTakeTurns) {
    object* ghost = wall_at(0.5f, false);
    EXPECT_EQ(test_at(0.48), 0);  // passes through
    EXPECT_EQ(test_at(0.49), 0);
    EXPECT_EQ(test_at(0.5), 0);
    EXPECT_EQ(bumps.size(), 1u);
    EXPECT_EQ(collision_last_bumped(), ghost);
    EXPECT_EQ(test_at(0.7), 0);  // left it
    EXPECT_EQ(collision_last_bumped(), nullptr);
    EXPECT_EQ(test_at(0.49), 0);
    EXPECT_EQ(bumps.size(), 2u);
    // Two objects take turns.
    object* other = wall_at(1.5f, false);
    for (double z : {1.49, 1.49, 0.49}) test_at(z);
    EXPECT_EQ(bumps, (std::vector<object*>{ghost, ghost, other, ghost}));
}

TEST_F(Bump, ASolidObjectBlocksAndFiresOncePerTouch) {
    object* stone = wall_at(0.5f, true);
    EXPECT_EQ(test_at(0.49), 1);
    EXPECT_EQ(test_at(0.49), 1);
    EXPECT_EQ(bumps.size(), 1u);
    // Clearing the flag lets the user through.
    stone->solid = false;
    EXPECT_EQ(test_at(0.49), 0);
    EXPECT_EQ(bumps.size(), 1u);
}

TEST_F(Bump, DuringAnAutomaticMoveOrAfterAnInterruptionTheFirstTouchBlocks) {
    wall_at(0.5f, false);
    static bool gliding;
    gliding = true;
    collision_hooks().automatic_move = [] { return gliding; };
    EXPECT_EQ(test_at(0.49), 1);
    EXPECT_EQ(test_at(0.49), 0);  // already fired: passes
    gliding = false;
    collision_forget();
    collision_hooks().bump = [](object* o) {
        bumps.push_back(o);
        collision_interrupt_move();  // the trigger left the world
    };
    EXPECT_EQ(test_at(0.49), 1);
    EXPECT_TRUE(collision_move_interrupted());
    EXPECT_EQ(bumps.size(), 2u);
}

TEST_F(Bump, TheGroundBlocksFirstAndFiresNothing) {
    auto ground = make_floor(0, -0.01f, 0, 50);
    items.push_back({nullptr, ground.get()});
    wall_at(0.01f, false);
    // The ground sits 0.01 below zero and is met as if it were at zero.
    EXPECT_EQ(collision_test_items(items.data(), items.size(), 0, 0.0, 0, {0, -1, 0.2f}, 0.2f), 1);
    EXPECT_TRUE(bumps.empty());
    EXPECT_EQ(collision_test_items(items.data(), items.size(), 0, 0.001, 0, {0, -1, 0.2f}, 0.2f), 0);
    EXPECT_EQ(bumps.size(), 1u);
}

TEST_F(Bump, TheNineCellsAroundTheUserAreAsked) {
    static std::vector<std::pair<int, int>> asked;
    asked.clear();
    collision_hooks().cell_items = [](int x, int z, std::vector<CollisionItem>*) { asked.push_back({x, z}); };
    EXPECT_EQ(collision_test(-0.5, 0, 3.2, {0, 0, 1}), 0);
    ASSERT_EQ(asked.size(), 9u);
    EXPECT_EQ(asked.front(), std::make_pair(-2, 2));
    EXPECT_EQ(asked.back(), std::make_pair(0, 4));
}

}  // namespace
}  // namespace zk
