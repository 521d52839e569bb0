// The Downloads tool window: a line per transfer slot with the file, the
// state of its transfer and a progress bar, and how many requests wait.
#pragma once

#include <QWidget>

#include "platform/ui.h"

class QLabel;
class QProgressBar;

namespace zk {

class DownloadsWindow : public QWidget {
public:
    explicit DownloadsWindow(QWidget* owner);
    void show_view(const DownloadsView& view);

protected:
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Line {
        QLabel* name;
        QLabel* state;
        QProgressBar* bar;
    };
    Line lines_[3];
    QLabel* waiting_;
};

}  // namespace zk
