#include "shell/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QLabel>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QRubberBand>
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
#include <functional>

#include "core/layout.h"
#include "core/log.h"
#include "core/settings.h"
#include "app/startup.h"
#include "art/download.h"
#include "platform/os.h"
#include "shell/menu.h"
#include "shell/qt/toolbar_icons.h"
#include "shell/qt/viewport_widget.h"
#include "shell/qt/web_pane.h"
#include "shell/slider.h"
#include "shell/status.h"
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
    // The keys the View menu names; with an object selected they turn it
    // instead (above).
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        menu_handle(event->key() == Qt::Key_PageUp ? kCommandLookUp : kCommandLookDown);
        return;
    }
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

namespace {

// The central widget: its free strips between the panes are the splitters.
class ClientArea : public QWidget {
public:
    explicit ClientArea(MainWindow* window) : QWidget(window), window_(window) { setMouseTracking(true); }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        window_->lay_out();
    }
    void mousePressEvent(QMouseEvent* e) override { forward(e); }
    void mouseMoveEvent(QMouseEvent* e) override { forward(e); }
    void mouseReleaseEvent(QMouseEvent* e) override { forward(e); }

private:
    void forward(QMouseEvent* e) {
        const QPoint p = e->position().toPoint() + QPoint(0, window_->client_top());
        if (!window_->splitter_mouse(e->type(), p, e->buttons())) e->ignore();
    }
    MainWindow* window_;
};

// The status bar's row of panes: its own width, known only once the bar
// has laid it out, shares the panes out.
class StatusRow : public QWidget {
public:
    StatusRow(QWidget* parent, std::function<void()> resized) : QWidget(parent), resized_(std::move(resized)) {}

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        resized_();
    }

private:
    std::function<void()> resized_;
};

QKeySequence key_of(int key) {
    if (key >= menu_key_f1 && key <= menu_key_f12) return QKeySequence(Qt::Key_F1 + (key - menu_key_f1));
    if (key == menu_key_home) return QKeySequence(Qt::Key_Home);
    if (key == menu_key_end) return QKeySequence(Qt::Key_End);
    return {};
}

QRect qrect(const WindowRect& r, int top) { return QRect(r.x, r.y - top, std::max(r.width, 0), std::max(r.height, 0)); }

}  // namespace

MainWindow::MainWindow(const QString& title) {
    setWindowTitle(title);
    setObjectName("main_window");
    // The gesture strip and the 3D view above the split, the console and
    // the chat line under it; lay_out places them.
    auto* centre = new ClientArea(this);
    gesture_bar_ = new QWidget(centre);
    gesture_bar_->setObjectName("gesture_bar");
    gesture_row_ = new QHBoxLayout(gesture_bar_);
    gesture_row_->setContentsMargins(8, 1, 0, 2);
    gesture_row_->setSpacing(3);
    gesture_row_->addStretch(1);
    gesture_bar_->hide();
    view_ = new ViewportWidget(centre);

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

    chat_ = new QLineEdit(centre);
    chat_->setObjectName("chat_entry");
    chat_->setMaxLength(int(kChatEntryMax));
    connect(chat_, &QLineEdit::returnPressed, this, [this] { chat_enter(chat_->text().toStdString()); });
    // The web pane, hidden until the web module shows it.
    web_ = new WebPane(centre);
    setCentralWidget(centre);

    // The status bar: the program's own pane, then the modules'.
    status_row_ = new StatusRow(statusBar(), [this] { place_status_panes(); });
    status_row_->setObjectName("status_panes");
    statusBar()->addWidget(status_row_, 1);
    statusBar()->setSizeGripEnabled(true);
    status_add(kStatusMainWeight);

    split_bar_ = new QRubberBand(QRubberBand::Line, centre);

    layout_timer_ = new QTimer(this);
    layout_timer_->setSingleShot(true);
    layout_timer_->setTimerType(Qt::PreciseTimer);
    connect(layout_timer_, &QTimer::timeout, this, [this] {
        layout_update(os_tick_count());
        layout_later();
    });
}

QAction* MainWindow::command_action(const MenuItem& item, bool* created) {
    auto it = actions_.find(item.command);
    *created = it == actions_.end();
    if (!*created) return it->second;
    auto* a = new QAction(this);
    a->setObjectName(QString("command_%1").arg(item.command));
    const int command = item.command;
    connect(a, &QAction::triggered, this, [a, command] {
        menu_handle(command);
        // An avatar item stays checked when chosen again.
        if (command >= kCommandAvatarFirst && command < kCommandLocationFirst)
            a->setChecked(menu_avatar_checked() == command - kCommandAvatarFirst);
    });
    actions_[command] = a;
    return a;
}

void MainWindow::set_menu_bar(const std::vector<MenuPopup>& popups) {
    menuBar()->clear();
    // A menu may be the one whose item is running now: it goes later, and
    // nameless so that it is not taken for its successor.
    for (QMenu* m : menus_) {
        m->setObjectName(QString());
        m->deleteLater();
    }
    menus_.clear();
    for (const MenuPopup& popup : popups) {
        QMenu* menu = menuBar()->addMenu(QString::fromStdString(popup.title));
        QString name = QString::fromStdString(popup.title).remove('&').toLower();
        menu->setObjectName("menu_" + name);
        menus_.push_back(menu);
        for (const MenuItem& item : popup.items) {
            if (!item.command) {
                menu->addSeparator();
                continue;
            }
            bool created = false;
            QAction* a = command_action(item, &created);
            // After a tab stands the key's name, which the menu shows on
            // the right.
            a->setText(QString::fromStdString(item.text));
            a->setShortcut(key_of(item.key));
            a->setCheckable(item.checkable || a->isCheckable());
            // The state set since by the modules stays; new items and the
            // avatar list take the model's.
            if (created || item.command >= kCommandAvatarFirst) {
                a->setEnabled(item.enabled);
                a->setChecked(item.checked);
            }
            menu->addAction(a);
        }
    }
}

QAction* MainWindow::menu_action(int command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

QAction* MainWindow::toolbar_action(int command) const {
    auto it = toolbar_actions_.find(command);
    return it == toolbar_actions_.end() ? nullptr : it->second;
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
        toolbar_->setIconSize(QSize(16, 16));
        toolbar_->toggleViewAction()->setVisible(false);
        for (int command : menu_toolbar_buttons()) {
            if (!command) {
                toolbar_->addSeparator();
                continue;
            }
            QAction* a = toolbar_->addAction(toolbar_icon(command), QString::fromStdString(menu_tooltip(command)));
            a->setObjectName(QString("button_%1").arg(command));
            a->setToolTip(QString::fromStdString(menu_tooltip(command)));
            // A button whose menu item is disabled starts so too.
            if (QAction* item = menu_action(command)) a->setEnabled(item->isEnabled());
            connect(a, &QAction::triggered, this, [command] { menu_handle(command); });
            toolbar_actions_[command] = a;
        }
    }
    toolbar_->setVisible(shown);
    if (QAction* item = menu_action(kCommandShowToolbar)) item->setChecked(shown);
}

bool MainWindow::toolbar_shown() const { return toolbar_ && !toolbar_->isHidden(); }

void MainWindow::toggle_toolbar() {
    if (!toolbar_) return;
    const bool shown = !toolbar_shown();
    toolbar_->setVisible(shown);
    if (QAction* item = menu_action(kCommandShowToolbar)) item->setChecked(shown);
    settings_put_int("show", "toolbar", shown ? 1 : 0);
}

int MainWindow::client_top() const { return toolbar_shown() ? toolbar_->height() : 0; }

void MainWindow::lay_out() {
    QWidget* centre = centralWidget();
    if (!centre) return;
    const int top = client_top();
    const int status_height = statusBar()->isHidden() ? 0 : statusBar()->height();
    const int width = centre->width();
    const int height = centre->height() + top + status_height;
    const bool web = web_ && !web_->isHidden();
    const PaneLayout p = slider_layout(width, height, top, status_height, web);
    // The rows split - 2 ... split + 1 are the splitter's own, free of
    // panes, so that the mouse finds it; so are the columns vsplit - 2 ...
    // vsplit + 1 while the web pane is shown.
    const int left = web ? std::max(0, p.vsplit - 2) : p.view.width;
    WindowRect view = p.view;
    view.width = left;
    view.height = std::max(0, p.split - 2 - view.y);
    WindowRect console = p.console;
    const int console_bottom = console.y + console.height;
    console.y = std::max(console.y, p.split + 2);
    console.height = std::max(0, console_bottom - console.y);
    console.width = left;
    WindowRect chat = p.chat;
    chat.width = left;
    gesture_bar_->setGeometry(0, 0, view.width, kGestureStripHeight);
    view_->setGeometry(qrect(view, top));
    console_->setGeometry(qrect(console, top));
    chat_->setGeometry(qrect(chat, top));
    if (web) {
        WindowRect pane = p.web;
        pane.x += 2;
        pane.width -= 2;
        web_->setGeometry(qrect(pane, top));
        // Where the pane is in the window, for whoever reads the trace.
        const QRect traced(pane.x, pane.y + menuBar()->height(), std::max(pane.width, 0), std::max(pane.height, 0));
        if (traced != traced_web_ && log_on(Trace::trace))
            log_write("lay_out: web at %d,%d %dx%d", traced.x(), traced.y(), traced.width(), traced.height());
        traced_web_ = traced;
    }
    // Where the split line is in the window, for whoever reads the trace.
    const int split = p.split + menuBar()->height();
    if (split != traced_split_ && log_on(Trace::trace))
        log_write("lay_out: split at %d of %d x %d", split, width, height);
    traced_split_ = split;
}

bool MainWindow::web_show(bool shown) {
    if (shown && !web_->create_control()) return false;
    if (!shown) web_->destroy_control();
    web_->setVisible(shown);
    traced_web_ = QRect();
    lay_out();
    return true;
}

bool MainWindow::splitter_mouse(QEvent::Type type, QPoint client, Qt::MouseButtons buttons) {
    const int top = client_top();
    switch (type) {
    case QEvent::MouseButtonPress:
        if (!(buttons & Qt::LeftButton)) return false;
        if (slider_press(client.x(), client.y())) {
            dragging_ = 1;
        } else if (vslider_press(client.x(), client.y())) {
            dragging_ = 2;
        } else {
            return false;
        }
        centralWidget()->grabMouse(dragging_ == 1 ? Qt::SizeVerCursor : Qt::SizeHorCursor);
        [[fallthrough]];
    case QEvent::MouseMove:
        if (dragging_ == 1) {
            const int y = slider_move(client.y());
            split_bar_->setGeometry(0, y - 2 - top, centralWidget()->width(), 4);
            split_bar_->show();
        } else if (dragging_ == 2) {
            const int x = vslider_move(client.x());
            split_bar_->setGeometry(x - 2, 0, 4, centralWidget()->height());
            split_bar_->show();
        } else if (slider_over(client.x(), client.y())) {
            centralWidget()->setCursor(Qt::SizeVerCursor);
        } else if (vslider_over(client.x(), client.y())) {
            centralWidget()->setCursor(Qt::SizeHorCursor);
        } else {
            centralWidget()->unsetCursor();
        }
        return true;
    case QEvent::MouseButtonRelease:
        if (!dragging_) return false;
        if (dragging_ == 1) slider_release(client.y());
        else vslider_release(client.x());
        dragging_ = 0;
        split_bar_->hide();
        centralWidget()->releaseMouse();
        lay_out();
        return true;
    default: return false;
    }
}

int MainWindow::status_add(int weight) {
    auto* label = new QLabel(status_row_);
    label->setObjectName(QString("status_pane_%1").arg(next_pane_));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->show();
    panes_.push_back({next_pane_, std::max(weight, 1), label});
    place_status_panes();
    return next_pane_++;
}

void MainWindow::status_set(int pane, const QString& text) {
    if (QLabel* label = status_label(pane)) label->setText(text);
}

void MainWindow::status_remove(int pane) {
    auto it = std::find_if(panes_.begin(), panes_.end(), [pane](const Pane& p) { return p.handle == pane; });
    // The program's own pane stays.
    if (it == panes_.end() || it == panes_.begin()) return;
    delete it->label;
    panes_.erase(it);
    place_status_panes();
}

QLabel* MainWindow::status_label(int pane) const {
    for (const Pane& p : panes_)
        if (p.handle == pane) return p.label;
    return nullptr;
}

void MainWindow::place_status_panes() {
    std::vector<int> weights;
    for (const Pane& p : panes_) weights.push_back(p.weight);
    // The edges leave 15 pixels for the size grip in the last pane; here the
    // grip stands beside the row, so the row is shared as if it were in it.
    const int width = status_row_->width();
    const std::vector<int> edges = status_edges(weights, width + 15);
    int left = 0;
    for (size_t i = 0; i < panes_.size() && i < edges.size(); ++i) {
        const int right = std::min(edges[i], width);
        panes_[i].label->setGeometry(left, 0, std::max(right - left - 2, 0), status_row_->height());
        left = right;
    }
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
