// Signs: the bitmap's size from the face and the text, its colours, and the
// job queue over real model instances (a shape converted through the chunk
// store), in the fake window system's font of blocks.
#include "world/sign.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "art/chunk.h"
#include "art/database.h"
#include "art/download.h"
#include "art/model.h"
#include "art/texture.h"
#include "core/settings.h"
#include "render/clump.h"
#include "render/models.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "world/animation.h"
#include "world/cell.h"

using namespace zk;

namespace {

class Sign : public ::testing::Test {
protected:
    void SetUp() override {
        settings_set_directory(dir.path());
        test::write_file(dir.file("zelnik.ini"), "");
        ASSERT_TRUE(database_init());
        ASSERT_TRUE(download_init());
        chunk_reset();
        ASSERT_TRUE(model_init());
        std::filesystem::create_directories(art_dir() + "/models");
        test::write_file(art_dir() + "/models/figure.rwx", test::kFigure);
        object_hooks().model_reference = model_reference_object;
        object_hooks().model_dereference = model_dereference;
        model_hooks().instance_replaced = [](model_ref* r) { animation_instance_replaced(r), sign_instance_replaced(r); };
        model_hooks().instance_released = [](model_ref* r) { animation_instance_released(r), sign_instance_released(r); };
        sign_init();
    }
    void TearDown() override {
        for (object* o : objects) object_destroy(o);
        model_term();
        texture_reset();
        chunk_term();
        download_term();
        object_hooks() = {};
        model_hooks() = {};
    }
    object* figure() {
        objects.push_back(object_create(0, 0, 0, 0, "figure", "", "", 1, 1, false, 0));
        return objects.back();
    }
    // The texture on the figure's sign face.
    static RwTexture* face(object* o) {
        RwTexture* on = nullptr;
        rw_clump_for_all_polygons(model_clump(o->model), [&](RwClump* c, size_t i) {
            if (c->polygons[i].tag == kTagSign) on = c->materials[c->polygons[i].material].texture;
            return true;
        });
        return on;
    }

    test::TempDir dir;
    test::ScopedFakeUi ui;
    std::vector<object*> objects;
};

TEST_F(Sign, TheBitmapFitsTheTextToTheFaceWithinItsLimits) {
    struct Case {
        std::string text;
        float first[3], third[3];
        int width, height;  // 0: no sign
        int first_row;      // of text pixels
    };
    const std::string long_word(255, 'x');
    std::string many;
    for (int i = 0; i < 200; ++i) many += "a ";
    for (const Case& c : std::vector<Case>{
             {"welcome", {0, 0, 0}, {2, 1, 0}, 132, 66, 21},
             {"welcome", {0, 0, 0}, {2.4f, 1, 0}, 120, 50, 13},  // 115 wide, rounded up to even
             {"welcome", {0, 0, 0}, {100, 1, 0}, 332, 34, 5},    // the aspect is held at 10
             {"welcome", {0, 1, 0}, {0, 0, 2}, 132, 66, 21},     // across in z, corners upside down
             {"a b c d", {0, 0, 0}, {1, 1, 0}, 66, 66, 5},       // two lines of two words
             {long_word, {0, 0, 0}, {1, 1, 0}, 382, 382, 179},   // never fits: ends past 131,072 pixels
             {many, {0, 0, 0}, {10, 1, 0}, 1330, 132, 6},        // taller than the bitmap: from the top margin
             {"welcome", {0, 0, 0}, {1, 0, 0}, 0, 0, 0},
             {"welcome", {0, 0, 0}, {1, 0.000005f, 0}, 0, 0, 0},
             {"welcome", {0, 0, 0}, {0.0001f, 1, 0}, 0, 0, 0}}) {  // too narrow for a column
        ui.fake.sign_measures = 0;
        RwTexture* t = sign_texture(c.text, 0xFF0000, 0x0000FF, c.first, c.third);
        EXPECT_LE(ui.fake.sign_measures, 22) << c.width;
        if (!c.width) {
            EXPECT_FALSE(t) << c.third[0] << " " << c.third[1];
            continue;
        }
        ASSERT_TRUE(t);
        const RwRaster* r = t->raster;
        EXPECT_EQ(r->width, c.width) << c.text.size();
        EXPECT_EQ(r->height, c.height) << c.text.size();
        EXPECT_EQ(t->frames, 1);
        EXPECT_EQ(r->palette[0].b, 255);
        EXPECT_EQ(r->palette[1].r, 255);
        int top = -1, left = r->width, right = -1;
        for (int y = 0; y < r->height; ++y)
            for (int x = 0; x < r->width; ++x) {
                const uint8_t p = r->pixels[size_t(y) * r->width + x];
                ASSERT_LE(p, 1);
                if (!p) continue;
                if (top < 0) top = y;
                left = std::min(left, x), right = std::max(right, x);
            }
        EXPECT_EQ(top, c.first_row) << c.width;
        EXPECT_EQ(left, r->width - 1 - right) << "centred: " << c.width;
        rw_texture_destroy(t);
    }
}

TEST_F(Sign, ColoursComeFromTheTableOrHexadecimal) {
    for (const auto& [text, rgb] : std::vector<std::pair<std::string, uint32_t>>{
             {"red", 0xFF0000}, {"NavyBlue", 0x23238E}, {"SALMON", 0x6F4242}, {"white", 0xFFFFFF},
             {"ff8000", 0xFF8000}, {"0x10ab", 0x0010AB}, {"12zz", 0x12}, {"beige", 0xBE},
             {"garbage", 0}, {"", 0}})
        EXPECT_EQ(sign_color(text), rgb) << text;
}

TEST_F(Sign, OneJobEveryHalfSecondOnTheInstanceItBelongsTo) {
    object* a = figure();
    object* b = figure();
    object* c = figure();
    const uint32_t t = 5000;
    sign_queue(a, "welcome", 0xFF0000, 0x0000FF);
    sign_step(t);
    EXPECT_FALSE(face(a)) << "still the placeholder";
    model_flush();
    EXPECT_EQ(sign_queued(), 1u) << "the shape's faces wait for their sign";
    sign_queue(b, "hello", 0x00FF00, 0);
    sign_queue(c, "gone", 0, 0);
    object_destroy(c);
    objects.pop_back();
    struct Step {
        uint32_t at;
        bool a, b;
        size_t queued;
    };
    for (const Step& s : std::vector<Step>{{t + 499, false, false, 3},
                                           {t + 500, true, false, 2},
                                           {t + 999, true, false, 2},
                                           {t + 1000, true, true, 1},
                                           {t + 1500, true, true, 0}}) {
        sign_step(s.at);
        EXPECT_EQ(face(a) != nullptr, s.a) << s.at;
        EXPECT_EQ(face(b) != nullptr, s.b) << s.at;
        EXPECT_EQ(sign_queued(), s.queued) << s.at;
    }
    ASSERT_TRUE(face(b));
    EXPECT_EQ(face(b)->raster->palette[1].g, 255);

    // A replacement clump shows the same sign; a new text replaces it.
    RwTexture* shown = face(a);
    RwClump* before = model_clump(a->model);
    update_model(a->model);
    model_flush();
    ASSERT_NE(model_clump(a->model), before);
    EXPECT_EQ(face(a), shown);
    size_t materials = 0;
    rw_clump_for_all(model_clump(a->model), [&](RwClump* c) { return materials += c->materials.size(), true; });
    for (uint32_t i = 1; i <= 3; ++i) {
        sign_queue(a, "again", 0xFFFF00, 0);
        sign_step(t + 1500 + 500 * i);
        ASSERT_TRUE(face(a));
        EXPECT_NE(face(a), shown);
        EXPECT_EQ(face(a)->raster->palette[1].g, 255);
        shown = face(a);
    }
    rw_clump_for_all(model_clump(a->model), [&](RwClump* c) { return materials -= c->materials.size(), true; });
    EXPECT_EQ(materials, 0u) << "signed again in place";
}

}  // namespace
