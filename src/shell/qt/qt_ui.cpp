#include "shell/qt/qt_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

#include "core/layout.h"
#include "core/tasks.h"
#include "net/cgi.h"
#include "shell/qt/downloads_window.h"
#include "shell/qt/main_window.h"
#include "shell/qt/object_window.h"
#include "shell/qt/scheduler.h"
#include "shell/qt/settings_sheet.h"
#include "shell/qt/single_instance.h"
#include "shell/qt/web_pane.h"

namespace zk {

namespace {

int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
    char b = 1;
    if (g_signal_pipe[1] >= 0) {
        ssize_t n = write(g_signal_pipe[1], &b, 1);
        (void)n;
    }
}

QScreen* screen() { return QGuiApplication::primaryScreen(); }

// Signs: centred lines broken between words; no mnemonic flag, so "&" is
// drawn as it is.
constexpr int kSignFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;

}  // namespace

QtUi::QtUi() {
    // Scripts and tests run the program with nobody at the screen: boxes
    // then go to standard error and take their default answer.
    const char* u = std::getenv("ZELNIK_UNATTENDED");
    unattended_ = u && *u && *u != '0';

    // SIGTERM and SIGINT end the loop like closing the window, so shutdown
    // runs in order; one that arrives during start-up ends the loop as soon
    // as it runs.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) == 0) {
        notifier_ = std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            char b;
            ssize_t n = read(g_signal_pipe[0], &b, 1);
            (void)n;
            quit_loop();
        });
        struct sigaction sa {};
        sa.sa_handler = on_signal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }
}

QtUi::~QtUi() {
    delete window_;
    if (notifier_) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        notifier_.reset();
        close(g_signal_pipe[0]);
        close(g_signal_pipe[1]);
        g_signal_pipe[0] = g_signal_pipe[1] = -1;
    }
}

void QtUi::stop_box(const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    if (unattended_) return;
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, window_);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

int QtUi::screen_width() { return screen() ? screen()->geometry().width() : 1024; }
int QtUi::screen_height() { return screen() ? screen()->geometry().height() : 768; }
int QtUi::screen_depth() { return screen() ? screen()->depth() : 24; }

bool QtUi::main_window_create(const std::string& title, const WindowPlacement& placement) {
    window_ = new MainWindow(QString::fromStdString(title));
    object_window_install(window_);
    TrackLimits limits = layout_track_limits(screen_width(), screen_height());
    window_->setMinimumSize(limits.min_width, limits.min_height);
    window_->setMaximumSize(limits.max_width, limits.max_height);
    window_->resize(placement.width, placement.height);
    if (!placement.default_position) window_->move(placement.x, placement.y);
    return true;
}

void QtUi::main_window_show(bool maximized) {
    if (!window_) return;
    if (maximized)
        window_->showMaximized();
    else
        window_->show();
    window_->view_area()->setFocus();
    window_->repaint();
}

bool QtUi::main_window_geometry(WindowRect& rect) {
    if (!window_) return false;
    rect = {window_->pos().x(), window_->pos().y(), window_->width(), window_->height()};
    return true;
}

void QtUi::main_window_destroy() {
    delete window_;
    window_ = nullptr;
    layout_flush();  // the last place of a window moved just before the end
}

void QtUi::main_window_set_title(const std::string& title) {
    if (window_) window_->setWindowTitle(QString::fromStdString(title));
}

bool QtUi::toolbar_create(bool shown) {
    if (!window_) return false;
    window_->create_toolbar(shown);
    return true;
}

DepthWarningAnswer QtUi::depth_warning(const std::string& title, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    if (unattended_) return {};
    QDialog dialog(window_);
    dialog.setWindowTitle(QString::fromStdString(title));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(QString::fromStdString(text));
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* check = new QCheckBox("&Dont't display this message again");
    layout->addWidget(check);
    auto* buttons = new QDialogButtonBox;
    QPushButton* exit = buttons->addButton("&Exit", QDialogButtonBox::RejectRole);
    QPushButton* go_on = buttons->addButton("&Continue Anyway", QDialogButtonBox::AcceptRole);
    go_on->setDefault(true);
    (void)exit;
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    DepthWarningAnswer answer;
    answer.exit = dialog.exec() != QDialog::Accepted;
    answer.dont_show_again = check->isChecked();
    return answer;
}

bool QtUi::instance_hand_over(const std::string& program_dir, const std::string& command_line) {
    return single_instance_hand_over(QString::fromStdString(program_dir), QByteArray::fromStdString(command_line));
}

void QtUi::instance_listen(const std::string& program_dir) {
    instance_ = std::make_unique<SingleInstanceServer>(QString::fromStdString(program_dir), [this](const QByteArray& line) {
        if (window_) window_->bring_to_front();
        cgi_hand_in(line.toStdString());
    });
}

int QtUi::run_loop() {
    Scheduler scheduler;
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &scheduler,
                     [&scheduler](Qt::ApplicationState state) {
                         // Without a window manager nothing is ever
                         // activated; only a real change away counts.
                         if (state == Qt::ApplicationActive)
                             scheduler.set_active(true);
                         else if (state == Qt::ApplicationInactive || state == Qt::ApplicationHidden)
                             scheduler.set_active(false);
                     });
    if (quit_requested_) return 0;
    scheduler.start();
    int rc = QApplication::exec();
    scheduler.stop();

    return rc;
}

void QtUi::quit_loop() {
    // Before the loop runs, quit() would be lost: remember it instead.
    quit_requested_ = true;
    QApplication::quit();
}

void QtUi::menu_bar_set(const std::vector<MenuPopup>& popups) {
    if (window_) window_->set_menu_bar(popups);
}

int QtUi::menu_bar_height() {
    if (window_ && window_->menuBar()->height() > 0) return window_->menuBar()->height();
    return QFontMetrics(QApplication::font()).height() + 8;
}

void QtUi::main_window_close() {
    if (window_) window_->close();
}

void QtUi::toolbar_toggle() {
    if (window_) window_->toggle_toolbar();
}

bool QtUi::address_open(const std::string& address) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(address), QUrl::StrictMode));
}

bool QtUi::web_pane_show(bool shown) { return window_ && window_->web_show(shown); }

void QtUi::web_navigate(const std::string& address) {
    if (window_) window_->web_pane()->navigate(address);
}

void QtUi::web_back() {
    if (window_) window_->web_pane()->back();
}

void QtUi::web_forward() {
    if (window_) window_->web_pane()->forward();
}

void QtUi::web_stop() {
    if (window_) window_->web_pane()->stop();
}

void QtUi::web_reload() {
    if (window_) window_->web_pane()->reload();
}

bool QtUi::web_busy() { return window_ && window_->web_pane()->busy(); }

bool QtUi::web_open_dialog(std::string& address) {
    // Nobody at the screen: the dialog is cancelled.
    return !unattended_ && window_ && web_location_dialog(window_, address);
}

void QtUi::menu_enable(int command, bool enabled) {
    if (QAction* a = window_ ? window_->menu_action(command) : nullptr) a->setEnabled(enabled);
}

void QtUi::menu_check(int command, bool checked) {
    if (QAction* a = window_ ? window_->menu_action(command) : nullptr) {
        a->setCheckable(true);
        a->setChecked(checked);
    }
}

void QtUi::toolbar_enable(int command, bool enabled) {
    if (QAction* a = window_ ? window_->toolbar_action(command) : nullptr) a->setEnabled(enabled);
}

void QtUi::toolbar_press(int command, bool pressed) {
    if (QAction* a = window_ ? window_->toolbar_action(command) : nullptr) {
        a->setCheckable(true);
        a->setChecked(pressed);
    }
}

void QtUi::downloads_window_show(bool shown, int x, int y) {
    if (!shown) {
        if (downloads_) downloads_->hide();
        return;
    }
    if (!window_) return;
    if (!downloads_) downloads_ = new DownloadsWindow(window_);
    downloads_->move(x, y);
    downloads_->show();
    window_->activateWindow();  // the focus stays with the world
}

void QtUi::downloads_window_update(const DownloadsView& view) {
    if (downloads_ && downloads_->isVisible()) downloads_->show_view(view);
}

int QtUi::status_pane_add(int weight) { return window_ ? window_->status_add(weight) : 0; }

void QtUi::status_pane_set(int pane, const std::string& text) {
    if (window_) window_->status_set(pane, QString::fromStdString(text));
}

void QtUi::status_pane_remove(int pane) {
    if (window_) window_->status_remove(pane);
}

bool QtUi::cursor_position(int* x, int* y) {
    if (!window_) return false;
    const QPoint p = window_->mapFromGlobal(QCursor::pos());
    *x = p.x(), *y = p.y();
    return true;
}

void QtUi::cursor_move(int x, int y) {
    if (window_) QCursor::setPos(window_->mapToGlobal(QPoint(x, y)));
}

void QtUi::cursor_hide(bool hidden) {
    if (!window_) return;
    if (hidden) window_->setCursor(Qt::BlankCursor);
    else window_->unsetCursor();
}

void QtUi::cursor_busy(bool busy) {
    // Kept balanced: Qt stacks override cursors.
    if (busy == busy_cursor_) return;
    busy_cursor_ = busy;
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
}

bool QtUi::main_window_active() { return window_ && window_->isActiveWindow(); }

int QtUi::sign_font() {
    if (!sign_font_) {
        // "Arial", or what fontconfig puts in its place (Liberation Sans).
        sign_font_ = std::make_unique<QFont>(QStringLiteral("Arial"));
        sign_font_->setPixelSize(32);
        sign_font_->setWeight(QFont::DemiBold);
        // Two colours: a pixel is text or it is not.
        sign_font_->setStyleStrategy(QFont::NoAntialias);
    }
    return QFontMetrics(*sign_font_).height();
}

bool QtUi::sign_measure(const std::string& text, int width, int* text_width, int* text_height) {
    if (!sign_font_) return false;
    const QRect box(0, 0, std::max(width, 0), 1 << 20);
    const QRect r = QFontMetrics(*sign_font_).boundingRect(box, kSignFlags, QString::fromStdString(text));
    *text_width = r.width();
    *text_height = r.height();
    return true;
}

bool QtUi::sign_draw(const std::string& text, int width, int height, int left, int top, int text_width,
                     uint8_t* pixels) {
    if (!sign_font_ || width <= 0 || height <= 0) return false;
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setFont(*sign_font_);
        painter.setPen(Qt::white);
        painter.drawText(QRect(left, top, text_width, height - top), kSignFlags, QString::fromStdString(text));
    }
    for (int y = 0; y < height; ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < width; ++x)
            if (row[x] >= 128) pixels[size_t(y) * width + x] = 1;
    }
    return true;
}

void QtUi::console_append(const std::string& text, uint32_t rgb, bool bold, bool line_break) {
    if (window_) window_->console_append(text, rgb, bold, line_break);
}

void QtUi::console_remove(int characters) {
    if (window_) window_->console_remove(characters);
}

void QtUi::chat_entry_reset() {
    if (window_) window_->chat_entry_reset();
}

void QtUi::balloons_show(const std::vector<BalloonDraw>& balloons) {
    if (window_) window_->balloons_show(balloons);
}

void QtUi::gesture_buttons(const std::vector<std::string>& labels) {
    if (window_) window_->gesture_buttons(labels);
}

int QtUi::avatar_menu(int x, int y, const std::string& name, bool muted) {
    if (!window_) return 0;
    QMenu menu(window_);
    menu.addAction(QString::fromStdString(name))->setEnabled(false);
    menu.addSeparator();
    QAction* mute = menu.addAction("Mute");
    mute->setCheckable(true);
    mute->setChecked(muted);
    return menu.exec(window_->view_area()->mapToGlobal(QPoint(x, y))) == mute ? 9000 : 0;
}

void QtUi::settings_sheet() { settings_sheet_exec(window_); }

}  // namespace zk
