#include "shell/qt/downloads_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMoveEvent>
#include <QProgressBar>

#include "art/download.h"

namespace zk {

DownloadsWindow::DownloadsWindow(QWidget* owner) : QWidget(owner, Qt::Tool) {
    setObjectName("downloads_window");
    setWindowTitle("Downloads");
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* grid = new QGridLayout(this);
    QFont bold = font();
    bold.setBold(true);
    for (int i = 0; i < 3; ++i) {
        Line& l = lines_[i];
        l.name = new QLabel(this);
        l.state = new QLabel(this);
        l.bar = new QProgressBar(this);
        l.name->setObjectName(QString("download_name_%1").arg(i));
        l.state->setObjectName(QString("download_state_%1").arg(i));
        l.bar->setObjectName(QString("download_bar_%1").arg(i));
        l.name->setFont(bold);
        l.name->setFixedWidth(130);
        l.state->setMinimumWidth(130);
        l.bar->setFixedHeight(8);
        l.bar->setTextVisible(false);
        l.bar->setVisible(false);
        grid->addWidget(l.name, i * 2, 0);
        grid->addWidget(l.state, i * 2, 1);
        grid->addWidget(l.bar, i * 2 + 1, 0, 1, 2);
    }
    waiting_ = new QLabel(this);
    waiting_->setObjectName("download_waiting");
    grid->addWidget(waiting_, 6, 0, 1, 2);
    setMinimumSize(280, 105);
}

void DownloadsWindow::show_view(const DownloadsView& view) {
    for (int i = 0; i < 3; ++i) {
        const DownloadLine& d = view.lines[i];
        Line& l = lines_[i];
        // Long names keep their start: that is what tells files apart.
        const QString name = QFontMetrics(l.name->font())
                                 .elidedText(QString::fromStdString(d.name), Qt::ElideRight, l.name->width() - 8);
        l.name->setText(d.active ? name + ":" : QString());
        l.state->setText(d.active ? QString::fromStdString(d.state) : QString());
        l.bar->setVisible(d.active);
        if (d.active && d.length > 0) {
            // In K, so that bodies up to the client's limit fit an int.
            l.bar->setRange(0, static_cast<int>(d.length / 1024 + 1));
            l.bar->setValue(static_cast<int>(d.received / 1024));
        } else {
            l.bar->setRange(0, 0);  // busy until the length is known
        }
    }
    waiting_->setText(view.waiting > 0 ? QString("%1 waiting").arg(view.waiting) : QString());
}

void DownloadsWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (isVisible()) download_window_moved(pos().x(), pos().y());
}

void DownloadsWindow::closeEvent(QCloseEvent* event) {
    // Closing is the same command as the menu's: it hides and remembers.
    event->ignore();
    download_toggle();
}

}  // namespace zk
