#include <gtest/gtest.h>

#include "core/settings.h"
#include "shell/slider.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

bool operator==(const WindowRect& a, const WindowRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

class Slider : public ::testing::Test {
protected:
    void SetUp() override {
        test::write_file(dir.file("zelnik.ini"), ini);
        settings_set_directory(dir.path());
        slider_init();
        vslider_init();
    }
    std::string ini;
    test::TempDir dir;
};

TEST_F(Slider, LayoutPlacesPanesAndHoldsSplits) {
    PaneLayout l = slider_layout(800, 600, 28, 20, false);
    EXPECT_EQ(l.split, 408);
    EXPECT_TRUE(l.view == (WindowRect{0, 51, 800, 356})) << "under the toolbar and gesture strip";
    EXPECT_TRUE(l.console == (WindowRect{0, 408, 800, 151}));
    EXPECT_TRUE(l.chat == (WindowRect{0, 559, 800, 21}));
    EXPECT_TRUE(l.status == (WindowRect{0, 580, 800, 20}));
    EXPECT_TRUE(l.web == WindowRect{});
    EXPECT_EQ(l.vsplit, 800);

    l = slider_layout(800, 600, 28, 20, true);
    EXPECT_TRUE(l.web == (WindowRect{600, 28, 200, 552})) << "from under the toolbar to the status bar";
    EXPECT_EQ(l.view.width, 600);
    EXPECT_EQ(l.status.width, 800);

    l = slider_layout(30, 120, 0, 20, true);
    EXPECT_EQ(l.split, 70) << "held at height - status - 30";
    EXPECT_DOUBLE_EQ(slider_border(), 70.0 / 120);
    EXPECT_EQ(l.vsplit, 20);
    EXPECT_DOUBLE_EQ(vslider_border(), 20.0 / 30);

    for (int size : {0, 5, 40}) {
        l = slider_layout(size, size, 28, 20, true);
        for (const WindowRect& r : {l.view, l.console, l.chat, l.status, l.web})
            EXPECT_TRUE(r.width >= 0 && r.height >= 0 && r.y + r.height <= size) << size;
    }
}

TEST_F(Slider, DragStoresTheFractionAndStartReadsIt) {
    slider_layout(800, 600, 28, 20, true);
    EXPECT_TRUE(slider_over(10, 406) && slider_over(10, 409));
    EXPECT_FALSE(slider_over(10, 405) || slider_over(10, 410) || slider_over(700, 408)) << "the web's side";
    EXPECT_FALSE(slider_release(300)) << "no drag";
    ASSERT_TRUE(slider_press(10, 408));
    EXPECT_EQ(slider_update(), 1);
    EXPECT_EQ(slider_move(5), 61);
    EXPECT_EQ(slider_move(599), 550);
    EXPECT_TRUE(slider_release(300));
    EXPECT_EQ(slider_update(), 0);
    EXPECT_EQ(settings_get_string("layout", "border"), "0.500000");

    ASSERT_TRUE(vslider_press(601, 300));
    EXPECT_EQ(vslider_update(), 1);
    EXPECT_TRUE(vslider_release(200));
    EXPECT_EQ(settings_get_string("layout", "vborder"), "0.250000");
    slider_init();
    vslider_init();
    EXPECT_DOUBLE_EQ(slider_border(), 0.5);
    EXPECT_DOUBLE_EQ(vslider_border(), 0.25);

    slider_layout(800, 600, 28, 20, false);
    EXPECT_FALSE(vslider_press(200, 300)) << "no web pane, no vertical splitter";
    for (const char* bad : {"1.5", "0", "-0.2", "abc"}) {
        settings_put_string("layout", "border", bad);
        settings_put_string("layout", "vborder", bad);
        slider_init();
        vslider_init();
        EXPECT_EQ(slider_border(), kDefaultBorder) << bad;
        EXPECT_EQ(vslider_border(), kDefaultVBorder) << bad;
    }
}

}  // namespace
}  // namespace zk
