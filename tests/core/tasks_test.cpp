#include <gtest/gtest.h>

#include <unistd.h>

#include "core/tasks.h"

using namespace zk;

namespace {

int g_passes = 0;
int g_nested_attempts = 0;
int g_nested_ran = 0;

void counting_pass() { ++g_passes; }

void reentrant_pass() {
    ++g_passes;
    // What a modal loop inside a task would do: deliver more timer events.
    for (int i = 0; i < 3; ++i) {
        ++g_nested_attempts;
        if (tasks_timer_event(counting_pass)) ++g_nested_ran;
    }
}

bool g_dragging = false;
int g_activated = 0, g_deactivated = 0;

Task g_table[kTaskCount];

}  // namespace

TEST(Tasks, TickIsReadOncePerPass) {
    for (Task& t : g_table) t = {nullptr, [] {}};
    g_table[0] = {"tick", tick_read};
    tasks_bind(g_table);
    tick_read();
    uint32_t first = tick_now();
    usleep(20000);
    EXPECT_EQ(tick_now(), first) << "the frame clock only moves when a pass starts";
    tasks_run();
    EXPECT_GE(tick_now() - first, 15u);
}

TEST(Tasks, TimerEventsNeverNestPasses) {
    g_passes = g_nested_attempts = g_nested_ran = 0;
    EXPECT_TRUE(tasks_timer_event(reentrant_pass));
    EXPECT_EQ(g_passes, 1);
    EXPECT_EQ(g_nested_attempts, 3);
    EXPECT_EQ(g_nested_ran, 0);
    EXPECT_FALSE(tasks_pass_running());
    EXPECT_TRUE(tasks_timer_event(counting_pass)) << "the guard is released after the pass";
    EXPECT_EQ(g_passes, 2);
}

TEST(Tasks, AFatalBoxOrADragSuspendsPassesAndActivationSetsThePeriod) {
    g_passes = 0;
    tasks_set_fatal_box(true);
    EXPECT_FALSE(tasks_timer_event(counting_pass));
    tasks_set_fatal_box(false);
    EXPECT_TRUE(tasks_timer_event(counting_pass));
    EXPECT_EQ(g_passes, 1);
    task_hooks().splitter_dragging = [] { return g_dragging; };
    g_dragging = true;
    EXPECT_FALSE(tasks_timer_event(counting_pass)) << "no frame while a splitter is dragged";
    EXPECT_FALSE(tasks_pass_running());
    g_dragging = false;
    EXPECT_TRUE(tasks_timer_event(counting_pass));
    EXPECT_EQ(g_passes, 2);
    task_hooks() = {};

    // Activation sets the period and the inactive flag.
    EXPECT_EQ(tasks_activation_changed(false), 1000);
    EXPECT_TRUE(app_inactive());
    EXPECT_EQ(tasks_activation_changed(true), 0);
    EXPECT_FALSE(app_inactive());
    task_hooks().activated = [] { ++g_activated; };
    task_hooks().deactivated = [] { ++g_deactivated; };
    tasks_activation_changed(false);
    tasks_activation_changed(true);
    EXPECT_EQ(g_activated, 1);
    EXPECT_EQ(g_deactivated, 1);
    task_hooks() = {};
}
