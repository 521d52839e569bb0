// The demo world's objects act on their own and when clicked: a sign shows
// its text, a door's panels change colour, a click on the lagoon sign takes
// the user to the lagoon, and there a click on the warp sign glides the user
// six cells north into the next sector.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "e2e/screen.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

// The signs' faces are turned away from the sun, so colours are told by
// their hue, not their brightness.
bool orangered(const uint8_t* p) { return p[0] > 40 && p[1] * 3 < p[0] && p[2] * 3 < p[0]; }
bool magenta(const uint8_t* p) { return p[0] > 40 && p[2] > 40 && p[1] * 3 < p[0] && p[1] * 3 < p[2]; }
bool greyish(const uint8_t* p) { return p[0] > 40 && std::abs(p[0] - p[1]) < 12 && std::abs(p[1] - p[2]) < 12; }

void click(const std::string& window, const Patch& p) {
    run_command("xdotool mousemove --window " + window + " 0 0 mousemove " + std::to_string(kLeft + p.x) + " " +
                std::to_string(kTop + p.y) + " click 1");
}

}  // namespace

TEST(BrowserAndServer, ObjectsShowSignsAnimateDoorsAndTeleportAndWarpWhenClicked) {
    if (const std::string why = desktop_missing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    Process& server = *demo.process;
    auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe,
                                 "[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\n");
    ASSERT_TRUE(wait_until([&] { return title_shows("\"zk at ground zero facing N\""); }, 60000))
        << server.err() << browser->err();

    // The lagoon sign, left of the way ahead: its orange-red face carries
    // white (here grey) letters.
    Patch sign;
    Shot shot;
    ASSERT_TRUE(wait_until([&] {
        shot = take_shot(dir.path());
        sign = find(shot, 0, kWidth / 2, orangered);
        return sign.count > 200 && count_in(shot, sign, greyish) > 20;
    }, 30000)) << "sign pixels " << sign.count << "\n" << browser->err();

    // The user has landed once the sign stays put; then only the door,
    // right of the way ahead, changes: red, green, blue panels in turn.
    ASSERT_TRUE(wait_until([&] {
        const Patch before = sign;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        shot = take_shot(dir.path());
        sign = find(shot, 0, kWidth / 2, orangered);
        return sign.count > 200 && std::abs(sign.y - before.y) < 2 && std::abs(sign.x - before.x) < 2;
    }, 20000));
    std::set<std::string> door_looks;
    for (int i = 0; i < 10; ++i) {
        const Shot s = take_shot(dir.path());
        std::string right;
        for (int y = 0; s.ok() && y < kHeight; ++y)
            right.append(reinterpret_cast<const char*>(s.at(kWidth / 2 + 40, y)), (kWidth / 2 - 40) * 3);
        door_looks.insert(right);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_GE(door_looks.size(), 3u) << "the door's textures do not change";

    // A click on the sign: the user is in the lagoon.
    std::string window = run_command("xdotool search --name '^zk at ' | head -1");
    window.erase(window.find_last_not_of("\n") + 1);
    ASSERT_FALSE(window.empty());
    click(window, sign);
    EXPECT_TRUE(wait_until([&] { return title_shows("\"lagoon at ground zero facing N\""); }, 20000))
        << run_command("xwininfo -root -tree") << browser->err();
    EXPECT_TRUE(wait_until([&] { return server.err().find("world lagoon: attributes") != std::string::npos; }, 10000))
        << server.err();

    // The warp sign there: a click glides the user six cells north, and the
    // browser asks for the sector it comes into.
    Patch warp;
    ASSERT_TRUE(wait_until([&] {
        warp = find(take_shot(dir.path()), 0, kWidth, magenta);
        return warp.count > 200;
    }, 30000)) << "warp sign pixels " << warp.count;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    warp = find(take_shot(dir.path()), 0, kWidth, magenta);
    click(window, warp);
    EXPECT_TRUE(wait_until([&] { return server.err().find("world lagoon: query 0,1") != std::string::npos; }, 20000))
        << server.err();
    // A glide ends once it is within a few centimetres of its place.
    EXPECT_TRUE(wait_until([&] { return title_shows("\"lagoon at 5N 0W") || title_shows("\"lagoon at 6N 0W"); }, 20000))
        << run_command("xwininfo -root -tree");

    browser->signal(SIGTERM);
    EXPECT_EQ(browser->wait(20000), 0) << browser->err();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(10000), 0);
}
