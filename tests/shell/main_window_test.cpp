#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QLabel>
#include <QProgressBar>
#include <QLocalSocket>

#include "art/download.h"
#include "core/settings.h"
#include "shell/menu.h"
#include "shell/qt/main_window.h"
#include "shell/slider.h"
#include "shell/status.h"
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
    void TearDown() override {
        menu_term();
        ui_set_port(nullptr);
    }
    void create(const WindowPlacement& placement) {
        ASSERT_TRUE(ui_.main_window_create("Quorvane", placement));
        ui_set_port(&ui_);
        menu_init();
        slider_init();
    }
    QAction* command(int number) { return ui_.main_window()->menu_action(number); }
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

TEST_F(MainWindowTest, MenusToolbarStatusPanesAndTheSplitterFollowTheirModules) {
    create(WindowPlacement{false, 20, 30, 500, 400});
    ASSERT_TRUE(ui_.toolbar_create(false));
    MainWindow* w = ui_.main_window();
    w->show();
    auto titles = [&] {
        QStringList t;
        for (QAction* a : w->menuBar()->actions()) t << a->text();
        return t.join(",");
    };
    EXPECT_EQ(titles(), "&File,&Teleport,&View,&Options,&Show,&Citizen,&Web,&Help");
    ASSERT_TRUE(command(143) && command(141));
    EXPECT_FALSE(command(141)->isEnabled()) << "no other name before the first login";
    menu_identity_changed(true);
    EXPECT_EQ(titles(), "&File,&Teleport,&View,&Options,&Show,&Citizen,&Avatar,&Web,&Help");
    QMenu* citizen = w->findChild<QMenu*>("menu_citizen");
    ASSERT_TRUE(citizen);
    EXPECT_TRUE(citizen->actions().contains(command(142)));
    EXPECT_FALSE(citizen->actions().contains(command(143)));

    // The toolbar, from its menu item: shown, checked, stored; its buttons
    // carry their tooltips and images.
    command(129)->trigger();
    EXPECT_TRUE(w->toolbar_shown());
    EXPECT_TRUE(command(129)->isChecked());
    EXPECT_EQ(settings_get_int("show", "toolbar"), 1);
    ASSERT_TRUE(w->toolbar_action(107));
    EXPECT_EQ(w->toolbar_action(107)->toolTip(), "Teleport Back");
    EXPECT_FALSE(w->toolbar_action(124)->icon().isNull());
    ui_.menu_enable(147, true);
    EXPECT_TRUE(command(147)->isEnabled());
    // A button that has no menu item: the mouse becomes the mover, and the
    // button stays pressed.
    w->toolbar_action(118)->trigger();
    EXPECT_TRUE(w->toolbar_action(118)->isChecked());

    // Removing the middle of three panes shares the bar out anew.
    const int a = ui_.status_pane_add(10), b = ui_.status_pane_add(20), c = ui_.status_pane_add(10);
    ui_.status_pane_remove(b);
    EXPECT_FALSE(w->status_label(b));
    const int main = w->status_label(1)->width(), first = w->status_label(a)->width();
    EXPECT_NEAR(first, w->status_label(c)->width(), 2);
    EXPECT_NEAR(main + 2, (first + 2) * kStatusMainWeight / 10, 4) << "each as wide as its weight";
    EXPECT_EQ(w->status_label(c)->geometry().right() + 3, w->findChild<QWidget*>("status_panes")->width());

    // A splitter drag 30 pixels up: the view shrinks, the fraction is stored.
    spin_until([&] { return w->isVisible(); }, 1000);
    const int view_height = w->view_area()->height();
    const PaneLayout p = slider_layout(w->width(), w->height() - w->menuBar()->height(), w->client_top(),
                                       w->statusBar()->height(), false);
    EXPECT_TRUE(w->splitter_mouse(QEvent::MouseButtonPress, QPoint(50, p.split), Qt::LeftButton));
    EXPECT_TRUE(w->splitter_mouse(QEvent::MouseMove, QPoint(50, p.split - 30), Qt::LeftButton));
    EXPECT_EQ(slider_update(), 1) << "passes wait while the splitter is dragged";
    EXPECT_TRUE(w->splitter_mouse(QEvent::MouseButtonRelease, QPoint(50, p.split - 30), Qt::NoButton));
    EXPECT_EQ(slider_update(), 0);
    EXPECT_EQ(w->view_area()->height(), view_height - 30);
    const double stored = std::stod(settings_get_string("layout", "border"));
    EXPECT_NEAR(stored * p.split / kDefaultBorder, p.split - 30, 1.5) << "fraction of the client height";
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
    create(WindowPlacement{false, 20, 30, 500, 350});
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
