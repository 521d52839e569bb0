// The collision test: the polygon-cube intersection, the direction rule,
// the box for busy figures, the ground, and "bump" once per touch.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "view/figures.h"
#include "view/collision.h"
#include "world/cell.h"

namespace zk {
namespace {

using test::make_box;
using test::make_floor;
using test::make_wall;

TEST(PolygonCube, CornersEdgesAndPiercingPlanes) {
    // A corner inside.
    const RwV3 inside[3] = {{0.1f, 0.1f, 0.1f}, {3, 0, 0}, {0, 3, 0}};
    EXPECT_TRUE(collision_polygon_hits_cube(inside, 3));
    // Wholly beyond one face.
    const RwV3 beyond[3] = {{0.6f, -2, -2}, {0.7f, 2, -2}, {0.6f, 0, 2}};
    EXPECT_FALSE(collision_polygon_hits_cube(beyond, 3));
    // Every corner outside, but an edge runs through the cube.
    const RwV3 edge[3] = {{-2, 0, 0}, {2, 0.1f, 0}, {0, 5, 5}};
    EXPECT_TRUE(collision_polygon_hits_cube(edge, 3));
    // A large square through the middle: corners and edges all outside, so
    // only the diagonal through its plane finds it.
    const RwV3 slab[4] = {{-3, 0.2f, -3}, {-3, 0.2f, 3}, {3, 0.2f, 3}, {3, 0.2f, -3}};
    EXPECT_TRUE(collision_polygon_hits_cube(slab, 4));
    // A triangle that cuts past a corner of the cube without touching it:
    // no face separates it, the corner bevel does.
    const RwV3 past_corner[3] = {{1.6f, 0, 0}, {0, 1.6f, 0}, {0, 0, 1.6f}};
    EXPECT_FALSE(collision_polygon_hits_cube(past_corner, 3));
    const RwV3 at_corner[3] = {{1.4f, 0, 0}, {0, 1.4f, 0}, {0, 0, 1.4f}};
    EXPECT_TRUE(collision_polygon_hits_cube(at_corner, 3));
    // A ring-shaped (concave) polygon whose hole holds the cube... is not
    // representable; a square with the cube beside it is a miss.
    const RwV3 beside[4] = {{0.7f, 0, -3}, {0.7f, 0, 3}, {3, 0, 3}, {3, 0, -3}};
    EXPECT_FALSE(collision_polygon_hits_cube(beside, 4));
}

TEST(PolygonCube, DamagedPolygonsNeverTouch) {
    const RwV3 two[2] = {{0, 0, 0}, {0.1f, 0, 0}};
    EXPECT_FALSE(collision_polygon_hits_cube(two, 2));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const RwV3 stray[3] = {{nan, 0, 0}, {0, nan, 0}, {0, 0, nan}};
    EXPECT_FALSE(collision_polygon_hits_cube(stray, 3));
    const float inf = std::numeric_limits<float>::infinity();
    const RwV3 endless[3] = {{-inf, 0, 0}, {inf, 0, 0}, {0, 0, 1}};
    EXPECT_FALSE(collision_polygon_hits_cube(endless, 3));
    // Collinear points outside: no crash, no hit.
    const RwV3 line[3] = {{2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
    EXPECT_FALSE(collision_polygon_hits_cube(line, 3));
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
    auto child = make_wall(-1, 1, 0, 1, 0, 0);
    rw_clump_transform(child.get(), matrix_translation(0, 0, 0.02f));
    rw_clump_add_child(parent.get(), child.release());
    EXPECT_TRUE(collision_figure_hits(parent.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    rw_clump_transform(parent.get(), matrix_translation(0, 0, 1));
    EXPECT_FALSE(collision_figure_hits(parent.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    EXPECT_TRUE(collision_figure_hits(parent.get(), 0, 0, 1, 0.2f, {0, 0, 1}));
}

TEST(Figure, MoreThan64VerticesIsTestedAsItsBoundingBox) {
    // One small triangle far off; the other vertices reach around the user.
    auto build = [](int vertices) {
        test::ClumpPtr c(rw_clump_create());
        c->materials.emplace_back();
        const RwV3 pts[3] = {{5, 0, 5}, {5.1f, 0, 5}, {5, 0.1f, 5}};
        for (const RwV3& p : pts) c->vertices.push_back({p, 0, 0});
        RwPolygon tri;
        tri.v = {0, 1, 2};
        c->polygons.push_back(tri);
        while (static_cast<int>(c->vertices.size()) < vertices) c->vertices.push_back({{-5, -1, 0.02f}, 0, 0});
        return c;
    };
    auto small = build(64), busy = build(65);
    EXPECT_FALSE(collision_figure_hits(small.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    EXPECT_TRUE(collision_figure_hits(busy.get(), 0, 0, 0, 0.2f, {0, 0, 1}));
    EXPECT_FALSE(collision_figure_hits(busy.get(), 0, 0, 0, 0.2f, {0, 0, -1}));
}

TEST(Figure, BadPolygonIndicesAreSkipped) {
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
    static std::vector<object*> bumps;
    std::vector<CollisionItem> items;
};
std::vector<object*> Bump::bumps;

TEST_F(Bump, ANonSolidObjectFiresOnceUntilLeft) {
    object ghost;
    ghost.solid = false;
    auto wall = make_wall(-1, 1, 0, 1, 0.5f);
    items.push_back({&ghost, wall.get()});
    EXPECT_EQ(test_at(0.48), 0);  // passes through
    EXPECT_EQ(test_at(0.49), 0);
    EXPECT_EQ(test_at(0.5), 0);
    EXPECT_EQ(bumps.size(), 1u);
    EXPECT_EQ(collision_last_bumped(), &ghost);
    EXPECT_EQ(test_at(0.7), 0);  // left it
    EXPECT_EQ(collision_last_bumped(), nullptr);
    EXPECT_EQ(test_at(0.49), 0);
    EXPECT_EQ(bumps.size(), 2u);
}

TEST_F(Bump, ASolidObjectBlocksAndFiresOncePerTouch) {
    object stone;
    auto wall = make_wall(-1, 1, 0, 1, 0.5f);
    items.push_back({&stone, wall.get()});
    EXPECT_EQ(test_at(0.49), 1);
    EXPECT_EQ(test_at(0.49), 1);
    EXPECT_EQ(bumps.size(), 1u);
    // Clearing the flag lets the user through.
    stone.solid = false;
    EXPECT_EQ(test_at(0.49), 0);
    EXPECT_EQ(bumps.size(), 1u);
}

TEST_F(Bump, TwoObjectsTakeTurns) {
    object a, b;
    a.solid = b.solid = false;
    auto wa = make_wall(-1, 1, 0, 1, 0.5f), wb = make_wall(-1, 1, 0, 1, 1.5f);
    items.push_back({&a, wa.get()});
    items.push_back({&b, wb.get()});
    test_at(0.49);
    test_at(1.49);
    test_at(1.49);
    test_at(0.49);
    ASSERT_EQ(bumps.size(), 3u);
    EXPECT_EQ(bumps[0], &a);
    EXPECT_EQ(bumps[1], &b);
    EXPECT_EQ(bumps[2], &a);
}

TEST_F(Bump, DuringAnAutomaticMoveOrAfterAnInterruptionTheFirstTouchBlocks) {
    object ghost;
    ghost.solid = false;
    auto wall = make_wall(-1, 1, 0, 1, 0.5f);
    items.push_back({&ghost, wall.get()});
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
    object ghost;
    ghost.solid = false;
    auto ground = make_floor(0, -0.01f, 0, 50);
    auto wall = make_wall(-1, 1, -1, 1, 0.01f);
    items.push_back({nullptr, ground.get()});
    items.push_back({&ghost, wall.get()});
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
