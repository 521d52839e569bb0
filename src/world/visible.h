// The visibility manager: which cells around the user are turned into live
// objects, loaded nearest first within a time budget per frame, and dropped
// again once they fall out of a range that follows the frame rate. Its
// table of loaded cells is how other modules find live objects.
#pragma once

#include <cstdint>

namespace zk {

struct object;
struct RwClump;

// --- The distance table ---------------------------------------------------

// Every cell offset around the user's cell nearer than 120 m and 22 of
// those at exactly 120 m, in ascending order of distance.
struct VisibleOffset {
    int8_t dx, dz;
    int16_t distance;  // metres: trunc(10 * sqrt(dx^2 + dz^2))
};
constexpr int visible_table_size = 459;
const VisibleOffset* visible_table();
// The largest range: a complete pass then visits every entry but the last.
constexpr int visible_range_limit = 458;
// The range changes in steps of this many entries.
constexpr int visible_range_step = 15;

// --- The module -----------------------------------------------------------

void visible_init();
void visible_update();
void visible_term();
// World entry: every loaded cell and its objects go; the next pass starts
// over around the user.
void visible_reset();
// A cell's content changed: its objects go and the next pass loads it again
// from the cache.
void visible_invalidate(int x, int z);
// The world-server connection's name for the same thing.
void visible_cell_changed(int x, int z);

// Hands a live object to the loaded cell that contains its position
// (prepended to its list), or destroys it when that cell is not loaded.
void visible_consider(object* o);
// The live object showing this model instance, or null.
object* visible_element(const RwClump* instance);
// Takes the object showing `instance` out of its cell's list without
// destroying it: 1 with its cell and the object, 0 when there is none.
int visible_ignore(const RwClump* instance, int16_t* cell_x, int16_t* cell_z, object** out);

// The objects of one loaded cell: visible_start, then visible_next until it
// answers null. Each step gives the object's model instance (null at the
// end, or for an object without a model) and the object; `out` may be null.
// A cell that is not loaded has no objects.
void visible_start(int x, int z);
RwClump* visible_next(object** out);

// Show (on) or hide again (off) every loaded object whose visible flag is
// clear; used while building has an object selected.
void visible_reveal_on();
void visible_reveal_off();
bool visible_revealing();
// An object's visible flag changed: show or hide it, unless revealing.
void visible_show_object(object* o);
void visible_hide_object(object* o);

// Menu command 120 (F2): shows or hides the visibility pane and keeps the
// choice in the settings.
void visible_toggle();
bool visible_pane_shown();

// --- State, for the status pane and for tests ----------------------------

// The pane's text: "%d meters" with the distance of entry `range`.
int visible_range();
int visible_minimum_range();
int visible_current_cell();
int visible_budget();
bool visible_done();
int visible_loaded_count();
bool visible_cell_loaded(int x, int z);
// Cells loaded from the cache since visible_init (loads, not marks).
uint64_t visible_loads();

// Where the manager meets the rest of the program. Each entry starts as the
// real module's function; a test may point any of them elsewhere.
struct VisiblePorts {
    uint32_t (*now)();                           // frame clock, ms
    uint32_t (*clock)();                         // real clock for the load budget, ms
    bool (*attributes_known)();
    bool (*teleport_pending)();                  // an automatic move under way
    bool (*query_outstanding)();
    void (*position)(double* x, double* y, double* z);
    // Horizontal velocity of the user, world units per second.
    void (*velocity)(double* vx, double* vz);
    float (*frame_rate)();
};
VisiblePorts& visible_ports();
void visible_ports_restore();

}  // namespace zk
