// Login, tourists, immigration and telegrams against a real universe server
// on loopback, with the dialogs scripted.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "app/startup.h"
#include "core/log.h"
#include "core/settings.h"
#include "common/messages.h"
#include "net/login.h"
#include "net/resolve.h"
#include "net/telegram.h"
#include "net/universe.h"
#include "server/citizens.h"
#include "server/universe_server.h"
#include "support/fake_dialogs.h"
#include "support/fake_ui.h"
#include "support/process.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"
#include "upgrade/about.h"

using namespace zk;
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override { start_server(config()); }
    virtual server::UniverseConfig config() { return {162, 162, false}; }
    void start_server(server::UniverseConfig config) {
        ASSERT_EQ(citizens_.open(dir_.file("universe.db")), "");
        server_ = std::make_unique<server::UniverseServer>(citizens_, config);
        ASSERT_EQ(server_->listen_on("127.0.0.1", 0), "");
        thread_ = std::make_unique<test::ServiceThread>(std::vector<server::Service*>{server_.get()});
        ASSERT_EQ(citizens_.add("Ann", "pass1", "ann@example.org") > 0, true);
        ASSERT_EQ(citizens_.add("Bert", "pass2", "bert@example.org") > 0, true);
    }
    // Settings of the browser, then its universe connection.
    void browser(const std::string& settings, const std::string& host = "127.0.0.1") {
        old_ = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        write_file(dir_.file("zelnik.ini"),
                   "[universe]\nhost=" + host + "\nport=" + std::to_string(server_->port()) + "\n" + settings);
        settings_set_directory(dir_.path());
        startup_bind_hooks();
        log_close();
        log_init();
        ASSERT_EQ(resolve_init(), 0);
        universe_init();
        about_init();
        identity_clear();
    }
    // The browser with Ann stored as its citizen.
    void stored_ann(const std::string& pass = "pass1") {
        browser("[citizen]\nname=Ann\n");
        settings_put_secret("citizen", "pass", pass);
    }
    // Runs the universe task until `done` or two seconds pass.
    static void pump(const std::function<bool()>& done) {
        for (int i = 0; i < 400 && !done(); ++i) {
            universe_update();
            usleep(5000);
        }
    }
    void TearDown() override {
        universe_term();
        resolve_term();
        universe_hooks() = UniverseHooks{};
        identity_clear();
        log_close();
        thread_.reset();
        if (old_) {
            EXPECT_EQ(chdir(old_), 0);
            free(old_);
        }
    }

    TempDir dir_;
    server::Citizens citizens_;
    std::unique_ptr<server::UniverseServer> server_;
    std::unique_ptr<test::ServiceThread> thread_;
    test::ScopedFakeUi ui_;
    test::ScopedFakeDialogs dialogs_;
    char* old_ = nullptr;
};

class MandatoryUpgrade : public LoginTest {
    server::UniverseConfig config() override { return {163, 170, false}; }
};
class OptionalUpgrade : public LoginTest {
    server::UniverseConfig config() override { return {150, 170, true}; }
};

}  // namespace

TEST_F(LoginTest, AStoredCitizenLogsInWithoutADialog) {
    browser("[citizen]\nname=Ann\npassword=pass1\n[debug]\nall=1\n");
    EXPECT_EQ(login_init(), 0);
    EXPECT_EQ(dialogs_.fake.logins, 0);
    EXPECT_EQ(dialogs_.fake.tourists, 0);
    EXPECT_EQ(identity_name(), "Ann");
    EXPECT_EQ(identity_citizen(), citizens_.by_name("Ann")->number);
    EXPECT_FALSE(about_view().skip) << "Skip and Cancel go once logged in";

    // The installer's plain password was moved into `pass`, enciphered, and
    // appears nowhere in plain text.
    EXPECT_EQ(settings_get_string("citizen", "password"), "");
    EXPECT_EQ(settings_get_secret("citizen", "pass"), "pass1");
    log_close();
    EXPECT_EQ(read_file(dir_.file("zelnik.ini")).find("pass1"), std::string::npos);
    const std::string log = read_file(dir_.file("zelnik.log"));
    EXPECT_EQ(log.find("pass1"), std::string::npos);
    EXPECT_NE(log.find("login_init"), std::string::npos);
    EXPECT_NE(log.find("Sending universe message: code 30, length 11\n"), std::string::npos);
}

TEST_F(LoginTest, AWrongPasswordOpensTheLoginDialogWithItsReason) {
    stored_ann("wrong");
    dialogs_.fake.login_script = [&](LoginController& c) {
        EXPECT_EQ(c.initial_status(), "The password you gave is incorrect.");
        EXPECT_EQ(c.initial_name(), "Ann");
        DialogStep again = c.ok("Ann", "still wrong");
        EXPECT_FALSE(again.close);
        EXPECT_EQ(again.status, "The password you gave is incorrect.");
        EXPECT_EQ(c.ok("Nobody", "pass1").status, "There is no citizen with the name \"Nobody\"");
        return c.ok("Ann", "pass1").close ? 0 : 1;
    };
    EXPECT_EQ(login_init(), 0);
    EXPECT_EQ(identity_name(), "Ann");
}

TEST_F(LoginTest, LoggingInAsASecondCitizenKeepsTheStoredOne) {
    stored_ann();
    ASSERT_EQ(login_init(), 0);
    dialogs_.fake.login_script = [](LoginController& c) { return c.ok("Bert", "pass2").close ? 0 : 1; };
    EXPECT_EQ(login(), 0);
    EXPECT_EQ(identity_name(), "Bert");
    EXPECT_EQ(settings_get_string("citizen", "name"), "Ann");
    EXPECT_EQ(settings_get_secret("citizen", "pass"), "pass1");
}

TEST_F(LoginTest, TouristNamesAreCheckedInOrder) {
    EXPECT_EQ(login_tourist_name_check("Abcdefghijklmno-"), 0) << "only the first 15 characters count";
    const std::pair<const char*, int> names[] = {
        {" Ann", 69}, {"Ann ", 70}, {"A", 72}, {"Ann  Lee", 69}, {"Ann-Lee", 68}};
    browser("");
    dialogs_.fake.tourist_script = [&](TouristController& c) {
        for (auto [name, message] : names) {
            EXPECT_EQ(login_tourist_name_check(name), message) << name;
            EXPECT_EQ(c.ok(name).status, load_message(message)) << name;
        }
        return c.ok("Ann Lee").close ? 0 : 1;
    };
    EXPECT_EQ(login_init(), 0);
    EXPECT_EQ(identity_name(), "\"Ann Lee\"");
    EXPECT_TRUE(identity_is_tourist());
    EXPECT_EQ(identity_citizen(), 0u);
    EXPECT_EQ(settings_get_string("citizen", "tourist"), "Ann Lee");
}

TEST_F(LoginTest, ImmigrationReportsTheServersReasonsAndSetsTheIdentity) {
    browser("");
    dialogs_.fake.tourist_script = [](TouristController&) { return kTouristImmigrate; };
    dialogs_.fake.immigration_script = [&](ImmigrationController& c) {
        EXPECT_TRUE(c.ok_enabled());
        EXPECT_EQ(c.ok({"Cleo", "pass3", "pass4", "cleo@example.org"}).status, load_message(153));
        EXPECT_EQ(c.ok({"ann", "pass3", "pass3", "cleo@example.org"}).status, load_message(75, "ann"));
        return c.ok({"Cleo", "pass3", "pass3", "cleo@example.org"}).close ? 0 : 1;
    };
    EXPECT_EQ(login_init(), 0);
    EXPECT_EQ(identity_name(), "Cleo");
    EXPECT_EQ(identity_citizen(), citizens_.by_name("Cleo")->number) << "the real number, not a stale one";
    EXPECT_EQ(settings_get_string("citizen", "name"), "Cleo");
    EXPECT_EQ(settings_get_secret("citizen", "pass"), "pass3");
}

TEST_F(LoginTest, ChangingAttributesFetchesTheAddressFirst) {
    stored_ann();
    ASSERT_EQ(login_init(), 0);
    dialogs_.fake.immigration_script = [&](ImmigrationController& c) {
        EXPECT_FALSE(c.ok_enabled());
        EXPECT_EQ(c.initial_status(), load_message(136));
        EXPECT_EQ(c.initial_fields().name, "Ann");
        ImmigrationController::Update u;
        EXPECT_TRUE(test::wait_until([&] { return (u = c.poll()).changed; }, 2000));
        EXPECT_TRUE(u.ok_enabled);
        EXPECT_EQ(u.email, "ann@example.org");
        return c.ok({"Annie", "pass9", "pass9", "annie@example.org"}).close ? 0 : 1;
    };
    EXPECT_EQ(immigrate(1), 0);
    EXPECT_EQ(identity_name(), "Annie");
    EXPECT_EQ(settings_get_string("citizen", "name"), "Annie") << "the stored citizen was the one changed";
    EXPECT_EQ(settings_get_secret("citizen", "pass"), "pass9");
}

TEST_F(LoginTest, TelegramsGoOutAndComeBackAsAWaitingNotice) {
    stored_ann();
    ASSERT_EQ(login_init(), 0);
    telegram_init();
    std::string unknown;
    dialogs_.fake.contact_script = [&](ContactController& c) {
        EXPECT_EQ(c.send("Ghost", "hello").status, "");
        test::wait_until([&] { return !(unknown = c.poll()).empty(); }, 2000);
        // To herself, so the notice comes back on this connection.
        c.send("Ann", "Remember the picnic");
        pump(telegram_waiting);
    };
    telegram_contact();
    EXPECT_EQ(unknown, load_message(58, 3));
    ASSERT_TRUE(telegram_waiting());
    telegram_read();
    EXPECT_FALSE(telegram_waiting());
    pump([&] { return !dialogs_.fake.telegrams.empty(); });
    using Telegram = std::pair<std::string, std::string>;
    EXPECT_EQ(dialogs_.fake.telegrams, (std::vector<Telegram>{{"Ann", "Remember the picnic"}}));
}

TEST_F(LoginTest, SkipRunsStandaloneAndCancelEnds) {
    // A universe that cannot be resolved: the user is told and chooses.
    browser("", "no-such-host.invalid");
    dialogs_.fake.about_buttons = {AboutButton::none, AboutButton::skip};
    EXPECT_EQ(login_init(), 0);
    ASSERT_EQ(ui_.fake.boxes.size(), 1u);
    EXPECT_EQ(ui_.fake.boxes[0].text, load_message(79));
    EXPECT_FALSE(identity_present());
    EXPECT_EQ(identity_name(), "All Alone");

    dialogs_.fake.about_buttons = {AboutButton::cancel};
    EXPECT_NE(login_init(), 0);
}

TEST_F(MandatoryUpgrade, AnOutdatedBuildMustUpgradeWithoutSkip) {
    stored_ann();
    // Cancel: the browser ends rather than run an outdated build.
    EXPECT_NE(login_init(), 0);
    const AboutView& v = about_view();
    EXPECT_EQ(v.message, load_message(48, product_name()));
    EXPECT_TRUE(v.ok);
    EXPECT_FALSE(v.skip);
    EXPECT_FALSE(identity_present());
}

TEST_F(OptionalUpgrade, ANewerBuildIsOfferedSkipGoesOnAndOkStartsTheUpgradeWithTheBetaKit) {
    stored_ann();
    dialogs_.fake.about_buttons = {AboutButton::skip};
    EXPECT_EQ(login_init(), 0);
    bool offered = false;
    for (const AboutView& v : dialogs_.fake.about_views)
        if (v.message == load_message(49, product_name()) && v.skip && v.ok) offered = true;
    EXPECT_TRUE(offered);
    EXPECT_EQ(identity_name(), "Ann");

    identity_clear();
    // A stand-in upgrade program that records how it was started.
    write_file(dir_.file("upgrade"), "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/upgrade.args\"\n");
    chmod(dir_.file("upgrade").c_str(), 0755);
    dialogs_.fake.about_buttons = {AboutButton::ok};
    EXPECT_NE(login_init(), 0) << "the browser exits for the upgrade";
    ASSERT_TRUE(test::wait_until([&] { return !read_file(dir_.file("upgrade.args")).empty(); }, 5000));
    EXPECT_EQ(read_file(dir_.file("upgrade.args")),
              "127.0.0.1:" + std::to_string(server_->port() + 10) + " upgrade/beta/kit162.rtp zelnik\n");
}
