// A scripted window-system port: records what the program asked for and
// answers as the test says.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace zk::test {

class FakeUi : public UiPort {
public:
    struct Box {
        std::string caption, text;
    };

    std::vector<Box> boxes;
    std::vector<std::string> depth_warnings;
    DepthWarningAnswer depth_answer;
    int width = 1024, height = 768, depth = 24;
    bool window_created = false, window_shown = false, window_maximized = false;
    WindowPlacement placement;
    bool toolbar_shown = false;
    bool running_instance = false;
    std::string handed_over;
    int loops_run = 0;
    int quits = 0;

    void stop_box(const std::string& caption, const std::string& text) override { boxes.push_back({caption, text}); }
    int screen_width() override { return width; }
    int screen_height() override { return height; }
    int screen_depth() override { return depth; }
    bool main_window_create(const std::string& t, const WindowPlacement& p) override {
        title = created_title = t;
        placement = p;
        window_created = true;
        return true;
    }
    void main_window_show(bool maximized) override {
        window_shown = true;
        window_maximized = maximized;
    }
    bool main_window_geometry(WindowRect& rect) override {
        if (window_created) rect = {placement.x, placement.y, placement.width, placement.height};
        return window_created;
    }
    void main_window_destroy() override { window_created = false; }
    bool toolbar_create(bool shown) override {
        toolbar_shown = shown;
        return true;
    }
    void main_window_set_title(const std::string& t) override { title = t; }
    DepthWarningAnswer depth_warning(const std::string&, const std::string& text) override {
        depth_warnings.push_back(text);
        return depth_answer;
    }
    bool instance_hand_over(const std::string&, const std::string& command_line) override {
        if (running_instance) handed_over = command_line;
        return running_instance;
    }
    void instance_listen(const std::string&) override {}
    int run_loop() override {
        ++loops_run;
        return 0;
    }
    void quit_loop() override { ++quits; }

    std::string title;          // the window's title now
    std::string created_title;  // its title when it was made

    // Menu and toolbar state by command number, and the status panes.
    std::map<int, bool> menu_enabled, menu_checked, toolbar_enabled, toolbar_pressed;
    std::map<int, std::string> panes;
    int next_pane = 1;
    void menu_enable(int command, bool on) override { menu_enabled[command] = on; }
    void menu_check(int command, bool on) override { menu_checked[command] = on; }
    void toolbar_enable(int command, bool on) override { toolbar_enabled[command] = on; }
    void toolbar_press(int command, bool on) override { toolbar_pressed[command] = on; }
    int status_pane_add(int weight) override {
        weights[next_pane] = weight;
        panes[next_pane] = "";
        return next_pane++;
    }
    std::map<int, int> weights;
    void status_pane_set(int pane, const std::string& text) override {
        if (panes.count(pane)) panes[pane] = text;
    }
    void status_pane_remove(int pane) override { panes.erase(pane); }

    // The menu bar as last set, and the window system's own commands.
    std::vector<MenuPopup> menu_bar;
    int menu_bar_sets = 0, bar_height = 20, closes = 0, toolbar_toggles = 0, settings_sheets = 0;
    void menu_bar_set(const std::vector<MenuPopup>& popups) override {
        menu_bar = popups;
        ++menu_bar_sets;
    }
    int menu_bar_height() override { return bar_height; }
    void main_window_close() override { ++closes; }
    void toolbar_toggle() override { ++toolbar_toggles; }
    void settings_sheet() override { ++settings_sheets; }

    // The cursor in client coordinates, as the test places it.
    int cursor_x = 0, cursor_y = 0;
    bool cursor_known = true, cursor_hidden = false, busy = false, active = true;
    bool cursor_position(int* x, int* y) override {
        *x = cursor_x, *y = cursor_y;
        return cursor_known;
    }
    void cursor_move(int x, int y) override { cursor_x = x, cursor_y = y; }
    void cursor_hide(bool hidden) override { cursor_hidden = hidden; }
    void cursor_busy(bool on) override { busy = on; }
    bool main_window_active() override { return active; }

    // Signs in a font of blocks: every character 16 x 32 pixels, a visible
    // one a block inset by 2 and 4; lines broken between words to fit.
    static constexpr int kSignChar = 16, kSignLine = 32;
    int sign_measures = 0;
    int sign_font() override { return kSignLine; }
    static std::vector<std::string> sign_lines(const std::string& text, int width) {
        std::vector<std::string> lines(1);
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find(' ', at);
            const std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end == std::string::npos ? text.size() : end + 1;
            std::string& line = lines.back();
            if (line.empty() || int(line.size() + 1 + word.size()) * kSignChar <= width)
                line += (line.empty() ? "" : " ") + word;
            else
                lines.push_back(word);
        }
        return lines;
    }
    bool sign_measure(const std::string& text, int width, int* w, int* h) override {
        ++sign_measures;
        *w = 0;
        for (const std::string& line : sign_lines(text, width)) *w = std::max(*w, int(line.size()) * kSignChar);
        *h = int(sign_lines(text, width).size()) * kSignLine;
        return true;
    }
    bool sign_draw(const std::string& text, int width, int height, int left, int top, int text_width,
                   uint8_t* pixels) override {
        int y = top;
        for (const std::string& line : sign_lines(text, text_width)) {
            const int x0 = left + (text_width - int(line.size()) * kSignChar) / 2;
            for (size_t i = 0; i < line.size(); ++i)
                for (int py = y + 4; line[i] != ' ' && py < y + kSignLine - 4; ++py)
                    for (int px = x0 + int(i) * kSignChar + 2; px < x0 + int(i + 1) * kSignChar - 2; ++px)
                        if (px >= 0 && px < width && py >= 0 && py < height) pixels[py * width + px] = 1;
            y += kSignLine;
        }
        return true;
    }

    // The console as plain text ("\r\n" between lines; ASCII in tests, so
    // a byte is a character) with each line's colour and weight; the chat
    // entry's resets, the balloons shown, the gesture labels.
    std::string console;
    std::vector<std::pair<uint32_t, bool>> console_styles;
    int chat_resets = 0;
    std::vector<BalloonDraw> balloons;
    std::vector<std::string> gestures;
    void console_append(const std::string& text, uint32_t rgb, bool bold, bool line_break) override {
        console += (line_break ? "\r\n" : "") + text;
        console_styles.push_back({rgb, bold});
    }
    void console_remove(int n) override { console.erase(0, size_t(n)); }
    void chat_entry_reset() override { ++chat_resets; }
    void balloons_show(const std::vector<BalloonDraw>& b) override { balloons = b; }
    void gesture_buttons(const std::vector<std::string>& labels) override { gestures = labels; }

    // The web pane: whether it is shown, the control's moves in order
    // ("show", "navigate <address>", "back"...), which call `during_web_move`
    // while they run; whether a page loads; what Open Web Location answers
    // (none cancels).
    bool web_pane = false, web_can_show = true, web_loading = false;
    std::vector<std::string> web_moves;
    std::function<void()> during_web_move;
    std::optional<std::string> web_typed;
    void web_move(const std::string& what) {
        web_moves.push_back(what);
        if (during_web_move) during_web_move();
    }
    bool web_pane_show(bool shown) override {
        if (shown && !web_can_show) return false;
        web_pane = shown;
        web_moves.push_back(shown ? "show" : "hide");
        return true;
    }
    void web_navigate(const std::string& address) override { web_move("navigate " + address); }
    void web_back() override { web_move("back"); }
    void web_forward() override { web_move("forward"); }
    void web_stop() override { web_move("stop"); }
    void web_reload() override { web_move("reload"); }
    bool web_busy() override { return web_loading; }
    bool web_open_dialog(std::string& address) override {
        web_moves.push_back("dialog " + address);
        if (web_typed) address = *web_typed;
        return web_typed.has_value();
    }
};

// Installs a FakeUi for the life of the object.
class ScopedFakeUi {
public:
    ScopedFakeUi() { ui_set_port(&fake); }
    ~ScopedFakeUi() { ui_set_port(nullptr); }
    FakeUi fake;
};

}  // namespace zk::test
