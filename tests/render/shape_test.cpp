// The .rwx reader, textures by name, chunk streams and picking.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "render/camera.h"
#include "render/library.h"
#include "render/rwx.h"
#include "render/stream.h"
#include "render/texture.h"
#include "render/models.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

using namespace test;

class Art : public ::testing::Test {
protected:
    void SetUp() override {
        test::write_test_textures(dir_);
        rw_texture_set_search_path("/nonexistent;" + dir_.path());
    }
    void TearDown() override { rw_texture_set_search_path(""); }
    TempDir dir_;
};

// The shape of `text`, or (failing the test) an empty clump: checks fail, not crash.
RwClump* read(const std::string& text) {
    std::string why;
    RwClump* c = rw_read_shape_text(text, &why);
    EXPECT_TRUE(c) << why;
    return c ? c : rw_clump_create();
}

TEST_F(Art, MaskedBoxResolvesItsTextureAndMaskWhichChunksKeep) {
    RwClump* box = read(kMaskedBox);
    ASSERT_EQ(box->polygons.size(), 6u);
    EXPECT_EQ(box->polygons[0].tag, 7);
    ASSERT_EQ(box->materials.size(), 1u);
    const RwMaterial& m = box->materials[0];
    ASSERT_TRUE(m.texture);
    // The mask turned the centre transparent, the rim opaque.
    EXPECT_EQ(rw_texture_texel(m.texture, 3, 3).a, 0);
    EXPECT_EQ(rw_texture_texel(m.texture, 0, 0).a, 255);
    EXPECT_EQ(rw_texture_texel(m.texture, 7, 0).g, 255);
    // The loaded texture is shared by name and lives while it is used.
    RwTexture* again = rw_texture_read_named("CRATE.jpg");
    EXPECT_EQ(again, m.texture);
    rw_texture_destroy(again);
    RwStream* s = rw_stream_open_memory_write();
    ASSERT_TRUE(rw_stream_write_texture(s, m.texture, 8));
    const std::vector<uint8_t> bytes = rw_stream_bytes(s);
    rw_stream_close(s);
    rw_clump_destroy(box);
    ASSERT_EQ(rw_texture_find("crate"), nullptr);
    // Read from its chunk, the texture keeps its mask and is known by name.
    s = rw_stream_open_memory(bytes.data(), bytes.size());
    EXPECT_FALSE(rw_stream_read_clump(s));  // a texture chunk is not a clump
    rw_stream_close(s);
    s = rw_stream_open_memory(bytes.data(), bytes.size());
    RwTexture* back = rw_stream_read_texture(s);
    rw_stream_close(s);
    ASSERT_TRUE(back);
    EXPECT_EQ(rw_texture_find("crate"), back);
    EXPECT_EQ(rw_texture_texel(back, 3, 3).a, 0);
    EXPECT_EQ(rw_texture_texel(back, 7, 7).g, 255);
    rw_texture_destroy(back);
}

TEST_F(Art, FigureKeepsItsHierarchyTagsAndTransforms) {
    RwClump* fig = read(kFigure);
    ASSERT_EQ(fig->children.size(), 2u);
    RwClump* head = fig->children[0];
    EXPECT_EQ(head->tag, 2);
    // Tag 2 makes the head a joint: its frame sits at its pivot.
    EXPECT_NEAR(rw_clump_bbox(head).min.y, -0.25f, 1e-5);
    EXPECT_NEAR(transform_point(head->matrix, {}).y, 1.5f, 1e-6);
    EXPECT_NEAR(rw_clump_hierarchy_bbox(fig).max.y, 1.75f, 1e-5);
    EXPECT_EQ(fig->children[1]->polygons[0].tag, kTagSign);
    // A duplicate is independent of its template.
    RwClump* copy = rw_clump_duplicate(fig);
    copy->children[0]->vertices[0].p.y = 99;
    rw_clump_destroy(copy->children[1]);
    EXPECT_EQ(fig->children.size(), 2u);
    EXPECT_EQ(copy->children.size(), 1u);
    EXPECT_NE(head->vertices[0].p.y, 99);
    // A clump cannot be hung below its own descendant.
    rw_clump_add_child(copy->children[0], copy);
    EXPECT_EQ(copy->parent, nullptr);
    rw_clump_destroy(copy);
    rw_clump_destroy(fig);
}

// Joints (clumps below the outer one tagged 1-30) get a frame at the pivot
// that their transforms before any geometry set: their matrix takes them
// there, their geometry and untagged parts are given from it, and every
// vertex stays where it was read. Turning a joint turns what hangs on it.
TEST(Rwx, JointsGetFramesAtTheirPivots) {
    const std::string figure = R"(ClumpBegin
  Tag 4
  Block 0.1 0.1 0.1
  ClumpBegin
    Tag 1
    Translate 0 0.9 0
    Block 0.3 0.2 0.2
    ClumpBegin
      Tag 2
      Translate 0 0.1 0
      Rotate 0 0 1 90
      Vertex 0 0 0
      Vertex 0.5 0 0
      Vertex 0 0.5 0
      Triangle 1 2 3
      Translate 0 0 1
      Vertex 0 0 0
      ClumpBegin
        Translate 0 0.2 0
        Block 0.1 0.1 0.1
      ClumpEnd
    ClumpEnd
    ClumpBegin
      Tag 40
      Translate 1 0 0
      Block 0.1 0.1 0.1
    ClumpEnd
    ClumpBegin
      Tag 3
      Scale 0 0 0
      Vertex 1 1 1
    ClumpEnd
  ClumpEnd
ClumpEnd
)";
    auto points = [](RwClump* c) {
        std::vector<RwV3> out;
        rw_clump_for_all(c, [&](RwClump* k) {
            for (const RwVertex& v : k->vertices) out.push_back(transform_point(rw_clump_world_matrix(k), v.p));
            return true;
        });
        return out;
    };
    std::string untagged = figure;
    for (const char* tag : {"Tag 1\n", "Tag 2\n", "Tag 3\n"}) untagged.replace(untagged.find(tag), 5, "Tag 0");
    RwClump* c = read(figure);
    RwClump* plain = read(untagged);
    const std::vector<RwV3> a = points(c), b = points(plain);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(a[i].x, b[i].x, 1e-5) << i;
        EXPECT_NEAR(a[i].y, b[i].y, 1e-5) << i;
        EXPECT_NEAR(a[i].z, b[i].z, 1e-5) << i;
    }
    RwClump* pelvis = c->children.at(0);
    RwClump* back = pelvis->children.at(0);
    EXPECT_EQ(transform_point(c->matrix, {}).y, 0);  // the outer clump is never a joint
    EXPECT_NEAR(transform_point(pelvis->matrix, {}).y, 0.9f, 1e-6);
    EXPECT_NEAR(transform_point(back->matrix, {1, 0, 0}).y, 1.1f, 1e-6);  // turned 90 degrees about z
    EXPECT_NEAR(back->vertices.at(1).p.x, 0.5f, 1e-6);
    EXPECT_NEAR(back->vertices.at(3).p.z, 1, 1e-6);   // placed after the pivot was taken
    EXPECT_NEAR(rw_clump_bbox(back->children.at(0)).min.z, 0.95f, 1e-6);
    for (RwClump* not_joint : {pelvis->children.at(1), pelvis->children.at(2)})  // tag 40; a squashed pivot
        EXPECT_EQ(transform_point(not_joint->matrix, {}).x, 0);
    rw_clump_transform(pelvis, matrix_rotation({1, 0, 0}, 90), RwCombine::preconcat);
    const RwV3 o = transform_point(rw_clump_world_matrix(back), {});
    EXPECT_NEAR(o.y, 0.9f, 1e-6);
    EXPECT_NEAR(o.z, 0.1f, 1e-6);
    rw_clump_destroy(c);
    rw_clump_destroy(plain);
}

TEST_F(Art, ProtosAndPrimitivesBuildGeometry) {
    RwClump* c = read(kProtos);
    // Two instances of a post, each with a tagged triangle; one wire triangle.
    int tag5 = 0, wire = 0;
    rw_clump_for_all_polygons(c, [&](RwClump* k, size_t i) {
        tag5 += k->polygons[i].tag == 5;
        wire += k->materials[k->polygons[i].material].geometry == RwGeometrySampling::wireframe;
        return true;
    });
    EXPECT_EQ(tag5, 2);
    EXPECT_EQ(wire, 1);
    // Posts at x = -1 and (after both translations) +1, cone tips at y = 1.3.
    RwBox b = rw_clump_bbox(c);
    EXPECT_NEAR(b.min.x, -1.15f, 1e-4);
    EXPECT_NEAR(b.max.y, 1.3f, 1e-4);
    rw_clump_destroy(c);
}

TEST(Rwx, DamagedShapesFailWithAReasonNeverPartially) {
    const int clumps = int(rw_clump_count());
    const std::string bad[] = {
        "clumpbegin\nvertex 0 0 0\ntriangle 1 2 3\nclumpend\n",             // index past the vertices
        "clumpbegin\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\ntriangle 0 1 2\nclumpend\n",  // index 0
        "clumpbegin\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\ntriangle -1 1 2\nclumpend\n",
        "clumpbegin\nvertex 0 zero 0\nclumpend\n",                           // not a number
        "clumpbegin\nvertex 0 nan 0\nclumpend\n",
        "clumpbegin\nvertex 1e39 0 0\nclumpend\n",                           // not finite
        "clumpbegin\nvertex 0 0\nclumpend\n",                                // missing coordinate
        "clumpbegin\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\npolygon 4 1 2 3\nclumpend\n",
        "clumpbegin\npolygon 99999999 1 2 3\nclumpend\n",
        "clumpend\n",                                                        // unbalanced
        "protobegin a\nvertex 0 0 0\n",                                      // prototype never ends
        "clumpbegin\nprotoinstance nothing\nclumpend\n",
        "clumpbegin\ncylinder 1 1 1 100000\nclumpend\n",                     // absurd sides
        "clumpbegin\nsphere 1 100000\nclumpend\n",
        "modelbegin\nmodelend\n",                                            // nothing in it
        "",
        "clumpbegin\ntag x\nclumpend\n",
        "clumpbegin\nvertex 0 0 0" + std::string(1, '\0') + "\nclumpend\n",  // a NUL byte
    };
    for (const std::string& text : bad) {
        std::string why;
        RwClump* c = rw_read_shape_text(text, &why);
        EXPECT_FALSE(c) << text;
        EXPECT_FALSE(why.empty()) << text;
        EXPECT_NE(render_last_error(), render_ok);
        if (c) rw_clump_destroy(c);
    }
    EXPECT_EQ(rw_clump_count(), clumps);  // nothing half-built is left over
    EXPECT_FALSE(rw_read_shape("/nonexistent/shape.rwx"));
    EXPECT_EQ(render_last_error(), render_error_no_file);
}

// Prototypes p0 (holding `body`) .. p<levels-1>, each instancing the one below
// `fan` times, the k-th after statement before(level, k); the shape the last.
std::string nested_protos(const std::string& body, int fan, int levels,
                          const std::function<std::string(int, int)>& before = {}) {
    std::string s = "protobegin p0\n" + body + "protoend\n";
    for (int i = 1; i < levels; ++i) {
        s += "protobegin p" + std::to_string(i) + "\n";
        for (int k = 0; k < fan; ++k)
            s += (before ? before(i, k) + "\n" : "") + "protoinstance p" + std::to_string(i - 1) + "\n";
        s += "protoend\n";
    }
    return s + "clumpbegin\nprotoinstance p" + std::to_string(levels - 1) + "\nclumpend\n";
}

TEST(Rwx, HostileNestingAndExpansionAreBounded) {
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "clumpbegin\n";
    EXPECT_FALSE(rw_read_shape_text(deep));
    const std::string triangle = "vertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\ntriangle 1 2 3\n";
    EXPECT_FALSE(rw_read_shape_text(nested_protos(triangle, 10, 12)));  // deeper than prototypes nest
    std::string big_polygon = "vertex 0 0 0\npolygon 4096";
    for (int i = 0; i < 4096; ++i) big_polygon += " 1";
    const char* looks[] = {"ambient", "diffuse", "specular", "opacity", "color 0 0"};
    std::string translates, textures = "clumpbegin\n";
    for (int i = 0; i < 10; ++i) translates += "translate 0 0 1\n";
    for (int i = 0; i < 5000; ++i) textures += "texture t" + std::to_string(i) + "\n";
    std::string colours;
    for (int i = 0; i < 5000; ++i) colours += "color 0 0 " + std::to_string(i / 5000.0) + "\n" + triangle;
    // Within every depth limit, each past any sane model: empty statements,
    // 16 KB polygons, 2 MB spheres, new looks, texture lookups, draw batches.
    const std::string hostile[] = {
        nested_protos(translates, 10, 8),
        nested_protos(big_polygon + "\n", 10, 6),
        nested_protos("sphere 1 64\n", 10, 6),
        nested_protos(triangle, 10, 6, [&](int i, int k) { return looks[i - 1] + (" 0." + std::to_string(k)); }),
        textures,
        colours,
    };
    const int clumps = int(rw_clump_count());
    for (const std::string& text : hostile) {
        std::string why;
        const auto start = std::chrono::steady_clock::now();
        RwClump* c = rw_read_shape_text(text, &why);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(c) << text.substr(0, 60);
        EXPECT_EQ(render_last_error(), render_error_too_large) << why;
        EXPECT_LT(seconds, 10.0) << why;  // about a second in a sanitized debug build, far less optimised
        rw_clump_destroy(c);
    }
    EXPECT_EQ(rw_clump_count(), clumps);
    // A large model of the usual kind stays well inside the limits.
    std::string leaf;
    for (int i = 0; i < 50; ++i) leaf += "vertex " + std::to_string(i) + " 0 0 uv 0 1\n";
    for (int i = 1; i + 2 <= 50; ++i)
        leaf += "triangle " + std::to_string(i) + " " + std::to_string(i + 1) + " " + std::to_string(i + 2) + "\n";
    RwClump* c = read(nested_protos(leaf, 2000, 2, [](int, int k) {
        return "color " + std::to_string(k / 2000.0) + " 0 0\ntranslate 0 1 0";
    }));
    EXPECT_EQ(c->vertices.size(), 2000u * 50);
    EXPECT_EQ(c->polygons.size(), 2000u * 48);
    EXPECT_EQ(c->materials.size(), 2000u);
    rw_clump_destroy(c);
    // A texture name that would leave the search path is never looked up.
    c = read("clumpbegin\ntexture ../../etc/passwd\n" + triangle + "clumpend\n");
    EXPECT_TRUE(c->materials.at(0).texture_name.empty());
    rw_clump_destroy(c);
}

TEST_F(Art, ClumpChunksRoundTripThroughFilesAndFailuresAreReported) {
    for (const char* text : {kMaskedBox, kFigure, kProtos}) {
        RwClump* src = read(text);
        const size_t moved = src->children.size();  // the last child, or the root
        rw_clump_transform(moved ? src->children.back() : src, matrix_translation(1, 2, 3));
        const std::string path = dir_.file("zk.tmp");
        RwStream* out = rw_stream_open_file(path, RwStreamMode::write);
        ASSERT_TRUE(out);
        ASSERT_TRUE(rw_stream_write_clump(out, src, 18));
        ASSERT_TRUE(rw_stream_close(out));
        RwStream* in = rw_stream_open_file(path, RwStreamMode::read);
        ASSERT_TRUE(in);
        RwClump* back = rw_stream_read_clump(in);
        rw_stream_close(in);
        ASSERT_TRUE(back);
        EXPECT_EQ(rw_clump_encode(back), rw_clump_encode(src));
        // Kept in the chunk, not only written and read alike.
        EXPECT_FLOAT_EQ(transform_point(rw_clump_matrix(moved ? back->children.back() : back), {}).y, 2);
        EXPECT_EQ(back->polygons.at(0).tag, src->polygons.at(0).tag);
        EXPECT_TRUE(back->materials.at(0).same_look(src->materials.at(0)));  // the texture found again by name
        rw_clump_destroy(back);
        rw_clump_destroy(src);
    }
    // Failures are reported, never taken for success.
    EXPECT_FALSE(rw_stream_open_file(dir_.file("no/such/dir/zk.tmp"), RwStreamMode::write));
    EXPECT_EQ(render_last_error(), render_error_no_file);
    EXPECT_FALSE(rw_stream_open_file(dir_.file("missing.tmp"), RwStreamMode::read));
    // A full disk: the chunk is buffered, the close must tell.
    RwClump* c = read(kFigure);
    RwStream* full = rw_stream_open_file("/dev/full", RwStreamMode::write);
    ASSERT_TRUE(full);
    bool written = rw_stream_write_clump(full, c, 18);
    bool closed = rw_stream_close(full);
    EXPECT_FALSE(written && closed);
    rw_clump_destroy(c);
}

TEST_F(Art, DamagedClumpChunksAnswerNone) {
    RwClump* src = read(kFigure);
    const std::vector<uint8_t> body = rw_clump_encode(src);
    rw_clump_destroy(src);
    const int64_t live = rw_clump_count();
    // Truncations answer none; any single-byte change a sound clump or none.
    for (size_t n = 0; n < body.size(); ++n) {
        EXPECT_FALSE(rw_clump_decode(body.data(), n)) << n;
        std::vector<uint8_t> bad = body;
        bad[n] ^= 0xA5;
        if (RwClump* c = rw_clump_decode(bad.data(), bad.size())) {
            rw_clump_for_all(c, [](RwClump* k) {
                for (const RwPolygon& p : k->polygons) {
                    EXPECT_LT(p.material, k->materials.size());
                    for (uint32_t v : p.v) EXPECT_LT(v, k->vertices.size());
                }
                return true;
            });
            rw_clump_destroy(c);
        }
    }
    EXPECT_EQ(rw_clump_count(), live);
    // Each texture name is looked for once, and only so many names.
    for (int names : {10, 2000}) {
        RwClump* many = rw_clump_create();
        many->materials.resize(3000);
        for (int i = 0; i < 3000; ++i) many->materials[i].texture_name = "gone" + std::to_string(i % names);
        const std::vector<uint8_t> b = rw_clump_encode(many);
        rw_clump_destroy(many);
        RwClump* back = rw_clump_decode(b.data(), b.size());
        EXPECT_EQ(back != nullptr, names == 10) << names;
        rw_clump_destroy(back);
    }
}

TEST_F(Art, MultiFrameTexturesStepTogether) {
    RwTexture* film = rw_texture_read_named("film");
    ASSERT_TRUE(film);
    EXPECT_EQ(rw_texture_texel(film, 0, 0).r, 255);
    rw_textures_advance_frames();
    EXPECT_EQ(rw_texture_texel(film, 0, 0).g, 255);
    rw_textures_advance_frames();
    rw_textures_advance_frames();
    EXPECT_EQ(rw_texture_texel(film, 0, 0).r, 255);  // wrapped to the first
    // Replacing the raster shows at once; a square raster has one frame.
    RwRaster* square = rw_raster_create(4, 4, 32);
    square->pixels[(2 * 4 + 2) * 4 + 2] = 3;
    ASSERT_TRUE(rw_texture_set_raster(film, square));
    EXPECT_EQ(film->frames, 1);
    EXPECT_EQ(rw_texture_texel(film, 2, 2).b, 3);
    rw_texture_destroy(film);
}

TEST_F(Art, PickingAnswersTheNearestPolygonOrNone) {
    RwScene* scene = rw_scene_create();
    RwClump* near_box = read(kMaskedBox);
    RwClump* far_fig = read(kFigure);
    rw_clump_transform(near_box, matrix_translation(0, 0, 5));
    rw_clump_transform(far_fig, matrix_translation(0, -0.5f, 10));
    rw_scene_add_clump(scene, far_fig);
    rw_scene_add_clump(scene, near_box);
    RwCamera* cam = rw_camera_create(200, 100);
    rw_camera_set_view_window(cam, 1, 0.5f);
    RwPick pick;
    ASSERT_TRUE(rw_camera_pick(cam, scene, 100, 50, &pick));
    EXPECT_EQ(pick.clump, near_box);
    EXPECT_EQ(pick.tag, 7);  // the front face
    EXPECT_NEAR(pick.distance, 4, 1e-3);
    // Hidden clumps are passed over; the sign of the figure behind is hit.
    rw_clump_hide(near_box);
    ASSERT_TRUE(rw_camera_pick(cam, scene, 100, 50, &pick));
    EXPECT_EQ(pick.clump, far_fig->children[1]);
    // Off to the side there is nothing; outside the viewport neither.
    EXPECT_FALSE(rw_camera_pick(cam, scene, 2, 2, &pick));
    EXPECT_EQ(pick.clump, nullptr);
    EXPECT_FALSE(rw_camera_pick(cam, scene, 500, 50, &pick));
    // +x is on the left of a camera looking down +z; the head is picked where it projects.
    float sx, sy;
    ASSERT_TRUE(rw_camera_project(cam, {0.8f, 1.0f, 10}, &sx, &sy));
    EXPECT_LT(sx, 100);
    EXPECT_LT(sy, 50);
    ASSERT_TRUE(rw_camera_project(cam, {0, 1.0f, 9.75f}, &sx, &sy));
    ASSERT_TRUE(rw_camera_pick(cam, scene, int(sx), int(sy), &pick));
    EXPECT_EQ(pick.clump, far_fig->children[0]);
    // Removed clumps are not picked.
    rw_scene_remove_clump(far_fig);
    EXPECT_FALSE(rw_camera_pick(cam, scene, 100, 50, &pick));
    rw_camera_destroy(cam);
    rw_clump_destroy(near_box);
    rw_clump_destroy(far_fig);
    rw_scene_destroy(scene);
}

}  // namespace
}  // namespace zk
