// The teleport history through real teleports and world entries, the
// location text, teleport.txt (hostile, unwritable, half-saved) and the
// Teleport menu's dialogs through their controllers.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "art/database.h"
#include "core/settings.h"
#include "people/console.h"
#include "shell/menu.h"
#include "shell/teleport.h"
#include "support/fake_dialogs.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "view/camera.h"
#include "view/scene.h"
#include "view/self.h"
#include "world/behavior.h"
#include "world/world.h"

namespace zk {
namespace {

class Teleport : public ::testing::Test {
protected:
    void SetUp() override {
        test::write_file(dir.file("zelnik.ini"), "");
        settings_set_directory(dir.path());
        std::filesystem::create_directory(dir.file("cache"));
        ASSERT_TRUE(database_init());
        ASSERT_TRUE(world_init());
        ASSERT_TRUE(scene_init());
        ASSERT_EQ(camera_init(), 0);
        self_init();
        menu_hooks().teleport = teleport_command;
        menu_hooks().location = teleport_location_command;
        behavior_hooks().history_push = history_push;
        world_hooks().history_push = history_push;
        world_hooks().history_back = history_back;
        menu_init();
    }
    void TearDown() override {
        teleport_term();
        menu_term();
        behavior_reset();
        behavior_hooks() = BehaviorHooks{};
        world_hooks() = WorldHooks{};
        menu_hooks() = MenuHooks{};
        world_term();
        self_term();
        camera_term();
        scene_term();
    }
    static void run(const std::string& command) {
        ASSERT_TRUE(behavior_queue(command));
        behavior_update();
    }
    static std::string place() {
        double x, y, z;
        self_position(&x, &y, &z);
        char text[128];
        std::snprintf(text, sizeof text, "%s %.1f %.1f %.1f %.0f%s%s", world_name().c_str(), x, y, z, self_yaw(),
                      camera_third_person() ? " third" : "", self_flying() ? " flying" : "");
        return text;
    }
    // Back and Forward, each as menu item and toolbar button.
    std::string arrows() {
        std::string s;
        for (int c : {107, 106}) s += std::to_string(ui.fake.menu_enabled[c]) + std::to_string(ui.fake.toolbar_enabled[c]);
        return s;
    }
    std::vector<std::string> location_items() {
        std::vector<std::string> out;
        const std::vector<MenuItem>& items = ui.fake.menu_bar.at(1).items;
        for (size_t i = 8; i < items.size(); ++i)
            out.push_back(std::to_string(items[i].command) + " " + items[i].text);
        return out;
    }
    test::TempDir dir;
    test::ScopedFakeUi ui;
    test::ScopedFakeDialogs dialogs;
};

TEST_F(Teleport, BackAndForwardWalkTheTeleportsAndANewOneDropsWhatLayAhead) {
    teleport_load();
    EXPECT_EQ(arrows(), "0000") << "no place yet";
    ASSERT_EQ(world_enter("zk", 1), 0);
    EXPECT_EQ(arrows(), "0000");
    EXPECT_FALSE(history_back()) << "nothing before the first place";
    EXPECT_EQ(place(), "zk 0.0 8.0 0.0 0");

    run("teleport 1n 2w");
    camera_track_self(0);
    self_set_flying(true);
    EXPECT_EQ(arrows(), "1100");
    run("teleport lagoon 3s 4e 90");
    camera_track_ahead();
    self_set_flying(false);
    run("teleport 5n 6w");
    ASSERT_EQ(history_nodes().size(), 4u) << "each teleport once, entering a world too";
    const struct {
        int command;
        const char* place;
        const char* arrows;
    } steps[] = {
        {107, "lagoon -4.0 0.1 -3.0 90", "1111"},
        {107, "zk 2.0 0.1 1.0 0 third flying", "1111"},
        {106, "lagoon -4.0 0.1 -3.0 90", "1111"},
        {106, "lagoon 6.0 0.1 5.0 0", "1100"},
        {106, "lagoon 6.0 0.1 5.0 0", "1100"},  // nothing ahead
        {107, "lagoon -4.0 0.1 -3.0 90", "1111"},
        {107, "zk 2.0 0.1 1.0 0 third flying", "1111"},
        {107, "zk 0.0 8.0 0.0 0", "0011"},
        {107, "zk 0.0 8.0 0.0 0", "0011"},
        {106, "zk 2.0 0.1 1.0 0 third flying", "1111"},
    };
    for (const auto& s : steps) {
        menu_handle(s.command);
        EXPECT_EQ(place(), s.place) << s.command;
        EXPECT_EQ(arrows(), s.arrows) << s.command;
    }
    run("teleport 7n 7w");
    EXPECT_EQ(history_nodes().size(), 3u) << "the two places ahead are gone";
    EXPECT_EQ(arrows(), "1100");

    // A world that cannot be contacted sends the user back where they were.
    run("teleport lagoon 1n 1w");
    world_unable_to_contact();
    EXPECT_EQ(place(), "zk 7.0 0.1 7.0 0 third flying");
    EXPECT_EQ(arrows(), "1111");

    for (int i = 0; i < 300; ++i) history_push();
    EXPECT_EQ(history_nodes().size(), kHistoryLimit);
    EXPECT_EQ(history_current(), kHistoryLimit - 1);
}

TEST_F(Teleport, LocationTextIsTheTeleportThatComesBack) {
    const struct {
        float x, y, z, yaw;
        const char* text;
    } cases[] = {
        {-12.5f, 3, 40, -90, "home 40.0N 12.5E 3.0a 270"},
        {5, 1, -3, 45, "home 3.0S 5.0W 1.0a 45"},
        {-0.0f, 0.1f, -0.0f, -180, "home 0.0N 0.0W 0.1a 180"},
        {0.25f, 200, 0, 179.4f, "home 0.0N 0.2W 200.0a 179"},
        {1, -0.01f, 1, -0.0f, "home 1.0N 1.0W 0.0a 0"},  // no sign: it would not read back
        {1, -3.2f, 1, -90.4f, "home 1.0N 1.0W 0.0a 270"},
    };
    ASSERT_EQ(world_enter("home", 0), 0);
    for (const auto& c : cases) {
        EXPECT_EQ(teleport_location_text("home", c.x, c.y, c.z, c.yaw), c.text);
        run(std::string("teleport ") + c.text);
        double x, y, z;
        self_position(&x, &y, &z);
        EXPECT_NEAR(x, c.x, 0.06) << c.text;
        EXPECT_NEAR(z, c.z, 0.06) << c.text;
        EXPECT_NEAR(std::remainder(self_yaw() - c.yaw, 360.0), 0, 0.6) << c.text;
        EXPECT_EQ(teleport_location_here(), c.text);
    }
}

TEST_F(Teleport, HostileFileLoadsWhatItCanInNameOrderAndSaysWhatItSkipped) {
    std::string file = "zk 1.0N 2.0W 0.1a 0:zebra\nzk 3.0S 4.0E 0.1a 90:Cafe: upstairs\r\n\n"
                       "zk 5.0N 5.0W 0.1a 0:apple\n" + std::string(300, 'x') + ":long\nzk 1n 1w:bin\x01" "ary\n" +
                       std::string("zk 1n 1w:nul\0x\n", 15) + "no colon here\n:no location\nzk 1n 1w:\n";
    for (int i = 0; i < 10000; ++i) file += "zk 0.0N 0.0W 0.1a 0:n" + std::to_string(10000 + i) + "\n";
    test::write_file(dir.file("teleport.txt"), file);
    teleport_load();
    ASSERT_EQ(teleport_locations().size(), kLocationsMax);
    EXPECT_EQ(console_recent().back(),
              "teleport.txt: 9009 lines skipped: 1 too long, 2 with control characters, 3 without a location and a "
              "name, 9003 beyond the first 1000 locations");
    const std::vector<std::string> items = location_items();
    ASSERT_EQ(items.size(), kLocationsMax);
    EXPECT_EQ(ui.fake.menu_bar.at(1).items.at(7).command, 0) << "a separator before them";
    EXPECT_EQ(items[0], "2000 apple");
    EXPECT_EQ(items[1], "2001 Cafe: upstairs");
    EXPECT_EQ(items[2], "2002 n10000");
    EXPECT_EQ(items.back(), "2999 zebra");

    menu_handle(2001);
    EXPECT_EQ(behavior_queued(), 1u);
    behavior_update();
    EXPECT_EQ(place(), "zk -4.0 0.1 -3.0 90");
    EXPECT_FALSE(teleport_location_command(3000));
    EXPECT_FALSE(teleport_location_command(1999));
    EXPECT_EQ(behavior_queued(), 0u);
}

TEST_F(Teleport, RememberedAndEditedLocationsSurviveAndAFailedSaveChangesNothing) {
    // A save killed half-way left its temporary file behind.
    test::write_file(dir.file("teleport.txt"), "zk 1.0N 1.0W 0.1a 0:b\n");
    test::write_file(dir.file("teleport.txt.new99999"), "zk 9.0N 9.0W 0.1a 0:half\nzk 9");
    teleport_load();
    ASSERT_EQ(teleport_locations().size(), 1u);
    ASSERT_EQ(world_enter("zk", 1), 0);
    run("teleport 2n 3w 1a 270");

    int shown = 0;
    dialogs.fake.remember_script = [&](RememberController& c) {
        ++shown;
        EXPECT_EQ(c.name_limit(), int(255 - std::string("zk 2.0N 3.0W 1.0a 270").size() - 1));
        EXPECT_FALSE(c.ok("")) << "no name: stays open";
        EXPECT_FALSE(c.ok("\nafter a line break"));
        EXPECT_TRUE(c.ok("A: colon\nand more"));
    };
    menu_handle(144);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(test::read_file(dir.file("teleport.txt")), "zk 2.0N 3.0W 1.0a 270:A: colon\nzk 1.0N 1.0W 0.1a 0:b\n");
    EXPECT_EQ(location_items(), (std::vector<std::string>{"2000 A: colon", "2001 b"}));

    // The editor works on a copy: Cancel (no OK) leaves all as it was.
    dialogs.fake.locations_script = [&](LocationsController& c) {
        EXPECT_EQ(c.names(), (std::vector<std::string>{"A: colon", "b"}));
        c.remove(0);
        EXPECT_EQ(c.rename(0, ""), "") << "refused";
    };
    menu_handle(145);
    EXPECT_EQ(teleport_locations().size(), 2u);
    dialogs.fake.locations_script = [&](LocationsController& c) {
        EXPECT_EQ(c.rename(1, std::string(300, 'z')).size(), 255 - std::string("zk 1.0N 1.0W 0.1a 0").size() - 1);
        c.remove(0);
        c.remove(5);
        EXPECT_EQ(c.rename(0, "Aa\tb\rc"), "Aa b");
        EXPECT_TRUE(c.ok());
    };
    menu_handle(145);
    EXPECT_EQ(test::read_file(dir.file("teleport.txt")), "zk 1.0N 1.0W 0.1a 0:Aa b\n");
    EXPECT_EQ(location_items(), std::vector<std::string>{"2000 Aa b"});
    teleport_load();
    EXPECT_EQ(teleport_locations().size(), 1u) << "what was written reads back";

    // teleport.txt cannot be replaced (a directory stands there, which stops
    // even root): nothing changes, and the user is told.
    std::filesystem::rename(dir.file("teleport.txt"), dir.file("kept.txt"));
    std::filesystem::create_directories(dir.file("teleport.txt/x"));
    ui.fake.boxes.clear();
    EXPECT_FALSE(teleport_remember("lost"));
    EXPECT_EQ(teleport_locations().size(), 1u);
    EXPECT_EQ(location_items(), std::vector<std::string>{"2000 Aa b"});
    ASSERT_EQ(ui.fake.boxes.size(), 1u);
    EXPECT_NE(ui.fake.boxes[0].text.find("Could not save the remembered locations"), std::string::npos);
    EXPECT_EQ(test::read_file(dir.file("teleport.txt.new99999")), "zk 9.0N 9.0W 0.1a 0:half\nzk 9");
}

TEST_F(Teleport, TeleportDialogListsTheUniversesWorldsAndQueuesTheTeleport) {
    ASSERT_EQ(world_enter("zk", 1), 0);
    static const char kList[] = "\x02zk\x00\x06lagoon\x03" "a\x01" "b\x05" "cut";
    const std::string list(kList, sizeof kList - 1);
    dialogs.fake.teleport_script = [&](TeleportController& c) {
        TeleportWorlds w = c.initial();
        EXPECT_FALSE(w.fill) << "no list yet: asked for";
        EXPECT_EQ(w.text, "zk");
        EXPECT_FALSE(c.poll().changed);
        teleport_world_list(reinterpret_cast<const uint8_t*>(list.data()), list.size());
        w = c.poll();
        EXPECT_TRUE(w.changed && w.fill);
        EXPECT_EQ(w.names, (std::vector<std::string>{"zk", "lagoon"})) << "empty, control bytes and cut left out";
        EXPECT_FALSE(c.poll().changed) << "once";
        c.ok("lagoon", "2n 2w");
    };
    menu_handle(128);
    behavior_update();
    EXPECT_EQ(place(), "lagoon 2.0 0.1 2.0 0");
    dialogs.fake.teleport_script = [&](TeleportController& c) {
        const TeleportWorlds w = c.initial();
        EXPECT_TRUE(w.fill) << "a fresh list is used as it is";
        EXPECT_EQ(w.names.size(), 2u);
        EXPECT_EQ(w.text, "lagoon");
    };
    menu_handle(128);
}

}  // namespace
}  // namespace zk
