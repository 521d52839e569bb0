// Pictures on objects: addresses formed and refused, pictures fetched from a
// real HTTP server, converted, cached, shared between objects, painted on
// their tag-200 polygons and fetched again with a conditional request.
#include "art/picture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "art/model.h"
#include "core/tasks.h"
#include "render/clump.h"
#include "server/assets/images.h"
#include "server/assets/zip_writer.h"

#include "art_server.h"

namespace zk {
namespace {

TEST(PictureUrl, FormedFromTheObjectPathOrTheAddress) {
    const std::string path = "objects.example:5680/zk";
    const std::string longest = "h/" + std::string(249, 'a') + ".jpg", too_long = "h" + longest;
    const struct {
        std::string name, url;
        bool absolute;
    } cases[] = {
        {"/pics/a.jpg", "objects.example:5680/zk/pics/a.jpg", false},
        {"a.JPG", "objects.example:5680/zk/textures/a.JPG", false},
        {"HTTP://Pics.example/x/b.JPEG", "Pics.example/x/b.JPEG", true},
        {"pics.example/b.jpeg", "pics.example/b.jpeg", true},
        {longest, longest, true},
        {too_long, "", true},
        {"a.png", "", false},
        {"pics.example/b.jpg.gif", "", true},
        {"https://pics.example/b.jpg", "", true},
        {"", "", false},
    };
    for (const auto& c : cases) {
        bool absolute = !c.absolute;
        EXPECT_EQ(picture_url(c.name, path, &absolute), c.url) << c.name;
        EXPECT_EQ(absolute, c.absolute) << c.name;
    }
}

class Picture : public test::ArtServer {
protected:
    void SetUp() override {
        ArtServer::SetUp();
        model_set_scene(scene);
        dloptions_init();
        picture_init();
        static std::string path;
        path = server.host() + "/objects";
        picture_hooks().object_path = [] { return path; };
        const std::string canvas = "modelbegin\nclumpbegin\nvertex 0 0 0 uv 0 1\nvertex 1 0 0 uv 1 1\n"
                                   "vertex 1 1 0 uv 1 0\nvertex 0 1 0 uv 0 0\nquad 1 2 3 4 tag 200\nquad 4 3 2 1\n"
                                   "clumpend\nmodelend\n";
        publish("models/canvas.zip", server::zip_single("canvas.rwx", canvas));
        for (const char* name : {"sunflower", "sky"})
            for (const server::TextureRecipe& r : server::texture_recipes())
                if (r.name == name) publish(std::string("pictures/") + name + ".jpg",
                                            server::jpeg_encode(server::make_texture(r), 85));
    }
    void TearDown() override {
        for (model_ref* r : refs) model_dereference(r);
        ArtServer::TearDown();
        model_set_scene(nullptr);
        rw_scene_destroy(scene);
        picture_hooks() = {};
    }
    void start() override {
        ArtServer::start();
        ASSERT_TRUE(model_init());
    }
    void stop() override { picture_reset(), model_term(), ArtServer::stop(); }
    model_ref* canvas() {
        refs.push_back(model_reference("models", "canvas", nullptr));
        return refs.back();
    }
    // The texture on the canvas's picture polygon.
    static RwTexture* shown(model_ref* r) {
        RwClump* c = model_clump(r);
        for (const RwPolygon& p : c->polygons)
            if (p.tag == kTagPicture) return c->materials[p.material].texture;
        return nullptr;
    }
    int requests(const std::string& target) { return int(seen().count(target)); }
    // Another world: what was asked for is in, the pictures are dropped.
    void new_world() {
        EXPECT_TRUE(settle());
        picture_reset();
    }

    RwScene* scene = rw_scene_create();
    std::vector<model_ref*> refs;
};

TEST_F(Picture, SharedByObjectsCachedAndFetchedAgainWhenDamaged) {
    model_ref* a = canvas();
    model_ref* b = canvas();
    ASSERT_TRUE(settle());
    model_flush();
    picture* p = picture_create(a, "/pictures/sunflower.jpg", 0);
    ASSERT_TRUE(p);
    EXPECT_EQ(picture_create(b, "HTTP://" + server.host() + "/objects/pictures/sunflower.jpg", 0), p);
    EXPECT_EQ(picture_count(), 1);
    ASSERT_TRUE(settle());
    ASSERT_TRUE(picture_handle(p));
    EXPECT_EQ(shown(a), picture_handle(p));
    EXPECT_EQ(shown(b), picture_handle(p));
    EXPECT_FALSE(std::filesystem::exists(dir.file("temp.bmp")));

    picture_destroy(p, a);
    EXPECT_EQ(shown(a), nullptr);
    EXPECT_EQ(shown(b), picture_handle(p)) << "the second object keeps the picture";
    picture_destroy(p, b);
    EXPECT_EQ(picture_handle(p), nullptr);

    // A new world: the cached file is shown at once, without the server; a
    // damaged one is deleted and fetched again.
    const std::string cached = picture_path(p);
    new_world();
    p = picture_create(a, "sunflower.jpg", 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(requests("/objects/textures/sunflower.jpg"), 1) << "a bare name is looked for in textures/";
    EXPECT_FALSE(picture_handle(p));
    p = picture_create(a, "/pictures/sunflower.jpg", 0);
    EXPECT_TRUE(picture_handle(p) && shown(a) == picture_handle(p));
    new_world();
    test::write_file(cached, "not a texture");
    const int before = requests("/objects/pictures/sunflower.jpg");
    p = picture_create(a, "/pictures/sunflower.jpg", 0);
    EXPECT_EQ(picture_handle(p), nullptr);
    ASSERT_TRUE(settle());
    EXPECT_EQ(requests("/objects/pictures/sunflower.jpg"), before + 1);
    EXPECT_TRUE(picture_handle(p) && shown(a) == picture_handle(p));
}

TEST_F(Picture, TheDownloadsSettingGovernsAbsoluteAddresses) {
    model_ref* a = canvas();
    const std::string absolute = server.host() + "/objects/pictures/sky.jpg";  // about 20 K
    const struct {
        int setting;
        bool object_path, absolute;
    } cases[] = {{0, true, false}, {10, true, false}, {1, true, true}};
    for (const auto& c : cases) {
        new_world();
        settings_put_int("downloads", "pictures", c.setting);
        dloptions_init();
        EXPECT_EQ(picture_create(nullptr, "/pictures/sunflower.jpg", 0) != nullptr, c.object_path) << c.setting;
        picture* p = picture_create(a, absolute, 0);
        ASSERT_TRUE(settle());
        model_flush();
        EXPECT_EQ(p && picture_handle(p), c.absolute) << c.setting;
    }
}

TEST_F(Picture, AShownPictureIsAskedForAgainEveryPeriod) {
    tick_read();
    model_ref* a = canvas();
    ASSERT_TRUE(settle());
    model_flush();
    picture* p = picture_create(a, "/pictures/sunflower.jpg", 1);
    ASSERT_TRUE(settle());
    ASSERT_TRUE(picture_handle(p));
    const std::string target = "/objects/pictures/sunflower.jpg";
    tick_read();
    picture_update();
    ASSERT_TRUE(settle());
    EXPECT_EQ(requests(target), 1) << "not before the period is up";
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    tick_read();
    picture_update();
    ASSERT_TRUE(settle());
    EXPECT_EQ(requests(target), 2);
    EXPECT_EQ(server.last_request().header("if-modified-since"), "Sat, 01 Feb 2025 10:00:00 GMT");
    EXPECT_TRUE(picture_handle(p));
}

}  // namespace
}  // namespace zk
