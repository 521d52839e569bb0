#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

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

TEST_F(LogTest, SwitchesAreOnOnlyForOneAndAllTurnsEveryCategoryOn) {
    switches("trace=1\ntasks=2\ndatabase=yes\nsound=1\n");
    EXPECT_TRUE(log_on(Trace::trace));
    EXPECT_FALSE(log_on(Trace::tasks));
    EXPECT_FALSE(log_on(Trace::database));
    EXPECT_TRUE(log_on(Trace::sound));
    EXPECT_FALSE(log_on(Trace::universe));
    switches("all=1\ntrace=0\nchunk=5\n");
    for (int i = 0; i < static_cast<int>(Trace::count); ++i) EXPECT_TRUE(log_on(static_cast<Trace>(i))) << i;
    switches("all=0\n");
    for (int i = 0; i < static_cast<int>(Trace::count); ++i) EXPECT_FALSE(log_on(static_cast<Trace>(i))) << i;
}

TEST_F(LogTest, LinesHaveTheTickFormLongMessagesAreCutAndANewRunTruncates) {
    log_write("universe_init");
    log_write("download_file (%s, %s)", "a.rwx", "http://x/");
    log_write("%s", std::string(5000, 'z').c_str());
    const std::string text = read_file(dir_.file("zelnik.log"));
    ASSERT_TRUE(!text.empty() && text.back() == '\n') << "every line ends with a newline";
    const std::regex line(R"(^ *-?\d{1,10}: (.*)$)");
    std::vector<std::string> messages;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l.substr(0, 80);
        messages.push_back(m[1]);
    }
    EXPECT_EQ(messages, (std::vector<std::string>{"universe_init", "download_file (a.rwx, http://x/)",
                                                  std::string(1023, 'z')}));
    // A new run truncates the log.
    log_close();
    log_write("second run");
    EXPECT_EQ(read_file(dir_.file("zelnik.log")).find("universe_init"), std::string::npos);
    EXPECT_NE(read_file(dir_.file("zelnik.log")).find("second run"), std::string::npos);
}
