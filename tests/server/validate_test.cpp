#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "server/password.h"
#include "server/validate.h"

using namespace zk::server;

TEST(Validate, NamesInTheOrderTheBrowserChecksThem) {
    EXPECT_EQ(validate_name("Ann"), 0);
    EXPECT_EQ(validate_name("Ann Lee 2"), 0);
    EXPECT_EQ(validate_name("A"), 113);
    EXPECT_EQ(validate_name(""), 113);
    EXPECT_EQ(validate_name(" Ann"), 109);
    EXPECT_EQ(validate_name("Ann  Lee"), 109);
    EXPECT_EQ(validate_name("Ann "), 111);
    EXPECT_EQ(validate_name("Ann-Lee"), 108);
    EXPECT_EQ(validate_name(std::string("An\0n", 4)), 108);
    EXPECT_EQ(validate_name(std::string(17, 'a')), 110);
    EXPECT_EQ(validate_name(std::string(16, 'a')), 0);
}

TEST(Validate, PasswordsAndAddresses) {
    EXPECT_EQ(validate_password("abcd"), 0);
    EXPECT_EQ(validate_password("abc"), 116);
    EXPECT_EQ(validate_password(std::string(13, 'p')), 112);
    EXPECT_EQ(validate_password("ab\ncd"), 114);
    const std::pair<std::string, int> emails[] = {
        {"first.last@example.org", 0}, {"o'neil+x@mail.example.org", 0}, {"a@b.c", 106},
        {std::string(51, 'a'), 105},   {" ann@example.org", 104},       {"ann@example.org ", 101},
        {"ann!@example.org", 100},     {"annexample.org", 103},         {"ann@examplorg", 102}};
    for (const auto& [email, rc] : emails) EXPECT_EQ(validate_email(email), rc) << email;
}

TEST(Password, HashesAreSaltedAndVerify) {
    std::string a = password_hash("tulip");
    std::string b = password_hash("tulip");
    EXPECT_NE(a, b) << "each hash has its own salt";
    EXPECT_TRUE(password_verify("tulip", a));
    EXPECT_TRUE(password_verify("tulip", b));
    EXPECT_FALSE(password_verify("tulipx", a));
    EXPECT_FALSE(password_verify("", a));
    EXPECT_FALSE(password_verify("tulip", "tulip"));
    EXPECT_FALSE(password_verify("tulip", "pbkdf2-sha256$10$zz$yy"));
    EXPECT_FALSE(password_verify("tulip", "pbkdf2-sha256$999999999$00$00"));
}
