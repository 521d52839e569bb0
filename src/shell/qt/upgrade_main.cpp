// upgrade: the upgrade program's window. It shows two text lines and a bar,
// and drives the plain upgrade logic from a zero-interval timer.
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/messages.h"
#include "platform/os.h"
#include "upgrade/kit.h"
#include "upgrade/program.h"

namespace {

class UpgradeWidget : public QWidget, public zk::UpgradeWindow {
public:
    UpgradeWidget() {
        setWindowTitle(QString::fromUtf8(zk::product_name()) + " Upgrade");
        setObjectName("Upgrade");
        setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
        setFixedSize(300, 180);
        move(100, 100);
        setFont(QFont("Arial", 9));
    }
    void set_line(int line, const std::string& text) override {
        (line == 1 ? line1_ : line2_) = QString::fromStdString(text);
        update();
    }
    void set_bar(double fraction) override {
        bar_ = std::clamp(fraction, 0.0, 1.0);
        update(10, 110, 280, 30);
    }
    void stop_box(const std::string& caption, const std::string& text) override {
        // Unattended runs (tests) have nobody to press OK.
        if (std::getenv("ZELNIK_UNATTENDED")) {
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
            return;
        }
        QMessageBox::critical(nullptr, QString::fromStdString(caption), QString::fromStdString(text));
    }
    void pump() override { QCoreApplication::processEvents(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        auto sunken = [&](int x, int y) {
            p.setPen(palette().color(QPalette::Dark));
            p.drawLine(x, y, x + 274, y);
            p.drawLine(x, y, x, y + 29);
            p.setPen(palette().color(QPalette::Light));
            p.drawLine(x + 274, y, x + 274, y + 29);
            p.drawLine(x, y + 29, x + 274, y + 29);
        };
        sunken(10, 10);
        sunken(10, 50);
        sunken(10, 110);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(20, 17, 260, 20), Qt::AlignLeft | Qt::AlignVCenter, line1_);
        p.drawText(QRect(20, 57, 260, 20), Qt::AlignLeft | Qt::AlignVCenter, line2_);
        p.drawText(QRect(10, 90, 30, 20), Qt::AlignLeft | Qt::AlignVCenter, "0%");
        p.drawText(QRect(260, 90, 30, 20), Qt::AlignLeft | Qt::AlignVCenter, "100%");
        const QColor blue(0x00, 0x00, 0x82);  // the colour value 0x820000, as blue-green-red
        p.setPen(blue);
        p.setBrush(blue);
        const int right = 15 + static_cast<int>(bar_ * 265);
        if (right > 15) p.drawRect(15, 115, right - 15, 20);
    }
    void closeEvent(QCloseEvent* e) override {
        zk::upgrade_window_destroyed();
        e->accept();
        QCoreApplication::quit();
    }

private:
    QString line1_, line2_;
    double bar_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = zk::os_executable_directory();
    if (argc == 3 && !std::strcmp(argv[1], "--recover")) return zk::kit_recover(argv[2]) == zk::kKitOk ? 0 : 1;
    if (zk::upgrade_other_instance(dir)) return 0;
    QApplication app(argc, argv);
    UpgradeWidget window;
    std::string line;
    for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
    if (!zk::upgrade_begin(line, dir, window)) return 0;
    window.show();
    QTimer timer;
    bool running = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (running) return;  // the apply pumps events, timer ones included
        running = true;
        if (!zk::upgrade_tick(zk::os_tick_count())) {
            timer.stop();
            QCoreApplication::quit();
        }
        running = false;
    });
    timer.start(0);
    app.exec();
    zk::upgrade_end();
    return 0;
}
