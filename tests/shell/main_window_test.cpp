#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QLocalSocket>

#include "art/download.h"
#include "core/settings.h"
#include "shell/qt/main_window.h"
#include "shell/qt/qt_ui.h"
#include "shell/qt/single_instance.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { settings_set_directory(dir_.path()); }
    QAction* command(int number) { return ui_.main_window()->findChild<QAction*>(QString("command_%1").arg(number)); }
    TempDir dir_;
    QtUi ui_;
};

}  // namespace

TEST_F(MainWindowTest, OpensWithTheTitleAndStaysAboveTheMinimumSize) {
    ASSERT_TRUE(ui_.main_window_create("Quorvane", WindowPlacement{false, 20, 30, 500, 350}));
    ui_.main_window_show(false);
    MainWindow* w = ui_.main_window();
    EXPECT_EQ(w->windowTitle(), "Quorvane");
    spin_until([&] { return w->isVisible(); }, 1000);
    EXPECT_EQ(w->width(), 500);
    EXPECT_EQ(w->height(), 350);
    w->resize(100, 50);
    EXPECT_GE(w->width(), 300);
    EXPECT_GE(w->height(), 170);
    // The move was written by the window itself, at most a second late.
    w->move(40, 60);
    EXPECT_TRUE(spin_until([&] { return settings_get_int("layout", "main_x") == 40; }, 2500));
    EXPECT_EQ(settings_get_int("layout", "main_y"), 60);
}

TEST_F(MainWindowTest, ToolbarToggleAndCitizenCommandsFollowTheirState) {
    ASSERT_TRUE(ui_.main_window_create("Quorvane", WindowPlacement{}));
    ASSERT_TRUE(ui_.toolbar_create(false));
    MainWindow* w = ui_.main_window();
    QAction *item = command(129), *read = command(147), *change = command(142);
    ASSERT_TRUE(item && read && change);
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(w->toolbar_shown());
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(w->toolbar_shown());
    EXPECT_EQ(settings_get_int("show", "toolbar"), 1);
    item->trigger();
    EXPECT_FALSE(w->toolbar_shown());
    EXPECT_EQ(settings_get_int("show", "toolbar"), 0);

    EXPECT_FALSE(read->isEnabled()) << "nothing to read until a telegram waits";
    EXPECT_FALSE(change->isEnabled()) << "a tourist has no attributes";
    ui_.menu_enable(147, true);
    EXPECT_TRUE(read->isEnabled());
    ui_.menu_enable(142, true);
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

    // An oversized hand-in is cut.
    QLocalSocket raw;
    raw.connectToServer(single_instance_name(program_dir));
    ASSERT_TRUE(raw.waitForConnected(1000));
    raw.write(QByteArray(200000, 'a'));
    spin_until([&] { return raw.bytesToWrite() == 0; }, 3000);
    raw.disconnectFromServer();
    ASSERT_TRUE(spin_until([&] { return calls == 2; }, 3000));
    EXPECT_EQ(got.size(), kMaxHandIn);
}

TEST_F(MainWindowTest, TheDownloadsWindowFollowsItsCommandAndShowsEachTransfer) {
    ASSERT_TRUE(ui_.main_window_create("Quorvane", WindowPlacement{false, 20, 30, 500, 350}));
    ui_set_port(&ui_);
    ASSERT_TRUE(download_init());
    QAction* item = command(123);
    ASSERT_TRUE(item);
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_EQ(settings_get_int("show", "downloads"), 1);
    auto* window = ui_.main_window()->findChild<QWidget*>("downloads_window");
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Downloads");

    DownloadsView view;
    view.lines[1] = {true, "a-rather-long-texture-name.jpg", "receiving", 2048, 8192};
    view.waiting = 4;
    ui_.downloads_window_update(view);
    const auto* name = window->findChild<QLabel*>("download_name_1");
    const auto* bar = window->findChild<QProgressBar*>("download_bar_1");
    ASSERT_TRUE(name && bar);
    EXPECT_TRUE(name->text().startsWith("a-rather") && name->text().endsWith(":")) << name->text().toStdString();
    EXPECT_EQ(bar->value() * 4, bar->maximum() - 1) << "a quarter of the body";
    EXPECT_EQ(window->findChild<QLabel*>("download_waiting")->text(), "4 waiting");
    EXPECT_FALSE(window->findChild<QProgressBar*>("download_bar_0")->isVisibleTo(window));

    // Closing the window is the same command: hidden, unchecked, remembered.
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(item->isChecked());
    EXPECT_EQ(settings_get_int("show", "downloads"), 0);
    download_term();
    ui_set_port(nullptr);
}

TEST_F(MainWindowTest, SignTextIsBrokenBetweenWordsAndDrawnCentredWithAmpersandsKept) {
    const int line = ui_.sign_font();
    ASSERT_GT(line, 20);
    int w = 0, h = 0, w2 = 0, h2 = 0;
    ASSERT_TRUE(ui_.sign_measure("Hi there", 1000, &w, &h));
    EXPECT_EQ(h, line);
    ASSERT_TRUE(ui_.sign_measure("Hi there", w - 1, &w2, &h2));
    EXPECT_GT(h2, line * 3 / 2) << "two lines";
    ASSERT_TRUE(ui_.sign_measure("&", 1000, &w, &h));
    ASSERT_TRUE(ui_.sign_measure("&&", 1000, &w2, &h2));
    EXPECT_GT(w2, w * 3 / 2) << "no mnemonics";

    const int width = 200, height = 80;
    std::vector<uint8_t> pixels(width * height, 0);
    ASSERT_TRUE(ui_.sign_draw("&", width, height, 10, (height - h) / 2, 180, pixels.data()));
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            ASSERT_LE(pixels[y * width + x], 1);
            if (!pixels[y * width + x]) continue;
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        }
    ASSERT_GE(right, left) << "text drawn";
    EXPECT_NEAR(left + right, width, 4) << "centred across";
    EXPECT_NEAR(top + bottom, height, 12) << "centred down";
}
