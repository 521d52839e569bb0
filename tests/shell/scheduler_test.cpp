#include <gtest/gtest.h>

#include <QDialog>
#include <QTimer>

#include "core/tasks.h"
#include "shell/qt/scheduler.h"
#include "support/qt_wait.h"

using namespace zk;

namespace {

long g_passes = 0;
bool g_in_dialog = false;
long g_passes_in_dialog = 0;
long g_nested_refused = 0;

void count_pass() {
    ++g_passes;
    if (g_in_dialog) ++g_passes_in_dialog;
}

// The third pass opens a modal dialog, as a task showing a message would.
void pass_with_dialog() {
    count_pass();
    if (g_passes != 3) return;
    QDialog dialog;
    QTimer nudge;  // timer events keep arriving inside the dialog's loop
    QObject::connect(&nudge, &QTimer::timeout, [] {
        if (!tasks_timer_event(count_pass)) ++g_nested_refused;
    });
    nudge.start(5);
    QTimer::singleShot(300, &dialog, &QDialog::accept);
    g_in_dialog = true;
    dialog.exec();
    g_in_dialog = false;
}

void spin(int ms) { zk::test::spin_until([] { return false; }, ms); }

void reset() { g_passes = g_passes_in_dialog = g_nested_refused = 0; }

}  // namespace

TEST(Scheduler, AModalDialogInsideATaskRunsNoPass) {
    reset();
    Scheduler s(pass_with_dialog);
    s.start();
    spin(700);
    s.stop();
    EXPECT_EQ(g_passes_in_dialog, 0);
    EXPECT_GT(g_nested_refused, 10) << "timer events did reach the nested loop";
    EXPECT_GT(g_passes, 10) << "passes resume after the dialog closes";
}

TEST(Scheduler, PassesAreCappedWhileActiveAndAboutOneASecondWhileInactive) {
    reset();
    Scheduler s(count_pass);
    s.start();
    spin(1000);
    EXPECT_GT(g_passes, 30);
    EXPECT_LE(g_passes, s.pass_rate() + 5);
    s.set_active(false);
    EXPECT_TRUE(app_inactive());
    long before = g_passes;
    spin(2500);
    long inactive = g_passes - before;
    EXPECT_GE(inactive, 1);
    EXPECT_LE(inactive, 3);
    s.set_active(true);
    EXPECT_FALSE(app_inactive());
    before = g_passes;
    spin(300);
    EXPECT_GT(g_passes - before, 10) << "full speed again once active";
    s.stop();
}

TEST(Scheduler, ADialogOpenedOutsideAPassSlowsPassesToOneASecond) {
    reset();
    Scheduler s(count_pass);
    s.start();
    spin(100);
    QDialog dialog;
    long at_open = 0;
    long at_close = 0;
    QTimer::singleShot(0, [&] { at_open = g_passes; });
    QTimer::singleShot(2200, &dialog, [&] {
        at_close = g_passes;
        dialog.accept();
    });
    run_modal_dialog(dialog);
    EXPECT_FALSE(app_inactive());
    EXPECT_GE(at_close - at_open, 1) << "passes go on in the dialog's loop";
    EXPECT_LE(at_close - at_open, 3);
    s.stop();
}
