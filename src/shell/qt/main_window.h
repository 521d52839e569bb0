// The main window: menu bar, toolbar, the 3D view area and the status bar.
#pragma once

#include <QMainWindow>

class QAction;
class QKeyEvent;
class QTimer;
class QToolBar;

namespace zk {

// Hands a movement key (arrows, keypad, Ctrl, Shift) to the key-state
// tables; false for any other key.
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

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void layout_later();

    QWidget* view_ = nullptr;
    QTimer* layout_timer_ = nullptr;  // writes what the [layout] throttle held back
    QToolBar* toolbar_ = nullptr;
    QAction* toolbar_action_ = nullptr;  // menu item 129
};

}  // namespace zk
