// The window-system port implemented with Qt.
#pragma once

#include <memory>

#include "platform/ui.h"

class QSocketNotifier;

namespace zk {

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
    DepthWarningAnswer depth_warning(const std::string& title, const std::string& text) override;
    bool instance_hand_over(const std::string& program_dir, const std::string& command_line) override;
    void instance_listen(const std::string& program_dir) override;
    int run_loop() override;
    void quit_loop() override;

    MainWindow* main_window() const { return window_; }

private:
    MainWindow* window_ = nullptr;
    std::unique_ptr<SingleInstanceServer> instance_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool unattended_ = false;
};

}  // namespace zk
