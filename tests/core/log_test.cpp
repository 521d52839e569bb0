#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>
#include <string>

#include "core/log.h"
#include "core/settings.h"
#include "support/temp_dir.h"

using namespace zk;
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

// Runs the test body in a fresh working directory so the log lands there.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        settings_set_directory(dir_.path());
        log_close();
    }
    void TearDown() override {
        log_close();
        EXPECT_EQ(chdir(old_), 0);
        free(old_);
    }
    void switches(const std::string& debug) {
        write_file(dir_.file("zelnik.ini"), "[debug]\n" + debug);
        log_init();
    }
    TempDir dir_;
    char* old_ = nullptr;
};

}  // namespace

TEST_F(LogTest, SwitchesAreOnOnlyForOne) {
    switches("trace=1\ntasks=2\ndatabase=yes\nsound=1\n");
    EXPECT_TRUE(log_on(Trace::trace));
    EXPECT_FALSE(log_on(Trace::tasks));
    EXPECT_FALSE(log_on(Trace::database));
    EXPECT_TRUE(log_on(Trace::sound));
    EXPECT_FALSE(log_on(Trace::universe));
}

TEST_F(LogTest, AllTurnsEveryCategoryOn) {
    switches("all=1\ntrace=0\nchunk=5\n");
    for (int i = 0; i < static_cast<int>(Trace::count); ++i) EXPECT_TRUE(log_on(static_cast<Trace>(i))) << i;
    switches("all=0\n");
    for (int i = 0; i < static_cast<int>(Trace::count); ++i) EXPECT_FALSE(log_on(static_cast<Trace>(i))) << i;
}

TEST_F(LogTest, LinesHaveTheTickFormAndLongMessagesAreCut) {
    log_write("universe_init");
    log_write("download_file (%s, %s)", "a.rwx", "http://x/");
    log_write("%s", std::string(5000, 'z').c_str());
    std::string text = read_file(dir_.file("zelnik.log"));
    std::regex line(R"(^ *-?\d{1,10}: (.*)$)");
    size_t a = 0;
    int n = 0;
    std::vector<std::string> messages;
    while (a < text.size()) {
        size_t b = text.find('\n', a);
        ASSERT_NE(b, std::string::npos) << "every line ends with a newline";
        std::string l = text.substr(a, b - a);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l.substr(0, 80);
        messages.push_back(m[1]);
        a = b + 1;
        ++n;
    }
    ASSERT_EQ(n, 3);
    EXPECT_EQ(messages[0], "universe_init");
    EXPECT_EQ(messages[1], "download_file (a.rwx, http://x/)");
    EXPECT_EQ(messages[2], std::string(1023, 'z'));
}

TEST_F(LogTest, ANewRunTruncatesTheLog) {
    log_write("first run");
    log_close();  // as if the process ended
    log_write("second run");
    std::string text = read_file(dir_.file("zelnik.log"));
    EXPECT_EQ(text.find("first run"), std::string::npos);
    EXPECT_NE(text.find("second run"), std::string::npos);
}
