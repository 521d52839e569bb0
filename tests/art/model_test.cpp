// Models: the header and converter text of shapes, and models fetched from
// a real HTTP server as archives of authored shapes, converted into the
// chunk store, swapped in, and loaded again from the store.
#include "art/model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "art/chunk.h"
#include "art/ground.h"
#include "art/texture.h"
#include "core/settings.h"
#include "render/clump.h"
#include "render/models.h"
#include "render/rwx.h"
#include "server/assets/zip_writer.h"

#include "art_server.h"

namespace zk {
namespace {

using Bytes = std::vector<uint8_t>;

// "type|texture+mask|texture" as the header names them.
std::string describe(const Bytes& header) {
    std::vector<ModelTexture> named;
    if (!model_header_textures(header, named)) return "damaged";
    std::string out = std::to_string(header[0]);
    for (const ModelTexture& t : named) out += "|" + t.name + (t.mask.empty() ? "" : "+" + t.mask);
    return out;
}

TEST(ModelText, HeaderAndConverterText) {
    struct Case {
        std::string rwx, header, shape, flat;
    };
    const Case cases[] = {
        {"Color 1 0 0\nTexture Crate.JPG Mask CrateM.bmp\nQuad 1 2 3 4\n", "0|crate+cratem",
         "Color 1 0 0\nTexture Crate.JPG\nQuad 1 2 3 4\n", "Color 1 0 0\nQuad 1 2 3 4\n"},
        {"texture NULL\nblock 1 1 1", "0", "texture NULL\nblock 1 1 1", "texture NULL\nblock 1 1 1"},
        {"AxisAlignment ZOrientY\ntextureext wood.jpg 1 0 0\n", "1|wood", "", "AxisAlignment ZOrientY\n"},
        // Refused: longer than a texture key, a path, nothing before the dot;
        // a comment and text past 256 characters are not read.
        {"texture " + std::string(33, 'n') + "\ntexture a/b\ntexture .jpg mask m\n# texture old\n" +
             std::string(250, ' ') + "texture far\n",
         "0",
         "texture " + std::string(33, 'n') + "\ntexture a/b\ntexture .jpg\n# texture old\n" + std::string(250, ' ') +
             "texture far\n",
         "# texture old\n" + std::string(250, ' ') + "texture far\n"},
        {"Texture a Mask\n", "0|a", "Texture a Mask\n", ""},
    };
    for (const Case& c : cases) {
        const Bytes header = model_read_header(c.rwx, kModelPlain);
        EXPECT_EQ(describe(header), c.header) << c.rwx;
        EXPECT_EQ(model_shape_text(c.rwx, false), c.shape.empty() ? c.rwx : c.shape) << c.rwx;
        EXPECT_EQ(model_shape_text(c.rwx, true), c.flat) << c.rwx;
    }
    EXPECT_EQ(model_read_header(cases[0].rwx, kModelPlain),
              (Bytes{0, 5, 'c', 'r', 'a', 't', 'e', 0, 6, 'c', 'r', 'a', 't', 'e', 'm'}));
    EXPECT_EQ(model_read_header("texture null\n", kModelAvatar), Bytes{kModelAvatar});

    // A header full to its room takes no further entry, not even a short one.
    std::string many;
    for (int i = 1000; i < 1200; ++i) many += "texture t" + std::to_string(i) + std::string(25, 'x') + "\n";
    many += "texture z\n";
    const Bytes full = model_read_header(many, kModelPlain);
    std::vector<ModelTexture> named;
    ASSERT_TRUE(model_header_textures(full, named));
    EXPECT_EQ(full.size(), 1 + 83 * 31u);
    EXPECT_EQ(named.back().name, "t1082" + std::string(25, 'x'));

    for (const Bytes& damaged : {Bytes{}, Bytes{3}, Bytes{0, 3, 'a'}, Bytes{0, 0, 1, 'm'}, Bytes{0, 1, 'a', 0},
                                 Bytes{0, 1, '/'}})
        EXPECT_FALSE(model_header_textures(damaged, named)) << damaged.size();
}

float top(const RwClump* c) { return rw_clump_hierarchy_bbox(c).max.y; }

class Model : public test::ArtServer {
protected:
    void SetUp() override {
        ArtServer::SetUp();
        model_set_scene(scene);
        RwClump* figure = rw_read_shape_text(test::kFigure);
        figure_top = top(figure);
        figure_height = figure_top - rw_clump_hierarchy_bbox(figure).min.y;
        rw_clump_destroy(figure);
    }
    void TearDown() override {
        drop_all();
        ArtServer::TearDown();
        model_set_scene(nullptr);
        rw_scene_destroy(scene);
        advanced_apply({});
    }
    void start() override {
        ArtServer::start();
        ASSERT_TRUE(model_init());
    }
    void stop() override { model_term(), ArtServer::stop(); }
    model_ref* ref(const std::string& name, const std::string& d = "models") {
        refs.push_back(model_reference(d, name, nullptr));
        return refs.back();
    }
    void drop_all() {
        for (model_ref* r : std::exchange(refs, {})) model_dereference(r);
    }
    void publish(const std::string& d, const std::string& name, const char* shape) {
        ArtServer::publish(d + "/" + name + ".zip", server::zip_single(name + ".rwx", shape));
    }

    RwScene* scene = rw_scene_create();
    std::vector<model_ref*> refs;
    float figure_top = 0, figure_height = 0;
    const float placeholder_top = 0.02f;
};

TEST_F(Model, NamesShareAnEntryAreCutAndHostileOnesNeverLeave) {
    publish("models", "box", test::kFigure);
    ref("BOX.RWX");
    ref("box");
    EXPECT_EQ(model_count(), 1u);
    ref("ABCDEFGHIJKLMNOPQRSTUVWXY");
    for (const char* hostile : {"../evil", "a\\b", "x\x01y", "..", "c:d", "/etc/passwd"}) ref(hostile);
    ASSERT_TRUE(settle());
    EXPECT_EQ(seen(),
              (std::multiset<std::string>{"/objects/models/abcdefghijklmnopqrst.zip", "/objects/models/box.zip"}));
    EXPECT_FLOAT_EQ(top(model_clump(refs[0])), placeholder_top) << "swapped before the flush";
    model_flush();
    for (size_t i = 0; i < refs.size(); ++i) {
        EXPECT_FLOAT_EQ(top(model_clump(refs[i])), i < 2 ? figure_top : placeholder_top) << i;
        EXPECT_EQ(model_clump(refs[i])->scene, scene) << i;
    }
    EXPECT_EQ(scene->clumps.size(), refs.size());
}

TEST_F(Model, ConvertedOnceThenLoadedFromTheStoreWithoutAsking) {
    publish("models", "box", test::kFigure);
    publish("avatars", "guy", test::kFigure);
    model_ref* plain = ref("box");
    model_ref* avatar = ref("guy", "avatars");
    float height = 0;
    ASSERT_TRUE(settle());
    EXPECT_FLOAT_EQ(top(model_clump(avatar)), figure_top) << "an avatar swaps at once";
    EXPECT_EQ(model_clump(avatar)->scene, scene);
    EXPECT_TRUE(model_height(avatar, &height));
    EXPECT_FLOAT_EQ(height, figure_height);
    EXPECT_FLOAT_EQ(top(model_clump(plain)), placeholder_top) << "a plain model waits for the flush";
    model_place(plain, 5, 1, 2, 90);
    model_flush();
    EXPECT_FLOAT_EQ(top(model_clump(plain)), figure_top);
    EXPECT_FLOAT_EQ(transform_point(rw_clump_matrix(model_clump(plain)), RwV3{}).x, 5) << "the place is kept";
    EXPECT_TRUE(chunk_exists("models", "box"));
    EXPECT_FALSE(std::filesystem::exists(art_dir() + "/models/box.rwx")) << "kept only when asked to";
    const size_t asked = seen().size();

    // A second reference, and a new start over the same art directory, show
    // the stored conversion at once and ask nobody within the refresh time.
    model_ref* second = ref("box");
    model_flush();
    EXPECT_FLOAT_EQ(top(model_clump(second)), figure_top);
    // Both show one shape, which the renderer draws for both at once.
    EXPECT_EQ(model_clump(second)->geometry, model_clump(plain)->geometry);
    drop_all();
    stop();
    start();
    model_ref* again = ref("box");
    model_flush();
    EXPECT_FLOAT_EQ(top(model_clump(again)), figure_top);
    ASSERT_TRUE(settle());
    EXPECT_EQ(seen().size(), asked);
}

TEST_F(Model, TheFlatSubstituteHasAKeyOfItsOwn) {
    publish("models", "x", test::kMaskedBox);
    publish("models", "flatx", test::kFigure);
    test::write_file(dir.file("zelnik.ini"), "[advanced]\nkeep_rwx=1\n");
    advanced_init();
    EXPECT_TRUE(advanced_switches().keep_rwx);
    model_ref* x = ref("x");
    ASSERT_TRUE(settle());
    model_flush();
    // Its texture never arrives: the untextured conversion stands in.
    EXPECT_FLOAT_EQ(top(model_clump(x)), 1);
    EXPECT_FALSE(chunk_exists("models", "x"));
    Bytes header;
    ASSERT_TRUE(chunk_header(model_flat_prefix("models"), "x", header));
    EXPECT_EQ(describe(header), "0|crate+cratem");

    model_ref* flatx = ref("flatx");
    ASSERT_TRUE(settle());
    model_ref* x2 = ref("x");
    model_flush();
    EXPECT_FLOAT_EQ(top(model_clump(flatx)), figure_top);
    EXPECT_FLOAT_EQ(top(model_clump(x2)), 1) << "model flatx took the flat substitute of x";
    EXPECT_TRUE(std::filesystem::exists(art_dir() + "/models/flatx.rwx"));

    // Each reference holds the model's texture once.
    texture* crate = texture_download("crate", nullptr, nullptr);
    EXPECT_EQ(texture_reference_count(crate), 2);
    model_dereference(x2);
    refs.pop_back();
    EXPECT_EQ(texture_reference_count(crate), 1);

    advanced_apply({false, true});
    EXPECT_EQ(settings_get_int("advanced", "keep_rwx"), 0);
    EXPECT_EQ(settings_get_int("advanced", "keep_bmp"), 1);
    EXPECT_TRUE(texture_keep_bmp());
}

// The ground stands in for a world's floor: falling onto it must wait until
// it is really shown, and it must stay under the user wherever they walk.
TEST_F(Model, TheGroundIsReadyOnlyWhenShownAndMovesBySector) {
    publish("models", "grass", test::kFigure);
    static double user_x = 2.9, user_z = -3.5;
    ground_hooks().position = [](double* x, double*, double* z) { *x = user_x, *z = user_z; };
    auto at = [] {
        const RwV3 p = transform_point(rw_clump_matrix(ground_clump()), RwV3{});
        return std::pair<float, float>(p.x, p.z);
    };
    ground_set("grass");
    ASSERT_TRUE(settle());
    EXPECT_FALSE(ground_ready()) << "the placeholder is still shown";
    model_flush();
    ASSERT_TRUE(ground_ready());
    EXPECT_EQ(ground_clump()->scene, scene);
    EXPECT_FLOAT_EQ(top(ground_clump()), figure_top);
    EXPECT_EQ(at(), std::pair(0.f, -6.f)) << "placed before it loaded, and kept";
    const struct {
        double x, z;
        float ground_x, ground_z;
    } walk[] = {{2.99, -3.5, 0, -6}, {3.0, -3.5, 6, -6}, {8.99, 2.9, 6, 0}, {-3.01, -9.5, -6, -12}};
    for (const auto& w : walk) {
        user_x = w.x, user_z = w.z;
        ground_update();
        EXPECT_EQ(at(), std::pair(w.ground_x, w.ground_z)) << w.x << "," << w.z;
    }
    RwClump* shown = ground_clump();
    ground_set("grass");
    EXPECT_EQ(ground_clump(), shown) << "the same ground is not loaded again";
    ground_set("");
    EXPECT_FALSE(ground_clump());
    EXPECT_FALSE(ground_ready());
    ground_hooks().position = nullptr;
}

}  // namespace
}  // namespace zk
