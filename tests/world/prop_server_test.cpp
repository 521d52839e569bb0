// The browser's world-server connection against the real zelnik-server
// world service: both sides agree on every request and reply layout.
#include <gtest/gtest.h>

#include <algorithm>
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

struct Cached {
    int number;
    uint32_t owner;
    std::string model, action;
    double x, y, z;
    float yaw;
};

std::vector<Cached> cached(int16_t x, int16_t z) {
    std::vector<Cached> out;
    cell_start(x, z);
    object* o = nullptr;
    while (cell_next(&o)) {
        out.push_back({o->number, o->owner, o->model_name, o->action, o->x, o->y, o->z, o->yaw});
        object_destroy(o);
    }
    return out;
}

struct AttributeReply {
    int calls = 0;
    int code = -1;
    std::string list;
};
AttributeReply attribute_reply;

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
    void TearDown() override {
        env_.reset();
        thread_.reset();
        server_.reset();
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
    attribute_reply = AttributeReply{};
    ASSERT_EQ(prop_attributes_get([](const uint8_t* body, size_t length, int code) {
                  ++attribute_reply.calls;
                  attribute_reply.code = code;
                  if (body) attribute_reply.list.assign(reinterpret_cast<const char*>(body), length);
              }),
              0);
    ASSERT_TRUE(settle());
    ASSERT_EQ(attribute_reply.calls, 1);
    EXPECT_EQ(attribute_reply.code, 0);
    EXPECT_NE(attribute_reply.list.find(std::string("\x00\x05Hello", 7)), std::string::npos);
    EXPECT_NE(attribute_reply.list.find(std::string("\x10\x02zk", 4)), std::string::npos);
}

TEST_F(RealServer, ManyObjectsInOneCellComeThroughABusyCell) {
    // As many as the server lets into one cell, with texts that take the
    // cell well past the browser's first buffer.
    int built = 0;
    for (int i = 0; i < 60; ++i) {
        object* o = object_create(4.0 + i / 100.0, 0, 4.5, 0, "m" + std::to_string(i), "", "", 0, kOwner, false, 0);
        ASSERT_EQ(prop_object_add(o), 0);
        object_destroy(o);
    }
    ASSERT_TRUE(settle());
    built = static_cast<int>(store_.object_count());
    ASSERT_GT(built, 40);
    ASSERT_TRUE(query());
    EXPECT_EQ(static_cast<int>(cached(4, 4).size()), built);
    EXPECT_GT(cell_work_length(), cell_buffer_initial);
    // The rest were refused as a full area, each with its cell refreshed.
    EXPECT_EQ(static_cast<int>(BrowserEnv::seen.console.size()), 60 - built);
    ASSERT_LT(built, 60);
    EXPECT_EQ(BrowserEnv::seen.console.back(),
              "Building Inspector: Try building somewhere else because this area is full");
}

}  // namespace
