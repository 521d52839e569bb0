// The browser and zelnik-server together: the browser enters the demo world,
// keys sent to its window walk the user into the next cell and sector, and
// the world's art comes from a plain web server.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "e2e/screen.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

TEST(BrowserAndServer, TheBrowserEntersTheDemoWorldAndWalks) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    Process& server = *demo.process;
    auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe,
                                 "[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\ntexture=1\n");

    // The server sees the whole entry: build check, look-up, attributes, query.
    ASSERT_TRUE(wait_until([&] { return server.err().find("query 0,0") != std::string::npos; }, 60000))
        << server.err() << browser->err();
    const std::string log = server.err();
    EXPECT_NE(log.find("build check 162"), std::string::npos);
    EXPECT_NE(log.find("lookup zk: found"), std::string::npos);
    EXPECT_NE(log.find("world zk: attributes for 0"), std::string::npos);
    EXPECT_TRUE(wait_until([&] { return browser->err().find("Welcome to \"zk\"") != std::string::npos; }, 10000))
        << browser->err();

    // The window has the world's title (its sky picture is e2e/picture_test's).
    ASSERT_TRUE(wait_until([&] { return title_shows("\"zk at ground zero facing N\""); }, 10000))
        << run_command("xwininfo -root -tree");

    // The user comes down onto the ground among the world's textured
    // shapes: the view holds much more than sky, in the many shades of
    // pictures (sky and untextured ground are two colours, the untextured
    // shapes some dozens). The shot stays in the test's folder.
    const std::string shot = dir.file("view.png");
    const auto view_shows_shapes = [&] {
        run_command("import -window root -crop 440x300+20+60 +repage " + shot + " 2>/dev/null");
        // Unique colours, then the share of pixels that are not sky.
        const std::string stats = run_command("convert " + shot + " -format '%k ' info: 2>/dev/null; convert " + shot +
                                              " -fill white -opaque 'rgb(0,0,178)' -fill black +opaque white"
                                              " -format '%[fx:1-mean]' info: 2>/dev/null");
        int colours = 0;
        double not_sky = 0;
        return std::sscanf(stats.c_str(), "%d %lf", &colours, &not_sky) == 2 && colours > 300 && not_sky > 0.3;
    };
    EXPECT_TRUE(wait_until(view_shows_shapes, 30000)) << shot;
    // The leaves are cut out by their mask.
    const std::string trace = dir.file("prog/zelnik.log");
    EXPECT_TRUE(wait_for_text(trace, "finish_texture (leaves)", 10000));
    EXPECT_EQ(read_file(trace).find("RwReadMaskRaster failed!"), std::string::npos);

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

// The demo world's object tree served by a stock web server (Python's): the
// browser fetches and converts the models from it, and a second start within
// the refresh interval asks it for nothing and converts nothing again. Once
// the interval is over, a texture changed on the server replaces the stored
// one in the view.
TEST(BrowserAndServer, ArtComesFromAnyWebServerAndIsAskedForAgainOnlyOnceItIsDue) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
    std::string python = run_command("command -v python3");
    if (python.empty()) GTEST_SKIP() << "needs python3 (scripts/install-deps installs it)";
    python.erase(python.find_last_not_of("\n") + 1);
    TempDir dir;
    const std::string server_binary = ZELNIK_SERVER_BINARY;
    const std::string objects = dir.file("web");
    std::filesystem::create_directories(objects);
    std::filesystem::copy(server_binary.substr(0, server_binary.rfind('/')) + "/objects/zk", objects + "/zk",
                          std::filesystem::copy_options::recursive);
    Process web(python, {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", objects}, dir.path(),
                "web");
    uint16_t web_port = 0;
    ASSERT_TRUE(wait_until([&] {
        const std::string out = web.out();
        const size_t at = out.find(" port ");
        if (at != std::string::npos) web_port = static_cast<uint16_t>(std::atoi(out.c_str() + at + 6));
        return web_port != 0;
    }, 20000)) << web.err();
    DemoServer demo = start_demo_server(server_binary, dir.path(), "server",
                                        {"--object-host", "127.0.0.1:" + std::to_string(web_port)});
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    const auto model_requests = [&] {
        const std::string log = web.err();
        size_t n = 0;
        for (size_t at = 0; (at = log.find("\"GET /zk/models/", at)) != std::string::npos; ++at) ++n;
        return n;
    };
    // Requests stop coming once everything near the entry point is fetched.
    const auto settle = [&] {
        size_t seen = model_requests();
        for (int quiet = 0, i = 0; quiet < 15 && i < 300; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            quiet = model_requests() == seen ? quiet + 1 : 0;
            seen = model_requests();
        }
        return seen;
    };
    const std::string settings = "[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\nchunk=1\n";
    const std::string art = dir.path() + "/prog/cache/art/127.0.0.1-" + std::to_string(web_port) + "-zk";

    auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe, settings);
    ASSERT_TRUE(wait_until([&] { return model_requests() > 0; }, 60000)) << web.err() << browser->err();
    const size_t fetched = settle();
    EXPECT_TRUE(wait_for_text(dir.path() + "/prog/zelnik.log", "chunk_create complete", 20000));
    EXPECT_TRUE(std::filesystem::exists(art + "/models.dat"));
    browser->signal(SIGTERM);
    ASSERT_EQ(browser->wait(20000), 0) << browser->err();

    browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe, settings);
    EXPECT_TRUE(wait_until([&] { return browser->err().find("Welcome to \"zk\"") != std::string::npos; }, 30000))
        << browser->err();
    EXPECT_TRUE(wait_for_text(dir.path() + "/prog/zelnik.log", "RwAddClumpToScene", 30000));
    EXPECT_EQ(settle(), fetched) << web.err();
    // Every shape came from the chunk store: none was read from its text.
    EXPECT_FALSE(wait_for_text(dir.path() + "/prog/zelnik.log", "chunk_create: RwReadShape", 100));
    browser->signal(SIGTERM);
    EXPECT_EQ(browser->wait(20000), 0) << browser->err();
    demo.process->signal(SIGTERM);
    ASSERT_EQ(demo.process->wait(10000), 0);

    // The owner sets the refresh time to 0 (ask every time), and the plaza's
    // stone turns red on the server. The browser forgets the world's
    // attributes, or it would start with the refresh time it remembers.
    for (const char* file : {"world.dat", "world.idx"}) std::filesystem::remove(dir.file("prog/cache/") + file);
    run_command(python + " -c \"import sqlite3; c = sqlite3.connect('" + dir.file("data/world-zk.db") +
                "'); c.execute('INSERT OR REPLACE INTO attribute VALUES (5, \\'0\\')'); c.commit()\"");
    run_command("convert -size 128x128 xc:'rgb(230,20,20)' -quality 95 " + objects + "/zk/textures/stone.jpg");
    demo = start_demo_server(server_binary, dir.path(), "server2",
                             {"--object-host", "127.0.0.1:" + std::to_string(web_port)});
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe, settings + "texture=1\n");
    // The stored stone shows first; the new one is read into the same handle.
    EXPECT_TRUE(wait_for_text(dir.path() + "/prog/zelnik.log", "reload (stone)", 30000)) << web.err();
    EXPECT_TRUE(wait_for_text(dir.path() + "/prog/zelnik.log", "reload complete", 10000));
    const auto plaza_is_red = [] {
        const std::string mean = run_command(
            "import -window root -crop 440x30+20+240 +repage -format '%[fx:mean.r] %[fx:mean.g]' info: 2>/dev/null");
        double red = 0, green = 1;
        return std::sscanf(mean.c_str(), "%lf %lf", &red, &green) == 2 && red > 0.5 && green < 0.25;
    };
    EXPECT_TRUE(wait_until(plaza_is_red, 10000));
    browser->signal(SIGTERM);
    EXPECT_EQ(browser->wait(20000), 0) << browser->err();
    web.signal(SIGTERM);
    demo.process->signal(SIGTERM);
    EXPECT_EQ(demo.process->wait(10000), 0);
}
