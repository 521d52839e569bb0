// Keys sent to the browser's window walk the user: the title's place
// changes and, in the next sector, a new neighbourhood query reaches the
// world server.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

using zk::test::Process;
using zk::test::run_command;
using zk::test::TempDir;
using zk::test::wait_until;

namespace {

bool title_shows(const std::string& text) { return run_command("xwininfo -root -tree").find(text) != std::string::npos; }

}  // namespace

TEST(Walking, KeysMoveTheUserIntoTheNextCellAndSector) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
    if (run_command("command -v xdotool").empty()) GTEST_SKIP() << "needs xdotool (scripts/install-deps installs it)";
    TempDir dir;
    zk::test::DemoServer demo = zk::test::start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    Process& server = *demo.process;
    auto started = zk::test::start_browser(ZELNIK_BINARY, dir.path(), demo.universe,
                                           "[start]\nworld=zk\n[citizen]\ntourist=Walker\n");
    Process& browser = *started;

    ASSERT_TRUE(wait_until([&] { return server.err().find("query 0,0") != std::string::npos; }, 60000))
        << server.err() << browser.err();
    ASSERT_TRUE(wait_until([&] { return title_shows("\"zk at ground zero facing N\""); }, 10000))
        << run_command("xwininfo -root -tree");

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

    browser.signal(SIGTERM);
    EXPECT_EQ(browser.wait(20000), 0) << browser.err();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(10000), 0);
}
