// The main window: menu bar, toolbar, the 3D view area and the status bar.
#pragma once

#include <QEvent>
#include <QMainWindow>
#include <map>
#include <string>
#include <vector>

#include "platform/ui.h"

class QAction;
class QHBoxLayout;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QRubberBand;
class QTextEdit;
class QTimer;
class QToolBar;

namespace zk {

class WebPane;

// Hands a movement key (arrows, keypad, Ctrl, Shift) to the key-state
// tables, or, while an object is selected for building, an editing key
// (Delete, Insert, arrows, +, -, Page Up/Down) to the building commands;
// false for any other key.
bool shell_movement_key(const QKeyEvent* event, bool down);

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const QString& title);

    void create_toolbar(bool shown);
    bool toolbar_shown() const;
    void toggle_toolbar();
    QWidget* view_area() const { return view_; }

    // The menu bar from its model; every command's item is one action that
    // lives as long as the window.
    void set_menu_bar(const std::vector<MenuPopup>& popups);
    QAction* menu_action(int command) const;
    QAction* toolbar_action(int command) const;

    // Status panes after the program's own, each as wide as its weight's
    // share of the bar.
    int status_add(int weight);
    void status_set(int pane, const QString& text);
    void status_remove(int pane);
    QLabel* status_label(int pane) const;

    // Places the gesture strip, the 3D view, the console, the chat line and
    // the web pane for the current size and split fractions.
    void lay_out();
    // The client area's offset of the central widget (the toolbar above it).
    int client_top() const;

    // The splitters, driven from the central widget's mouse events (client
    // coordinates).
    bool splitter_mouse(QEvent::Type type, QPoint client, Qt::MouseButtons buttons);
    // Brings the window to the front, restoring it when minimised.
    void bring_to_front();

    // The console, the chat entry, the balloons and the gesture bar.
    void console_append(const std::string& text, uint32_t rgb, bool bold, bool line_break);
    void console_remove(int characters);
    void chat_entry_reset();
    void balloons_show(const std::vector<BalloonDraw>& balloons);
    void gesture_buttons(const std::vector<std::string>& labels);
    QTextEdit* console() const { return console_; }
    QLineEdit* chat_entry() const { return chat_; }

    // The web pane right of the left column: shown (false when its browser
    // could not be made) or hidden, and the window laid out again.
    bool web_show(bool shown);
    WebPane* web_pane() const { return web_; }

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void layout_later();
    void place_status_panes();
    QAction* command_action(const MenuItem& item, bool* created);

    QWidget* view_ = nullptr;
    QWidget* gesture_bar_ = nullptr;
    QHBoxLayout* gesture_row_ = nullptr;
    QTextEdit* console_ = nullptr;
    QLineEdit* chat_ = nullptr;
    WebPane* web_ = nullptr;
    QRect traced_web_;
    bool forwarding_ = false;  // a typed key on its way to the chat entry
    QTimer* layout_timer_ = nullptr;  // writes what the [layout] throttle held back
    QToolBar* toolbar_ = nullptr;
    std::map<int, QAction*> actions_;          // menu items by command
    std::map<int, QAction*> toolbar_actions_;  // toolbar buttons by command
    std::vector<QMenu*> menus_;
    struct Pane {
        int handle, weight;
        QLabel* label;
    };
    std::vector<Pane> panes_;  // the first is the program's own
    QWidget* status_row_ = nullptr;
    int next_pane_ = 1;
    QRubberBand* split_bar_ = nullptr;  // the splitter being dragged
    int dragging_ = 0;                  // 1 horizontal, 2 vertical
    int traced_split_ = -1;
};

}  // namespace zk
