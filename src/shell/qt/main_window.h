// The main window: menu bar, toolbar, the 3D view area and the status bar.
#pragma once

#include <QMainWindow>
#include <string>
#include <vector>

#include "platform/ui.h"

class QAction;
class QHBoxLayout;
class QKeyEvent;
class QLineEdit;
class QTextEdit;
class QTimer;
class QToolBar;

namespace zk {

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

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void layout_later();

    QWidget* view_ = nullptr;
    QWidget* gesture_bar_ = nullptr;
    QHBoxLayout* gesture_row_ = nullptr;
    QTextEdit* console_ = nullptr;
    QLineEdit* chat_ = nullptr;
    bool forwarding_ = false;          // a typed key on its way to the chat entry
    QAction* first_person_ = nullptr;  // menu items 126 and 127
    QAction* third_person_ = nullptr;
    QTimer* layout_timer_ = nullptr;  // writes what the [layout] throttle held back
    QToolBar* toolbar_ = nullptr;
    QAction* toolbar_action_ = nullptr;  // menu item 129
};

}  // namespace zk
