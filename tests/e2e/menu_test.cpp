// A citizen drives the browser's commands as a user would, from their keys
// and through the menus by their mnemonics, and each one shows: a pane's
// setting flips, the view moves, a dialog opens, Help reaches the web
// browser, the splitter's place outlives a restart, Exit ends the program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "e2e/screen.h"
#include "platform/profile.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

// Pixels that differ between two shots by more than a little.
int changed(const Shot& a, const Shot& b) {
    int n = 0;
    for (size_t i = 0; a.ok() && b.ok() && i < a.rgb.size(); i += 3)
        n += std::abs(a.rgb[i] - b.rgb[i]) + std::abs(a.rgb[i + 1] - b.rgb[i + 1]) > 40;
    return n;
}

std::string setting(const std::string& ini, const std::string& section, const std::string& key) {
    std::string value;
    zk::profile_read(ini, section, key, value);
    return value;
}

// The split line's place in the window, from the last layout traced.
int last_split(const std::string& log) {
    const std::string text = read_file(log), mark = "lay_out: split at ";
    const size_t at = text.rfind(mark);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + mark.size());
}

bool window_origin(const std::string& window, int* x, int* y) {
    const std::string g = run_command("xdotool getwindowgeometry --shell " + window);
    const size_t px = g.find("X="), py = g.find("Y=");
    if (px == std::string::npos || py == std::string::npos) return false;
    *x = std::atoi(g.c_str() + px + 2), *y = std::atoi(g.c_str() + py + 2);
    return true;
}

struct Browser {
    std::unique_ptr<Process> process;
    std::string window;
};

Browser start(const std::string& prog) {
    Browser b;
    b.process = start_attended(prog, &b.window);
    return b;
}

}  // namespace

TEST(BrowserAndServer, EveryCommandReachesItsOwnerFromKeysAndMenus) {
    if (const std::string why = desktop_missing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    ASSERT_TRUE(add_citizen_cy(dir.path()));
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path(), "server", {});
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    // The web browser is a script that notes the address it was given.
    const std::string opened = dir.path() + "/opened.txt", script = dir.path() + "/browser.sh";
    write_file(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened + "'\n");
    chmod(script.c_str(), 0755);
    const std::string prog = dir.path() + "/cy/prog", ini = prog + "/zelnik.ini", log = prog + "/zelnik.log";
    start_browser(ZELNIK_BINARY, dir.path() + "/cy", demo.universe, "")->signal(SIGKILL);
    write_file(ini, "[universe]\nhost=127.0.0.1\nport=" + std::to_string(demo.universe) +
                        "\n[start]\nworld=zk\n[citizen]\nname=Cy\npassword=secret1\n[debug]\ntrace=1\n[browser]\nname=" +
                        script + "\n");
    Browser cy = start(prog);
    ASSERT_FALSE(cy.window.empty()) << demo.process->err() << cy.process->err();
    std::this_thread::sleep_for(std::chrono::seconds(8));
    // Each press must reach the command once more than before.
    auto press = [&](const std::string& what, int command) {
        const std::string line = "menu_handle (" + std::to_string(command) + ")";
        auto count = [&] {
            const std::string text = read_file(log);
            int n = 0;
            for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
            return n;
        };
        const int before = count();
        ASSERT_TRUE(focus(cy.window));
        run_command("xdotool key --delay 150 " + what);
        EXPECT_TRUE(wait_until([&] { return count() > before; }, 5000)) << what;
    };

    // Accelerators of the Show menu: each flips its pane's stored setting.
    const struct {
        const char* key;
        int command;
        const char* setting;
    } shows[] = {{"F2", 120, "visibility"}, {"F11", 119, "position"}, {"F12", 121, "framerate"},
                 {"F4", 122, "bandwidth"},  {"F5", 132, "altitude"},  {"F6", 133, "cache"},
                 {"F3", 123, "downloads"}};
    for (const auto& s : shows) {
        const std::string before = setting(ini, "show", s.setting);
        press(s.key, s.command);
        EXPECT_TRUE(wait_until([&] { return setting(ini, "show", s.setting) != before; }, 3000)) << s.key;
    }
    EXPECT_TRUE(title_shows("Downloads"));
    press("F11", 119);  // the title shows the place again

    // F1 writes the help pages and hands their contents to the web browser.
    press("F1", 105);
    EXPECT_TRUE(wait_for_text(opened, "file://" + prog + "/help/index.html", 5000));
    EXPECT_TRUE(std::filesystem::is_regular_file(prog + "/help/index.html"));

    // The camera, through the View menu: up, level and down (in first
    // person only), then third person from its key.
    Shot level = take_shot(dir.path());
    press("alt+v u", 124);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_GT(changed(level, take_shot(dir.path())), 500) << "looking up changed nothing";
    press("alt+v l", 131);
    press("alt+v d", 125);
    press("Prior", 124);  // Page Up and Down, as the menu names them
    press("Next", 125);
    press("alt+v l", 131);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    level = take_shot(dir.path());
    press("End", 127);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_GT(changed(level, take_shot(dir.path())), 500) << "third person looks the same";

    // The Avatar menu: the second figure replaces the first.
    const Shot third = take_shot(dir.path());
    press("alt+a Down Return", 1001);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_GT(changed(third, take_shot(dir.path())), 100) << "the own figure did not change";
    press("Home", 126);

    // Commands that open a window of their own: it shows, Escape closes it.
    const struct {
        const char* keys;
        int command;
    } dialogs[] = {{"alt+o s", 103}, {"alt+o w", 104}, {"alt+h a", 102}, {"alt+c c", 141}, {"alt+c a", 142},
                   {"alt+c o", 146}};
    for (const auto& d : dialogs) {
        const std::string before = visible_windows(*cy.process);
        press(d.keys, d.command);
        std::string now;
        EXPECT_TRUE(wait_until([&] { return (now = visible_windows(*cy.process)).size() > before.size(); }, 5000))
            << d.keys << " opened no window";
        if (now.size() > before.size()) {
            std::string id = now.substr(now.find_last_of('\n', now.size() - 2) + 1);
            id.erase(id.find_last_not_of("\n") + 1);
            run_command("xdotool windowfocus --sync " + id + " key Escape");
            wait_until([&] { return visible_windows(*cy.process).size() == before.size(); }, 5000);
        }
    }

    // The Object properties window comes and goes with its item.
    press("alt+s o", 148);
    EXPECT_TRUE(wait_until([] { return title_shows("Object properties"); }, 5000));
    EXPECT_TRUE(wait_until([&] { return setting(ini, "layout", "object") == "1"; }, 3000));
    press("alt+s o", 148);
    EXPECT_TRUE(wait_until([&] { return setting(ini, "layout", "object") == "0"; }, 3000));

    // The toolbar, from the Show menu: stored, and the view moves down.
    Shot without = take_shot(dir.path());
    press("alt+s t", 129);
    EXPECT_TRUE(wait_until([&] { return setting(ini, "show", "toolbar") == "1"; }, 3000));
    EXPECT_GT(changed(without, take_shot(dir.path())), 500) << "the toolbar did not push the view down";

    // The splitter: dragged 40 pixels up, stored, and found there after a
    // restart.
    const int split = last_split(log);
    ASSERT_GT(split, 0);
    int x = 0, y = 0;
    ASSERT_TRUE(window_origin(cy.window, &x, &y));
    run_command("xdotool mousemove " + std::to_string(x + 100) + " " + std::to_string(y + split) + " mousedown 1 mousemove " +
                std::to_string(x + 100) + " " + std::to_string(y + split - 20) + " mousemove " +
                std::to_string(x + 100) + " " + std::to_string(y + split - 40) + " mouseup 1");
    EXPECT_TRUE(wait_until([&] { return last_split(log) == split - 40; }, 3000)) << last_split(log);
    const std::string border = setting(ini, "layout", "border");
    EXPECT_FALSE(border.empty());

    press("alt+f x", 101);
    EXPECT_EQ(cy.process->wait(20000), 0) << cy.process->err();
    std::filesystem::remove(log);
    cy = start(prog);
    ASSERT_FALSE(cy.window.empty()) << cy.process->err();
    EXPECT_TRUE(wait_until([&] { return last_split(log) == split - 40; }, 5000)) << last_split(log);
    EXPECT_EQ(setting(ini, "show", "toolbar"), "1");
    cy.process->signal(SIGTERM);
    EXPECT_EQ(cy.process->wait(20000), 0) << cy.process->err();

    demo.process->signal(SIGTERM);
    EXPECT_EQ(demo.process->wait(10000), 0);
}
