// The backdrop: placed for the view's heading and pitch, fetched from a real
// HTTP server and converted with an older world's reply ignored, shrunk for
// the half-size camera, and read from the cache on the next visit.
#include "art/backdrop.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "render/camera.h"
#include "server/assets/images.h"

#include "art_server.h"

namespace zk {
namespace {

TEST(BackdropPosition, FollowsHeadingAndPitch) {
    RwCamera* main = rw_camera_create(400, 200);
    RwCamera* half = rw_camera_create(200, 100);
    rw_camera_set_view_window(main, 1, 0.5f);
    // A 1024 x 256 picture: level, its horizon (nine tenths down) is at the
    // middle of the 200 rows; looking 45 degrees down lifts it by 200 rows.
    const struct {
        float yaw, pitch;
        int x, top;
    } cases[] = {{0, 0, 0, -130}, {90, 0, -256, -130}, {180, 0, -512, -130}, {270, 0, -768, -130},
                 {180, 45, -512, -330}, {0, -45, 0, 69}};
    for (const auto& c : cases) {
        rw_camera_set_matrix(main, matrix_rotation({0, 1, 0}, c.yaw) * matrix_rotation({1, 0, 0}, c.pitch));
        backdrop_position(main, main, 1024, 256);
        EXPECT_NEAR(main->backdrop_offset_x, c.x, 1) << c.yaw << " " << c.pitch;
        EXPECT_NEAR(main->backdrop_rect.y, c.top, 1) << c.yaw << " " << c.pitch;
        EXPECT_EQ(main->backdrop_rect.width, 400);
        EXPECT_EQ(main->backdrop_rect.height, 256);
        backdrop_position(main, half, 1024, 256);
        EXPECT_NEAR(half->backdrop_offset_x, c.x / 2, 1);
        EXPECT_NEAR(half->backdrop_rect.y, c.top / 2, 1);
        EXPECT_EQ(half->backdrop_rect.width, 200);
        EXPECT_EQ(half->backdrop_rect.height, 128);
    }
    rw_camera_destroy(main);
    rw_camera_destroy(half);
}

class Backdrop : public test::ArtServer {
protected:
    void stop() override { backdrop_clear(), ArtServer::stop(); }
};

TEST_F(Backdrop, TheNewestNameWinsAndTheCacheServesTheNextVisit) {
    for (const server::TextureRecipe& r : server::texture_recipes()) {
        const std::string jpeg = server::jpeg_encode(server::make_texture(r), 85);
        if (r.name == "sky") publish("textures/dawn.jpg", jpeg);
        if (r.name == "sunflower") publish("textures/dusk.jpg", jpeg);
    }
    backdrop_set("dawn");
    backdrop_set("dusk");  // before the reply for dawn
    ASSERT_TRUE(settle());
    EXPECT_EQ(seen().count("/objects/textures/dawn.jpg"), 1u);
    EXPECT_FALSE(std::filesystem::exists(art_dir() + "/textures/dawn.bmp"));
    const RwRaster* full = backdrop_full();
    const RwRaster* half = backdrop_half();
    ASSERT_TRUE(full && half);
    EXPECT_EQ(full->width, 128);
    ASSERT_EQ(half->width, 64);
    ASSERT_EQ(half->height, 64);
    for (int y = 0; y < 64; y += 7)
        for (int x = 0; x < 64; x += 5) {
            const RwRgba a = half->pixel(x, y), b = full->pixel(2 * x, 2 * y);
            ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b) << x << "," << y;
        }

    // The next visit reads the converted picture at once; a damaged one is
    // deleted, and the visit after fetches it again.
    backdrop_clear();
    EXPECT_FALSE(backdrop_full());
    backdrop_set("dusk");
    EXPECT_TRUE(backdrop_full());
    backdrop_clear();
    const std::string bmp = art_dir() + "/textures/dusk.bmp";
    test::write_file(bmp, "BM damaged");
    backdrop_set("dusk");
    EXPECT_FALSE(backdrop_full());
    EXPECT_FALSE(std::filesystem::exists(bmp));
    ASSERT_TRUE(settle());
    backdrop_clear();
    backdrop_set("dusk");
    ASSERT_TRUE(settle());
    EXPECT_TRUE(backdrop_full());
    EXPECT_EQ(seen().count("/objects/textures/dusk.jpg"), 2u);

    // A name that would leave the cache asks for nothing.
    backdrop_clear();
    backdrop_set("../dusk");
    EXPECT_EQ(download_count(), 0);
}

}  // namespace
}  // namespace zk
