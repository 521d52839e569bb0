// The "Object properties" window of building: the Object and Edit menus,
// a toolbar of the editing commands, the four edit fields and the owner's
// name and the time built.
#pragma once

#include <QWidget>

#include "platform/object_window.h"

class QLabel;
class QLineEdit;
class QAction;

namespace zk {

class MainWindow;

class ObjectWindow : public QWidget {
public:
    explicit ObjectWindow(MainWindow* owner);
    ~ObjectWindow() override;

protected:
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class Port;
    friend class Port;

    MainWindow* owner_;
    QLineEdit* fields_[4];
    QLabel* owner_name_;
    QLabel* time_built_;
    std::vector<QAction*> commands_;
    Port* port_;
};

// Makes the window (hidden) beside the main window and installs it as the
// program's object window port until the main window goes.
void object_window_install(MainWindow* owner);

}  // namespace zk
