// Two browsers in the demo world, side by side on one screen: each user
// appears in the other's view as an avatar that follows where its user
// walks, speaks in a balloon and waves, a user who quits is gone at the next update, and in third person
// the user sees the own figure.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "e2e/screen.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

// The demo figure "ada" wears a blue shirt: blue over green over red, on
// its lit side and its dark one; the sky is pure blue and the navy sign as
// much red as green.
bool shirt(const uint8_t* p) { return p[2] > 30 && p[1] > 8 && p[1] > p[0] && p[2] > p[1] * 2; }

// Ben walks north for a while.
void walk(const std::string& window, int ms) {
    ASSERT_TRUE(focus(window));
    run_command("xdotool keydown Up sleep " + std::to_string(ms / 1000.0) + " keyup Up");
}

}  // namespace

TEST(BrowserAndServer, TwoUsersSeeEachOthersAvatarsWalkAndLeave) {
    if (const std::string why = desktop_missing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    Process& server = *demo.process;
    // Ann's window at the default place, where the shots look; Ben's beside it.
    auto ann = start_browser(ZELNIK_BINARY, dir.path() + "/ann", demo.universe,
                             "[start]\nworld=zk\n[citizen]\ntourist=Ann\n[debug]\ntrace=1\n");
    auto ben = start_browser(ZELNIK_BINARY, dir.path() + "/ben", demo.universe,
                             "[start]\nworld=zk\n[citizen]\ntourist=Ben\n[layout]\nmain_x=520\nmain_y=0\n");
    std::string ann_window, ben_window;
    ASSERT_TRUE(wait_until([&] {
        ann_window = window_of(*ann), ben_window = window_of(*ben);
        return !ann_window.empty() && !ben_window.empty();
    }, 60000)) << server.err() << ann->err() << ben->err();

    // Both stand at ground zero once they have come down (Ann cannot see
    // Ben there: he is at her eye). Ben walks a few metres north, into the
    // middle of Ann's view.
    std::this_thread::sleep_for(std::chrono::seconds(10));
    walk(ben_window, 1500);
    Patch seen;
    EXPECT_TRUE(wait_until([&] {
        seen = find(take_shot(dir.path()), 0, kWidth, shirt);
        return seen.count > 40;
    }, 25000)) << "Ben's avatar shows " << seen.count << " shirt pixels\n" << server.err();

    // Ben says hello: a balloon of white text stands over his figure.
    const auto white = [](const uint8_t* p) { return p[0] > 220 && p[1] > 220 && p[2] > 220; };
    const int from = std::max(0, seen.x - 60), to = std::min(kWidth, seen.x + 60);
    const int quiet = find(take_shot(dir.path()), from, to, white).count;
    ASSERT_TRUE(focus(ben_window));
    run_command("xdotool type hello");
    run_command("xdotool key Return");
    EXPECT_TRUE(wait_until([&] { return find(take_shot(dir.path()), from, to, white).count > quiet + 15; }, 5000))
        << "no balloon over Ben's avatar";

    // Ben waves (the gesture button's mnemonic): once his figure has come to
    // rest in Ann's view, the raised arm lifts the top of its outline.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int rest = find(take_shot(dir.path()), 0, kWidth, shirt).top;
    ASSERT_TRUE(focus(ben_window));
    run_command("xdotool key alt+e");
    EXPECT_TRUE(wait_until([&] { return find(take_shot(dir.path()), 0, kWidth, shirt).top <= rest - 8; }, 6000))
        << "Ben's wave does not show; his figure's top stays near " << rest;

    // Ben walks on: his avatar moves away up Ann's view and grows smaller.
    const Patch before = seen;
    walk(ben_window, 2500);
    EXPECT_TRUE(wait_until([&] {
        seen = find(take_shot(dir.path()), 0, kWidth, shirt);
        return seen.count > 0 && seen.count < before.count && seen.y < before.y;
    }, 10000)) << "before " << before.count << " at " << before.y << ", now " << seen.count << " at " << seen.y;

    // Ben turns round until his title says he faces south: Ann's avatar is
    // in the middle of his view.
    ASSERT_TRUE(focus(ben_window));
    run_command("xdotool keydown Left");
    const bool turned = wait_until([&] {
        return run_command("xwininfo -id " + ben_window).find("facing S\"") != std::string::npos;
    }, 10000);
    run_command("xdotool keyup Left");
    ASSERT_TRUE(turned) << run_command("xwininfo -id " + ben_window);
    EXPECT_TRUE(wait_until([&] { return find(take_shot(dir.path(), 520), 0, kWidth, shirt).count > 20; }, 10000))
        << "Ann's avatar does not show in Ben's view";

    // Ben quits: his avatar is gone from Ann's view at the next update.
    ben->signal(SIGTERM);
    EXPECT_EQ(ben->wait(20000), 0) << ben->err();
    EXPECT_TRUE(wait_until([&] { return find(take_shot(dir.path()), 0, kWidth, shirt).count == 0; }, 5000))
        << "Ben's avatar is still there";

    // In third person (End) Ann sees her own figure from behind.
    ASSERT_TRUE(focus(ann_window));
    run_command("xdotool key End");
    EXPECT_TRUE(wait_until([&] { return find(take_shot(dir.path()), 0, kWidth, shirt).count > 40; }, 5000))
        << "Ann's own figure does not show in third person";

    ann->signal(SIGTERM);
    EXPECT_EQ(ann->wait(20000), 0) << ann->err();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(10000), 0);
}
