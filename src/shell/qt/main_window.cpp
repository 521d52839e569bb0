#include "shell/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "core/layout.h"
#include "core/settings.h"
#include "app/startup.h"
#include "art/download.h"
#include "platform/os.h"
#include "shell/qt/viewport_widget.h"
#include "view/frame.h"
#include "net/login.h"
#include "net/telegram.h"
#include "world/world.h"
#include "view/mouse.h"
#include "view/self.h"
#include "world/prop.h"
#include "world/visible.h"

namespace zk {

namespace {

WindowRect rect_of(const QMainWindow& w) {
    // Position of the frame, size of the window without it: the pair that
    // restores the same window at the next start.
    QRect g = w.geometry();
    QPoint p = w.pos();
    return {p.x(), p.y(), g.width(), g.height()};
}

}  // namespace

bool shell_movement_key(const QKeyEvent* event, bool down) {
    if (event->isAutoRepeat()) {
        // A held key repeats as release and press pairs: the key stays down.
        return event->key() == Qt::Key_Up || event->key() == Qt::Key_Down || event->key() == Qt::Key_Left ||
               event->key() == Qt::Key_Right || event->key() == Qt::Key_Clear ||
               (event->modifiers() & Qt::KeypadModifier);
    }
    int code = -1;
    switch (event->key()) {
    case Qt::Key_Left: code = key_left; break;
    case Qt::Key_Up: code = key_up; break;
    case Qt::Key_Right: code = key_right; break;
    case Qt::Key_Down: code = key_down; break;
    case Qt::Key_Clear: code = key_clear; break;
    case Qt::Key_Control: code = key_control; break;
    case Qt::Key_Shift: code = key_shift; break;
    case Qt::Key_Plus:
        if (event->modifiers() & Qt::KeypadModifier) code = key_add;
        break;
    case Qt::Key_Minus:
        if (event->modifiers() & Qt::KeypadModifier) code = key_subtract;
        break;
    default: break;
    }
    if (code < 0) return false;
    key_event(code, down);
    return true;
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (!shell_movement_key(event, true)) QMainWindow::keyPressEvent(event);
}

void MainWindow::keyReleaseEvent(QKeyEvent* event) {
    if (!shell_movement_key(event, false)) QMainWindow::keyReleaseEvent(event);
}

MainWindow::MainWindow(const QString& title) {
    setWindowTitle(title);
    setObjectName("main_window");
    view_ = new ViewportWidget(this);
    setCentralWidget(view_);

    QMenu* file = menuBar()->addMenu("&File");
    QAction* exit = file->addAction("E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu("&View");
    toolbar_action_ = view->addAction("&Toolbar");
    toolbar_action_->setObjectName("command_129");
    toolbar_action_->setCheckable(true);
    connect(toolbar_action_, &QAction::triggered, this, [this] { toggle_toolbar(); });

    QMenu* show = menuBar()->addMenu("&Show");
    show->setObjectName("menu_show");
    QAction* rate = show->addAction("&Frame Rate");
    rate->setObjectName("command_121");
    rate->setCheckable(true);
    rate->setShortcut(Qt::Key_F12);
    connect(rate, &QAction::triggered, this, [] { fps_toggle_display(); });
    QAction* cache = show->addAction("&Cache Updates");
    cache->setObjectName("command_133");
    cache->setCheckable(true);
    cache->setShortcut(Qt::Key_F6);
    connect(cache, &QAction::triggered, this, [] { prop_show_cache(); });
    QAction* position = show->addAction("&Position");
    position->setObjectName("command_119");
    position->setCheckable(true);
    position->setShortcut(Qt::Key_F11);
    connect(position, &QAction::triggered, this, [] { self_toggle_position_display(); });
    QAction* altitude = show->addAction("&Altitude");
    altitude->setObjectName("command_132");
    altitude->setCheckable(true);
    altitude->setShortcut(Qt::Key_F5);
    connect(altitude, &QAction::triggered, this, [] { self_toggle_altitude_display(); });
    QAction* visibility = show->addAction("&Visibility");
    visibility->setObjectName("command_120");
    visibility->setCheckable(true);
    visibility->setShortcut(Qt::Key_F2);
    connect(visibility, &QAction::triggered, this, [] { visible_toggle(); });

    QAction* downloads = show->addAction("&Downloads...");
    downloads->setObjectName("command_123");
    downloads->setCheckable(true);
    downloads->setShortcut(Qt::Key_F3);
    connect(downloads, &QAction::triggered, this, [] { download_toggle(); });

    QMenu* options = menuBar()->addMenu("&Options");
    QAction* world = options->addAction("&World...");
    world->setObjectName("command_104");
    connect(world, &QAction::triggered, this, [] { world_options(); });

    // Citizen services until the full menus arrive.
    QMenu* citizen = menuBar()->addMenu("&Citizen");
    citizen->setObjectName("menu_citizen");
    auto command = [&](const char* text, int number, auto fn) {
        QAction* a = citizen->addAction(text);
        a->setObjectName(QString("command_%1").arg(number));
        connect(a, &QAction::triggered, this, fn);
        return a;
    };
    command("&Login...", 141, [] { login(); });
    command("&Immigrate...", 143, [] { immigrate(0); });
    command("Change &Attributes...", 142, [] { immigrate(1); })->setEnabled(false);
    citizen->addSeparator();
    command("&Contact Citizen...", 146, [] { telegram_contact(); });
    command("&Read Telegram", 147, [] { telegram_read(); })->setEnabled(false);

    statusBar()->setSizeGripEnabled(true);

    layout_timer_ = new QTimer(this);
    layout_timer_->setSingleShot(true);
    layout_timer_->setTimerType(Qt::PreciseTimer);
    connect(layout_timer_, &QTimer::timeout, this, [this] {
        layout_update(os_tick_count());
        layout_later();
    });
}

void MainWindow::layout_later() {
    int wait = layout_pending_ms(os_tick_count());
    if (wait >= 0 && layout_timer_ && !layout_timer_->isActive()) layout_timer_->start(wait);
}

void MainWindow::create_toolbar(bool shown) {
    if (!toolbar_) {
        toolbar_ = addToolBar("Toolbar");
        toolbar_->setObjectName("toolbar");
        toolbar_->setMovable(false);
        toolbar_->toggleViewAction()->setVisible(false);
    }
    toolbar_->setVisible(shown);
    toolbar_action_->setChecked(shown);
}

bool MainWindow::toolbar_shown() const { return toolbar_ && !toolbar_->isHidden(); }

void MainWindow::toggle_toolbar() {
    if (!toolbar_) return;
    const bool shown = !toolbar_shown();
    toolbar_->setVisible(shown);
    toolbar_action_->setChecked(shown);
    settings_put_int("show", "toolbar", shown ? 1 : 0);
}

void MainWindow::bring_to_front() {
    if (isMinimized()) showNormal();
    QWidget* target = QApplication::activeModalWidget();
    if (!target) target = this;
    target->raise();
    target->activateWindow();
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (isVisible()) layout_window_moved(rect_of(*this), isMinimized(), isMaximized(), os_tick_count());
    layout_later();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The window's own activation moves the mouse module between its modes;
    // the pass rate follows the application's activation instead.
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow()) {
            mouse_activate();
        } else {
            mouse_deactivate();
            // Keys released while another window had them must not stay down.
            key_clear_all();
        }
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isVisible())
        layout_window_resized(rect_of(*this), isMinimized(), isMaximized(), three_d_ready(), os_tick_count());
    layout_later();
}

}  // namespace zk
