#include <QApplication>

#include "app/startup.h"
#include "platform/ui.h"
#include "platform/dialogs.h"
#include "shell/qt/dialogs_qt.h"
#include "shell/qt/qt_ui.h"

int main(int argc, char** argv) {
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("zelnik");
    zk::QtUi ui;
    zk::QtDialogs dialogs;
    zk::ui_set_port(&ui);
    zk::dialogs_set_port(&dialogs);
    int rc = zk::zelnik_main(argc, argv);
    zk::dialogs_set_port(nullptr);
    zk::ui_set_port(nullptr);
    return rc;
}
