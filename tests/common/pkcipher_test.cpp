#include <gtest/gtest.h>

#include <string>

#include "common/pkcipher.h"

using zk::PkCipher;

TEST(PkCipher, RoundTripsAndMatchesTheZipNotesKeySchedule) {
    const std::string plain = "secret password \x01\xff with bytes";
    PkCipher enc("key");
    std::string cipher;
    for (char c : plain) cipher.push_back(static_cast<char>(enc.encrypt(static_cast<uint8_t>(c))));
    EXPECT_NE(cipher, plain);
    const auto decrypt = [&](const char* key) {
        std::string back = cipher;
        PkCipher(key).decrypt(reinterpret_cast<uint8_t*>(back.data()), back.size());
        return back;
    };
    EXPECT_EQ(decrypt("key"), plain);
    EXPECT_NE(decrypt("kez"), plain);
    // With an empty password the keys are the note's initial constants; the
    // first keystream byte then follows from key 2 = 0x34567890:
    // t = (0x7890 | 2) = 0x7892, (t * (t ^ 1)) >> 8 & 0xff.
    PkCipher empty("");
    const uint32_t t = 0x7892;
    EXPECT_EQ(empty.encrypt(0), static_cast<uint8_t>((t * (t ^ 1u)) >> 8));
}

TEST(Secret, EncodesAsLowercaseHexPairsAndDamagedValuesDecodeToNothing) {
    std::string hex = zk::secret_encode("hunter2");
    EXPECT_EQ(hex.size(), 14u);
    for (char c : hex) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << hex;
    std::string text;
    ASSERT_TRUE(zk::secret_decode(hex, text));
    EXPECT_EQ(text, "hunter2");
    EXPECT_EQ(zk::secret_encode(""), "");
    // Upper-case digits written by hand still read.
    for (char& c : hex) c = static_cast<char>(toupper(c));
    ASSERT_TRUE(zk::secret_decode(hex, text));
    EXPECT_EQ(text, "hunter2");
    for (const char* damaged : {"abc", "zz11"}) {
        text = "stale";
        EXPECT_FALSE(zk::secret_decode(damaged, text)) << damaged;
        EXPECT_EQ(text, "") << damaged;
    }
    EXPECT_TRUE(zk::secret_decode("", text));
    EXPECT_EQ(text, "");
}
