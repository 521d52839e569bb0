#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "common/keyed_table.h"

using namespace zk;

namespace {

struct Value {
    int number;
    char tag[12];
};

std::vector<std::string> walk(KeyedTable& t) {
    std::vector<std::string> keys;
    KeyedTable::Iterator it(t);
    while (it.next()) keys.emplace_back(reinterpret_cast<const char*>(it.key()), it.key_length());
    return keys;
}

void add(KeyedTable& t, const std::string& k, int n) {
    auto* v = t.find_or_add_as<Value>(k.data(), k.size());
    ASSERT_NE(v, nullptr);
    v->number = n;
}

}  // namespace

TEST(KeyedHash, EqualsTheBytewiseRecurrenceForEveryLength) {
    uint32_t table[256];
    for (int i = 0; i < 256; ++i) {
        unsigned char c = static_cast<unsigned char>(i);
        table[i] = keyed_hash(&c, 1);
        EXPECT_LT(table[i], 0x80000000u);
    }
    EXPECT_NE(table['a'], table['b']);
    uint32_t s = 99;
    for (size_t len = 0; len < 70; ++len) {
        std::string key;
        for (size_t i = 0; i < len; ++i) {
            s = s * 1664525u + 1013904223u;
            key.push_back(static_cast<char>(s >> 24));
        }
        uint32_t h = 0;
        for (unsigned char b : key) h = table[(h ^ b) & 255u] ^ (h >> 8);
        EXPECT_EQ(keyed_hash(key.data(), key.size()), h) << "length " << len;
        EXPECT_LT(h, 0x80000000u);
    }
}

TEST(KeyedTable, KeysAreCopiedBytesAndNewValuesStartZeroed) {
    KeyedTable t(7, sizeof(Value));
    std::string key("a\0b", 3);
    bool existed = true;
    auto* v = t.find_or_add_as<Value>(key.data(), key.size(), &existed);
    ASSERT_NE(v, nullptr);
    EXPECT_FALSE(existed);
    EXPECT_EQ(v->number, 0) << "a new value area starts zeroed";
    v->number = 1;
    add(t, "a", 2);
    add(t, "", 3);
    key[2] = 'z';  // the table holds its own copy
    const std::string original("a\0b", 3);
    EXPECT_EQ(t.find_as<Value>(original.data(), 3), v);
    EXPECT_EQ(t.find_as<Value>("a", 1)->number, 2);
    EXPECT_EQ(t.find_as<Value>("", 0)->number, 3);
    EXPECT_EQ(t.find(key.data(), 3), nullptr);
    EXPECT_EQ(t.find(original.data(), 2), nullptr);  // a prefix is another key
    EXPECT_EQ(t.size(), 3u);
}

TEST(KeyedTable, IteratesBucketsUpwardNewestFirstAndMayRemoveTheEntryItStandsOn) {
    const uint32_t buckets = 5;
    KeyedTable t(buckets, sizeof(Value));
    std::vector<std::string> keys;
    for (int i = 0; i < 40; ++i) add(t, keys.emplace_back("key" + std::to_string(i)), i);
    std::vector<std::string> before;
    for (uint32_t b = 0; b < buckets; ++b)
        for (int i = 39; i >= 0; --i)
            if (keyed_hash(keys[i].data(), keys[i].size()) % buckets == b) before.push_back(keys[i]);
    EXPECT_EQ(walk(t), before);

    // Remove every other entry met, including heads and tails of buckets.
    std::vector<std::string> seen;
    KeyedTable::Iterator it(t);
    int n = 0;
    while (it.next()) {
        seen.emplace_back(reinterpret_cast<const char*>(it.key()), it.key_length());
        if (n++ % 2 == 0) it.remove_current();
    }
    EXPECT_EQ(seen, before) << "removal must not skip or repeat entries";
    EXPECT_EQ(t.size(), 20u);
    std::vector<std::string> kept;
    for (size_t i = 1; i < before.size(); i += 2) kept.push_back(before[i]);
    EXPECT_EQ(walk(t), kept);

    // Removing everything while walking empties the table.
    KeyedTable::Iterator all(t);
    while (all.next()) all.remove_current();
    EXPECT_EQ(t.size(), 0u);
    EXPECT_TRUE(walk(t).empty());
}

TEST(KeyedTable, AgreesWithAReferenceMapUnderMixedOperations) {
    KeyedTable t(127, sizeof(int));
    std::map<std::string, int> ref;
    uint32_t s = 12345;
    for (int step = 0; step < 20000; ++step) {
        s = s * 1103515245u + 12345u;
        std::string k = "k" + std::to_string((s >> 8) % 500);
        if ((s >> 20) % 3 == 0) {
            EXPECT_EQ(t.remove(k.data(), k.size()), ref.erase(k) == 1);
        } else {
            bool existed = false;
            int* v = t.find_or_add_as<int>(k.data(), k.size(), &existed);
            EXPECT_EQ(existed, ref.count(k) == 1);
            *v = step;
            ref[k] = step;
        }
    }
    EXPECT_EQ(t.size(), ref.size());
    for (auto& [k, v] : ref) {
        int* got = t.find_as<int>(k.data(), k.size());
        ASSERT_NE(got, nullptr) << k;
        EXPECT_EQ(*got, v);
    }
    t.clear();
    EXPECT_EQ(t.size(), 0u);
    EXPECT_TRUE(walk(t).empty());
    EXPECT_EQ(t.find("k1", 2), nullptr);
}
