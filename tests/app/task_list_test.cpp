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
#include "view/camera.h"

using namespace zk;
using namespace zk::test;

namespace {

[[maybe_unused]] const bool g_bound = (startup_bind_hooks(), true);

}  // namespace

// The scene is drawn between the two unnamed entries, which are not traced.
TEST(Tasks, ATracedPassNamesTheTasksInTheFixedOrder) {
    ASSERT_EQ(tasks_table(), task_list()) << "start-up binds the table";
    EXPECT_EQ(tasks_table()[0].update, &tick_read);
    EXPECT_EQ(tasks_table()[12].update, &camera_begin_update);
    EXPECT_EQ(tasks_table()[19].update, &camera_end_update);
    TempDir dir;
    char* old = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    settings_set_directory(dir.path());
    write_file(dir.file("zelnik.ini"), "[debug]\ntasks=1\n");
    log_close();
    log_init();
    tasks_run();
    log_close();
    write_file(dir.file("zelnik.ini"), "");
    log_init();
    EXPECT_EQ(test::log_messages(dir.file("zelnik.log")),
              (std::vector<std::string>{"tick", "prop", "camera", "ground", "backdrop", "http", "download",
                                        "visible", "sound", "frame", "sign", "animate", "scene", "self",
                                        "avatar", "chat", "balloon", "pick", "focus", "viewport", "fps", "bps",
                                        "cgi", "behavior", "disk", "image", "picture", "web", "universe",
                                        "telegram"}));
    EXPECT_EQ(chdir(old), 0);
    free(old);
}
