#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "server/password.h"
#include "server/validate.h"

using namespace zk::server;

TEST(Validate, NamesInTheOrderTheBrowserChecksThem) {
    const std::pair<std::string, int> names[] = {
        {"Ann", 0},        {"Ann Lee 2", 0},   {std::string(16, 'a'), 0}, {"A", 113},
        {"", 113},         {" Ann", 109},      {"Ann  Lee", 109},         {"Ann ", 111},
        {"Ann-Lee", 108},  {std::string("An\0n", 4), 108},               {std::string(17, 'a'), 110}};
    for (const auto& [name, rc] : names) EXPECT_EQ(validate_name(name), rc) << name;
}

TEST(Validate, PasswordsAndAddresses) {
    const std::pair<std::string, int> passwords[] = {{"abcd", 0}, {"abc", 116}, {std::string(13, 'p'), 112}, {"ab\ncd", 114}};
    for (const auto& [password, rc] : passwords) EXPECT_EQ(validate_password(password), rc) << password;
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
