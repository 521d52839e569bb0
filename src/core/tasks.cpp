#include "core/tasks.h"

#include "core/log.h"

namespace zk {

namespace {

bool g_pass_running = false;
bool g_inactive = false;
const Task* g_table = nullptr;
TaskHooks g_hooks;

}  // namespace

void tasks_bind(const Task* table) { g_table = table; }

const Task* tasks_table() { return g_table; }

TaskHooks& task_hooks() { return g_hooks; }

void tasks_run() {
    if (!g_table) return;
    const bool trace = log_on(Trace::tasks);
    for (int i = 0; i < kTaskCount; ++i) {
        const Task& task = g_table[i];
        if (task.name && trace) log_write("%s", task.name);
        task.update();
    }
}

bool tasks_timer_event(void (*pass)()) {
    // A modal loop entered from inside a task delivers timer events too;
    // they must not start a second pass.
    if (g_pass_running || tasks_fatal_box()) return false;
    g_pass_running = true;
    // No frame while the user drags a splitter.
    if (g_hooks.splitter_dragging && g_hooks.splitter_dragging()) {
        g_pass_running = false;
        return false;
    }
    pass();
    g_pass_running = false;
    return true;
}

int tasks_activation_changed(bool active) {
    g_inactive = !active;
    void (*hook)() = active ? g_hooks.activated : g_hooks.deactivated;
    if (hook) hook();
    return active ? 0 : 1000;
}

bool app_inactive() { return g_inactive; }

bool tasks_pass_running() { return g_pass_running; }

}  // namespace zk
