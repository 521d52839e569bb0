// A line of bytes from anywhere (chat, a world's messages) printed in the
// console and put in a balloon. Whatever the bytes, what reaches the pane is
// valid UTF-8 with no control character but the one tab, at most a line long,
// and made safe already (making it safe again changes nothing).
//
// Input: a style byte, then the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "people/balloon.h"
#include "people/console.h"
#include "platform/ui.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

class Pane : public zk::UiPort {
public:
    void console_append(const std::string& text, uint32_t, bool, bool) override {
        check(text.size() <= zk::kConsoleLineMax);
        int tabs = 0;
        for (unsigned char c : text) tabs += c == '\t', check(c >= 0x20 || c == '\t');
        check(tabs <= 1);
        std::string again = text;
        if (size_t t = again.find('\t'); t != std::string::npos) again[t] = ' ';
        check(zk::console_text(again) == again);
    }
    void stop_box(const std::string&, const std::string&) override {}
    int screen_width() override { return 1024; }
    int screen_height() override { return 768; }
    int screen_depth() override { return 24; }
    bool main_window_create(const std::string&, const zk::WindowPlacement&) override { return true; }
    void main_window_show(bool) override {}
    bool main_window_geometry(zk::WindowRect&) override { return false; }
    void main_window_destroy() override {}
    bool toolbar_create(bool) override { return true; }
    zk::DepthWarningAnswer depth_warning(const std::string&, const std::string&) override { return {}; }
    bool instance_hand_over(const std::string&, const std::string&) override { return false; }
    void instance_listen(const std::string&) override {}
    int run_loop() override { return 0; }
    void quit_loop() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Pane pane;
    zk::ui_set_port(&pane);
    if (size == 0) return 0;
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    zk::console_print(static_cast<int8_t>(data[0]), line);
    zk::Balloon* b = zk::balloon_create();
    zk::balloon_set_text(b, line);
    zk::balloon_destroy(b);
    zk::console_term();
    zk::ui_set_port(nullptr);
    return 0;
}
