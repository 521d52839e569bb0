// The browser's world-server connection against the real zelnik-server
// world service: both sides agree on every request and reply layout.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/world_server.h"
#include "server/world_store.h"
#include "support/server_harness.h"
#include "world/browser_env.h"

using namespace zk;
using namespace zk::test;

namespace {

constexpr uint32_t kOwner = 1;

// The attribute read's callback calls: code and list.
std::vector<std::pair<int, std::string>> attribute_replies;

class RealServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(store_.open(server_dir_.file("world.db")), "");
        server::WorldConfig config;
        config.name = "zk";
        config.owner = kOwner;
        config.radius_cells = 1000;
        server_ = std::make_unique<server::WorldServer>(store_, config);
        ASSERT_EQ(server_->listen_on("127.0.0.1", 0), "");
        thread_ = std::make_unique<ServiceThread>(std::vector<server::Service*>{server_.get()});
        env_ = std::make_unique<BrowserEnv>(server_->port());
        BrowserEnv::citizen = kOwner;
        BrowserEnv::known = false;
        prop_init();
    }

    static bool settle() {
        return BrowserEnv::frames_until([] { return prop_queue_length() == 0 && prop_state() == 1; });
    }
    // One neighbourhood query of the user's sector, run to its end.
    static bool query() {
        BrowserEnv::known = true;
        BrowserEnv::now += prop_query_interval_ms + 1;
        prop_update();
        const bool done = settle();
        BrowserEnv::known = false;
        return done;
    }

    TempDir server_dir_;
    server::WorldStore store_;
    std::unique_ptr<server::WorldServer> server_;
    std::unique_ptr<ServiceThread> thread_;
    std::unique_ptr<BrowserEnv> env_;
};

TEST_F(RealServer, BuildQueryChangeAndDeleteAgreeOnTheWire) {
    object* o = object_create(1.5, 0.25, 2.125, 30.0f, "tree01", "an oak", "create solid off", 0, kOwner, false, 0);
    ASSERT_EQ(prop_object_add(o), 0);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(BrowserEnv::seen.console.empty());
    EXPECT_TRUE(BrowserEnv::seen.changed.empty());
    EXPECT_EQ(store_.object_count(), 1u);

    ASSERT_TRUE(query());
    auto objects = cached(1, 2);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].model, "tree01");
    EXPECT_EQ(objects[0].action, "create solid off");
    EXPECT_EQ(objects[0].owner, kOwner);
    EXPECT_DOUBLE_EQ(objects[0].x, 1.5);
    EXPECT_DOUBLE_EQ(objects[0].y, 0.25);
    EXPECT_DOUBLE_EQ(objects[0].z, 2.125);
    EXPECT_FLOAT_EQ(objects[0].yaw, 30.0f);
    const uint32_t stamp = cell_sector_timestamp(0, 0);
    EXPECT_NE(stamp, 0u);
    EXPECT_EQ(BrowserEnv::seen.changed, (std::vector<std::pair<int, int>>{{1, 2}}));

    // Up to date: the server sends nothing, the cache stays.
    BrowserEnv::seen.changed.clear();
    ASSERT_TRUE(query());
    EXPECT_TRUE(BrowserEnv::seen.changed.empty());
    EXPECT_EQ(cached(1, 2).size(), 1u);

    // Moved to the next cell: the old one empties, the new one fills.
    o->x = 3.75;
    o->number = static_cast<uint8_t>(objects[0].number);
    ASSERT_EQ(prop_object_change(1, 2, o), 0);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(BrowserEnv::seen.console.empty());
    ASSERT_TRUE(query());
    EXPECT_TRUE(cached(1, 2).empty());
    auto moved = cached(3, 2);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_DOUBLE_EQ(moved[0].x, 3.75);
    EXPECT_NE(cell_sector_timestamp(0, 0), stamp);

    // A tourist may not demolish it; its owner may.
    BrowserEnv::citizen = 0;
    ASSERT_EQ(prop_object_delete(3, 2, static_cast<uint8_t>(moved[0].number)), 0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(BrowserEnv::seen.console,
              std::vector<std::string>{"Building Inspector: You are only allowed to demolish your own property"});
    EXPECT_EQ(BrowserEnv::seen.changed.back(), (std::pair<int, int>{3, 2}));
    BrowserEnv::citizen = kOwner;
    ASSERT_EQ(prop_object_delete(3, 2, static_cast<uint8_t>(moved[0].number)), 0);
    ASSERT_TRUE(settle());
    ASSERT_TRUE(query());
    EXPECT_TRUE(cached(3, 2).empty());
    EXPECT_EQ(store_.object_count(), 0u);
    object_destroy(o);
}

TEST_F(RealServer, AttributesGoBothWays) {
    const uint8_t list[] = {0, 5, 'H', 'e', 'l', 'l', 'o'};
    ASSERT_EQ(prop_attributes_set(list, sizeof list), 0);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(BrowserEnv::seen.console.empty());
    attribute_replies.clear();
    ASSERT_EQ(prop_attributes_get([](const uint8_t* body, size_t length, int code) {
                  attribute_replies.emplace_back(code, body ? std::string(body, body + length) : "");
              }),
              0);
    ASSERT_TRUE(settle());
    ASSERT_EQ(attribute_replies.size(), 1u);
    EXPECT_EQ(attribute_replies[0].first, 0);
    EXPECT_NE(attribute_replies[0].second.find(std::string("\x00\x05Hello", 7)), std::string::npos);
    EXPECT_NE(attribute_replies[0].second.find(std::string("\x10\x02zk", 4)), std::string::npos);
}

}  // namespace
