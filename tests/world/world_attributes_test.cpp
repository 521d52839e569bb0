#include <gtest/gtest.h>

#include <string>

#include "world/world.h"

using namespace zk;

namespace {

std::string entry(int index, const std::string& value) {
    return std::string(1, static_cast<char>(index)) + std::string(1, static_cast<char>(value.size())) + value;
}

void decode(const std::string& list) {
    attributes_decode(reinterpret_cast<const uint8_t*>(list.data()), list.size());
}

}  // namespace

TEST(Attributes, DefaultsAndTheStoreNothingWhenEqualRule) {
    attributes_clear();
    EXPECT_EQ(world_attribute(attr_title), "Tessaly");
    EXPECT_EQ(world_attribute(attr_refresh), "480");
    EXPECT_EQ(world_attribute(attr_blue), "178");
    EXPECT_EQ(world_attribute(attr_world_name), "zk");
    EXPECT_EQ(world_attribute(attr_number_21), "0");
    EXPECT_EQ(world_attribute(99), "");
    attribute_set(attr_title, "Tessaly");
    EXPECT_FALSE(attribute_stored(attr_title)) << "a default is not stored";
    EXPECT_EQ(attributes_encode(), "");
    attribute_set(attr_title, "Harbour");
    EXPECT_TRUE(attribute_stored(attr_title));
    attribute_set(attr_title, "Tessaly");
    EXPECT_TRUE(attribute_stored(attr_title)) << "once stored, setting the default keeps it stored";
    EXPECT_EQ(attributes_encode(), entry(0, "Tessaly"));
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
    EXPECT_EQ(world_attribute(attr_title), "Tessaly") << "decoding clears what was stored";
    EXPECT_EQ(world_attribute(attr_ground), "grass");

    // A cut entry ends the list; what came before stands.
    std::string cut = entry(0, "Kept") + std::string("\x01\x50short", 7);
    decode(cut);
    EXPECT_EQ(world_attribute(attr_title), "Kept");
    EXPECT_EQ(world_attribute(attr_backdrop), "");
    decode(std::string("\x05", 1));
    EXPECT_EQ(world_attribute(attr_refresh), "480");
}

TEST(Attributes, RightsShowAsASummaryToOthers) {
    EXPECT_EQ(world_rights_summary(""), "Nobody");
    EXPECT_EQ(world_rights_summary("*"), "Everybody");
    EXPECT_EQ(world_rights_summary("1, 2"), "Restricted");
    EXPECT_EQ(world_rights_summary("* "), "Restricted");
}
