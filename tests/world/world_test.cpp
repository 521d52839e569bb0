// Entering worlds against a real universe and world servers on loopback.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/startup.h"
#include "core/log.h"
#include "core/settings.h"
#include "art/database.h"
#include "common/pkcipher.h"
#include "art/zip.h"
#include "net/login.h"
#include "net/resolve.h"
#include "net/universe.h"
#include "people/console.h"
#include "server/citizens.h"
#include "server/universe_server.h"
#include "server/world_server.h"
#include "server/world_store.h"
#include "support/fake_dialogs.h"
#include "support/fake_ui.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"
#include "world/cell.h"
#include "world/prop.h"
#include "world/world.h"

using namespace zk;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

constexpr uint32_t kOwner = 5;

int count(const std::string& line) {
    int n = 0;
    for (const std::string& l : console_recent()) n += l == line;
    return n;
}

class WorldEntry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(citizens_.open(dir_.file("universe.db")), "");
        universe_ = std::make_unique<server::UniverseServer>(citizens_, server::UniverseConfig{});
        ASSERT_EQ(universe_->listen_on("127.0.0.1", 0), "");
        add_world("zk", {{0, "Zed Town"}, {8, "*"}, {11, "10"}, {12, "20"}, {13, "30"}, {19, "epoch-1"}});
        add_world("lagoon", {{0, "The Lagoon"}, {8, "*"}});
        add_world("closed", {{0, "Closed"}});  // nobody may enter
        add_world("evil", {{0, "Evil Town"}, {8, "*"}, {3, "evil.example/o"}, {20, "http://evil.example/"}}, "zk");
        std::vector<server::Service*> services = {universe_.get()};
        for (auto& w : worlds_) services.push_back(w.get());
        thread_ = std::make_unique<test::ServiceThread>(services);

        old_ = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        mkdir(dir_.file("prog").c_str(), 0755);
        write_file(dir_.file("prog/zelnik.ini"),
                   "[universe]\nhost=127.0.0.1\nport=" + std::to_string(universe_->port()) + "\n");
        settings_set_directory(dir_.file("prog"));
        startup_bind_hooks();
        mkdir(dir_.file("prog/cache").c_str(), 0755);
        log_init();
        ASSERT_TRUE(database_init());
        ASSERT_EQ(resolve_init(), 0);
        universe_init();
        uint32_t minimum, current;
        uint8_t beta;
        ASSERT_EQ(universe_check_build("", "", &minimum, &current, &beta), 0) << "the universe is up";
        identity_set("\"Tester\"", "", 0);
        ASSERT_TRUE(world_init());
        ASSERT_TRUE(cell_init());
    }
    void TearDown() override {
        prop_reset();
        world_term();
        cell_term();
        universe_term();
        resolve_term();
        identity_clear();
        thread_.reset();
        EXPECT_EQ(chdir(old_), 0);
        free(old_);
    }
    // `says`: the name the world gives itself, when not its own.
    void add_world(const std::string& name, std::map<int, std::string> attributes, const std::string& says = "") {
        stores_.push_back(std::make_unique<server::WorldStore>());
        ASSERT_EQ(stores_.back()->open(dir_.file("world-" + name + ".db")), "");
        stores_.back()->set_attributes(attributes);
        server::WorldConfig config;
        config.name = says.empty() ? name : says;
        config.owner = kOwner;
        worlds_.push_back(std::make_unique<server::WorldServer>(*stores_.back(), config));
        ASSERT_EQ(worlds_.back()->listen_on("127.0.0.1", 0), "");
        universe_->add_world(name, 0x7F000001, worlds_.back()->port());
    }
    // Runs the world-server connection until the attributes arrived.
    bool settle(int ms = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            prop_update();
            universe_update();
            if (!world_attributes_pending()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    TempDir dir_;
    server::Citizens citizens_;
    std::unique_ptr<server::UniverseServer> universe_;
    std::vector<std::unique_ptr<server::WorldStore>> stores_;
    std::vector<std::unique_ptr<server::WorldServer>> worlds_;
    std::unique_ptr<test::ServiceThread> thread_;
    test::ScopedFakeUi ui_;
    test::ScopedFakeDialogs dialogs_;
    char* old_ = nullptr;
};

}  // namespace

TEST_F(WorldEntry, BadNamesAnswerOneWithoutTraffic) {
    const uint64_t frames = universe_frames_received();
    EXPECT_EQ(world_enter("zk.example", 1), 1);
    EXPECT_EQ(world_enter("host:5670", 1), 1);
    EXPECT_EQ(world_enter("", 1), 1);
    EXPECT_EQ(universe_frames_received(), frames);
    EXPECT_EQ(world_name(), "");
    EXPECT_EQ(world_enter("atlantis", 1), 27) << "not running";
    EXPECT_EQ(world_name(), "");
}

TEST_F(WorldEntry, EnteringShowsTheTitleColourAndAWelcome) {
    ASSERT_EQ(world_enter("zk", 1), 0);
    EXPECT_TRUE(world_attributes_pending());
    EXPECT_NE(world_server_address(), 0u);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(world_attributes_known());
    EXPECT_EQ(world_title(), "Zed Town");
    EXPECT_EQ(ui_.fake.title.rfind("Zed Town at ", 0), 0u) << ui_.fake.title;
    EXPECT_EQ(count("Switchboard Operator: Welcome to \"Zed Town\""), 1);
    EXPECT_EQ(world_enter("zk", 1), 0) << "the current world again does nothing";
    EXPECT_FALSE(world_attributes_pending());
}

TEST_F(WorldEntry, ASecondEntryShowsTheCachedTitleAndWelcomesOnce) {
    ASSERT_EQ(world_enter("zk", 1), 0);
    ASSERT_TRUE(settle());
    ASSERT_EQ(world_enter("lagoon", 1), 0);
    ASSERT_TRUE(settle());
    const int before = count("Switchboard Operator: Welcome to \"Zed Town\"");
    EXPECT_EQ(universe_->request_count(24), 2u);

    ASSERT_EQ(world_enter("zk", 1), 0);
    EXPECT_EQ(universe_->request_count(24), 2u) << "a world is looked up once per run";
    EXPECT_EQ(world_title(), "Zed Town") << "at once, from the cache";
    EXPECT_EQ(count("Switchboard Operator: Welcome to \"Zed Town\""), before + 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(count("Switchboard Operator: Welcome to \"Zed Town\""), before + 1) << "not again on the reply";
}

TEST_F(WorldEntry, ARefusedEntryGoesBack) {
    ASSERT_EQ(world_enter("zk", 1), 0);
    ASSERT_TRUE(settle());
    ASSERT_EQ(world_enter("closed", 1), 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(count("Switchboard Operator: Sorry, you are not allowed to enter \"closed\""), 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(world_name(), "zk") << "back where the user came from";
}

TEST_F(WorldEntry, AChangedEpochEmptiesTheCellCache) {
    ASSERT_EQ(world_enter("zk", 1), 0);
    ASSERT_TRUE(settle());
    ASSERT_EQ(cell_sector_set_timestamp(0, 0, 0x01020304u), 1);
    ASSERT_EQ(cell_sector_timestamp(0, 0), 0x01020304u);
    ASSERT_EQ(world_enter("lagoon", 1), 0);
    ASSERT_TRUE(settle());
    stores_[0]->set_attributes({{0, "Zed Town"}, {8, "*"}, {19, "epoch-2"}});
    ASSERT_EQ(world_enter("zk", 1), 0);
    EXPECT_EQ(cell_sector_timestamp(0, 0), 0x01020304u) << "the cached epoch is still the old one";
    ASSERT_TRUE(settle());
    EXPECT_EQ(cell_sector_timestamp(0, 0), 0u) << "the server's new epoch emptied the cache";
}

TEST_F(WorldEntry, TheObjectPasswordReachesTheZipReader) {
    std::string ciphered;
    PkCipher cipher(secret_key());
    for (char c : std::string("lanternfish")) ciphered.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(c))));
    stores_[1]->set_attributes({{0, "The Lagoon"}, {8, "*"}, {22, ciphered}});
    ASSERT_EQ(world_enter("lagoon", 1), 0);
    ASSERT_TRUE(settle());
    EXPECT_STREQ(zip_password(), "lanternfish");
}

TEST_F(WorldEntry, AvatarsAbove250NeedAPublicSpeaker) {
    ASSERT_EQ(world_enter("zk", 1), 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(world_avatar(), 0);
    world_set_avatar(7);
    EXPECT_EQ(world_avatar(), 7);
    world_set_avatar(251);
    EXPECT_EQ(world_avatar(), 0);
    attribute_set(attr_public_speaker, "Y");
    EXPECT_EQ(world_avatar(), 251);
}

TEST_F(WorldEntry, AWorldCallingItselfByAnotherNameFillsOnlyItsOwnCaches) {
    server::WorldObject planted;
    planted.model = "planted";
    ASSERT_GE(stores_[3]->add(1, 1, planted), 0);
    auto objects_in_cell = [] {
        int n = 0;
        cell_start(1, 1);
        for (object* o = nullptr; cell_next(&o); ++n) object_destroy(o);
        return n;
    };
    ASSERT_EQ(world_enter("evil", 1), 0);
    ASSERT_TRUE(settle());
    ASSERT_EQ(world_title(), "Evil Town");
    for (int i = 0; i < 2500 && objects_in_cell() == 0; ++i) {
        prop_update();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(objects_in_cell(), 1) << "the world's own cell arrived";

    ASSERT_EQ(world_enter("zk", 1), 0);
    EXPECT_EQ(world_name(), "zk");
    EXPECT_FALSE(world_attributes_known()) << "nothing cached for zk yet";
    EXPECT_EQ(world_title(), "Tessaly");
    EXPECT_EQ(world_attribute(attr_home_page), "");
    EXPECT_EQ(world_attribute(attr_object_path), attribute_default(attr_object_path));
    EXPECT_EQ(objects_in_cell(), 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(world_title(), "Zed Town");
    EXPECT_EQ(objects_in_cell(), 0);
}

namespace {

// Pumps the connection until the options window has its answer.
void wait_ready(WorldOptionsDialog& d) {
    for (int i = 0; i < 2500 && !d.ready(); ++i) {
        prop_update();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

TEST_F(WorldEntry, OthersSeeTheOptionsReadOnlyWithRightsSummarised) {
    stores_[1]->set_attributes({{0, "The Lagoon"}, {8, "*"}, {6, "5, 9"}});
    ASSERT_EQ(world_enter("lagoon", 1), 0);
    ASSERT_TRUE(settle());
    WorldOptionsDialog dialog;
    wait_ready(dialog);
    ASSERT_TRUE(dialog.ready());
    EXPECT_EQ(dialog.window_title(), "World Options (read only)");
    EXPECT_FALSE(dialog.editable());
    WorldOptionsFields f = dialog.fields();
    EXPECT_EQ(f.enter, "Everybody");
    EXPECT_EQ(f.build, "Restricted");
    EXPECT_EQ(f.eminent_domain, "Nobody");
    EXPECT_TRUE(dialog.ok(f));
    EXPECT_FALSE(dialog.sent()) << "a read-only window sends nothing";
}

TEST_F(WorldEntry, TheOwnerSavesOnlyWhatDiffersFromTheDefaults) {
    identity_set("Olive", "pw", kOwner);
    stores_[1]->set_attributes({});
    ASSERT_EQ(world_enter("lagoon", 1), 0);
    ASSERT_TRUE(settle());
    {
        WorldOptionsDialog dialog;
        wait_ready(dialog);
        ASSERT_TRUE(dialog.editable());
        EXPECT_EQ(dialog.window_title(), "World Options");
        WorldOptionsFields f = dialog.fields();
        EXPECT_EQ(f.enter, "") << "the owner sees the raw lists";
        EXPECT_TRUE(dialog.ok(f));
        EXPECT_FALSE(dialog.sent()) << "all defaults: no attribute write";
    }
    ASSERT_TRUE(settle());
    WorldOptionsDialog dialog;
    wait_ready(dialog);
    WorldOptionsFields f = dialog.fields();
    f.title = "Olive's Lagoon";
    f.enter = "*";
    f.blue = 300;
    EXPECT_TRUE(dialog.ok(f));
    EXPECT_TRUE(dialog.sent());
    ASSERT_TRUE(settle());
    auto stored = stores_[1]->attributes();
    EXPECT_EQ(stored[0], "Olive's Lagoon");
    EXPECT_EQ(stored[8], "*");
    EXPECT_EQ(stored[13], "255") << "a colour is kept within 0..255";
    EXPECT_EQ(world_title(), "Olive's Lagoon") << "the fresh read applied it";
}
