#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "core/log.h"
#include "core/settings.h"
#include "net/resolve.h"
#include "net/universe.h"
#include "shell/menu.h"
#include "shell/web.h"
#include "world/behavior.h"
#include "world/world.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

struct WebUi : FakeUi {
    std::vector<std::string> opened;  // by the external browser
    bool address_open(const std::string& address) override {
        opened.push_back(address);
        return true;
    }
};

class Web : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);  // the trace log goes here
        write_file(dir_.file("zelnik.ini"), "[universe]\nhost=localhost\nport=5670\n[debug]\ntrace=1\n" + ini_);
        settings_set_directory(dir_.path());
        log_init();
        ASSERT_EQ(resolve_init(), 0);
        universe_init();
        ui_set_port(&ui_);
        menu_hooks().web = web_command;
        menu_init();
        behavior_reset();
        web_init();
    }
    void TearDown() override {
        web_term();
        menu_term();
        menu_hooks() = MenuHooks{};
        ui_set_port(nullptr);
        universe_term();
        resolve_term();
        behavior_reset();
        log_close();
        EXPECT_EQ(chdir(old_), 0);
        free(old_);
    }
    bool enabled(int command) { return ui_.menu_enabled[command] && ui_.toolbar_enabled[command]; }
    std::vector<std::string> moves() { return std::exchange(ui_.web_moves, {}); }
    // The teleports the pane queued, from the trace.
    std::vector<std::string> teleports() {
        std::vector<std::string> found;
        for (const std::string& line : log_messages(dir_.file("zelnik.log")))
            if (line.rfind("web: ", 0) == 0) found.push_back(line.substr(5));
        return found;
    }

    TempDir dir_;
    std::string ini_;
    char* old_ = nullptr;
    WebUi ui_;
};

class WebShownAtStart : public Web {
protected:
    void SetUp() override {
        ini_ = "[show]\nweb=1\n";
        Web::SetUp();
    }
};

TEST_F(Web, AddressesGoToTheExternalBrowserWhileClosedAndToThePaneOnceItOpens) {
    // A first start leaves the pane closed, its commands off but Worlds.
    EXPECT_FALSE(ui_.web_pane);
    for (int c : {134, 135, 136, 137, 138}) EXPECT_FALSE(enabled(c)) << c;
    EXPECT_TRUE(enabled(139));

    // A create clause never starts the external browser; both are kept.
    web_open("http://a.example/create", true);
    EXPECT_TRUE(ui_.opened.empty());
    EXPECT_EQ(web_last_address(), "http://a.example/create");
    web_open("a.example/click", false);
    web_open("", false);
    EXPECT_EQ(ui_.opened, std::vector<std::string>{"http://a.example/click"});
    EXPECT_EQ(web_last_address(), "a.example/click");
    EXPECT_TRUE(moves().empty());

    // Opening the pane shows the remembered address, Stop on while it loads.
    menu_handle(kCommandShowWeb);
    EXPECT_EQ(moves(), (std::vector<std::string>{"show", "navigate http://a.example/click"}));
    EXPECT_EQ(settings_get_int("show", "web"), 1);
    EXPECT_TRUE(ui_.menu_checked[kCommandShowWeb]);
    ASSERT_EQ(ui_.panes.size(), 1u);
    EXPECT_EQ(ui_.weights[ui_.panes.begin()->first], 26);
    for (int c : {134, 135, 136, 137, 138, 139}) EXPECT_TRUE(enabled(c)) << c;
    web_status("Opening\tpage");
    EXPECT_EQ(ui_.panes.begin()->second, "Opening page");

    // Now both kinds of address go to the pane.
    web_open("http://a.example/create2", true);
    web_open("http://a.example/click2", false);
    EXPECT_EQ(moves(), (std::vector<std::string>{"navigate http://a.example/create2", "navigate http://a.example/click2"}));
    EXPECT_EQ(ui_.opened.size(), 1u);

    // The history moves, each its own move; Stop ends when the page is in.
    menu_handle(kCommandWebBack);
    menu_handle(kCommandWebBack + 1);
    menu_handle(kCommandWebRefresh);
    menu_handle(kCommandWebBack + 2);
    EXPECT_EQ(moves(), (std::vector<std::string>{"back", "forward", "reload", "stop"}));
    ui_.web_loading = true;
    web_update();
    EXPECT_TRUE(web_navigating());
    EXPECT_TRUE(enabled(136));
    ui_.web_loading = false;
    web_update();
    EXPECT_FALSE(web_navigating());
    EXPECT_FALSE(enabled(136));

    // Open...: the edit starts with the last address; OK shows the typed one.
    ui_.web_typed = "http://typed.example/";
    menu_handle(kCommandWebOpen);
    EXPECT_EQ(moves(), (std::vector<std::string>{"dialog http://a.example/click2", "navigate http://typed.example/"}));
    ui_.web_typed.reset();
    menu_handle(kCommandWebOpen);
    EXPECT_EQ(moves(), std::vector<std::string>{"dialog http://typed.example/"});

    // Worlds: the universe host, where zelnik-server serves its objects:
    // the port of the world's object path when it names that host.
    menu_handle(kCommandWebWorlds);
    attribute_set(attr_object_path, "LOCALHOST:4321/zk");
    menu_handle(kCommandWebWorlds);
    attribute_set(attr_object_path, "http://objects.example:4321/zk");
    menu_handle(kCommandWebWorlds);
    attributes_clear();
    EXPECT_EQ(moves(), (std::vector<std::string>{"navigate http://localhost:5680/misc/zk.htm",
                                                 "navigate http://LOCALHOST:4321/misc/zk.htm",
                                                 "navigate http://localhost:5680/misc/zk.htm"}));

    // Closed again: the pane, its status pane and its commands go.
    menu_handle(kCommandShowWeb);
    EXPECT_EQ(moves(), std::vector<std::string>{"hide"});
    EXPECT_TRUE(ui_.panes.empty());
    EXPECT_EQ(settings_get_int("show", "web"), 0);
    for (int c : {134, 135, 136, 137, 138}) EXPECT_FALSE(enabled(c)) << c;
    EXPECT_TRUE(enabled(139));

    // A pane that cannot be made says so and stays closed.
    ui_.web_can_show = false;
    menu_handle(kCommandShowWeb);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].text, "Unable to create web browser");
    EXPECT_FALSE(web_shown());
    EXPECT_EQ(settings_get_int("show", "web"), 0);
}

TEST_F(WebShownAtStart, NavigationsAreDecidedByWhoAsksAndWhere) {
    ASSERT_TRUE(ui_.web_pane);
    moves();
    const struct {
        const char* address;
        bool clicked, main_frame;
        WebVerdict verdict;
        const char* teleport;  // queued, or null
    } rows[] = {
        {"http://localhost/cgi-bin/teleport?lagoon_10N_5W", true, true, WebVerdict::refuse, "teleport lagoon 10N 5W"},
        {"http://LocalHost:8080/cgi-bin/teleport?zk_1.5S_2E_90", true, true, WebVerdict::refuse, "teleport zk 1.5S 2E 90"},
        {"https://www.zelnik.net/cgi-bin/teleport?lagoon", true, true, WebVerdict::refuse, "teleport lagoon"},
        // A page that moves by itself, or a frame, teleports nobody.
        {"http://localhost/cgi-bin/teleport?lagoon_1N_1W", false, true, WebVerdict::refuse, nullptr},
        {"http://localhost/cgi-bin/teleport?lagoon_1N_1W", true, false, WebVerdict::refuse, nullptr},
        // Other hosts and folders are ordinary pages.
        {"http://localhost@elsewhere.example/cgi-bin/teleport?x_1N", true, true, WebVerdict::allow, nullptr},
        {"http://localhost/scripts/teleport?x_1N", true, true, WebVerdict::allow, nullptr},
        {"file:///etc/passwd", true, true, WebVerdict::refuse, nullptr},
        {"javascript:alert(1)", true, true, WebVerdict::refuse, nullptr},
        {"data:text/html,hello", false, true, WebVerdict::refuse, nullptr},
        {"about:blank", false, false, WebVerdict::refuse, nullptr},
        {"http://frame.example/ad", false, false, WebVerdict::allow, nullptr},
        {"https://page.example/a?b_c", false, true, WebVerdict::allow, nullptr},
    };
    size_t queued = 0;
    std::vector<std::string> expected;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.address);
        const std::string last = web_last_address();
        ui_.web_loading = false;
        web_update();  // Stop off before each
        EXPECT_EQ(web_navigation(r.address, r.clicked, r.main_frame), r.verdict);
        if (r.teleport) expected.push_back(r.teleport), ++queued;
        EXPECT_EQ(behavior_queued(), queued);
        // Only a main-frame page that is followed becomes the last address
        // and turns Stop on.
        const bool followed = r.verdict == WebVerdict::allow && r.main_frame;
        EXPECT_EQ(web_last_address(), followed ? std::string(r.address) : last);
        EXPECT_EQ(enabled(136), followed);
    }
    EXPECT_EQ(teleports(), expected);
    EXPECT_TRUE(moves().empty());

    // Asked for by a create clause, a teleport address is refused quietly;
    // asked for by the user, it teleports and the page stays.
    web_open("localhost/cgi-bin/teleport?lagoon_2N_2W", true);
    EXPECT_EQ(behavior_queued(), queued);
    web_open("localhost/cgi-bin/teleport?lagoon_2N_2W", false);
    EXPECT_EQ(behavior_queued(), queued + 1);
    EXPECT_EQ(teleports().back(), "teleport lagoon 2N 2W");
    EXPECT_TRUE(moves().empty());

    // The pane's own moves pass whatever they show.
    WebVerdict during = WebVerdict::refuse;
    ui_.during_web_move = [&] { during = web_navigation("file:///anything", false); };
    menu_handle(kCommandWebBack);
    EXPECT_EQ(during, WebVerdict::allow);
    ui_.during_web_move = nullptr;
    moves();
    EXPECT_EQ(web_navigation("file:///anything", false), WebVerdict::refuse);

    // The help pages: shown in the pane, links between them followed, no
    // file beside or above them.
    const std::string help = "file://" + dir_.path() + "/help/";
    EXPECT_TRUE(web_show_local(help + "index.html"));
    EXPECT_EQ(moves(), std::vector<std::string>{"navigate " + help + "index.html"});
    EXPECT_EQ(web_navigation(help + "keys.html", true), WebVerdict::allow);
    EXPECT_EQ(web_navigation(help + "../zelnik.ini", true), WebVerdict::refuse);
    EXPECT_EQ(web_navigation("file://" + dir_.path() + "/zelnik.ini", true), WebVerdict::refuse);
    menu_handle(kCommandShowWeb);
    EXPECT_FALSE(web_show_local(help + "index.html"));
}

}  // namespace
