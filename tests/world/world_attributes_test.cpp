#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/wire.h"
#include "world/world.h"

using namespace zk;
using zk::test::Wire;

namespace {

std::string entry(int index, const std::string& value) { return Wire().u8(index).str(value).s(); }

// From a buffer of the list's exact size, with no terminator to read past.
void decode(const std::string& list) {
    const std::vector<uint8_t> exact(list.begin(), list.end());
    attributes_decode(exact.data(), exact.size());
}

}  // namespace

TEST(Attributes, ADefaultIsStoredOnlyOnceSomethingElseWas) {
    attributes_clear();
    EXPECT_EQ(world_attribute(99), "");
    const std::string title = attribute_default(attr_title);
    attribute_set(attr_title, title);
    EXPECT_FALSE(attribute_stored(attr_title));
    EXPECT_EQ(attributes_encode(), "");
    attribute_set(attr_title, "Harbour");
    EXPECT_TRUE(attribute_stored(attr_title));
    attribute_set(attr_title, title);
    EXPECT_TRUE(attribute_stored(attr_title));
    EXPECT_EQ(attributes_encode(), entry(0, title));
}

TEST(Attributes, EncodingSkipsTheComputedOnesAndDecodingReplacesEverything) {
    attributes_clear();
    decode(entry(0, "Town") + entry(14, "Y") + entry(16, "town") + entry(17, "Y") + entry(21, "5") + entry(8, "*") +
           entry(40, "ignored") + entry(200, "ignored too"));
    EXPECT_EQ(world_attribute(attr_title), "Town");
    EXPECT_EQ(world_attribute(attr_may_change), "Y");
    EXPECT_EQ(world_attribute(attr_world_name), "town");
    EXPECT_EQ(attributes_encode(), entry(0, "Town") + entry(8, "*")) << "14, 16, 17 and 21 are never sent";

    decode(entry(2, "grass"));
    EXPECT_EQ(world_attribute(attr_title), attribute_default(attr_title)) << "decoding clears what was stored";
    EXPECT_EQ(world_attribute(attr_ground), "grass");

    // A cut entry ends the list; what came before stands.
    decode(entry(0, "Kept") + Wire().u8(1).u8(0x50).text("short").s());
    EXPECT_EQ(world_attribute(attr_title), "Kept");
    EXPECT_EQ(world_attribute(attr_backdrop), "");
    decode(std::string("\x05", 1));
    EXPECT_EQ(world_attribute(attr_refresh), attribute_default(attr_refresh));
}
