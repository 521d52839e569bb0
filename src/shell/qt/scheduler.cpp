#include "shell/qt/scheduler.h"

#include <QDialog>
#include <algorithm>
#include <QGuiApplication>
#include <QScreen>

#include "core/tasks.h"

namespace zk {

namespace {

// A timer of period 0 would spin a core on empty passes: a pass comes at
// most as often as the screen shows frames (60 a second where the screen
// does not say).
int screen_rate() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double hz = screen ? screen->refreshRate() : 0;
    return hz >= 30 && hz <= 240 ? int(hz + 0.5) : 60;
}

Scheduler* g_current = nullptr;

}  // namespace

Scheduler::Scheduler(void (*pass)(), QObject* parent)
    : QObject(parent), pass_(pass ? pass : tasks_run), pass_rate_(screen_rate()) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Scheduler::on_timer);
}

void Scheduler::start() {
    running_ = true;
    g_current = this;
    tasks_set_loop_running(true);
    clock_.start();
    due_ = 0;
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
    // Passes keep to a grid of due times, so that timers of whole
    // milliseconds still give the screen's rate on average (rounding each
    // wait up would give 59 of 60). A pass that ran long does not make the
    // next ones race to catch up.
    const qint64 period = 1000000000LL / pass_rate_, now = clock_.nsecsElapsed();
    due_ = std::max(due_ + period, now - period / 2);
    const qint64 left = due_ - now;
    timer_.start(left <= 0 ? 0 : static_cast<int>(left / 1000000));
}

void Scheduler::on_timer() {
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
