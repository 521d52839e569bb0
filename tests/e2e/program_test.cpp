// The real browser, copied alone into a fresh program directory.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
        setenv("ZELNIK_UNATTENDED", "1", 1);
        std::filesystem::copy_file(ZELNIK_BINARY, program());
    }
    std::string program() const { return dir_.file("zelnik"); }
    TempDir dir_;
};

}  // namespace

TEST_F(ProgramTest, WithoutSettingsFileShowsMessage15AndExitsZero) {
    Process p(program(), {}, dir_.path(), "proc", browser_env());
    EXPECT_EQ(p.wait(20000), 0);
    EXPECT_NE(p.err().find("Error: The initialization file couldn't be located. Ensure the working "
                           "directory is set to where this program resides."),
              std::string::npos)
        << p.err();
}

TEST_F(ProgramTest, RunsTracingEveryPassInTableOrderAndTakesASecondStartsCommandLine) {
    // No universe answers on port 1: unattended, the browser goes on standalone.
    write_file(dir_.file("zelnik.ini"), "[universe]\nhost=127.0.0.1\nport=1\n[debug]\ntrace=1\ntasks=1\n");
    Process first(program(), {}, dir_.path(), "first", browser_env());
    ASSERT_TRUE(wait_for_text(dir_.file("zelnik.log"), "about_hide", 20000)) << first.err();
    Process second(program(), {"visit.txt"}, dir_.path(), "second", browser_env());
    EXPECT_EQ(second.wait(20000), 0) << second.err();
    EXPECT_TRUE(wait_for_text(dir_.file("zelnik.log"), "cgi_hand_in (visit.txt)", 10000));
    EXPECT_TRUE(first.running());
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(20000), 0) << first.err();

    const std::vector<std::string> lines = zk::test::log_messages(dir_.file("zelnik.log"));
    // The second start wrote nothing: one run in the log.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "init_application"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "terminate"), 1);
    const std::vector<std::string> names = {
        "tick", "prop", "camera", "ground", "backdrop", "http", "download", "visible", "sound", "frame",
        "sign", "animate", "scene", "self", "avatar", "chat", "balloon", "pick", "focus", "viewport",
        "fps", "bps", "cgi", "behavior", "disk", "image", "picture", "web", "universe", "telegram"};
    // Task lines stand between the start-up and "terminate"; other traces
    // (the hand-in, say) may stand between them.
    auto end = std::find(lines.begin(), lines.end(), "terminate");
    std::vector<std::string> tasks;
    for (auto it = std::find(lines.begin(), end, "tick"); it != end; ++it)
        if (std::find(names.begin(), names.end(), *it) != names.end()) tasks.push_back(*it);
    ASSERT_GE(tasks.size(), 30u * 5) << "at least five passes";
    for (size_t i = 0; i < tasks.size() / 30 * 30; ++i) ASSERT_EQ(tasks[i], names[i % 30]) << "line " << i;
}
