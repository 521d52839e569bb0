#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/messages.h"

using zk::load_message;

TEST(Messages, FormatsNumberedTextsWithArguments) {
    EXPECT_STREQ(load_message(8), "Quorvane");
    EXPECT_STREQ(load_message(7), "Error");
    EXPECT_STREQ(load_message(18, 10061), "Unable to connect to network (reason 10061)");
    EXPECT_STREQ(load_message(146, "zk"), "Sorry, there is no world called \"zk\" running at this time.");
    EXPECT_STREQ(load_message(140, "n", 8, "Quorvane"),
                 "Your display is using an 8-bit color palette. For best results, set your display to use "
                 "a High Color (16-bit) color palette before running Quorvane.");
    EXPECT_STREQ(load_message(100, "Quorvane"), "You need at least 8 megabytes of memory to run Quorvane.");
}

TEST(Messages, FourResultsStayValidAtOnce) {
    const char* a = load_message(18, 1);
    const char* b = load_message(18, 2);
    const char* c = load_message(18, 3);
    const char* d = load_message(18, 4);
    EXPECT_STREQ(a, "Unable to connect to network (reason 1)");
    EXPECT_STREQ(b, "Unable to connect to network (reason 2)");
    EXPECT_STREQ(c, "Unable to connect to network (reason 3)");
    EXPECT_STREQ(d, "Unable to connect to network (reason 4)");
    const char* e = load_message(18, 5);
    EXPECT_EQ(e, a) << "the fifth result reuses the first buffer";
}

TEST(Messages, UnknownNumbersAndLongResultsAreSafe) {
    EXPECT_STREQ(load_message(99999), "");
    EXPECT_EQ(zk::message_format(99999), nullptr);
    std::string huge(2000, 'w');
    const char* r = load_message(146, huge.c_str());
    EXPECT_EQ(std::strlen(r), 511u);
}

TEST(Messages, EveryTextIsUsableAsAFormat) {
    // Each entry must format without tripping on a stray directive; numeric
    // arguments are given generously.
    for (int id = 0; id < 1000; ++id) {
        const char* f = zk::message_format(id);
        if (!f) continue;
        for (const char* p = f; *p; ++p) {
            if (*p != '%') continue;
            ++p;
            if (*p == '%') continue;
            while (*p && std::strchr("-+ #0123456789.", *p)) ++p;
            while (*p == 'l' || *p == 'h') ++p;
            EXPECT_TRUE(*p && std::strchr("sdiuxXcfgeEp", *p)) << "message " << id << ": " << f;
        }
    }
}
