#include <gtest/gtest.h>

#include <string>

#include "common/pkcipher.h"

using zk::PkCipher;

TEST(PkCipher, RoundTripsAndChangesTheBytes) {
    const std::string plain = "secret password \x01\xff with bytes";
    PkCipher enc("key");
    std::string cipher;
    for (char c : plain) cipher.push_back(static_cast<char>(enc.encrypt(static_cast<uint8_t>(c))));
    EXPECT_NE(cipher, plain);
    PkCipher dec("key");
    std::string back = cipher;
    dec.decrypt(reinterpret_cast<uint8_t*>(back.data()), back.size());
    EXPECT_EQ(back, plain);
    PkCipher wrong("kez");
    std::string other = cipher;
    wrong.decrypt(reinterpret_cast<uint8_t*>(other.data()), other.size());
    EXPECT_NE(other, plain);
}

TEST(PkCipher, MatchesTheZipNotesKeySchedule) {
    // With an empty password the keys are the note's initial constants; the
    // first keystream byte then follows from key 2 = 0x34567890:
    // t = (0x7890 | 2) = 0x7892, (t * (t ^ 1)) >> 8 & 0xff.
    PkCipher c("");
    uint32_t t = 0x7892;
    uint8_t expected = static_cast<uint8_t>((t * (t ^ 1u)) >> 8);
    EXPECT_EQ(c.encrypt(0), expected);
}

TEST(Secret, EncodesAsLowercaseHexPairsAndBack) {
    std::string hex = zk::secret_encode("hunter2");
    EXPECT_EQ(hex.size(), 14u);
    for (char c : hex) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << hex;
    std::string text;
    ASSERT_TRUE(zk::secret_decode(hex, text));
    EXPECT_EQ(text, "hunter2");
    EXPECT_EQ(zk::secret_encode(""), "");
    EXPECT_EQ(zk::secret_key().size(), 24u);
}

TEST(Secret, DamagedValuesDecodeToNothing) {
    std::string text = "stale";
    EXPECT_FALSE(zk::secret_decode("abc", text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(zk::secret_decode("zz11", text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(zk::secret_decode("", text));
    EXPECT_EQ(text, "");
    // Upper-case digits written by hand still read.
    std::string hex = zk::secret_encode("Pass");
    for (char& c : hex) c = static_cast<char>(toupper(c));
    ASSERT_TRUE(zk::secret_decode(hex, text));
    EXPECT_EQ(text, "Pass");
}
