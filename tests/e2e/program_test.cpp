// The real browser, copied alone into a fresh program directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

using zk::test::Process;
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::wait_for_text;
using zk::test::write_file;

namespace {

// No universe answers on port 1: unattended, the browser goes on standalone.
const std::string kStandalone = "[universe]\nhost=127.0.0.1\nport=1\n";

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
        setenv("ZELNIK_UNATTENDED", "1", 1);
        std::filesystem::copy_file(ZELNIK_BINARY, program());
    }
    std::string program() const { return dir_.file("zelnik"); }
    std::vector<std::string> log_lines() const {
        std::vector<std::string> out;
        std::string log = read_file(dir_.file("zelnik.log"));
        size_t a = 0;
        while (a < log.size()) {
            size_t b = log.find('\n', a);
            if (b == std::string::npos) break;
            std::string line = log.substr(a, b - a);
            out.push_back(line.substr(line.find(": ") + 2));
            a = b + 1;
        }
        return out;
    }
    // Starts the browser, waits until it has entered its loop, then asks it
    // to end as a desktop session would.
    int run_briefly(int ms) {
        Process p(program(), {}, dir_.path(), "run");
        // A log left by an earlier run ends with "terminate"; this run's
        // start-up is over when its log has "about_hide" and no end yet.
        const std::string log = dir_.file("zelnik.log");
        EXPECT_TRUE(zk::test::wait_until(
            [&] {
                std::string text = read_file(log);
                return text.find("about_hide") != std::string::npos && text.find("terminate") == std::string::npos;
            },
            20000))
            << p.err();
        usleep(ms * 1000);
        p.signal(SIGTERM);
        int rc = p.wait(20000);
        EXPECT_EQ(rc, 0) << p.err();
        return rc;
    }
    TempDir dir_;
};

}  // namespace

TEST_F(ProgramTest, WithoutSettingsFileShowsMessage15AndExitsZero) {
    Process p(program(), {}, dir_.path());
    EXPECT_EQ(p.wait(20000), 0);
    EXPECT_NE(p.err().find("Error: The initialization file couldn't be located. Ensure the working "
                           "directory is set to where this program resides."),
              std::string::npos)
        << p.err();
}

TEST_F(ProgramTest, RunsFromItsOwnDirectoryAndTracesEveryPassInTableOrder) {
    write_file(dir_.file("zelnik.ini"), kStandalone + "[debug]\ntrace=1\ntasks=1\n");
    run_briefly(100);
    run_briefly(700);  // the second run truncates the log
    EXPECT_TRUE(std::filesystem::is_directory(dir_.file("cache")));
    std::vector<std::string> names = {"tick", "prop", "camera", "ground", "backdrop", "http", "download",
                                      "visible", "sound", "frame", "sign", "animate", "scene", "self",
                                      "avatar", "chat", "balloon", "pick", "focus", "viewport", "fps",
                                      "bps", "cgi", "behavior", "disk", "image", "picture", "web",
                                      "universe", "telegram"};
    std::vector<std::string> lines = log_lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "init_application"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "terminate"), 1);
    // Task lines stand between the last start-up line and "terminate".
    auto first = std::find(lines.begin(), lines.end(), "tick");
    auto end = std::find(lines.begin(), lines.end(), "terminate");
    ASSERT_NE(first, lines.end());
    ASSERT_NE(end, lines.end());
    // Other traces (a relogin, say) may stand between task lines.
    std::vector<std::string> tasks;
    for (auto it = first; it != end; ++it)
        if (std::find(names.begin(), names.end(), *it) != names.end()) tasks.push_back(*it);
    ASSERT_GE(tasks.size(), 30u * 5) << "at least five passes in 0.7 s";
    size_t whole = tasks.size() / 30 * 30;
    for (size_t i = 0; i < whole; ++i) ASSERT_EQ(tasks[i], names[i % 30]) << "line " << i;
}

TEST_F(ProgramTest, ASecondStartHandsItsCommandLineToTheFirst) {
    write_file(dir_.file("zelnik.ini"), kStandalone + "[debug]\ntrace=1\n");
    Process first(program(), {}, dir_.path(), "first");
    ASSERT_TRUE(wait_for_text(dir_.file("zelnik.log"), "about_hide", 20000)) << first.err();
    Process second(program(), {"visit.txt"}, dir_.path(), "second");
    EXPECT_EQ(second.wait(20000), 0) << second.err();
    EXPECT_TRUE(wait_for_text(dir_.file("zelnik.log"), "cgi_hand_in (visit.txt)", 10000));
    EXPECT_TRUE(first.running());
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(20000), 0) << first.err();
}
