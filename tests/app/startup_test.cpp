#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/messages.h"
#include "core/log.h"
#include "core/settings.h"
#include "app/startup.h"
#include "art/database.h"
#include "world/cell.h"
#include "support/fake_dialogs.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

// No universe answers on port 1: the build check fails, the user skips it
// and goes on as a tourist.
const std::string kNoUniverse = "[universe]\nhost=127.0.0.1\nport=1\n";

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialogs_.fake.when_waiting = AboutButton::skip;
        dialogs_.fake.tourist_script = [](TouristController& c) { return c.ok("Tester").close ? 0 : 1; };
        old_ = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        log_close();
    }
    void TearDown() override {
        log_close();
        EXPECT_EQ(chdir(old_), 0);
        free(old_);
    }
    std::vector<std::string> log_messages() {
        log_close();
        return test::log_messages(dir_.file("zelnik.log"));
    }
    // Position of `name` in the trace after `from`, failing when absent.
    static long at(const std::vector<std::string>& trace, const std::string& name, long from = -1) {
        auto it = std::find(trace.begin() + (from + 1), trace.end(), name);
        EXPECT_NE(it, trace.end()) << name << " missing from the trace after line " << from;
        return it - trace.begin();
    }
    TempDir dir_;
    ScopedFakeUi ui_;
    test::ScopedFakeDialogs dialogs_;
    char* old_ = nullptr;
};

}  // namespace

TEST_F(StartupTest, StopsBeforeAnyWindowWhenAnotherInstanceRunsOrWithoutSettings) {
    ui_.fake.running_instance = true;
    EXPECT_EQ(zelnik_run(dir_.path(), "/tmp/teleport.txt"), 0);
    EXPECT_EQ(ui_.fake.handed_over, "/tmp/teleport.txt");
    EXPECT_TRUE(ui_.fake.boxes.empty());
    EXPECT_EQ(access(dir_.file("cache").c_str(), F_OK), -1) << "the second start touches nothing";

    ui_.fake.running_instance = false;
    EXPECT_EQ(zelnik_run(dir_.path(), ""), 0);
    ASSERT_EQ(ui_.fake.boxes.size(), 1u);
    EXPECT_EQ(ui_.fake.boxes[0].caption, "Error");
    EXPECT_STREQ(ui_.fake.boxes[0].text.c_str(), load_message(15));
    EXPECT_FALSE(ui_.fake.window_created);
    EXPECT_EQ(ui_.fake.loops_run, 0);
}

TEST_F(StartupTest, FullStartRunsInitsInOrderThenTheLoopThenShutdown) {
    write_file(dir_.file("zelnik.ini"), kNoUniverse +
               "[debug]\ntrace=1\n[layout]\nmain_width=100\nmain_x=5000\nmain_y=3\nmaximized=1\n[show]\ntoolbar=1\n");
    EXPECT_EQ(zelnik_run(dir_.path(), "cmd.txt"), 0);
    EXPECT_TRUE(ui_.fake.boxes.empty());
    EXPECT_EQ(ui_.fake.loops_run, 1);
    EXPECT_EQ(ui_.fake.created_title, "Quorvane");
    EXPECT_EQ(ui_.fake.title.rfind("Tessaly at ground zero", 0), 0u)
        << "the start world's title (its default: no server) and the place: " << ui_.fake.title;
    EXPECT_TRUE(ui_.fake.placement.default_position) << "x beyond the screen";
    EXPECT_EQ(ui_.fake.placement.width, 300);
    EXPECT_EQ(ui_.fake.placement.height, 400);
    EXPECT_TRUE(ui_.fake.toolbar_shown);
    EXPECT_TRUE(ui_.fake.window_shown);
    EXPECT_TRUE(ui_.fake.window_maximized);
    EXPECT_FALSE(ui_.fake.window_created) << "shutdown destroys the main window";
    EXPECT_EQ(access(dir_.file("cache").c_str(), F_OK), 0);

    std::vector<std::string> t = log_messages();
    const char* order[] = {"init_application", "os_init", "init_instance", "device_init", "resolve_init",
                           "about_init", "universe_init", "menu_init", "teleport_load", "cgi_register_window",
                           "check_for_new_upgrade", "login_init", "slider_init", "vslider_init",
                           "perform_init", "database_init", "download_init", "init_three_d", "camera_init",
                           "scene_init", "font_init", "viewport_init", "status_init", "web_init",
                           "model_init", "avatar_init", "cell_init", "world_init", "pick_init", "focus_init",
                           "chat_init", "colors_init", "console_init", "proxy_init", "http_init",
                           "sndoptions_init", "dloptions_init", "sound_init", "self_init", "balloon_init",
                           "mouse_init", "prop_init", "bps_init", "frame_init", "sign_init", "disk_init",
                           "gesture_init", "visible_init", "advanced_init", "picture_init", "telegram_init",
                           "pdialog_init", "options_register", "url_init", "cgi_init (cmd.txt)",
                           "about_hide", "terminate", "avatar_term", "sound_term", "prop_term",
                           "universe_term", "http_term", "file_term", "menu_term", "cgi_term",
                           "resolve_term", "cell_term", "chunk_term", "download_term", "world_term",
                           "web_term", "image_term", "url_term", "console_term", "scene_term",
                           "backdrop_clear"};
    // Each name after the one before it (other lines may stand between).
    long last = -1;
    for (const char* name : order) last = at(t, name, last);
}

TEST_F(StartupTest, WorldResetRunsInItsOrderAndAnswersTheCellCache) {
    write_file(dir_.file("zelnik.ini"), "[debug]\ntrace=1\n");
    settings_set_directory(dir_.path());
    log_init();
    ASSERT_TRUE(database_init());
    EXPECT_EQ(world_reset(), 1) << "the cell cache opens";
    cell_term();
    // Only the reset steps: opening the cell cache traces its own calls.
    const char* order[] = {"world_reset", "visible_reset", "frame_clear_counters", "pick_drop_selection",
                           "ground_release", "avatar_drop_all", "self_release_model", "model_empty_cache",
                           "download_reset", "picture_reset", "image_reset", "texture_reset",
                           "avatar_reload_list", "chunk_reset", "self_create_model", "backdrop_clear",
                           "sound_reset", "collision_recompute", "cell_reset"};
    std::vector<std::string> t;
    for (const std::string& line : log_messages())
        if (std::find(std::begin(order), std::end(order), line) != std::end(order)) t.push_back(line);
    EXPECT_EQ(t, std::vector<std::string>(std::begin(order), std::end(order)));
}

TEST_F(StartupTest, DepthWarningIsShownOnPaletteDisplaysOnlyAndRemembered) {
    write_file(dir_.file("zelnik.ini"), kNoUniverse + "[start]\nworld=zk\n[show]\ntoolbar=0\n");
    ui_.fake.depth = 15;  // high colour: no warning
    EXPECT_EQ(zelnik_run(dir_.path(), ""), 0);
    EXPECT_TRUE(ui_.fake.depth_warnings.empty());
    EXPECT_EQ(ui_.fake.loops_run, 1);
    EXPECT_FALSE(ui_.fake.window_maximized);
    EXPECT_FALSE(ui_.fake.toolbar_shown);

    ui_.fake.depth = 8;
    ui_.fake.depth_answer = {true, true};  // Exit, with "don't show again"
    EXPECT_EQ(zelnik_run(dir_.path(), ""), 0);
    ASSERT_EQ(ui_.fake.depth_warnings.size(), 1u);
    EXPECT_EQ(ui_.fake.depth_warnings[0].find("Your display is using an 8-bit color palette."), 0u);
    EXPECT_EQ(ui_.fake.loops_run, 1) << "Exit ends the program";
    EXPECT_TRUE(ui_.fake.boxes.empty()) << "silently";
    EXPECT_EQ(settings_get_int("device", "depth"), 1);

    // Remembered: no warning the next time, and the program runs.
    ui_.fake.depth_warnings.clear();
    EXPECT_EQ(zelnik_run(dir_.path(), ""), 0);
    EXPECT_TRUE(ui_.fake.depth_warnings.empty());
    EXPECT_EQ(ui_.fake.loops_run, 2);
}
