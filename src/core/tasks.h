// The task runner: one pass over 32 update operations per frame, driven by
// the main window's timer, never nested. The table itself names every module,
// so start-up hands it over (tasks_bind).
#pragma once

#include <cstdint>

namespace zk {

struct Task {
    const char* name;  // null for the two entries that bracket drawing
    void (*update)();
};

constexpr int kTaskCount = 32;
// Start-up binds the table of kTaskCount entries; until then a pass does nothing.
void tasks_bind(const Task* table);
const Task* tasks_table();

// What the timer guard needs from the window's modules; start-up binds them.
struct TaskHooks {
    // True while the user drags a pane splitter (no frame meanwhile).
    bool (*splitter_dragging)() = nullptr;
    // The application became active again / another application did.
    void (*activated)() = nullptr;
    void (*deactivated)() = nullptr;
};
TaskHooks& task_hooks();

// One pass: each entry in order, its name traced first when [debug] tasks.
void tasks_run();

// The frame clock: milliseconds as read at the start of the current pass.
uint32_t tick_now();
// Reads the clock (task 1, and once during start-up).
void tick_read();

// One timer event of the main window. Runs `pass` unless a pass is already
// running, the fatal-message box is up, or a pane splitter is being dragged.
// Answers whether the pass ran.
bool tasks_timer_event(void (*pass)() = tasks_run);

// Timer period in milliseconds for the application's activation state:
// 0 while active, 1000 while another application is active.
int tasks_activation_changed(bool active);
bool app_inactive();

// Set while the fatal-message box is shown; no pass runs meanwhile.
void tasks_set_fatal_box(bool up);
bool tasks_fatal_box();
bool tasks_pass_running();

// Whether the task timer runs (set by the window system's scheduler); before
// it does, code that waits for a reply polls the connection itself.
bool tasks_loop_running();
void tasks_set_loop_running(bool running);

}  // namespace zk
