#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/messages.h"

using zk::load_message;

TEST(Messages, ArgumentsAreFormattedFourResultsStayValidAndLongOnesAreCut) {
    EXPECT_STREQ(load_message(146, "zk"), "Sorry, there is no world called \"zk\" running at this time.");
    const char* r[4];
    for (int i = 0; i < 4; ++i) r[i] = load_message(18, i + 1);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::string(r[i]), "Unable to connect to network (reason " + std::to_string(i + 1) + ")");
    EXPECT_EQ(load_message(18, 5), r[0]) << "the fifth result reuses the first buffer";
    // Unknown numbers and long results are safe.
    EXPECT_STREQ(load_message(99999), "");
    EXPECT_EQ(zk::message_format(99999), nullptr);
    EXPECT_EQ(std::strlen(load_message(146, std::string(2000, 'w').c_str())), 511u);
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
