#include <gtest/gtest.h>

#include "core/settings.h"
#include "people/avatar.h"
#include "shell/options.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

int g_reloads = 0;

class Options : public ::testing::Test {
protected:
    void SetUp() override {
        test::write_file(dir.file("zelnik.ini"), "[performance]\nframerate=20\nvisibility=10\nlifeforms=0\n");
        settings_set_directory(dir.path());
        g_reloads = 0;
        avatar_hooks().menu_reset_avatars = [] { ++g_reloads; };
    }
    void TearDown() override { avatar_hooks().menu_reset_avatars = nullptr; }
    test::TempDir dir;
};

TEST_F(Options, PageShowsSettingsWithinRanges) {
    const PerformancePage p = options_performance_page();
    EXPECT_TRUE(p.avatars) << "missing: the machine's default";
    EXPECT_FALSE(p.lifeforms);
    EXPECT_FALSE(p.panning);
    EXPECT_EQ(p.framerate, 12);
    EXPECT_EQ(p.visibility, 25);
    settings_put_int("performance", "framerate", -1);
    EXPECT_EQ(options_performance_page().framerate, 5);
}

TEST_F(Options, ApplyWritesChangesAndReloadsAvatarsOnlyWhenTheyChange) {
    PerformancePage p = options_performance_page();
    p.panning = true;
    p.framerate = 2;
    p.visibility = 500;
    options_performance_apply(p);
    EXPECT_EQ(settings_get_int("performance", "panning"), 1);
    EXPECT_EQ(settings_get_int("performance", "framerate"), 3);
    EXPECT_EQ(settings_get_int("performance", "visibility"), 120);
    EXPECT_EQ(settings_get_int("performance", "avatars"), -1) << "unchanged: not written";
    EXPECT_EQ(g_reloads, 0);

    p.lifeforms = true;
    options_performance_apply(p);
    EXPECT_EQ(g_reloads, 1);
    EXPECT_EQ(settings_get_int("performance", "lifeforms"), 1);
    EXPECT_EQ(settings_get_int("performance", "avatars"), 1);
    EXPECT_TRUE(options_performance_page().lifeforms);
}

}  // namespace
}  // namespace zk
