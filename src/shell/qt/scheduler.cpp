#include "shell/qt/scheduler.h"

#include <QDialog>

#include "core/tasks.h"

namespace zk {

namespace {

// 120 passes a second at the most: a timer of period 0 would otherwise spin
// a core on empty passes.
constexpr qint64 kMinPassNs = 1000000000LL / 120;

Scheduler* g_current = nullptr;

}  // namespace

Scheduler::Scheduler(void (*pass)(), QObject* parent) : QObject(parent), pass_(pass ? pass : tasks_run) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Scheduler::on_timer);
}

void Scheduler::start() {
    running_ = true;
    g_current = this;
    tasks_set_loop_running(true);
    since_pass_.start();
    timer_.start(0);
}

void Scheduler::stop() {
    running_ = false;
    timer_.stop();
    tasks_set_loop_running(false);
    if (g_current == this) g_current = nullptr;
}

void Scheduler::set_active(bool active) {
    if (active == active_) return;
    active_ = active;
    tasks_activation_changed(active);
    if (running_) arm();
}

void Scheduler::arm() {
    if (!active_) {
        timer_.start(1000);
        return;
    }
    qint64 left = kMinPassNs - since_pass_.nsecsElapsed();
    timer_.start(left <= 0 ? 0 : static_cast<int>((left + 999999) / 1000000));
}

void Scheduler::on_timer() {
    since_pass_.restart();
    if (tasks_timer_event(pass_))
        ++passes_;
    else
        ++skipped_;
    if (running_) arm();
}

Scheduler* scheduler_current() { return g_current; }

int run_modal_dialog(QDialog& dialog) {
    Scheduler* s = scheduler_current();
    if (s) s->set_active(false);
    int result = dialog.exec();
    if (s) s->set_active(true);
    return result;
}

}  // namespace zk
