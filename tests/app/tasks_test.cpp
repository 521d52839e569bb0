#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "app/tasks.h"
#include "support/temp_dir.h"

using namespace zk;
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

std::vector<std::string> messages(const std::string& log) {
    std::vector<std::string> out;
    size_t a = 0;
    while (a < log.size()) {
        size_t b = log.find('\n', a);
        std::string line = log.substr(a, b - a);
        out.push_back(line.substr(line.find(": ") + 2));
        a = b + 1;
    }
    return out;
}

int g_passes = 0;
int g_nested_attempts = 0;
int g_nested_ran = 0;

void counting_pass() { ++g_passes; }

void reentrant_pass() {
    ++g_passes;
    // What a modal loop inside a task would do: deliver more timer events.
    for (int i = 0; i < 3; ++i) {
        ++g_nested_attempts;
        if (tasks_timer_event(counting_pass)) ++g_nested_ran;
    }
}

}  // namespace

TEST(Tasks, TableHasThirtyTwoEntriesInTheFixedOrder) {
    const char* names[kTaskCount] = {"tick", "prop", "camera", "ground", "backdrop", "http", "download",
                                     "visible", "sound", "frame", "sign", "animate", nullptr, "scene",
                                     "self", "avatar", "chat", "balloon", "pick", nullptr, "focus",
                                     "viewport", "fps", "bps", "cgi", "behavior", "disk", "image",
                                     "picture", "web", "universe", "telegram"};
    const Task* t = tasks_table();
    for (int i = 0; i < kTaskCount; ++i) {
        if (names[i])
            EXPECT_STREQ(t[i].name, names[i]) << "entry " << i + 1;
        else
            EXPECT_EQ(t[i].name, nullptr) << "entry " << i + 1;
        EXPECT_NE(t[i].update, nullptr);
    }
    EXPECT_EQ(t[0].update, &tick_read);
}

TEST(Tasks, TracedPassWritesThirtyNamesInOrder) {
    TempDir dir;
    char* old = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    settings_set_directory(dir.path());
    write_file(dir.file("zelnik.ini"), "[debug]\ntasks=1\n");
    log_close();
    log_init();
    tasks_run();
    tasks_run();
    log_close();
    write_file(dir.file("zelnik.ini"), "");
    log_init();
    std::vector<std::string> got = messages(read_file(dir.file("zelnik.log")));
    ASSERT_EQ(got.size(), 60u);
    std::vector<std::string> one;
    for (int i = 0; i < kTaskCount; ++i)
        if (tasks_table()[i].name) one.push_back(tasks_table()[i].name);
    ASSERT_EQ(one.size(), 30u);
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 30), one);
    EXPECT_EQ(std::vector<std::string>(got.begin() + 30, got.end()), one);
    EXPECT_EQ(chdir(old), 0);
    free(old);
}

TEST(Tasks, TickIsReadOncePerPass) {
    tick_read();
    uint32_t first = tick_now();
    usleep(20000);
    EXPECT_EQ(tick_now(), first) << "the frame clock only moves when a pass starts";
    tasks_run();
    EXPECT_GE(tick_now() - first, 15u);
}

TEST(Tasks, TimerEventsNeverNestPasses) {
    g_passes = g_nested_attempts = g_nested_ran = 0;
    EXPECT_TRUE(tasks_timer_event(reentrant_pass));
    EXPECT_EQ(g_passes, 1);
    EXPECT_EQ(g_nested_attempts, 3);
    EXPECT_EQ(g_nested_ran, 0);
    EXPECT_FALSE(tasks_pass_running());
    EXPECT_TRUE(tasks_timer_event(counting_pass)) << "the guard is released after the pass";
    EXPECT_EQ(g_passes, 2);
}

TEST(Tasks, FatalBoxSuspendsPasses) {
    g_passes = 0;
    tasks_set_fatal_box(true);
    EXPECT_FALSE(tasks_timer_event(counting_pass));
    tasks_set_fatal_box(false);
    EXPECT_TRUE(tasks_timer_event(counting_pass));
    EXPECT_EQ(g_passes, 1);
}

TEST(Tasks, ActivationSetsThePeriodAndTheInactiveFlag) {
    EXPECT_EQ(tasks_activation_changed(false), 1000);
    EXPECT_TRUE(app_inactive());
    EXPECT_EQ(tasks_activation_changed(true), 0);
    EXPECT_FALSE(app_inactive());
}
