// The window-system port implemented with Qt.
#pragma once

#include <QFont>
#include <QPointer>

#include <map>
#include <memory>

#include "platform/ui.h"

class QLabel;
class QSocketNotifier;

namespace zk {

class DownloadsWindow;
class MainWindow;
class Scheduler;
class SingleInstanceServer;

class QtUi : public UiPort {
public:
    QtUi();
    ~QtUi() override;

    void stop_box(const std::string& caption, const std::string& text) override;
    int screen_width() override;
    int screen_height() override;
    int screen_depth() override;
    bool main_window_create(const std::string& title, const WindowPlacement& placement) override;
    void main_window_show(bool maximized) override;
    bool main_window_geometry(WindowRect& rect) override;
    void main_window_destroy() override;
    bool toolbar_create(bool shown) override;
    void main_window_set_title(const std::string& title) override;
    DepthWarningAnswer depth_warning(const std::string& title, const std::string& text) override;
    bool instance_hand_over(const std::string& program_dir, const std::string& command_line) override;
    void instance_listen(const std::string& program_dir) override;
    int run_loop() override;
    void quit_loop() override;
    bool quit_requested() override { return quit_requested_; }
    void menu_bar_set(const std::vector<MenuPopup>& popups) override;
    int menu_bar_height() override;
    void main_window_close() override;
    void toolbar_toggle() override;
    void settings_sheet() override;
    bool address_open(const std::string& address) override;
    bool web_pane_show(bool shown) override;
    void web_navigate(const std::string& address) override;
    void web_back() override;
    void web_forward() override;
    void web_stop() override;
    void web_reload() override;
    bool web_busy() override;
    bool web_open_dialog(std::string& address) override;
    void menu_enable(int command, bool enabled) override;
    void menu_check(int command, bool checked) override;
    void toolbar_enable(int command, bool enabled) override;
    void toolbar_press(int command, bool pressed) override;
    int status_pane_add(int weight) override;
    void status_pane_set(int pane, const std::string& text) override;
    void status_pane_remove(int pane) override;
    bool cursor_position(int* x, int* y) override;
    void cursor_move(int x, int y) override;
    void cursor_hide(bool hidden) override;
    void cursor_busy(bool busy) override;
    bool main_window_active() override;
    void downloads_window_show(bool shown, int x, int y) override;
    void downloads_window_update(const DownloadsView& view) override;
    int sign_font() override;
    bool sign_measure(const std::string& text, int width, int* text_width, int* text_height) override;
    bool sign_draw(const std::string& text, int width, int height, int left, int top, int text_width,
                   uint8_t* pixels) override;

    void console_append(const std::string& text, uint32_t rgb, bool bold, bool line_break) override;
    void console_remove(int characters) override;
    void chat_entry_reset() override;
    void balloons_show(const std::vector<BalloonDraw>& balloons) override;
    void gesture_buttons(const std::vector<std::string>& labels) override;
    int avatar_menu(int x, int y, const std::string& name, bool muted) override;

    MainWindow* main_window() const { return window_; }

private:
    MainWindow* window_ = nullptr;
    std::unique_ptr<SingleInstanceServer> instance_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool unattended_ = false;
    bool quit_requested_ = false;
    bool busy_cursor_ = false;
    QPointer<DownloadsWindow> downloads_;  // owned by the main window
    std::unique_ptr<QFont> sign_font_;
};

}  // namespace zk
