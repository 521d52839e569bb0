#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "art/database.h"
#include "core/settings.h"
#include "people/avatar.h"
#include "shell/bps.h"
#include "shell/menu.h"
#include "shell/status.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "world/world.h"

namespace zk {
namespace {

class Menu : public ::testing::Test {
protected:
    void SetUp() override {
        test::write_file(dir.file("zelnik.ini"), "");
        settings_set_directory(dir.path());
        std::filesystem::create_directory(dir.file("cache"));
        ASSERT_TRUE(database_init());
        ASSERT_TRUE(world_init());
        ui.fake.height = 420;  // 420 / (20 + 1) - 1: 19 items a column
        menu_init();
    }
    void TearDown() override {
        menu_term();
        bps_term();
        world_term();
        menu_hooks() = MenuHooks{};
    }
    const MenuItem* find(int command) {
        for (const MenuPopup& p : ui.fake.menu_bar)
            for (const MenuItem& m : p.items)
                if (m.command == command) return &m;
        return nullptr;
    }
    std::vector<std::string> titles() {
        std::vector<std::string> t;
        for (const MenuPopup& p : ui.fake.menu_bar) t.push_back(p.title);
        return t;
    }
    const MenuPopup& avatars() { return ui.fake.menu_bar.at(6); }
    test::TempDir dir;
    test::ScopedFakeUi ui;
};

TEST_F(Menu, BarFollowsIdentity) {
    const std::vector<std::string> tourist = {"&File", "&Teleport", "&View", "&Options",
                                              "&Show", "&Citizen", "&Web",  "&Help"};
    EXPECT_EQ(titles(), tourist);
    ASSERT_TRUE(find(105) && find(119) && find(126));
    EXPECT_TRUE(find(105)->text == "&Topics\tF1" && find(105)->key == menu_key_f1);
    EXPECT_EQ(find(119)->key, menu_key_f1 + 10);
    EXPECT_TRUE(find(119)->checkable && find(126)->checkable && find(126)->key == menu_key_home);
    EXPECT_FALSE(find(108)) << "building commands live in the object window";
    for (int off : {141, 147, 106, 128, 130, 134, 139}) EXPECT_FALSE(find(off)->enabled) << off;
    EXPECT_TRUE(find(143) && !find(142));

    menu_identity_changed(true);
    std::vector<std::string> citizen = tourist;
    citizen.insert(citizen.begin() + 6, "&Avatar");
    EXPECT_EQ(titles(), citizen);
    EXPECT_TRUE(find(141)->enabled && ui.fake.menu_enabled[141] && !find(143));
    EXPECT_EQ(ui.fake.menu_bar.at(5).items.back().command, 142);
    menu_identity_changed(true);
    EXPECT_EQ(titles(), citizen) << "not a second Avatar menu";

    menu_identity_changed(false);
    EXPECT_EQ(titles(), tourist);
    EXPECT_TRUE(find(143) && !find(142));
}

TEST_F(Menu, AvatarsColumnsCheckedItemAndChoice) {
    for (auto [screen, bar, length] : {std::tuple{420, 20, 19}, {768, 20, 35}, {10, 20, 0}, {0, 0, 0}, {400, -1, 0}})
        EXPECT_EQ(menu_column_length(screen, bar), length) << screen << " " << bar;
    std::string names;
    for (int i = 0; i < 40; ++i) names += "a" + std::to_string(i) + '\0';
    world_set_avatar(252);
    menu_identity_changed(true);
    menu_rebuild_avatars(40, names.data(), names.size());
    ASSERT_EQ(avatars().items.size(), 40u);
    for (const MenuItem& m : avatars().items) {
        const int i = m.command - 1000;
        EXPECT_EQ(m.column_break, i == 19 || i == 38) << i;
        EXPECT_EQ(m.text, "A" + std::to_string(i));
        EXPECT_EQ(m.checked, i == 0) << "252 needs a public speaker";
    }

    attribute_set(attr_public_speaker, "Y");
    menu_set_public_speaker(true);
    ASSERT_EQ(avatars().items.size(), 43u);
    EXPECT_EQ(avatars().items[40].text, "Special1");
    EXPECT_EQ(menu_avatar_checked(), 41);
    EXPECT_EQ(avatar_own_type(), 252);
    const int sets = ui.fake.menu_bar_sets;
    menu_set_public_speaker(true);
    EXPECT_EQ(ui.fake.menu_bar_sets, sets) << "no change, no rebuild";

    menu_handle(1041);
    EXPECT_TRUE(ui.fake.menu_checked.empty()) << "the checked item again does nothing";
    menu_handle(1005);
    EXPECT_EQ(world_avatar(), 5);
    EXPECT_EQ(avatar_own_type(), 5);
    EXPECT_TRUE(ui.fake.menu_checked[1005] && !ui.fake.menu_checked[1041]);
    menu_handle(1042);
    EXPECT_EQ(world_avatar(), 253);
    menu_handle(1043);
    EXPECT_EQ(menu_avatar_checked(), 42) << "past the list: ignored";

    menu_set_public_speaker(false);
    EXPECT_EQ(menu_avatar_checked(), 0) << "253 without the specials";
    menu_identity_changed(false);
    menu_rebuild_avatars(40, names.data(), names.size());
    EXPECT_EQ(menu_avatar_checked(), 0) << "a tourist has the first";
}

TEST_F(Menu, HostileAvatarNamesStayInBounds) {
    menu_identity_changed(true);
    const std::vector<char> unterminated = {'b', 'o', 'b', 0, 'a', '&', '\t', 'x', 'y', 'z'};
    menu_rebuild_avatars(5, unterminated.data(), unterminated.size());
    ASSERT_EQ(avatars().items.size(), 1u) << "the unterminated name ends the list";
    EXPECT_EQ(avatars().items[0].text, "Bob");
    const char odd[] = "a&\tz";
    menu_rebuild_avatars(1, odd, sizeof odd);
    EXPECT_EQ(avatars().items[0].text, "A&&?z");
    std::string many;
    for (int i = 0; i < 300; ++i) many += std::string("x") + '\0';
    menu_rebuild_avatars(1 << 30, many.data(), many.size());
    EXPECT_EQ(avatars().items.size(), size_t(kMenuAvatarsMax));
    menu_rebuild_avatars(3, nullptr, 0);
    EXPECT_TRUE(avatars().items.empty());
}

TEST_F(Menu, TooltipsAndRouting) {
    for (auto [command, tip] : {std::pair{106, "Teleport Forward"}, {112, "Move back"}, {113, "Move forward"},
                                {131, "Look level"}, {139, "Show Worlds"}, {147, "Read telegram"},
                                {146, "Send telegram"}, {119, "Unknown!"}, {0, "Unknown!"}})
        EXPECT_EQ(menu_tooltip(command), tip) << command;
    for (int b : menu_toolbar_buttons())
        EXPECT_TRUE(b == 0 || menu_tooltip(b) != "Unknown!") << b;

    menu_handle(122);
    ASSERT_EQ(ui.fake.panes.size(), 1u);
    EXPECT_EQ(ui.fake.weights.begin()->second, kBpsPaneWeight);
    EXPECT_TRUE(ui.fake.menu_checked[122] && bps_shown());
    EXPECT_EQ(settings_get_int("show", "bandwidth"), 1);
    menu_handle(122);
    EXPECT_TRUE(ui.fake.panes.empty());
    EXPECT_EQ(settings_get_int("show", "bandwidth"), 0);

    menu_handle(129);
    menu_handle(103);
    menu_handle(101);
    EXPECT_EQ(std::tuple(ui.fake.toolbar_toggles, ui.fake.settings_sheets, ui.fake.closes), std::tuple(1, 1, 1));

    menu_set_locations({"home", "a&b"});
    menu_set_locations({"Home", "A&b"});
    ASSERT_EQ(ui.fake.menu_bar.at(1).items.size(), 10u) << "replaced, one separator before them";
    EXPECT_EQ(find(2001)->text, "A&&b");
    static std::vector<int> seen;
    seen.clear();
    menu_hooks().teleport = [](int c) { seen.push_back(c); };
    menu_hooks().location = [](int c) { return seen.push_back(c), c == 2001; };
    for (int c : {106, 145, 2001, 1000, 999}) menu_handle(c);
    EXPECT_EQ(seen, (std::vector<int>{106, 145, 2001}));
}

TEST_F(Menu, BandwidthMeterMeansTenSeconds) {
    EXPECT_EQ(bps_text(12345), "1.2 K/sec");
    bps_toggle();
    const std::string& shown = ui.fake.panes.begin()->second;
    // 2000 bytes a second for 12 seconds, then nothing.
    for (uint32_t second = 0; second <= 15; ++second) {
        if (second < 12) bps_count(2000);
        bps_update_at(50000 + second * 1000);
        if (second == 0 || second == 9 || second == 11) {
            EXPECT_EQ(shown, second ? "2.0 K/sec" : "0.2 K/sec") << second;
        }
    }
    EXPECT_EQ(shown, "1.2 K/sec") << "seconds 6-11 are the last that counted";
    bps_count(50000);
    bps_update_at(50000 + 15999);
    EXPECT_EQ(shown, "1.2 K/sec") << "not due yet";
    bps_update_at(50000 + 16000);
    EXPECT_EQ(shown, "6.0 K/sec");
}

TEST(Status, EdgesShareTheWidth) {
    EXPECT_EQ(status_edges({40, 12, 10}, 635), (std::vector<int>{400, 520, 635}));
    EXPECT_EQ(status_edges({40, 10}, 635), (std::vector<int>{496, 635})) << "the middle one removed";
    EXPECT_EQ(status_edges({1, 2}, 10), (std::vector<int>{0, 15}));
    EXPECT_EQ(status_edges({0, 0}, 100), (std::vector<int>{0, 15}));
    EXPECT_TRUE(status_edges({}, 100).empty());
}

}  // namespace
}  // namespace zk
