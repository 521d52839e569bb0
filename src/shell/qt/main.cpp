#include <QApplication>

#include "app/startup.h"
#include "platform/ui.h"
#include "shell/qt/qt_ui.h"

int main(int argc, char** argv) {
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("zelnik");
    zk::QtUi ui;
    zk::ui_set_port(&ui);
    int rc = zk::zelnik_main(argc, argv);
    zk::ui_set_port(nullptr);
    return rc;
}
