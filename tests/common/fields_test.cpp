#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/fields.h"
#include "common/text.h"

using namespace zk;

TEST(FieldPacker, PacksBigEndianFieldsBackToBackThatTheReaderReadsBack) {
    uint8_t buf[300];
    FieldPacker p(buf, sizeof buf);
    p.put_u16(0);  // length placeholder
    p.put_byte(0xFE);
    p.put_string("Alice");
    p.put_u16(0xBEEF);
    p.put_u32(0xDEADBEEF);
    p.put_raw("\xAA\xBB", 2);
    p.put_zeros(3);
    p.patch_u16(0, static_cast<uint16_t>(p.size() - 2));
    ASSERT_TRUE(p.ok());
    const std::vector<uint8_t> expect = {0, 18, 0xFE, 5, 'A', 'l', 'i', 'c', 'e', 0xBE, 0xEF, 0xDE, 0xAD, 0xBE, 0xEF,
                                         0xAA, 0xBB, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + p.size()), expect);
    p.put_string("");
    p.put_string(std::string(255, 'q'));
    ASSERT_TRUE(p.ok());

    FieldReader r(buf, p.size());
    EXPECT_EQ(r.get_u16(), 18);
    EXPECT_EQ(r.get_byte(), 0xFE);
    EXPECT_EQ(r.get_string(), "Alice");
    EXPECT_EQ(r.get_u16(), 0xBEEF);
    EXPECT_EQ(r.get_u32(), 0xDEADBEEFu);
    uint8_t raw[2] = {};
    EXPECT_TRUE(r.get_raw(raw, 2));
    EXPECT_EQ(raw[1], 0xBB);
    EXPECT_TRUE(r.skip(3));
    EXPECT_EQ(r.get_string(), "");
    EXPECT_EQ(r.get_string(), std::string(255, 'q'));
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_TRUE(r.ok());
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

TEST(FieldReader, FailedRawReadsLeaveNoStaleBytesAndBigInputsReadOnlyWhatIsAsked) {
    std::vector<uint8_t> raw = {1, 2, 3};
    FieldReader q(raw.data(), raw.size());
    uint8_t out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(q.get_raw(out, sizeof out));
    EXPECT_EQ(out[0], 0);
    EXPECT_FALSE(q.skip(1));

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

TEST(Bytes, LoadsAndStoresEitherOrder) {
    const uint8_t raw[4] = {0x81, 0x02, 0x03, 0xF4};
    EXPECT_EQ(zk::load_be16(raw), 0x8102u);
    EXPECT_EQ(zk::load_le16(raw), 0x0281u);
    EXPECT_EQ(zk::load_be32(raw), 0x810203F4u);
    EXPECT_EQ(zk::load_le32(raw), 0xF4030281u);
    EXPECT_EQ(zk::load_be16s(raw), -32510);
    EXPECT_EQ(zk::load_le16s(raw + 2), -3069);
    EXPECT_EQ(zk::load_be32s(raw), static_cast<int32_t>(0x810203F4u));
    uint8_t out[4] = {};
    zk::store_be32(out, 0x810203F4u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(raw, raw + 4));
    zk::store_le32(out, 0xF4030281u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(raw, raw + 4));
    std::string text;
    zk::append_be16(text, 0x8102);
    zk::append_le16(text, 0xF403);
    zk::append_be32(text, 0x01020304u);
    zk::append_le32(text, 0x01020304u);
    EXPECT_EQ(text, std::string("\x81\x02\x03\xF4\x01\x02\x03\x04\x04\x03\x02\x01", 12));
    std::vector<uint8_t> bytes;
    zk::append_le16(bytes, 0x0281);
    zk::append_be16(bytes, 0x03F4);
    EXPECT_EQ(bytes, std::vector<uint8_t>(raw, raw + 4));
}

TEST(Text, ComparesIgnoringAsciiCaseOnly) {
    struct Case {
        std::string_view a, b;
        bool equal, less;
    } cases[] = {
        {"Teleport", "teleport", true, false},
        {"", "", true, false},
        {"abc", "abd", false, true},
        {"ABD", "abc", false, false},
        {"ab", "abc", false, true},
        {"[", "A", false, true},       // '[' sorts after 'A' but before 'a': folding comes first
        {"\xC4", "\xE4", false, true},  // bytes beyond ASCII never fold
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zk::equal_ignoring_case(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(zk::less_ignoring_case(c.a, c.b), c.less) << c.a << " / " << c.b;
    }
    EXPECT_TRUE(zk::starts_with_ignoring_case("Content-Length: 5", "content-length:"));
    EXPECT_FALSE(zk::starts_with_ignoring_case("Content", "content-length:"));
    EXPECT_TRUE(zk::ends_with_ignoring_case("x/Tree.ZIP", ".zip"));
    EXPECT_FALSE(zk::ends_with_ignoring_case("zip", ".zip"));
    EXPECT_EQ(zk::lower_case("Leaves.JPG \xC4"), "leaves.jpg \xC4");
}
