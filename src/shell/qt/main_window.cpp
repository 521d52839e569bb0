#include "shell/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMoveEvent>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

#include "core/layout.h"
#include "core/settings.h"
#include "app/startup.h"
#include "art/download.h"
#include "platform/os.h"
#include "shell/qt/viewport_widget.h"
#include "view/frame.h"
#include "net/login.h"
#include "net/telegram.h"
#include "people/chat.h"
#include "people/gesture.h"
#include "view/camera.h"
#include "world/pick.h"
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

// The building command of an editing key, 0 for other keys.
int building_command(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Delete: return 108;
    case Qt::Key_Insert: return 109;
    case Qt::Key_Plus: return 110;
    case Qt::Key_Minus: return 111;
    case Qt::Key_Up: return 112;
    case Qt::Key_Down: return 113;
    case Qt::Key_Left: return 114;
    case Qt::Key_Right: return 115;
    case Qt::Key_PageUp: return 116;
    case Qt::Key_PageDown: return 117;
    default: return 0;
    }
}

}  // namespace

bool shell_movement_key(const QKeyEvent* event, bool down) {
    // A held key repeats: so does its command. Its release is still handed
    // on, for a walking key held since before the selection.
    if (const int command = building_command(event); command && pick_selected()) {
        if (down) {
            pick_command(command);
            return true;
        }
        if (event->isAutoRepeat()) return true;
    }
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
    if (shell_movement_key(event, true)) return;
    // What the user types while the window (or the view) has the keyboard
    // goes into the chat entry, as if typed there: text, Enter and Backspace.
    const QString text = event->text();
    const bool typed = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
    const bool editing = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                         event->key() == Qt::Key_Backspace;
    // The entry ignores Enter, and an ignored key comes back up here.
    if (chat_ && !forwarding_ && QApplication::focusWidget() != chat_ && (typed || editing) &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), text, event->isAutoRepeat(), event->count());
        forwarding_ = true;
        QCoreApplication::sendEvent(chat_, &copy);
        forwarding_ = false;
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::keyReleaseEvent(QKeyEvent* event) {
    if (!shell_movement_key(event, false)) QMainWindow::keyReleaseEvent(event);
}

MainWindow::MainWindow(const QString& title) {
    setWindowTitle(title);
    setObjectName("main_window");
    // The gesture bar above the 3D view; the console and the chat entry
    // under it.
    auto* centre = new QWidget(this);
    auto* column = new QVBoxLayout(centre);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    gesture_bar_ = new QWidget(centre);
    gesture_bar_->setObjectName("gesture_bar");
    gesture_bar_->setFixedHeight(23);
    gesture_row_ = new QHBoxLayout(gesture_bar_);
    gesture_row_->setContentsMargins(8, 1, 0, 2);
    gesture_row_->setSpacing(3);
    gesture_row_->addStretch(1);
    gesture_bar_->hide();
    column->addWidget(gesture_bar_);
    view_ = new ViewportWidget(centre);
    column->addWidget(view_, 1);

    console_ = new QTextEdit(centre);
    console_->setObjectName("console");
    console_->setReadOnly(true);
    console_->setFocusPolicy(Qt::ClickFocus);
    console_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // An edit history of every line printed would only grow.
    console_->document()->setUndoRedoEnabled(false);
    // Messages line up at a tab stop 1700 twips in, and wrapped lines
    // indent to it.
    const qreal indent = 1700.0 / 1440.0 * console_->logicalDpiX();
    console_->setTabStopDistance(indent);
    console_->setMinimumHeight(5 * console_->fontMetrics().lineSpacing() + 2 * console_->frameWidth() + 8);
    console_->setMaximumHeight(console_->minimumHeight());
    column->addWidget(console_);

    chat_ = new QLineEdit(centre);
    chat_->setObjectName("chat_entry");
    chat_->setMaxLength(int(kChatEntryMax));
    chat_->setFixedHeight(21);
    connect(chat_, &QLineEdit::returnPressed, this, [this] { chat_enter(chat_->text().toStdString()); });
    column->addWidget(chat_);
    setCentralWidget(centre);

    QMenu* file = menuBar()->addMenu("&File");
    QAction* exit = file->addAction("E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu("&View");
    toolbar_action_ = view->addAction("&Toolbar");
    toolbar_action_->setObjectName("command_129");
    toolbar_action_->setCheckable(true);
    connect(toolbar_action_, &QAction::triggered, this, [this] { toggle_toolbar(); });
    view->addSeparator();
    // The camera checks the one in use; choosing either again keeps it so.
    auto view_mode = [this] {
        first_person_->setChecked(camera_view_mode() == 0);
        third_person_->setChecked(camera_view_mode() == 1);
    };
    first_person_ = view->addAction("&First Person");
    first_person_->setObjectName("command_126");
    first_person_->setCheckable(true);
    first_person_->setShortcut(Qt::Key_Home);
    connect(first_person_, &QAction::triggered, this, [view_mode] {
        camera_track_ahead();
        view_mode();
    });
    third_person_ = view->addAction("T&hird Person");
    third_person_->setObjectName("command_127");
    third_person_->setCheckable(true);
    third_person_->setShortcut(Qt::Key_End);
    connect(third_person_, &QAction::triggered, this, [view_mode] {
        camera_track_self(1);  // again: one step farther
        view_mode();
    });

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

void MainWindow::console_append(const std::string& text, uint32_t rgb, bool bold, bool line_break) {
    QTextBlockFormat block;
    const qreal indent = console_->tabStopDistance();
    block.setLeftMargin(indent);
    block.setTextIndent(-indent);
    QTextCharFormat chars;
    chars.setForeground(QColor::fromRgb(rgb));
    chars.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    QTextCursor c(console_->document());
    c.movePosition(QTextCursor::End);
    if (line_break) c.insertBlock(block, chars);
    else c.setBlockFormat(block);
    c.insertText(QString::fromUtf8(text.data(), qsizetype(text.size())), chars);
    QScrollBar* bar = console_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void MainWindow::console_remove(int characters) {
    // A line break counts two characters here but is one position in the
    // document.
    QTextDocument* doc = console_->document();
    int end = 0;
    for (QTextBlock b = doc->begin(); characters > 0 && b.isValid();) {
        const int length = b.length() - 1;
        const QTextBlock next = b.next();
        if (characters >= length + 2 && next.isValid()) {
            end = next.position();
            characters -= length + 2;
            b = next;
        } else {
            end = b.position() + std::min(characters, length);
            characters = 0;
        }
    }
    QTextCursor c(doc);
    c.setPosition(end, QTextCursor::KeepAnchor);
    c.removeSelectedText();
}

void MainWindow::chat_entry_reset() {
    chat_->clear();
    view_->setFocus();
}

void MainWindow::balloons_show(const std::vector<BalloonDraw>& balloons) {
    static_cast<ViewportWidget*>(view_)->set_balloons(balloons);
}

void MainWindow::gesture_buttons(const std::vector<std::string>& labels) {
    for (QPushButton* b : gesture_bar_->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) delete b;
    for (size_t i = 0; i < labels.size(); ++i) {
        auto* b = new QPushButton(QString::fromStdString(labels[i]), gesture_bar_);
        const int command = kGestureCommandFirst + int(i);
        b->setObjectName(QString("command_%1").arg(command));
        // The keyboard stays with the view, where the user walks.
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedHeight(20);
        connect(b, &QPushButton::clicked, this, [command] { gesture_command(command); });
        gesture_row_->insertWidget(int(i), b);
    }
    gesture_bar_->setVisible(!labels.empty());
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
