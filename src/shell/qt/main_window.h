// The main window: menu bar, toolbar, the 3D view area and the status bar.
#pragma once

#include <QMainWindow>

class QAction;
class QToolBar;

namespace zk {

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

private:
    QWidget* view_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QAction* toolbar_action_ = nullptr;  // menu item 129
};

}  // namespace zk
