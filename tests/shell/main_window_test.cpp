#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QToolBar>

#include "core/settings.h"
#include "shell/qt/main_window.h"
#include "shell/qt/qt_ui.h"
#include "shell/qt/single_instance.h"
#include "support/temp_dir.h"

using namespace zk;
using zk::test::TempDir;

namespace {

void spin_until(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace

TEST(MainWindow, OpensWithTheTitleAndStaysAboveTheMinimumSize) {
    TempDir dir;
    settings_set_directory(dir.path());
    QtUi ui;
    WindowPlacement p;
    p.default_position = false;
    p.x = 20;
    p.y = 30;
    p.width = 500;
    p.height = 350;
    ASSERT_TRUE(ui.main_window_create("Quorvane", p));
    ui.main_window_show(false);
    MainWindow* w = ui.main_window();
    EXPECT_EQ(w->windowTitle(), "Quorvane");
    spin_until([&] { return w->isVisible(); }, 1000);
    EXPECT_EQ(w->width(), 500);
    EXPECT_EQ(w->height(), 350);
    w->resize(100, 50);
    EXPECT_GE(w->width(), 300);
    EXPECT_GE(w->height(), 170);
    // The move was written by the window itself.
    w->move(40, 60);
    spin_until([&] { return settings_get_int("layout", "main_x") == 40; }, 2500);  // at most a second late
    EXPECT_EQ(settings_get_int("layout", "main_x"), 40);
    EXPECT_EQ(settings_get_int("layout", "main_y"), 60);
}

TEST(MainWindow, ToolbarToggleFlipsTheMenuItemAndTheSetting) {
    TempDir dir;
    settings_set_directory(dir.path());
    QtUi ui;
    ASSERT_TRUE(ui.main_window_create("Quorvane", WindowPlacement{}));
    ASSERT_TRUE(ui.toolbar_create(false));
    MainWindow* w = ui.main_window();
    auto* item = w->findChild<QAction*>("command_129");
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(w->toolbar_shown());
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(w->toolbar_shown());
    EXPECT_EQ(settings_get_int("show", "toolbar"), 1);
    item->trigger();
    EXPECT_FALSE(w->toolbar_shown());
    EXPECT_EQ(settings_get_int("show", "toolbar"), 0);
}

TEST(MainWindow, CitizenCommandsFollowTheirEnabling) {
    TempDir dir;
    settings_set_directory(dir.path());
    QtUi ui;
    ASSERT_TRUE(ui.main_window_create("Quorvane", WindowPlacement{}));
    auto* read = ui.main_window()->findChild<QAction*>("command_147");
    auto* change = ui.main_window()->findChild<QAction*>("command_142");
    ASSERT_TRUE(read && change);
    EXPECT_FALSE(read->isEnabled()) << "nothing to read until a telegram waits";
    EXPECT_FALSE(change->isEnabled()) << "a tourist has no attributes";
    ui.menu_enable(147, true);
    EXPECT_TRUE(read->isEnabled());
    ui.menu_enable(142, true);
    EXPECT_TRUE(change->isEnabled());
}

TEST(SingleInstance, ACommandLineReachesTheRunningInstance) {
    TempDir dir;
    QString program_dir = QString::fromStdString(dir.path());
    EXPECT_FALSE(single_instance_hand_over(program_dir, "nobody listens"));
    QByteArray got;
    int calls = 0;
    SingleInstanceServer server(program_dir, [&](const QByteArray& line) {
        got = line;
        ++calls;
    });
    ASSERT_TRUE(server.listening());
    EXPECT_TRUE(single_instance_hand_over(program_dir, "teleport.cmd"));
    spin_until([&] { return calls > 0; }, 3000);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(got, "teleport.cmd");

    // Another directory is another program.
    TempDir other;
    EXPECT_FALSE(single_instance_hand_over(QString::fromStdString(other.path()), "x"));
    EXPECT_NE(single_instance_name(program_dir), single_instance_name(QString::fromStdString(other.path())));
}

TEST(SingleInstance, AnOversizedHandInIsCut) {
    TempDir dir;
    QString program_dir = QString::fromStdString(dir.path());
    QByteArray got;
    bool done = false;
    SingleInstanceServer server(program_dir, [&](const QByteArray& line) {
        got = line;
        done = true;
    });
    QLocalSocket raw;
    raw.connectToServer(single_instance_name(program_dir));
    ASSERT_TRUE(raw.waitForConnected(1000));
    raw.write(QByteArray(200000, 'a'));
    spin_until([&] { return raw.bytesToWrite() == 0; }, 3000);
    raw.disconnectFromServer();
    spin_until([&] { return done; }, 3000);
    ASSERT_TRUE(done);
    EXPECT_EQ(got.size(), kMaxHandIn);
}
