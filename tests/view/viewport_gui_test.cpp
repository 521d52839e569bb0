// The 3D view in the browser's main window.
#include <epoxy/gl.h>  // before Qt's GL headers

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QStatusBar>

#include "core/settings.h"
#include "render/library.h"
#include "shell/menu.h"
#include "shell/qt/main_window.h"
#include "shell/qt/qt_ui.h"
#include "shell/qt/viewport_widget.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"
#include "view/camera.h"
#include "view/frame.h"
#include "view/viewport.h"

namespace zk {
namespace {

using test::spin_until;

void one_frame(uint32_t now) {
    camera_update();
    camera_begin_update();
    camera_end_update();
    viewport_update();
    fps_update_at(now, camera_drawing());
}

TEST(Viewport, TheBrowserShowsTheBackgroundAndTheFrameRate) {
    test::TempDir dir;
    settings_set_directory(dir.path());
    QtUi ui;
    ui_set_port(&ui);
    // The start-up order: window, cameras, then the window is shown.
    ASSERT_TRUE(ui.main_window_create("Quorvane", WindowPlacement{}));
    menu_init();
    ASSERT_TRUE(render_open("MSWindows"));
    ASSERT_EQ(camera_init(), 0);
    ui.main_window_show(false);
    MainWindow* w = ui.main_window();
    auto* view = qobject_cast<ViewportWidget*>(w->view_area());
    ASSERT_TRUE(view);
    ASSERT_TRUE(spin_until([&] { return view->device_ready(); }, 3000));

    // The cameras follow the view's size.
    EXPECT_TRUE(spin_until([&] { return camera_main()->viewport.width == view->width(); }, 2000));
    EXPECT_EQ(camera_main()->viewport.height, view->height());

    one_frame(1000);
    spin_until([] { return false; }, 200);
    QImage shot = view->grabFramebuffer();
    QColor c = shot.pixelColor(shot.width() / 2, shot.height() / 2);
    EXPECT_EQ(c.red(), 0);
    EXPECT_EQ(c.green(), 0);
    EXPECT_NEAR(c.blue(), 178, 2);

    // A world's colour replaces it.
    camera_set_color(200, 100, 0);
    one_frame(1050);
    shot = view->grabFramebuffer();
    c = shot.pixelColor(10, 10);
    EXPECT_NEAR(c.red(), 200, 2);
    EXPECT_NEAR(c.green(), 100, 2);

    // F12's menu item switches the frame-rate pane on.
    QAction* rate = w->menu_action(121);
    ASSERT_TRUE(rate);
    rate->trigger();
    EXPECT_TRUE(rate->isChecked());
    // A view that changes is drawn every pass, and those frames count.
    for (uint32_t t = 1100; t < 3000; t += 40) {
        (t / 40 % 2 ? camera_look_down : camera_look_up)();
        one_frame(t);
    }
    EXPECT_NEAR(frame_rate(), 25.0f, 0.5f);
    const auto rate_pane = [&]() -> QLabel* {
        for (QLabel* l : w->statusBar()->findChildren<QLabel*>())
            if (l->text().contains("frames/sec")) return l;
        return nullptr;
    };
    QLabel* pane = rate_pane();
    ASSERT_TRUE(pane);
    EXPECT_EQ(pane->text(), QString::asprintf("%3.1f frames/sec", double(frame_rate())));
    rate->trigger();
    EXPECT_FALSE(rate->isChecked());
    EXPECT_EQ(rate_pane(), nullptr);

    camera_term();
    frame_clear_counters();
    menu_term();
    ui.main_window_destroy();
    render_close();
    ui_set_port(nullptr);
}

}  // namespace
}  // namespace zk
