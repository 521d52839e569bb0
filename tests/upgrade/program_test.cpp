#include "upgrade/program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "art/http.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "upgrade/kit.h"

using namespace zk;
using zk::test::write_file;

namespace {

struct FakeWindow : UpgradeWindow {
    std::vector<std::string> line1, line2, boxes;
    double bar = -1;
    bool close_while_installing = false;
    void set_line(int line, const std::string& text) override { (line == 1 ? line1 : line2).push_back(text); }
    void set_bar(double f) override { bar = f; }
    void stop_box(const std::string& caption, const std::string& text) override { boxes.push_back(caption + ": " + text); }
    void pump() override {
        if (close_while_installing && upgrade_state() == UpgradeState::installing) upgrade_window_destroyed();
    }
    bool shown(const std::vector<std::string>& lines, const std::string& text) const {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
};

// A program directory with an old installation, the kit to its next version
// served over HTTP (or a 404), and the program's outside world scripted.
struct Install {
    test::TempDir tmp;
    std::string prog = tmp.file("prog"), kit;
    FakeWindow window;
    int running_looks = 0, locked_looks = 0;
    std::vector<std::string> started;
    test::HttpServer server{[this](const test::HttpRequestSeen& r, test::HttpConn& c) {
        c.send(r.target == "/upgrade/kit162.rtp" && !kit.empty() ? test::http_response(200, kit)
                                                                   : test::http_response(404, "none"));
    }};
    Install() {
        for (const char* v : {"old", "new"}) {
            std::filesystem::create_directories(tmp.file(v));
            write_file(tmp.file(v) + "/zelnik", std::string(v) + " browser");
            write_file(tmp.file(v) + "/my browser", "other");
        }
        EXPECT_EQ(kit_build(tmp.file("old"), tmp.file("new"), kit), kKitOk);
        std::filesystem::copy(tmp.file("old"), prog);
        write_file(prog + "/zelnik.ini", "[debug]\n");
    }
    UpgradeHooks hooks() {
        UpgradeHooks h;
        h.browser_running = [this](const std::string&) { return running_looks-- > 0; };
        h.browser_released = [this](const std::string&) { return locked_looks-- <= 0; };
        h.start_browser = [this](const std::string& path) {
            started.push_back(path);
            return true;
        };
        return h;
    }
    // Runs the program to its end, 400 ms of its clock per step.
    bool run(const std::string& line) {
        if (!upgrade_begin(line, prog, window, hooks())) return false;
        uint32_t now = 5000;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (upgrade_tick(now += 400) && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        upgrade_end();
        return true;
    }
    std::string browser() { return test::read_file(prog + "/zelnik"); }
};

}  // namespace

TEST(UpgradeProgram, CommandLineSplitsIntoHostKitAndTheRest) {
    struct Case {
        const char* line;
        bool ok;
        const char* browser;
    } cases[] = {{"", false, ""},
                 {"host upgrade/kit162.rtp", false, ""},
                 {"host upgrade/kit162.rtp ", false, ""},
                 {"host upgrade/kit162.rtp zelnik", true, "zelnik"},
                 {"  host  upgrade/kit162.rtp  my browser", true, "my browser"}};
    for (const Case& c : cases) {
        const UpgradeArgs a = upgrade_split(c.line);
        EXPECT_EQ(a.ok, c.ok) << c.line;
        EXPECT_EQ(a.browser, c.browser) << c.line;
        EXPECT_EQ(a.ok ? a.host + " " + a.kit : "", a.ok ? "host upgrade/kit162.rtp" : "");
    }
    EXPECT_EQ(upgrade_receiving_text(524288), "Receiving upgrade (512K)");
    EXPECT_EQ(upgrade_remaining_text(65, 2048), "Time remaining: 1:05  (2.0 K/sec)");
    EXPECT_EQ(upgrade_remaining_text(5, 1536), "Time remaining: 0:05  (1.5 K/sec)");
}

TEST(UpgradeProgram, StatisticsShowSizeRateAndStalls) {
    UpgradeStats s;
    FakeWindow w;
    upgrade_stats_step(s, 900, 0, 10240, "2 of 3", w);
    upgrade_stats_step(s, 950, 0, 10240, "starting", w);
    EXPECT_EQ(w.line1, std::vector<std::string>{"starting"});
    upgrade_stats_step(s, 1000, 1024, 10240, "receiving response", w);
    EXPECT_EQ(w.line1.back(), "Receiving upgrade (10K)");
    EXPECT_DOUBLE_EQ(w.bar, 0.1);
    upgrade_stats_step(s, 1900, 2048, 10240, "", w);
    EXPECT_TRUE(w.line2.empty()) << "no sample within the first second";
    // 2048 bytes in the 1100 ms sample; 3072 in 1100 ms overall leaves 2 s.
    upgrade_stats_step(s, 2100, 3072, 10240, "", w);
    EXPECT_EQ(w.line2.back(), "Time remaining: 0:02  (1.8 K/sec)");
    EXPECT_DOUBLE_EQ(w.bar, 0.3);
    // Fifteen empty samples push every byte out of the ring.
    for (uint32_t t = 3200; t < 3200 + 16 * 1100; t += 1100) upgrade_stats_step(s, t, 3072, 10240, "", w);
    EXPECT_EQ(w.line2.back(), "Waiting for data...");
}

TEST(UpgradeProgram, BadStartsShowTheirTextAndFetchNothing) {
    Install s;
    EXPECT_FALSE(s.run(s.server.host() + " upgrade/kit162.rtp"));
    EXPECT_EQ(s.window.boxes, std::vector<std::string>{"Upgrade: Usage: upgrade <directory> <host> <kit> <execute>"});
    std::filesystem::remove(s.prog + "/zelnik.ini");
    EXPECT_FALSE(s.run(s.server.host() + " upgrade/kit162.rtp zelnik"));
    EXPECT_EQ(s.window.boxes.back(), "Upgrade: Unable to locate zelnik.ini");
    EXPECT_EQ(s.server.requests(), 0);
    EXPECT_EQ(http_request_count(), 0);
}

TEST(UpgradeProgram, FetchesWaitsForTheBrowserAppliesAndRestartsIt) {
    Install s;
    s.running_looks = 3;
    s.locked_looks = 2;
    ASSERT_TRUE(s.run(s.server.host() + " upgrade/kit162.rtp zelnik"));
    EXPECT_TRUE(s.window.boxes.empty()) << s.window.boxes.front();
    EXPECT_TRUE(s.window.shown(s.window.line1, "Waiting for Quorvane Browser to exit..."));
    EXPECT_TRUE(s.window.shown(s.window.line1, "Installing upgrade"));
    EXPECT_TRUE(s.window.shown(s.window.line2, "Updating zelnik"));
    EXPECT_EQ(s.browser(), "new browser");
    EXPECT_EQ(s.started, std::vector<std::string>{s.prog + "/zelnik"});
    EXPECT_DOUBLE_EQ(s.window.bar, 1.0);
    EXPECT_TRUE(std::filesystem::is_empty(s.prog + "/cache/tmp")) << "the kit file goes again";
}

TEST(UpgradeProgram, FailuresEndWithoutStartingTheBrowser) {
    struct Case {
        const char* name;
        bool no_kit, close, locked;
        const char* box;
    } cases[] = {
        {"no kit", true, false, false,
         "Upgrade: Sorry, there is no upgrade available for this version of the Quorvane Browser"},
        {"window closed", false, true, false, nullptr},
        {"file held", false, false, true, "Upgrade: Unable to access zelnik"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Install s;
        if (c.no_kit) s.kit.clear();
        s.window.close_while_installing = c.close;
        s.locked_looks = c.locked ? 1000 : 0;
        ASSERT_TRUE(s.run(s.server.host() + " upgrade/kit162.rtp zelnik"));
        EXPECT_EQ(s.window.boxes, c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
        EXPECT_EQ(s.browser(), "old browser");
        EXPECT_TRUE(s.started.empty());
        EXPECT_EQ(upgrade_result(), c.close ? kKitAborted : -1);
    }
}
