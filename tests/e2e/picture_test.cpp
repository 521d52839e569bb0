// The browser in the demo world: the sky is the world's backdrop picture and
// scrolls when the user turns, the ground lies under the user, and the frame
// behind ground zero shows a picture from the object path.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <string>

#include "e2e/screen.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

// The backdrop's air, not the world's flat blue (0, 0, 178).
bool sky(const uint8_t* p) { return p[2] > 140 && p[2] > p[0] + 20 && p[1] > 40; }
bool grass(const uint8_t* p) { return p[1] > p[0] + 10 && p[1] > p[2] + 10; }
// The sunflower picture's magenta ground, in the shade too.
bool magenta(const uint8_t* p) { return p[0] > 45 && p[0] > 3 * p[1] && p[2] > 2 * p[1] + 10 && p[2] > 30; }

}  // namespace

TEST(Pictures, TheDemoWorldShowsItsBackdropGroundAndPictures) {
    if (const std::string why = desktop_missing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe, "[citizen]\ntourist=Painter\n");
    std::string window;
    ASSERT_TRUE(wait_until([&] { return !(window = window_of(*browser)).empty(); }, 60000)) << browser->err();

    // Facing north: the sky picture above, and the ground down to the lowest
    // rows, far below the picture's edge.
    Shot north;
    ASSERT_TRUE(wait_until([&] {
        north = take_shot(dir.path());
        return find(north, 0, kWidth, sky).count > kWidth * 30 && find(north, 0, kWidth, grass).bottom > kHeight - 5;
    }, 60000)) << "sky " << find(north, 0, kWidth, sky).count << ", grass to " << find(north, 0, kWidth, grass).bottom;

    // Turned round to face south: the sky shows another part of the picture,
    // and the frame behind ground zero its sunflower.
    ASSERT_TRUE(focus(window));
    run_command("xdotool keydown Left");
    const bool turned = wait_until([&] { return title_shows("facing S\""); }, 10000);
    run_command("xdotool keyup Left");
    ASSERT_TRUE(turned);
    Shot south;
    EXPECT_TRUE(wait_until([&] {
        south = take_shot(dir.path());
        return find(south, 0, kWidth, magenta).count > 50;
    }, 30000)) << "the picture does not show: " << find(south, 0, kWidth, magenta).count;
    int changed = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) changed += std::abs(north.at(x, y)[c] - south.at(x, y)[c]) > 8;
    EXPECT_GT(changed, kWidth * 6) << "the sky did not scroll";
    EXPECT_GT(find(south, 0, kWidth, sky).count, kWidth * 30);

    browser->signal(SIGTERM);
    EXPECT_EQ(browser->wait(20000), 0) << browser->err();
    demo.process->signal(SIGTERM);
    EXPECT_EQ(demo.process->wait(10000), 0);
}
