// Texture animations on objects' model instances: limits, the clock, frame
// moves, replacement clumps and release with the instance.
#include "world/animation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "art/model.h"
#include "art/texture.h"
#include "core/tasks.h"
#include "render/clump.h"
#include "world/cell.h"
#include "world/sign.h"

using namespace zk;

namespace {

class Animation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(model_init());
        object_hooks().model_reference = model_reference_object;
        object_hooks().model_dereference = model_dereference;
        model_hooks().instance_replaced = [](model_ref* r) { animation_instance_replaced(r), sign_instance_replaced(r); };
        model_hooks().instance_released = [](model_ref* r) { animation_instance_released(r), sign_instance_released(r); };
        adone = 0;
        animation_hooks().adone = [](object* o) { adone += o == last ? 1 : 100; };
        // Converted textures the texture table finds by name.
        for (const char* name : {"door1", "door2", "door3", "lamp1"}) {
            shown.push_back(rw_texture_create(rw_raster_create(1, 1, 32)));
            rw_texture_register(shown.back(), name);
        }
        tick_read();
        t0 = tick_now();
        last = o = object_create(0, 0, 0, 0, "box", "", "", 1, 1, false, 0);
        ASSERT_TRUE(o && o->model);
    }
    void TearDown() override {
        object_destroy(o);
        animation_step(t0);
        EXPECT_EQ(animation_count(), 0u) << "released with the instance, removed at the next step";
        model_term();
        texture_reset();
        for (RwTexture* t : shown) rw_texture_destroy(t);
        object_hooks() = {};
        model_hooks() = {};
        animation_hooks() = {};
    }
    // The texture every polygon of the object's instance shows ("" when mixed or none).
    std::string showing() {
        std::string name;
        int mixed = 0;
        rw_clump_for_all_polygons(model_clump(o->model), [&](RwClump* c, size_t i) {
            const RwTexture* t = c->materials[c->polygons[i].material].texture;
            const std::string n = t ? t->name : "";
            mixed += !name.empty() && n != name;
            name = n;
            return true;
        });
        return mixed ? "" : name;
    }
    static inline int adone = 0;
    static inline object* last = nullptr;
    object* o = nullptr;
    uint32_t t0 = 0;
    std::vector<RwTexture*> shown;
};

TEST_F(Animation, TheClockLoopsCatchesUpAtOnceAndAnAnimationThatDoesNotLoopEndsOnce) {
    ASSERT_EQ(animation_create(o, "Door", 3, 3, 200, {}), 1);
    EXPECT_EQ(showing(), "door1") << "the first frame at once";
    // {ms after t0, astart off just before, frame shown, adone calls}
    struct Step {
        uint32_t at;
        bool stop_looping;
        const char* frame;
        int adone;
    };
    for (const Step& s : std::vector<Step>{{0, false, "door1", 0},
                                           {1, false, "door2", 0},
                                           {200, false, "door2", 0},
                                           {201, false, "door3", 0},
                                           {401, false, "door1", 0},
                                           // due t0 + 200: two delays late, runs on to the last frame
                                           {402, true, "door3", 0},
                                           {601, false, "door3", 1},
                                           {5000, false, "door3", 1}}) {
        if (s.stop_looping) animation_start(o, false);
        animation_step(t0 + s.at);
        EXPECT_EQ(showing(), s.frame) << s.at;
        EXPECT_EQ(adone, s.adone) << s.at;
    }

    // A 1 ms delay after a 23-day pause costs one step, not two billion.
    ASSERT_EQ(animation_create(o, "door", 3, 3, 1, {}), 1);
    const auto start = std::chrono::steady_clock::now();
    animation_step(t0 + 2000000000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(showing(), "door3") << "2e9 frames on from door1";
    animation_start(o, false);
    animation_step(t0 + 3);
    EXPECT_EQ(adone, 2) << "past the last frame at once";

    // Without a delay every step is a frame.
    ASSERT_EQ(animation_create(o, "door", 3, 2, 0, {3, 1}), 1);
    for (const char* frame : {"door1", "door3", "door1"}) {
        animation_step(t0);
        EXPECT_EQ(showing(), frame);
    }
}

TEST_F(Animation, LimitsRefuseWithoutTouchingTheAnimationShown) {
    struct Case {
        std::string base;
        int images, frames;
        std::vector<int> list;
        int made;
    };
    for (const Case& c : std::vector<Case>{{"lamp", 1, 1, {}, 1},
                                           {"abcdefgh", 3, 3, {}, 0},
                                           {"abcdefg", 9, 9, {}, 1},
                                           {"abcdefg", 10, 10, {}, 0},
                                           {"abcdef", 10, 10, {}, 1},
                                           {"d", 99, 99, {}, 1},
                                           {"d", 100, 100, {}, 0},
                                           {"d", 0, 0, {}, 0},
                                           {"d", 3, 2, {}, 0},
                                           {"d", 3, 2, {3, 1}, 1},
                                           {"d", 3, 2, {4, 1}, 0},
                                           {"d", 3, 2, {0, 1}, 0},
                                           {"d", 3, 3, {1, 2}, 0}}) {
        ASSERT_EQ(animation_create(o, "lamp", 1, 1, 100, {}), 1);
        animation_frame(o, 1, false);
        const size_t before = animation_count();
        EXPECT_EQ(animation_create(o, c.base, c.images, c.frames, 100, c.list), c.made) << c.base << " " << c.images;
        EXPECT_EQ(animation_count(), before + c.made) << c.base;
        if (!c.made) {
            EXPECT_EQ(showing(), "lamp1") << c.base;
        }
    }
    EXPECT_EQ(texture_reference_count(texture_download("d99", nullptr, nullptr)), 0)
        << "a replaced animation lets go of its textures at once";
    EXPECT_EQ(texture_reference_count(texture_download("lamp1", nullptr, nullptr)), 1);
    object none;
    EXPECT_EQ(animation_create(&none, "door", 3, 3, 100, {}), 0) << "no model instance";
}

TEST_F(Animation, FrameMovesWrapBothWaysAndAReplacementClumpShowsTheFrame) {
    ASSERT_EQ(animation_create(o, "door", 3, 3, 100, {}), 1);
    animation_stop(o);
    struct Move {
        int n;
        bool relative;
        int index;
    };
    for (const Move& m : std::vector<Move>{{-1, true, 2},
                                           {0, false, 2},
                                           {-7, false, 2},
                                           {1, true, 0},
                                           {3, false, 2},
                                           {4, false, 0},
                                           {INT_MAX, true, 1},
                                           {INT_MIN, true, 2},
                                           {INT_MAX, false, 0},
                                           {2, false, 1}}) {
        animation_frame(o, m.n, m.relative);
        EXPECT_EQ(animation_current(o), m.index) << m.n;
        EXPECT_EQ(showing(), "door" + std::to_string(m.index + 1)) << m.n;
    }
    animation_step(t0 + 10000);
    EXPECT_EQ(animation_current(o), 1) << "stopped";

    RwClump* before = model_clump(o->model);
    update_model(o->model);
    model_flush();
    ASSERT_NE(model_clump(o->model), before);
    EXPECT_EQ(showing(), "door2");

    texture* door1 = texture_download("door1", nullptr, nullptr);
    EXPECT_EQ(texture_reference_count(door1), 1);
    object_destroy(o);
    o = nullptr;
    EXPECT_EQ(texture_reference_count(door1), 0);
    EXPECT_EQ(animation_count(), 1u);
}

}  // namespace
