// The "Object properties" window of building: four edit fields, two
// display lines, an Object menu and toolbar. Implemented with Qt by the
// shell and by a scripted fake in tests; without a port the fields are
// only kept, so that reading them back gives what was set.
#pragma once

#include <string>

namespace zk {

// The four editable texts, as the user sees them.
struct ObjectFields {
    std::string model, description, action, owner;
    bool operator==(const ObjectFields&) const = default;
};

class ObjectWindowPort {
public:
    virtual ~ObjectWindowPort() = default;

    // Shown at (x, y) of the screen, or beside the main window when not
    // `placed`; or hidden.
    virtual void show(bool shown, bool placed, int x, int y) { (void)shown, (void)placed, (void)x, (void)y; }
    virtual bool shown() { return false; }
    virtual void set_fields(const ObjectFields& fields) { kept_ = fields; }
    virtual ObjectFields fields() { return kept_; }
    // The two display lines under the owner number.
    virtual void set_owner_name(const std::string& text) { (void)text; }
    virtual void set_time_built(const std::string& text) { (void)text; }
    // The fields, the Object menu items and the toolbar buttons together.
    virtual void enable(bool enabled) { (void)enabled; }
    // Hands the keyboard focus back to the 3D view.
    virtual void focus_view() {}

private:
    ObjectFields kept_;
};

// The port in use; one that only keeps the fields while none is set.
void object_window_set_port(ObjectWindowPort* port);
ObjectWindowPort& object_window();

}  // namespace zk
