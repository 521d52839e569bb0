// The window-system services that the program's modules need, implemented
// with Qt by the shell and by a scripted fake in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

struct WindowRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// Where the main window opens: at (x, y) unless `default_position`.
struct WindowPlacement {
    bool default_position = true;
    int x = 0, y = 0;
    int width = 480, height = 400;
};

// What the Downloads window shows: a line per transfer slot and how many
// requests wait.
struct DownloadLine {
    bool active = false;
    std::string name, state;
    uint32_t received = 0, length = 0;  // bytes of the body; length 0 while unknown
};
struct DownloadsView {
    DownloadLine lines[3];
    int waiting = 0;
};

// A balloon over the 3D view: the top left of its 80 x 64 rectangle in the
// view's pixels, and its text (UTF-8, no control characters).
struct BalloonDraw {
    int left = 0, top = 0;
    std::string text;
    bool operator==(const BalloonDraw&) const = default;
};

// An item of a menu: command 0 is a separator. The text has "&" before its
// mnemonic and, after a tab, the name of its key; `key` is the accelerator
// (a MenuKey, 0 for none).
enum MenuKey : int { menu_key_none = 0, menu_key_f1 = 1, menu_key_f12 = 12, menu_key_home = 13, menu_key_end = 14 };
struct MenuItem {
    int command = 0;
    std::string text;
    int key = menu_key_none;
    bool checkable = false, checked = false, enabled = true;
    bool column_break = false;  // starts a new column
    bool operator==(const MenuItem&) const = default;
};
struct MenuPopup {
    std::string title;
    std::vector<MenuItem> items;
    bool operator==(const MenuPopup&) const = default;
};

struct DepthWarningAnswer {
    bool exit = false;            // "Exit" rather than "Continue Anyway"
    bool dont_show_again = false; // the check box
};

class UiPort {
public:
    virtual ~UiPort() = default;

    // A modal stop box; returns when the user has dismissed it.
    virtual void stop_box(const std::string& caption, const std::string& text) = 0;

    virtual int screen_width() = 0;
    virtual int screen_height() = 0;
    virtual int screen_depth() = 0;

    virtual bool main_window_create(const std::string& title, const WindowPlacement& placement) = 0;
    virtual void main_window_show(bool maximized) = 0;
    virtual bool main_window_geometry(WindowRect& rect) = 0;
    virtual void main_window_destroy() = 0;
    virtual bool toolbar_create(bool shown) = 0;
    virtual void main_window_set_title(const std::string& title) { (void)title; }

    virtual DepthWarningAnswer depth_warning(const std::string& title, const std::string& text) = 0;

    // Hands the command line to a browser already running from the same
    // program directory; true when one took it (this process then exits).
    virtual bool instance_hand_over(const std::string& program_dir, const std::string& command_line) = 0;
    // Becomes the instance that later starts hand their command lines to.
    virtual void instance_listen(const std::string& program_dir) = 0;

    // Runs the event loop with the task timer until the program is asked to
    // quit; answers the loop's exit code.
    virtual int run_loop() = 0;
    virtual void quit_loop() = 0;
    // Whether the program was asked to end (a signal, the window closed)
    // while it was not yet in its loop; start-up's own waits give up then.
    virtual bool quit_requested() { return false; }

    // The menu bar, popups in order: replaces what it showed. Items keep the
    // enabled and checked state set through menu_enable and menu_check
    // unless the new list sets it.
    virtual void menu_bar_set(const std::vector<MenuPopup>& popups) { (void)popups; }
    // The menu bar's height in pixels.
    virtual int menu_bar_height() { return 20; }
    // The commands that only the window system can do: close the main
    // window, show or hide the toolbar, open the Settings sheet (modal).
    virtual void main_window_close() {}
    virtual void toolbar_toggle() {}
    virtual void settings_sheet() {}
    // Opens an address in the desktop's web browser; false when none took it.
    virtual bool address_open(const std::string& address) { (void)address; return false; }

    // The web pane right of the 3D view. Showing it makes its browser
    // control (false when that failed: the pane stays hidden); hiding drops
    // the control; either lays the main window out again. Then the
    // control's moves, and whether a page is still loading. The control
    // asks the web module before it follows any navigation.
    virtual bool web_pane_show(bool shown) { (void)shown; return false; }
    virtual void web_navigate(const std::string& address) { (void)address; }
    virtual void web_back() {}
    virtual void web_forward() {}
    virtual void web_stop() {}
    virtual void web_reload() {}
    virtual bool web_busy() { return false; }
    // "Open Web Location": the edit starts with `address`; true on OK with
    // the typed address in it.
    virtual bool web_open_dialog(std::string& address) { (void)address; return false; }

    // Menu items and toolbar buttons by command number; unknown numbers are
    // ignored.
    virtual void menu_enable(int command, bool enabled) { (void)command, (void)enabled; }
    virtual void menu_check(int command, bool checked) { (void)command, (void)checked; }
    virtual void toolbar_enable(int command, bool enabled) { (void)command, (void)enabled; }
    virtual void toolbar_press(int command, bool pressed) { (void)command, (void)pressed; }

    // A status-bar pane of a module's own: added after the others with a
    // relative width (a handle > 0, or 0 when none could be made), given a
    // text, removed.
    virtual int status_pane_add(int weight) { (void)weight; return 0; }
    virtual void status_pane_set(int pane, const std::string& text) { (void)pane, (void)text; }
    virtual void status_pane_remove(int pane) { (void)pane; }

    // The mouse cursor, in the main window's client coordinates: where it
    // is (false when unknown), moving it, hiding it, the hourglass.
    virtual bool cursor_position(int* x, int* y) { (void)x, (void)y; return false; }
    virtual void cursor_move(int x, int y) { (void)x, (void)y; }
    virtual void cursor_hide(bool hidden) { (void)hidden; }
    virtual void cursor_busy(bool busy) { (void)busy; }
    // Whether the main window is the active window.
    virtual bool main_window_active() { return true; }
    // The Downloads tool window: shown at (x, y) of the screen or hidden,
    // and its lines.
    virtual void downloads_window_show(bool shown, int x, int y) { (void)shown, (void)x, (void)y; }
    virtual void downloads_window_update(const DownloadsView& view) { (void)view; }

    // Text drawn on signs: one font made once ("Arial", 32 pixels high,
    // semibold), whose line height this answers (0 when there is no font).
    virtual int sign_font() { return 0; }
    // The size of `text` laid out centred and broken between words to fit
    // `width` (a word longer than that widens it). False without a font.
    virtual bool sign_measure(const std::string& text, int width, int* text_width, int* text_height) {
        (void)text, (void)width, (void)text_width, (void)text_height;
        return false;
    }
    // Draws `text` as sign_measure lays it out in the column of `text_width`
    // starting at (left, top), into `pixels` (width x height bytes, rows top
    // down), setting 1 where the text covers a pixel and leaving the rest.
    // An ampersand is a character like any other.
    virtual bool sign_draw(const std::string& text, int width, int height, int left, int top, int text_width,
                           uint8_t* pixels) {
        (void)text, (void)width, (void)height, (void)left, (void)top, (void)text_width, (void)pixels;
        return false;
    }

    // The console pane, the chat entry, balloons and the gesture bar.
    // A console line (UTF-8 with no control character but the tab) in a
    // colour (0xRRGGBB) and weight, after a line break unless it is the
    // first line the pane holds.
    virtual void console_append(const std::string& text, uint32_t rgb, bool bold, bool line_break) {
        (void)text, (void)rgb, (void)bold, (void)line_break;
    }
    // Removes the first `characters` characters (UTF-16 units; a line break
    // counts two, as "\r\n").
    virtual void console_remove(int characters) { (void)characters; }
    // Empties the chat entry and gives the keyboard focus back to the main
    // window.
    virtual void chat_entry_reset() {}
    // The balloons drawn over the view from now on (the list replaces the
    // last one).
    virtual void balloons_show(const std::vector<BalloonDraw>& balloons) { (void)balloons; }
    // The gesture buttons, one per label ("&" before the mnemonic letter);
    // none hides the bar.
    virtual void gesture_buttons(const std::vector<std::string>& labels) { (void)labels; }
    // Another user's pop-up menu at a point of the 3D view: the name (UTF-8),
    // then "Mute", checked when `muted`. Answers 9000 when Mute was chosen,
    // else 0.
    virtual int avatar_menu(int x, int y, const std::string& name, bool muted) {
        (void)x, (void)y, (void)name, (void)muted;
        return 0;
    }
};

// The port in use. Set once at start-up (the shell's, or a test's fake).
void ui_set_port(UiPort* port);
UiPort& ui();
bool ui_present();

}  // namespace zk
