#include "support/fake_ui.h"

namespace zk::test {

void FakeUi::stop_box(const std::string& caption, const std::string& text) { boxes.push_back({caption, text}); }

bool FakeUi::main_window_create(const std::string& t, const WindowPlacement& p) {
    title = t;
    created_title = t;
    placement = p;
    window_created = true;
    return true;
}

void FakeUi::main_window_show(bool maximized) {
    window_shown = true;
    window_maximized = maximized;
}

bool FakeUi::main_window_geometry(WindowRect& rect) {
    if (!window_created) return false;
    rect = {placement.x, placement.y, placement.width, placement.height};
    return true;
}

bool FakeUi::toolbar_create(bool shown) {
    toolbar_shown = shown;
    return true;
}

DepthWarningAnswer FakeUi::depth_warning(const std::string&, const std::string& text) {
    depth_warnings.push_back(text);
    return depth_answer;
}

bool FakeUi::instance_hand_over(const std::string&, const std::string& command_line) {
    if (!running_instance) return false;
    handed_over = command_line;
    return true;
}

int FakeUi::run_loop() {
    ++loops_run;
    return 0;
}

}  // namespace zk::test
