// Collision of the user's box with the ground and the objects of the nine
// cells around it. A touched object's "bump" trigger fires once per touch.
#pragma once

#include <cstddef>
#include <vector>

#include "render/math.h"

namespace zk {

struct object;
struct RwClump;

// A figure that may be tested: the object it shows (null for the ground)
// and its model instance, already placed in the world.
struct CollisionItem {
    object* obj = nullptr;
    const RwClump* clump = nullptr;
};

// A figure with more vertices than this is tested as its bounding box.
constexpr size_t collision_vertex_limit = 64;
// The box never gets lower than this, however small the own figure.
constexpr float collision_min_height = 0.05f;

// Whether the polygon (points in the box's unit space, where the box is
// the cube -0.5...0.5) intersects that cube. Direction is not considered.
bool collision_polygon_hits_cube(const RwV3* points, size_t count);

// Whether a figure (the clump and its children, placed by their world
// transforms) hits the box of height `h` standing on (x, y, z) while moving
// with `velocity`: some polygon intersects the box and faces the motion.
// `lift` is added to the box centre's height during the test.
bool collision_figure_hits(const RwClump* clump, double x, double y, double z, float h, RwV3 velocity,
                           float lift = 0);

// What the test needs of the rest of the program. Unset entries are skipped.
struct CollisionHooks {
    // The ground's figure when the world has one.
    const RwClump* (*ground)() = nullptr;
    // Fires the object's "bump" trigger.
    void (*bump)(object* o) = nullptr;
    // An automatic move (teleport glide) is under way.
    bool (*automatic_move)() = nullptr;
    // Whether the object stops the user.
    bool (*solid)(const object* o) = nullptr;
    // The figures of one cell's objects; unset, the visibility manager's
    // loaded cells are asked.
    void (*cell_items)(int x, int z, std::vector<CollisionItem>* out) = nullptr;
};
CollisionHooks& collision_hooks();

// The test over an explicit list of figures (the ground, if any, first):
// 1 blocked, 0 free. Keeps the "bump" memory across calls.
int collision_test_items(const CollisionItem* items, size_t count, double x, double y, double z, RwV3 velocity,
                         float height);

// The test among the ground and the objects that the visibility manager
// holds in the 3 x 3 cells around (x, z): 1 blocked, 0 free.
int collision_test(double x, double y, double z, RwV3 velocity);

// A world reset run during the test (by a "bump" trigger) stops the move.
void collision_interrupt_move();
bool collision_move_interrupted();
// Forgets the object that fired last, so the next touch fires again.
void collision_forget();
// The object that fired "bump" last, or null.
const object* collision_last_bumped();

// World reset: the objects are gone, so is the memory of them.
void collision_recompute();

}  // namespace zk
