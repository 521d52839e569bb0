// Pixels drawn by the OpenGL device (Mesa's software GL under Xvfb).
#include <epoxy/gl.h>  // before Qt's GL headers

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <memory>
#include <set>

#include "render/camera.h"
#include "render/gl/gl_device.h"
#include "render/models.h"
#include "render/rwx.h"
#include "support/temp_dir.h"
#include "view/frame.h"

namespace zk {
namespace {

struct Gl {
    QOffscreenSurface surface;
    QOpenGLContext context;
    bool ok = false;
    Gl() {
        QSurfaceFormat f;
        f.setVersion(3, 3);
        f.setProfile(QSurfaceFormat::CoreProfile);
        surface.setFormat(f);
        surface.create();
        context.setFormat(f);
        ok = context.create() && context.makeCurrent(&surface);
        // Mesa would unload its driver with the last context at exit, and
        // what it held would then show as anonymous leaks: keep it loaded.
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void*) {
                if (info->dlpi_name && std::strstr(info->dlpi_name, "_dri.so"))
                    dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
                return 0;
            },
            nullptr);
    }
};

class Pixels : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(gl_.ok) << "no OpenGL 3.3 context";
        ASSERT_TRUE(device_.initialize());
        rw_set_device(&device_);
        test::write_test_textures(dir_);
        rw_texture_set_search_path(dir_.path());
        scene_ = rw_scene_create();
        rw_scene_set_ambient(scene_, 0.3f);
        rw_scene_add_light(scene_, {RwLightKind::directional, 1.0f, {0, 0, 1}});
        camera_ = rw_camera_create(160, 120);
        rw_camera_set_view_window(camera_, 1, 0.75f);
        rw_camera_set_background(camera_, 0, 0, 0.7f);
    }
    void TearDown() override {
        for (RwClump* c : clumps_) rw_clump_destroy(c);
        rw_camera_destroy(camera_);
        rw_scene_destroy(scene_);
        device_.release();
        rw_set_device(nullptr);
        rw_texture_set_search_path("");
    }
    RwClump* add(const std::string& text, RwV3 at) {
        std::string why;
        RwClump* c = rw_read_shape_text(text, &why);
        EXPECT_TRUE(c) << why;
        if (!c) return nullptr;
        rw_clump_transform(c, matrix_translation(at.x, at.y, at.z));
        rw_scene_add_clump(scene_, c);
        clumps_.push_back(c);
        return c;
    }
    void draw(RwRaster* overlay = nullptr) {
        ASSERT_TRUE(rw_camera_begin_update(camera_));
        rw_camera_clear(camera_);
        rw_camera_render(camera_, scene_);
        if (overlay) rw_camera_add_overlay(camera_, overlay, 100, 100);
        rw_camera_end_update(camera_);
        image_.reset(device_.read_image(*camera_));
        ASSERT_TRUE(image_);
    }
    RwRgba at(int x, int y) { return image_->pixel(x, y); }

    Gl gl_;
    GlDevice device_;
    test::TempDir dir_;
    RwScene* scene_ = nullptr;
    RwCamera* camera_ = nullptr;
    std::vector<RwClump*> clumps_;
    std::unique_ptr<RwRaster, void (*)(RwRaster*)> image_{nullptr, rw_raster_destroy};
};

::testing::AssertionResult near(RwRgba c, int r, int g, int b) {
    ::testing::AssertionResult ok(std::abs(c.r - r) <= 6 && std::abs(c.g - g) <= 6 && std::abs(c.b - b) <= 6);
    return ok << "got (" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

TEST_F(Pixels, MaskedBoxIsLitAndRebuiltOnlyWhenItChanges) {
    RwClump* box = add(test::kMaskedBox, {0, 0, 5});
    draw();
    // The front face, lit head-on: 0.4 * 0.3 ambient + 0.6 diffuse = 0.72.
    // Its u = 0 side (red) stands at world x = -1, which is on the right.
    EXPECT_TRUE(near(at(96, 44), 184, 0, 0));
    EXPECT_TRUE(near(at(64, 44), 0, 184, 0));
    // Through the holes of the front and back faces the background shows.
    EXPECT_TRUE(near(at(80, 60), 0, 0, 178));
    // Through the front hole, beside the back hole: the inside of the back face.
    EXPECT_FALSE(near(at(71, 60), 0, 0, 178));

    const int64_t built = device_.rebuilds();
    rw_clump_transform(box, matrix_translation(0.5f, 0, 5));  // moving is no rebuild
    draw();
    EXPECT_EQ(device_.rebuilds(), built);
    rw_polygon_set_texture(box, 0, nullptr);
    draw();
    EXPECT_EQ(device_.rebuilds(), built + 1);
    // The untextured front face now shows the material's white.
    EXPECT_TRUE(near(at(88, 60), 184, 184, 184));
}

TEST_F(Pixels, FigureClumpsShowTheirOwnColoursAndHidingRemovesThem) {
    RwClump* fig = add(test::kFigure, {0, -0.5f, 3});
    draw();
    // Body (red) below the centre, head (green) above it, sign (blue) on the body.
    EXPECT_TRUE(near(at(80, 95), 166, 0, 0));
    EXPECT_TRUE(near(at(80, 31), 0, 166, 0));
    EXPECT_TRUE(near(at(80, 60), 0, 0, 166));
    rw_clump_hide(fig->children[0]);
    draw();
    EXPECT_TRUE(near(at(80, 31), 0, 0, 178));
    EXPECT_TRUE(near(at(80, 95), 166, 0, 0));
    rw_scene_remove_clump(fig);
    draw();
    EXPECT_TRUE(near(at(80, 95), 0, 0, 178));
    // Prototypes and primitives: the sphere at the origin, a little below the centre.
    add(test::kProtos, {0, -0.5f, 4});
    draw();
    EXPECT_FALSE(near(at(80, 70), 0, 0, 178));
    EXPECT_GE(device_.draw_calls(), 2);
}

// Blocks wholly behind, beside or beyond the view cost no draw call; one
// that the frame's edge cuts through is drawn.
TEST_F(Pixels, OnlyWhatTheCameraMaySeeIsDrawn) {
    const std::string block = "ClumpBegin\nColor 1 0 0\nBlock 1 1 1\nClumpEnd\n";
    add(block, {0, 0, 3});
    draw();
    const int one = device_.draw_calls();
    ASSERT_GT(one, 0);
    for (RwV3 at : {RwV3{0, 0, -3}, RwV3{40, 0, 3}, RwV3{0, 30, 3}, RwV3{0, 0, 2000}}) add(block, at);
    draw();
    EXPECT_EQ(device_.draw_calls(), one);
    add(block, {-3.3f, 0, 3});  // its centre just beyond the edge, a corner within
    draw();
    EXPECT_EQ(device_.draw_calls(), 2 * one);
}

// Duplicates of one model share buffers and one draw call, until one of
// them changes its own vertices and colour: the other keeps its look.
TEST_F(Pixels, DuplicatesShareADrawUntilOneOfThemChanges) {
    RwClump* a = add("ClumpBegin\nColor 1 0 0\nBlock 1 1 1\nClumpEnd\n", {-1.5f, 0, 5});
    RwClump* b = rw_clump_duplicate(a);
    clumps_.push_back(b);
    rw_clump_transform(b, matrix_translation(1.5f, 0, 5));
    rw_scene_add_clump(scene_, b);
    // Which of red, green or blue (the background) a pixel mostly is.
    auto hue = [&](int x, int y) {
        const RwRgba c = at(x, y);
        return c.r > c.g && c.r > c.b ? 'r' : c.g > c.b ? 'g' : 'b';
    };
    draw();
    EXPECT_EQ(std::string({hue(104, 60), hue(56, 60), hue(56, 41)}), "rrb");  // a, b, above b
    EXPECT_EQ(device_.draw_calls(), 1);
    const int64_t built = device_.rebuilds();
    for (RwVertex& v : b->vertices) v.p.y += 1.2f;
    b->materials[0].r = 0, b->materials[0].g = 1;
    rw_clump_changed(b);
    draw();
    EXPECT_EQ(std::string({hue(104, 60), hue(56, 60), hue(56, 41)}), "rbg");
    EXPECT_EQ(device_.draw_calls(), 2);
    EXPECT_EQ(device_.rebuilds(), built + 1);
    rw_clump_hide(a);
    draw();
    EXPECT_EQ(std::string({hue(104, 60), hue(56, 60), hue(56, 41)}), "bbg");
}

TEST_F(Pixels, TextureFrameChangesWhenTheClockAdvances) {
    add("clumpbegin\nsurface 1 0 0\ntexture film\nvertex -1 -1 0 uv 0 1\nvertex -1 1 0 uv 0 0\n"
        "vertex 1 1 0 uv 1 0\nvertex 1 -1 0 uv 1 1\nquad 1 2 3 4\nclumpend\n",
        {0, 0, 3});
    rw_scene_set_ambient(scene_, 1.0f);
    draw();
    EXPECT_TRUE(near(at(80, 60), 255, 0, 0));
    const int64_t uploads = device_.uploads();
    frame_clear_counters();
    frame_update_at(1000);
    frame_update_at(1100);
    draw();
    EXPECT_TRUE(near(at(80, 60), 255, 0, 0));
    EXPECT_EQ(device_.uploads(), uploads);  // unchanged texture: no upload
    frame_update_at(1200);
    draw();
    EXPECT_TRUE(near(at(80, 60), 0, 255, 0));
    EXPECT_EQ(device_.uploads(), uploads + 1);
}

TEST_F(Pixels, FacetLightingIsFlatAndVertexLightingSmooth) {
    rw_scene_set_ambient(scene_, 0);
    scene_->lights.clear();
    rw_scene_add_light(scene_, {RwLightKind::directional, 1.0f, {1, -1, 1}});
    auto shades = [&](const char* sampling) {
        RwClump* c = add(std::string("clumpbegin\ncolor 1 1 1\nsurface 0 1 0\nlightsampling ") + sampling +
                         "\nsphere 1 3\nclumpend\n", {0, 0, 4});
        draw();
        std::set<int> seen;
        for (int x = 60; x < 100; ++x) seen.insert(at(x, 60).r);
        rw_scene_remove_clump(c);
        return seen.size();
    };
    EXPECT_GT(shades("vertex"), shades("facet") * 2);
}

TEST_F(Pixels, BackdropOverlayAndPresent) {
    RwRaster* sky = rw_raster_create(64, 16, 8);
    sky->palette[0] = {255, 255, 0, 255};
    sky->palette[1] = {0, 255, 255, 255};
    for (size_t i = 0; i < sky->pixels.size(); ++i) sky->pixels[i] = i % 64 < 32 ? 0 : 1;
    rw_camera_set_backdrop(camera_, sky);
    rw_camera_set_backdrop_rect(camera_, 0, 10, 160, 16);
    RwRaster* label = rw_raster_create(10, 10, 32);
    std::fill(label->pixels.begin(), label->pixels.end(), 255);
    draw(label);
    EXPECT_TRUE(near(at(5, 15), 255, 255, 0));     // wraps: columns 0..31 yellow
    EXPECT_TRUE(near(at(40, 15), 0, 255, 255));
    EXPECT_TRUE(near(at(70, 15), 255, 255, 0));    // 64..95 is the raster again
    EXPECT_TRUE(near(at(5, 40), 0, 0, 178));       // below the rectangle
    EXPECT_TRUE(near(at(105, 105), 255, 255, 255));
    // Scrolling by half the width swaps the halves.
    rw_camera_set_backdrop_offset(camera_, 32, 0);
    draw();
    EXPECT_TRUE(near(at(5, 15), 0, 255, 255));
    EXPECT_TRUE(near(at(105, 105), 0, 0, 178));    // overlays last one frame

    // Present copies the shown image into another framebuffer.
    GLuint fbo, tex;
    glGenFramebuffers(1, &fbo);
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 160, 120, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
    EXPECT_FALSE(device_.present(fbo, 160, 120));  // nothing shown yet
    rw_camera_show(camera_);
    ASSERT_TRUE(device_.present(fbo, 160, 120));
    uint8_t px[4];
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glReadPixels(5, 120 - 1 - 15, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
    EXPECT_TRUE(near({px[0], px[1], px[2], 255}, 0, 255, 255));
    rw_camera_set_backdrop(camera_, nullptr);
    rw_raster_destroy(sky);
}

}  // namespace
}  // namespace zk
