// Entering worlds against a real universe and world servers on loopback.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "app/startup.h"
#include "core/log.h"
#include "art/chunk.h"
#include "art/download.h"
#include "art/zip.h"
#include "net/login.h"
#include "net/peer.h"
#include "net/resolve.h"
#include "net/universe.h"
#include "people/console.h"
#include "server/citizens.h"
#include "server/universe_server.h"
#include "server/world_server.h"
#include "server/world_store.h"
#include "support/fake_dialogs.h"
#include "support/server_harness.h"
#include "world/browser_env.h"
#include "world/world.h"

using namespace zk;
using zk::test::TempDir;

namespace {

constexpr uint32_t kOwner = 5;
const std::string kWelcome = "Switchboard Operator: Welcome to \"Zed Town\"";

long count(const std::string& line) { return std::count(console_recent().begin(), console_recent().end(), line); }

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
        test::universe_settings(dir_.file("prog"), "127.0.0.1", universe_->port());
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
        chunk_term();
        download_term();
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
    // Runs the server connections until `done`, for five seconds at most.
    static bool until(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            prop_update();
            universe_update();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    static bool settle() {
        return until([] { return !world_attributes_pending(); });
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

// The first entry asks the universe and the world; another one shows the
// cached title and welcome at once, and the world's reply applies what
// changed meanwhile.
TEST_F(WorldEntry, EnteringAgainShowsTheCacheAtOnceAndThenTheReply) {
    // Bad names answer 1 without traffic.
    const uint64_t frames = universe_frames_received();
    for (const char* name : {"zk.example", "host:5670", ""}) EXPECT_EQ(world_enter(name, 1), 1) << name;
    EXPECT_EQ(universe_frames_received(), frames);
    EXPECT_EQ(world_enter("atlantis", 1), 27) << "not running";
    EXPECT_EQ(world_name(), "");

    ASSERT_EQ(world_enter("zk", 1), 0);
    EXPECT_TRUE(world_attributes_pending());
    ASSERT_TRUE(settle());
    EXPECT_EQ(world_title(), "Zed Town");
    EXPECT_EQ(ui_.fake.title.rfind("Zed Town at ", 0), 0u) << ui_.fake.title;
    EXPECT_EQ(count(kWelcome), 1);
    EXPECT_EQ(world_enter("zk", 1), 0) << "the current world again does nothing";
    EXPECT_FALSE(world_attributes_pending());
    ASSERT_EQ(cell_sector_set_timestamp(0, 0, 0x01020304u), 1);

    ASSERT_EQ(world_enter("lagoon", 1), 0);
    ASSERT_TRUE(settle());

    stores_[0]->set_attributes({{0, "Zed Town"}, {8, "*"}, {19, "epoch-2"}});
    ASSERT_EQ(world_enter("zk", 1), 0);
    EXPECT_EQ(universe_->request_count(24), 3u) << "atlantis, zk and lagoon: each looked up once per run";
    EXPECT_EQ(world_title(), "Zed Town") << "at once, from the cache";
    EXPECT_EQ(count(kWelcome), 2);
    EXPECT_EQ(cell_sector_timestamp(0, 0), 0x01020304u) << "the cached epoch is still the old one";
    ASSERT_TRUE(settle());
    EXPECT_EQ(count(kWelcome), 2) << "not again on the reply";
    EXPECT_EQ(cell_sector_timestamp(0, 0), 0u) << "the server's new epoch emptied the cache";

    ASSERT_EQ(world_enter("closed", 1), 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(count("Switchboard Operator: Sorry, you are not allowed to enter \"closed\""), 1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(world_name(), "zk") << "refused: back where the user came from";

    // Avatars above 250 need a public speaker.
    world_set_avatar(251);
    EXPECT_EQ(world_avatar(), 0);
    attribute_set(attr_public_speaker, "Y");
    EXPECT_EQ(world_avatar(), 251);
}

TEST_F(WorldEntry, AWorldCallingItselfByAnotherNameFillsOnlyItsOwnCaches) {
    server::WorldObject planted;
    planted.model = "planted";
    ASSERT_GE(stores_[3]->add(1, 1, planted), 0);
    ASSERT_EQ(world_enter("evil", 1), 0);
    ASSERT_TRUE(settle());
    ASSERT_EQ(world_title(), "Evil Town");
    ASSERT_TRUE(until([] { return test::cached(1, 1).size() == 1; })) << "the world's own cell arrived";

    ASSERT_EQ(world_enter("zk", 1), 0);
    EXPECT_FALSE(world_attributes_known()) << "nothing cached for zk yet";
    EXPECT_EQ(world_title(), "Tessaly");
    EXPECT_EQ(world_attribute(attr_home_page), "");
    EXPECT_EQ(world_attribute(attr_object_path), attribute_default(attr_object_path));
    EXPECT_TRUE(test::cached(1, 1).empty());
    ASSERT_TRUE(settle());
    EXPECT_EQ(world_title(), "Zed Town");
    EXPECT_TRUE(test::cached(1, 1).empty());
}

TEST_F(WorldEntry, OthersSeeTheOptionsReadOnlyAndTheOwnerSavesWhatDiffersFromTheDefaults) {
    stores_[1]->set_attributes({{0, "The Lagoon"}, {8, "*"}, {6, "* "}});  // not quite everybody
    ASSERT_EQ(world_enter("lagoon", 1), 0);
    ASSERT_TRUE(settle());
    {
        WorldOptionsDialog dialog;
        ASSERT_TRUE(until([&] { return dialog.ready(); }));
        EXPECT_EQ(dialog.window_title(), "World Options (read only)");
        EXPECT_FALSE(dialog.editable());
        WorldOptionsFields f = dialog.fields();
        EXPECT_EQ(f.enter + "|" + f.build + "|" + f.eminent_domain, "Everybody|Restricted|Nobody");
        EXPECT_TRUE(dialog.ok(f));
        EXPECT_FALSE(dialog.sent()) << "a read-only window sends nothing";
    }
    identity_set("Olive", "pw", kOwner);
    stores_[1]->set_attributes({});
    WorldOptionsDialog dialog;
    ASSERT_TRUE(until([&] { return dialog.ready(); }));
    ASSERT_TRUE(dialog.editable());
    WorldOptionsFields f = dialog.fields();
    EXPECT_EQ(f.enter, "") << "the owner sees the raw lists";
    EXPECT_TRUE(dialog.ok(f));
    EXPECT_FALSE(dialog.sent()) << "all defaults: no attribute write";
    ASSERT_TRUE(settle());
    f.title = "Olive's Lagoon";
    f.enter = "*";
    f.blue = 300;
    f.object_password = "lanternfish";
    EXPECT_TRUE(dialog.ok(f));
    EXPECT_TRUE(dialog.sent());
    ASSERT_TRUE(settle());
    auto stored = stores_[1]->attributes();
    EXPECT_EQ(stored[0], "Olive's Lagoon");
    EXPECT_EQ(stored[8], "*");
    EXPECT_EQ(stored[13], "255") << "a colour is kept within 0..255";
    EXPECT_NE(stored[22], "lanternfish") << "the password travels enciphered";
    EXPECT_STREQ(zip_password(), "lanternfish");
    EXPECT_EQ(world_title(), "Olive's Lagoon") << "the fresh read applied it";
}
