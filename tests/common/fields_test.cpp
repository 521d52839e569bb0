#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/fields.h"

using zk::FieldPacker;
using zk::FieldReader;

TEST(FieldPacker, PacksBigEndianFieldsBackToBack) {
    uint8_t buf[64];
    FieldPacker p(buf, sizeof buf);
    p.put_u16(0);  // length placeholder
    p.put_byte(30);
    p.put_string("Alice");
    p.put_u32(0x01020304);
    p.put_raw("\xAA\xBB", 2);
    p.put_zeros(3);
    p.patch_u16(0, static_cast<uint16_t>(p.size() - 2));
    ASSERT_TRUE(p.ok());
    std::vector<uint8_t> expect = {0, 16, 30, 5, 'A', 'l', 'i', 'c', 'e', 1, 2, 3, 4, 0xAA, 0xBB, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + p.size()), expect);
}

TEST(FieldPacker, RefusesToOverflowOrCutAString) {
    uint8_t buf[8];
    FieldPacker p(buf, sizeof buf);
    p.put_u32(1);
    p.put_u32(2);
    EXPECT_TRUE(p.ok());
    p.put_byte(3);  // one byte too many
    EXPECT_FALSE(p.ok());
    EXPECT_EQ(p.size(), 8u);

    uint8_t big[600];
    FieldPacker q(big, sizeof big);
    q.put_string(std::string(255, 'x'));
    EXPECT_TRUE(q.ok());
    q.put_string(std::string(256, 'x'));
    EXPECT_FALSE(q.ok()) << "a text longer than its length byte must not be cut silently";
    EXPECT_EQ(q.size(), 256u);
}

TEST(FieldReader, ReadsWhatThePackerWrote) {
    uint8_t buf[300];
    FieldPacker p(buf, sizeof buf);
    p.put_byte(0xFE);
    p.put_u16(0xBEEF);
    p.put_u32(0xDEADBEEF);
    p.put_string("");
    p.put_string(std::string(255, 'q'));
    p.put_zeros(2);
    ASSERT_TRUE(p.ok());
    FieldReader r(buf, p.size());
    EXPECT_EQ(r.get_byte(), 0xFE);
    EXPECT_EQ(r.get_u16(), 0xBEEF);
    EXPECT_EQ(r.get_u32(), 0xDEADBEEFu);
    EXPECT_EQ(r.get_string(), "");
    EXPECT_EQ(r.get_string(), std::string(255, 'q'));
    EXPECT_TRUE(r.skip(2));
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_TRUE(r.ok());
}

TEST(FieldReader, TruncatedInputFailsStickilyWithoutReadingBeyond) {
    // Each prefix of a valid message must fail cleanly at the cut field.
    uint8_t buf[32];
    FieldPacker p(buf, sizeof buf);
    p.put_u32(7);
    p.put_string("hello");
    p.put_u16(9);
    const size_t full = p.size();
    for (size_t cut = 0; cut < full; ++cut) {
        std::vector<uint8_t> part(buf, buf + cut);  // exact-size heap copy: ASan sees any overread
        FieldReader r(part.data(), part.size());
        uint32_t a = r.get_u32();
        std::string s = r.get_string();
        uint16_t b = r.get_u16();
        EXPECT_FALSE(r.ok()) << "cut at " << cut;
        if (cut < 4) {
            EXPECT_EQ(a, 0u);
        }
        if (cut < 10) {
            EXPECT_EQ(s, "");
        }
        EXPECT_EQ(b, 0u);
        // Once failed, later fields read as zero even if bytes remain.
        EXPECT_EQ(r.get_byte(), 0);
    }
}

TEST(FieldReader, StringLengthRunningPastTheEndIsRefused) {
    std::vector<uint8_t> msg = {200, 'a', 'b', 'c'};
    FieldReader r(msg.data(), msg.size());
    EXPECT_EQ(r.get_string(), "");
    EXPECT_FALSE(r.ok());

    std::vector<uint8_t> raw = {1, 2, 3};
    FieldReader q(raw.data(), raw.size());
    uint8_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(q.get_raw(out, sizeof out));
    EXPECT_EQ(out[0], 0) << "a failed raw read leaves no stale bytes";
    EXPECT_FALSE(q.skip(1));
}

TEST(FieldReader, OversizedInputReadsOnlyWhatIsAsked) {
    std::vector<uint8_t> msg(70000, 0x11);
    FieldReader r(msg.data(), msg.size());
    EXPECT_EQ(r.get_u16(), 0x1111);
    EXPECT_EQ(r.get_string(), std::string(0x11, '\x11'));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.remaining(), 70000u - 2 - 1 - 0x11);
    EXPECT_TRUE(r.skip(r.remaining()));
    EXPECT_EQ(r.get_byte(), 0);
    EXPECT_FALSE(r.ok());
}
