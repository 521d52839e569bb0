// A scripted object properties window: keeps what the program showed and
// hands back the fields the test typed.
#pragma once

#include <string>

#include "platform/object_window.h"

namespace zk::test {

class FakeObjectWindow : public ObjectWindowPort {
public:
    bool is_shown = false, placed = false, enabled = false;
    int x = 0, y = 0, view_focused = 0;
    ObjectFields typed;
    std::string owner_name, time_built;

    void show(bool on, bool p, int px, int py) override { is_shown = on, placed = p, x = px, y = py; }
    bool shown() override { return is_shown; }
    void set_fields(const ObjectFields& f) override { typed = f; }
    ObjectFields fields() override { return typed; }
    void set_owner_name(const std::string& t) override { owner_name = t; }
    void set_time_built(const std::string& t) override { time_built = t; }
    void enable(bool on) override { enabled = on; }
    void focus_view() override { ++view_focused; }
};

}  // namespace zk::test
