// The browser and zelnik-server together: the browser logs in, enters the
// demo world and asks for its neighbourhood.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

using zk::test::port_in_log;
using zk::test::Process;
using zk::test::run_command;
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::wait_until;
using zk::test::write_file;

namespace {


// Output of a shell command.

}  // namespace

TEST(BrowserAndServer, TheBrowserEntersTheDemoWorld) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
    TempDir dir;
    zk::test::DemoServer demo = zk::test::start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    Process& server = *demo.process;
    auto started = zk::test::start_browser(ZELNIK_BINARY, dir.path(), demo.universe,
                                           "[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\n");
    Process& browser = *started;

    // The server sees the whole entry: build check, look-up, attributes, query.
    ASSERT_TRUE(wait_until([&] { return server.err().find("query 0,0") != std::string::npos; }, 60000))
        << server.err() << browser.err();
    const std::string log = server.err();
    EXPECT_NE(log.find("build check 162"), std::string::npos);
    EXPECT_NE(log.find("lookup zk: found"), std::string::npos);
    EXPECT_NE(log.find("world zk: attributes for 0"), std::string::npos);
    EXPECT_TRUE(wait_until([&] { return browser.err().find("Welcome to \"zk\"") != std::string::npos; }, 10000))
        << browser.err();

    // The window has the world's title, and the 3D view its sky colour.
    EXPECT_TRUE(wait_until(
        [&] { return run_command("xwininfo -root -tree").find("\"zk at ground zero facing N\"") != std::string::npos; },
        10000));
    std::string pixel = run_command("import -window root -crop 1x1+200+200 txt:- 2>/dev/null");
    EXPECT_NE(pixel.find("(0,0,178)"), std::string::npos) << pixel;

    browser.signal(SIGTERM);
    EXPECT_EQ(browser.wait(20000), 0) << browser.err();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(10000), 0);
}
