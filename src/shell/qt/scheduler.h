// Runs one pass of the task table per timer event of the main window: as
// often as the screen shows frames while the application is active, once a
// second while it is not.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QDialog;

namespace zk {

class Scheduler : public QObject {
    Q_OBJECT
public:
    explicit Scheduler(void (*pass)() = nullptr, QObject* parent = nullptr);

    void start();
    void stop();
    // Application activation: the period becomes 0 (paced) or 1000 ms.
    void set_active(bool active);

    long passes() const { return passes_; }
    long skipped() const { return skipped_; }
    // Passes a second at the most while active: the screen's refresh rate.
    int pass_rate() const { return pass_rate_; }

private:
    void on_timer();
    void arm();

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 due_ = 0;  // of the last pass armed, in ns on clock_
    void (*pass_)();
    bool active_ = true;
    bool running_ = false;
    long passes_ = 0;
    long skipped_ = 0;
    int pass_rate_ = 60;
};

// Shows a modal dialog the way the program's dialogs do: the application
// counts as inactive while it is up, so passes slow to one a second.
int run_modal_dialog(QDialog& dialog);

// The scheduler of the running program, if any.
Scheduler* scheduler_current();

}  // namespace zk
