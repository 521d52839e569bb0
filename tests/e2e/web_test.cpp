// The web pane with the demo server: Show > Web opens it, Web > Worlds
// shows the server's worlds page in it, and a click on a world's link
// takes the user there while the page stays.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "e2e/screen.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

// The web pane's place in the window, from the last layout traced.
bool web_rect(const std::string& log, Rect* r) {
    const std::string text = read_file(log), mark = "lay_out: web at ";
    const size_t at = text.rfind(mark);
    return at != std::string::npos &&
           std::sscanf(text.c_str() + at + mark.size(), "%d,%d %dx%d", &r->x, &r->y, &r->width, &r->height) == 4;
}

bool window_origin(const std::string& window, int* x, int* y) {
    const std::string g = run_command("xdotool getwindowgeometry --shell " + window);
    const size_t px = g.find("X="), py = g.find("Y=");
    if (px == std::string::npos || py == std::string::npos) return false;
    *x = std::atoi(g.c_str() + px + 2), *y = std::atoi(g.c_str() + py + 2);
    return true;
}

// Pixels of the worlds page's lagoon block (#1f7fa8) in a part of the screen.
int lagoon_pixels(const std::string& dir, const Rect& r) {
    const std::string path = dir + "/pane.rgb";
    run_command("import -window root -crop " + std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
                std::to_string(r.x) + "+" + std::to_string(r.y) + " +repage -depth 8 rgb:" + path + " 2>/dev/null");
    const std::string rgb = read_file(path);
    int n = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        n += std::abs(uint8_t(rgb[i]) - 0x1f) < 8 && std::abs(uint8_t(rgb[i + 1]) - 0x7f) < 8 &&
             std::abs(uint8_t(rgb[i + 2]) - 0xa8) < 8;
    return n;
}

}  // namespace

TEST(BrowserAndServer, AWorldsPageLinkInTheWebPaneTeleportsTheUser) {
    if (const std::string why = desktop_missing(); !why.empty()) GTEST_SKIP() << why;
    // The web engine's sandbox cannot run as root; the scripts turn it off
    // there, never the program.
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    Process& server = *demo.process;
    // Debian's web engine frees some objects with the size of another type;
    // the address checker would stop the browser for that library's habit.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asan_before = asan ? asan : "";
    setenv("ASAN_OPTIONS", (asan_before + (asan_before.empty() ? "" : ":") + "new_delete_type_mismatch=0").c_str(), 1);
    auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe,
                                 "[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\n");
    if (asan) setenv("ASAN_OPTIONS", asan_before.c_str(), 1);
    else unsetenv("ASAN_OPTIONS");
    const std::string log = dir.path() + "/prog/zelnik.log";
    std::string window;
    ASSERT_TRUE(wait_until([&] { return !(window = window_of(*browser)).empty(); }, 60000))
        << server.err() << browser->err();
    // A first start keeps the pane closed, and the engine with it.
    EXPECT_EQ(read_file(log).find("lay_out: web at"), std::string::npos);
    EXPECT_EQ(run_command("pgrep -P " + std::to_string(browser->pid()) + " QtWebEngine"), "");

    auto press = [&](const std::string& keys, int command) {
        ASSERT_TRUE(focus(window));
        run_command("xdotool key --delay 150 " + keys);
        ASSERT_TRUE(wait_for_text(log, "menu_handle (" + std::to_string(command) + ")", 5000)) << keys;
    };
    press("alt+s w", 130);
    Rect pane;
    ASSERT_TRUE(wait_until([&] { return web_rect(log, &pane); }, 5000)) << browser->err();
    EXPECT_GT(pane.width, 60);
    EXPECT_GT(pane.height, 150);
    press("alt+w w", 139);
    EXPECT_TRUE(wait_until([&] { return server.err().find("GET /misc/zk.htm 200") != std::string::npos; }, 30000))
        << browser->err();

    // The page shows: its lagoon block fills the pane's middle.
    int x = 0, y = 0;
    ASSERT_TRUE(window_origin(window, &x, &y));
    const Rect screen{x + pane.x, y + pane.y, pane.width, pane.height};
    ASSERT_TRUE(wait_until([&] { return lagoon_pixels(dir.path(), screen) > pane.width * pane.height / 4; }, 60000))
        << browser->err();
    EXPECT_EQ(server.err().find("/cgi-bin/"), std::string::npos);

    run_command("xdotool mousemove " + std::to_string(screen.x + screen.width / 2) + " " +
                std::to_string(screen.y + screen.height / 2) + " click 1");
    EXPECT_TRUE(wait_until([] { return title_shows("\"lagoon at "); }, 30000)) << browser->err();
    // The link became a teleport, not a page: nothing asked the server for it,
    // and the worlds page stays.
    EXPECT_EQ(server.err().find("/cgi-bin/"), std::string::npos);
    EXPECT_GT(lagoon_pixels(dir.path(), screen), pane.width * pane.height / 4);

    // The strip between the left column and the pane is the splitter's:
    // dragged 60 pixels left, the pane widens by as much.
    const int split_x = x + pane.x - 2, split_y = screen.y + screen.height / 2;
    run_command("xdotool mousemove " + std::to_string(split_x) + " " + std::to_string(split_y) + " mousedown 1 mousemove " +
                std::to_string(split_x - 30) + " " + std::to_string(split_y) + " mousemove " +
                std::to_string(split_x - 60) + " " + std::to_string(split_y) + " mouseup 1");
    Rect wider;
    EXPECT_TRUE(wait_until([&] { return web_rect(log, &wider) && wider.x == pane.x - 60; }, 5000)) << wider.x;
    EXPECT_EQ(wider.width, pane.width + 60);

    browser->signal(SIGTERM);
    EXPECT_EQ(browser->wait(30000), 0) << browser->err();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(10000), 0);
}
