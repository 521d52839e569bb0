#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "app/startup.h"
#include "app/task_list.h"
#include "core/tasks.h"
#include "support/temp_dir.h"

using namespace zk;
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

[[maybe_unused]] const bool g_bound = (startup_bind_hooks(), true);

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

}  // namespace

TEST(Tasks, TableHasThirtyTwoEntriesInTheFixedOrder) {
    const char* names[kTaskCount] = {"tick", "prop", "camera", "ground", "backdrop", "http", "download",
                                     "visible", "sound", "frame", "sign", "animate", nullptr, "scene",
                                     "self", "avatar", "chat", "balloon", "pick", nullptr, "focus",
                                     "viewport", "fps", "bps", "cgi", "behavior", "disk", "image",
                                     "picture", "web", "universe", "telegram"};
    ASSERT_EQ(tasks_table(), task_list()) << "start-up binds the table";
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
