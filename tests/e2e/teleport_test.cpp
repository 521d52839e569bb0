// A citizen teleports as a user would: a second start hands a teleport to
// the running browser, the Teleport menu goes back and forward, remembers
// the place, renames it, teleports by coordinates through its dialog, and
// after a restart the remembered place is an item of the menu that takes
// the user there.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <string>

#include "e2e/screen.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

// Keys to the browser's window, then, when `dialog`, to the window those
// keys opened.
bool keys(const Process& p, const std::string& window, const std::string& what, const std::string& dialog = "") {
    const std::string before = visible_windows(p);
    if (!focus(window)) return false;
    run_command("xdotool key --delay 150 " + what);
    if (dialog.empty()) return true;
    std::string now;
    if (!wait_until([&] { return (now = visible_windows(p)).size() > before.size(); }, 5000)) return false;
    std::string id = now.substr(now.find_last_of('\n', now.size() - 2) + 1);
    id.erase(id.find_last_not_of("\n") + 1);
    run_command("xdotool windowfocus --sync " + id + " key --delay 150 " + dialog);
    return wait_until([&] { return visible_windows(p).size() == before.size(); }, 5000);
}

}  // namespace

TEST(BrowserAndServer, TeleportsGoBackAndForwardAndRememberedPlacesOutliveARestart) {
    if (const std::string why = desktop_missing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    ASSERT_TRUE(add_citizen_cy(dir.path()));
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    const std::string prog = dir.path() + "/prog", saved = prog + "/teleport.txt";
    std::filesystem::create_directories(prog);
    std::filesystem::copy_file(ZELNIK_BINARY, prog + "/zelnik");
    write_file(prog + "/zelnik.ini", "[universe]\nhost=127.0.0.1\nport=" + std::to_string(demo.universe) +
                                         "\n[start]\nworld=zk\n[citizen]\nname=Cy\npassword=secret1\n[debug]\ntrace=1\n");
    std::string window;
    auto cy = start_attended(prog, &window);
    ASSERT_FALSE(window.empty()) << demo.process->err() << cy->err();

    // A second start with a request file hands it over and ends.
    write_file(dir.file("visit.txt"), "teleport lagoon 3n 2w 90, and the rest\n");
    EXPECT_EQ(start_attended(prog, nullptr, {dir.file("visit.txt")})->wait(10000), 0);
    EXPECT_TRUE(wait_until([] { return title_shows("\"lagoon at 3N 2W"); }, 20000)) << cy->err();

    ASSERT_TRUE(keys(*cy, window, "alt+t b"));
    EXPECT_TRUE(wait_until([] { return title_shows("\"zk at ground zero facing N\""); }, 20000));
    ASSERT_TRUE(keys(*cy, window, "alt+t f"));
    EXPECT_TRUE(wait_until([] { return title_shows("\"lagoon at 3N 2W"); }, 20000));

    ASSERT_TRUE(keys(*cy, window, "alt+t r", "R e e f Return"));
    EXPECT_TRUE(wait_for_text(saved, ":Reef\n", 3000)) << read_file(saved);
    EXPECT_EQ(read_file(saved).rfind("lagoon 3.0N 2.0W 0.0a 90:", 0), 0u) << read_file(saved);
    // Renamed in place in the editor; its OK rewrites the file.
    ASSERT_TRUE(keys(*cy, window, "alt+t e", "space alt+r N o r t h Return Return"));
    EXPECT_TRUE(wait_for_text(saved, ":North\n", 3000)) << read_file(saved);

    ASSERT_TRUE(keys(*cy, window, "alt+t t", "5 n space 5 e Return"));
    EXPECT_TRUE(wait_until([] { return title_shows("\"lagoon at 5N 5E"); }, 20000));

    ASSERT_TRUE(keys(*cy, window, "alt+f x"));
    EXPECT_EQ(cy->wait(20000), 0) << cy->err();
    cy = start_attended(prog, &window);
    ASSERT_FALSE(window.empty()) << cy->err();
    ASSERT_TRUE(keys(*cy, window, "alt+t Up Return"));
    EXPECT_TRUE(wait_until([] { return title_shows("\"lagoon at 3N 2W"); }, 20000)) << read_file(prog + "/zelnik.log");

    cy->signal(SIGTERM);
    EXPECT_EQ(cy->wait(20000), 0) << cy->err();
    demo.process->signal(SIGTERM);
    EXPECT_EQ(demo.process->wait(10000), 0);
}
