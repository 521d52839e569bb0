// The upgrade check: prompts by build, the upgrade program's command line,
// and the replacement of the upgrade program by a newer one.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "core/settings.h"
#include "support/temp_dir.h"
#include "upgrade/check.h"

using namespace zk;
using namespace zk::test;

TEST(Upgrade, PromptsFollowTheBuildsAndTheCommandLineNamesTheKit) {
    EXPECT_EQ(build_prompt(162, 150, 162), 0);
    EXPECT_EQ(build_prompt(162, 150, 170), 1);
    EXPECT_EQ(build_prompt(162, 163, 170), 2);
    EXPECT_EQ(build_prompt(162, 163, 162), 2);
    UpgradeCommand c = upgrade_command("/opt/zk", "objects.example:80", false);
    EXPECT_EQ(c.program, "/opt/zk/upgrade");
    EXPECT_EQ(c.kit, "upgrade/kit162.rtp");
    EXPECT_EQ(upgrade_command("/opt/zk", "h", true).kit, "upgrade/beta/kit162.rtp");
    TempDir dir;
    EXPECT_EQ(upgrade_start(upgrade_command(dir.path(), "h", false)), 54);
}

TEST(Upgrade, ANewUpgradeProgramReplacesTheOldUnlessItCannotBeWritten) {
    TempDir dir;
    write_file(dir.file("upgrade"), "old");
    write_file(dir.file("upgrade.new"), "new program");
    EXPECT_TRUE(upgrade_replace(dir.path(), 100, 3, 10));
    EXPECT_EQ(read_file(dir.file("upgrade")), "new program");
    EXPECT_NE(access(dir.file("upgrade.new").c_str(), F_OK), 0);
    struct stat st {};
    ASSERT_EQ(stat(dir.file("upgrade").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR) << "the replacement can run";
    EXPECT_FALSE(upgrade_replace(dir.path(), 100, 3, 10)) << "nothing to do without upgrade.new";

    // One that cannot be written (a directory in the program's place fails
    // even for root) is dropped, and the old stays.
    ASSERT_EQ(unlink(dir.file("upgrade").c_str()), 0);
    ASSERT_EQ(mkdir(dir.file("upgrade").c_str(), 0755), 0);
    write_file(dir.file("upgrade.new"), "new");
    EXPECT_FALSE(upgrade_replace(dir.path(), 10, 3, 10));
    EXPECT_NE(access(dir.file("upgrade.new").c_str(), F_OK), 0) << "deleted even when every copy failed";
    ASSERT_EQ(stat(dir.file("upgrade").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    // An upgrade cut short before its commit is undone at the next start.
    settings_set_directory(dir.path());
    write_file(dir.file("upgrade.journal"), "zelnik kit journal\nstage\nput readme\n");
    write_file(dir.file("readme.kit-new"), "half");
    check_for_new_upgrade();
    EXPECT_NE(access(dir.file("readme.kit-new").c_str(), F_OK), 0);
    EXPECT_NE(access(dir.file("upgrade.journal").c_str(), F_OK), 0);
}
