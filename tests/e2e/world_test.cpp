// The browser and zelnik-server together: the browser enters the demo world
// and keys sent to its window walk the user into the next cell and sector.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

TEST(BrowserAndServer, TheBrowserEntersTheDemoWorldAndWalks) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
    const auto title_shows = [](const std::string& text) {
        return run_command("xwininfo -root -tree").find(text) != std::string::npos;
    };
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    Process& server = *demo.process;
    auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe,
                                 "[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\n");

    // The server sees the whole entry: build check, look-up, attributes, query.
    ASSERT_TRUE(wait_until([&] { return server.err().find("query 0,0") != std::string::npos; }, 60000))
        << server.err() << browser->err();
    const std::string log = server.err();
    EXPECT_NE(log.find("build check 162"), std::string::npos);
    EXPECT_NE(log.find("lookup zk: found"), std::string::npos);
    EXPECT_NE(log.find("world zk: attributes for 0"), std::string::npos);
    EXPECT_TRUE(wait_until([&] { return browser->err().find("Welcome to \"zk\"") != std::string::npos; }, 10000))
        << browser->err();

    // The window has the world's title, and the 3D view its sky colour.
    ASSERT_TRUE(wait_until([&] { return title_shows("\"zk at ground zero facing N\""); }, 10000))
        << run_command("xwininfo -root -tree");
    std::string pixel = run_command("import -window root -crop 1x1+200+200 txt:- 2>/dev/null");
    EXPECT_NE(pixel.find("(0,0,178)"), std::string::npos) << pixel;

    if (run_command("command -v xdotool").empty()) GTEST_SKIP() << "needs xdotool (scripts/install-deps installs it)";
    // Without a window manager the window takes the keyboard focus itself.
    const std::string id = run_command("xdotool search --name '^zk at ' | head -1");
    ASSERT_FALSE(id.empty());
    run_command("xdotool windowfocus --sync " + id);

    // Backwards (south) with Ctrl, from cell 0 into cell -1 at once and
    // past cell -3 into the next sector.
    run_command("xdotool keydown Control_L keydown Down");
    EXPECT_TRUE(wait_until([&] { return title_shows("\"zk at 1S 0W facing N\""); }, 10000))
        << run_command("xwininfo -root -tree");
    EXPECT_TRUE(wait_until([&] { return server.err().find("query 0,-1") != std::string::npos; }, 20000))
        << server.err();
    run_command("xdotool keyup Down keyup Control_L");

    // Turning right a while faces another way.
    run_command("xdotool keydown Right");
    EXPECT_TRUE(wait_until([&] { return !title_shows("facing N\""); }, 10000)) << run_command("xwininfo -root -tree");
    run_command("xdotool keyup Right");

    browser->signal(SIGTERM);
    EXPECT_EQ(browser->wait(20000), 0) << browser->err();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(10000), 0);
}
