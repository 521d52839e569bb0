// Textures fetched from a real HTTP server as JPEGs (and masks as archives
// of BMPs), converted, kept in the texture store, and shown through handles
// that a newer picture is reloaded into.
#include "art/texture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "art/chunk.h"
#include "art/download.h"
#include "render/texture.h"
#include "server/assets/images.h"
#include "server/assets/zip_writer.h"

#include "art_server.h"

namespace zk {
namespace {

// A 16 x 16 picture of one colour; with holes, its left half is masked out.
server::Image picture(RwRgba c, bool holes = false) {
    server::Image image;
    image.width = image.height = 16;
    for (int i = 0; i < 16 * 16; ++i) {
        image.rgb.insert(image.rgb.end(), {c.r, c.g, c.b});
        if (holes) image.alpha.push_back(i % 16 < 8 ? 0 : 255);
    }
    return image;
}

std::string jpeg(RwRgba c) { return server::jpeg_encode(picture(c), 95); }

bool near(RwRgba a, RwRgba b) { return std::abs(a.r - b.r) < 10 && std::abs(a.g - b.g) < 10 && std::abs(a.b - b.b) < 10; }

const RwRgba kRed{200, 40, 30}, kBlue{30, 50, 210}, kGreen{40, 190, 60};

class Texture : public test::ArtServer {
protected:
    void TearDown() override {
        for (texture* t : held) texture_dereference(t);
        texture_set_keep_bmp(false);
        ArtServer::TearDown();
    }
    // A model's use: fetched, and referenced for as long as it is shown.
    texture* show(const std::string& name) {
        texture* t = texture_download(name, nullptr, nullptr);
        texture_reference(t);
        held.push_back(t);
        return t;
    }
    // A new start of the program over the same art directory.
    void restart(long refresh_minutes) {
        for (texture* t : std::exchange(held, {})) texture_dereference(t);
        stop();
        start();
        download_set_refresh(refresh_minutes);
    }
    bool bmp_exists(const std::string& name) { return std::filesystem::exists(art_dir() + "/textures/" + name + ".bmp"); }
    std::vector<texture*> held;
};

TEST_F(Texture, ConvertedOnceKeptInTheStoreAndHeldOnlyWhileReferenced) {
    publish("textures/wood.jpg", jpeg(kRed));
    static int calls = 0;
    texture* t = texture_download("wood.jpg", [](void*, int status) { calls += status == 0; }, nullptr);
    EXPECT_EQ(texture_download("wood", [](void*, int status) { calls += status == 0; }, nullptr), t);
    EXPECT_FALSE(texture_loaded(t));
    ASSERT_TRUE(settle());
    EXPECT_EQ(calls, 2);
    ASSERT_TRUE(texture_loaded(t));
    EXPECT_FALSE(texture_handle(t)) << "finished while nobody shows it";
    EXPECT_FALSE(bmp_exists("wood")) << "deleted unless kept";
    texture_reference(t);
    ASSERT_TRUE(texture_handle(t)) << "loaded from the store when first shown";
    EXPECT_TRUE(near(rw_texture_texel(texture_handle(t), 3, 3), kRed));
    texture_dereference(t);
    EXPECT_FALSE(texture_handle(t));

    const size_t asked = seen().size();
    restart(480);
    EXPECT_TRUE(texture_loaded(show("wood")));
    ASSERT_TRUE(settle());
    EXPECT_EQ(seen().size(), asked) << "within the refresh interval nobody is asked";
}

TEST_F(Texture, AMaskCutsHolesAndAMissingOrBrokenPartLeavesNoneOrNoTexture) {
    publish("textures/leaf.jpg", jpeg(kGreen));
    publish("textures/leafm.zip", server::zip_single("leafm.bmp", server::bmp_mask(picture(kGreen, true))));
    publish("textures/bare.jpg", jpeg(kBlue));
    publish("textures/broken.jpg", jpeg(kBlue).substr(0, 200) + std::string(300, '\x55'));
    texture* leaf = show("leaf");
    texture_set_mask(leaf, "leafm.bmp");
    texture* bare = show("bare");
    texture_set_mask(bare, "barem");  // never published
    texture* broken = show("broken");
    ASSERT_TRUE(settle());
    ASSERT_TRUE(texture_loaded(leaf));
    EXPECT_EQ(rw_texture_texel(texture_handle(leaf), 2, 5).a, 0);
    EXPECT_EQ(rw_texture_texel(texture_handle(leaf), 12, 5).a, 255);
    EXPECT_TRUE(near(rw_texture_texel(texture_handle(leaf), 12, 5), kGreen));
    ASSERT_TRUE(texture_loaded(bare)) << "finished without its mask";
    EXPECT_EQ(rw_texture_texel(texture_handle(bare), 2, 5).a, 255);
    EXPECT_FALSE(texture_loaded(broken));
    EXPECT_FALSE(bmp_exists("broken"));
    EXPECT_FALSE(bmp_exists("leafm")) << "the mask's picture goes with the texture's";

    // A texture that comes later through the same mask has it fetched again.
    publish("textures/ivy.jpg", jpeg(kGreen));
    texture* ivy = show("ivy");
    texture_set_mask(ivy, "leafm");
    ASSERT_TRUE(settle());
    ASSERT_TRUE(texture_loaded(ivy));
    EXPECT_EQ(rw_texture_texel(texture_handle(ivy), 2, 5).a, 0);
}

TEST_F(Texture, ANewerPictureIsReloadedIntoTheShownHandleAndAKeptBmpIsReadAgain) {
    publish("textures/wood.jpg", jpeg(kRed));
    show("wood");
    ASSERT_TRUE(settle());

    // Past the refresh interval the server has a new picture: what every
    // figure already shows changes at once, and the store keeps the new one.
    restart(0);
    publish("textures/wood.jpg", jpeg(kBlue));
    texture* t = show("wood");
    RwTexture* shown = texture_handle(t);
    ASSERT_TRUE(shown);
    EXPECT_TRUE(near(rw_texture_texel(shown, 3, 3), kRed));
    ASSERT_TRUE(settle());
    EXPECT_EQ(texture_handle(t), shown);
    EXPECT_TRUE(near(rw_texture_texel(shown, 3, 3), kBlue));
    restart(480);
    EXPECT_TRUE(near(rw_texture_texel(texture_handle(show("wood")), 3, 3), kBlue));

    // A kept BMP is newer than the store: the next start reads it again.
    texture_set_keep_bmp(true);
    restart(0);
    publish("textures/wood.jpg", jpeg(kGreen));
    show("wood");
    ASSERT_TRUE(settle());
    EXPECT_TRUE(bmp_exists("wood"));
    restart(480);
    t = show("wood");
    EXPECT_FALSE(texture_loaded(t)) << "the stored form was dropped for the BMP";
    ASSERT_TRUE(settle());
    ASSERT_TRUE(texture_loaded(t));
    EXPECT_TRUE(near(rw_texture_texel(texture_handle(t), 3, 3), kGreen));
}

}  // namespace
}  // namespace zk
