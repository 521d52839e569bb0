// Cells, sectors, the cell cache of the current world, and live objects.
//
// The world is a grid of cells one world unit (10 m) square; sectors group
// 6 x 6 cells and carry a 4-byte timestamp issued by the world server. The
// cell cache keeps, per world, every cell received and every sector's
// timestamp in one keyed database. A live object is the in-memory form of a
// world object; all of them hang on one global list, newest first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

struct model_ref;       // a model reference of the model layer
struct sound_instance;  // an ambient sound attached by an object's action

// --- Coordinates ---------------------------------------------------------

// The cell of a coordinate in world units: trunc(v) for v >= 0 (negative
// zero included), trunc(v - 0.99999) below, so (-0.00001, 0) is cell 0.
// Coordinates beyond the 16-bit grid are held at its edge.
int16_t cell_index(double v);
// The sector of a cell: sector s covers cells 6s - 3 to 6s + 2.
int16_t cell_sector(int cell);
// The sector of a coordinate (the sector of its cell).
int16_t cell_sector_of(double v);
// "12N 3W": the cell z with N (z >= 0) or S, then the cell x with W (x >= 0)
// or E, as absolute values; cell (0, 0) is "ground zero".
std::string cell_place_text(double x, double z);

// --- The cell cache ------------------------------------------------------

// Bytes of an object record before its three texts.
constexpr size_t cell_record_header = 20;
// The work buffer starts at this size and grows for busy cells...
constexpr size_t cell_buffer_initial = 1024;
// ...up to every object number holding a record with the longest texts.
constexpr size_t cell_buffer_limit = 256 * (cell_record_header + 3 * 255);

// Prepares the work buffer. False when it cannot be allocated.
bool cell_init();
// World entry: opens the current world's cell cache (emptied when the
// world's cache epoch changed). 0 when it cannot be opened, else 1.
int cell_reset();
// What cell_reset does, given the world's property directory: closes the
// open cache, opens "<directory>/cell" and empties it when `empty`.
int cell_open(const std::string& directory, bool empty);
void cell_term();
// Whether a cell cache is open.
bool cell_cache_open();

// Loads the cell's records for reading with cell_next; a missing cell is
// an empty one.
void cell_start(int16_t x, int16_t z);
// A live object (its create action run) from the record at the cursor:
// 1 and `*out`, or 0 at the end, on a damaged record, or when the object
// cannot be created (the rest of the cell is then not loaded).
struct object;
int cell_next(object** out);
// Loads records held in memory for cell_next as cell_start loads them from
// the cache (replayed caches, fuzzing).
void cell_start_records(int16_t x, int16_t z, const uint8_t* records, size_t length);

// Loads the cell's records for changing; a missing cell is an empty one.
void cell_update_begin(int16_t x, int16_t z);
// Appends a record. `owner` and `timestamp` are numbers (both kept
// big-endian in the record); x, y, z are thousandths of a unit within the
// cell and yaw tenths of a degree. 0 when a text is longer than 255 bytes
// or the cell would outgrow cell_buffer_limit, else 1.
int cell_element_add(uint8_t number, uint32_t owner, uint32_t timestamp, int16_t x, int16_t y, int16_t z,
                     int16_t yaw, std::string_view model, std::string_view description, std::string_view action);
// Removes the first record with that number: 1, or 0 when none matched.
int cell_element_delete(uint8_t number);
// Stores the buffer under the cell begun last (an empty cell removes its
// entry, which reads back the same). 1 on success, 0 when the store failed
// or no cache is open.
int cell_update_end();

// The work buffer as it stands (records back to back).
const uint8_t* cell_work_data();
size_t cell_work_length();

// The stored timestamp of a sector (4 bytes as received, read big-endian),
// 0 when none is stored.
uint32_t cell_sector_timestamp(int16_t sx, int16_t sz);
// 1 when stored, 0 on failure.
int cell_sector_set_timestamp(int16_t sx, int16_t sz, uint32_t timestamp);

// --- Live objects --------------------------------------------------------

struct object {
    object* next = nullptr;          // the global list
    double x = 0, y = 0, z = 0;      // world units
    float yaw = 0;                   // degrees
    model_ref* model = nullptr;
    uint8_t number = 0;              // within its cell
    uint32_t owner = 0;              // citizen number of the builder
    uint32_t timestamp = 0;          // seconds since 1970, 0 for an unsent copy
    sound_instance* sound = nullptr;
    bool visible = true;
    bool solid = true;
    bool linked = false;             // on the global list
    std::string name;                // given by its action; empty = none
    std::string model_name, description, action;
};

// What objects need of modules that come later: the model layer's
// reference (in the set "models") and placement, the behavior language's
// check and create commands, and the sound module. An unset hook is
// skipped.
struct ObjectHooks {
    model_ref* (*model_reference)(const std::string& name) = nullptr;
    // Rotation of `yaw` degrees about the vertical axis, then translation.
    void (*model_place)(model_ref* model, double x, double y, double z, float yaw) = nullptr;
    void (*model_dereference)(model_ref* model) = nullptr;
    void (*action_check)(object* o) = nullptr;
    void (*action_create)(object* o) = nullptr;
    void (*sound_destroy)(sound_instance* sound) = nullptr;
};
ObjectHooks& object_hooks();

// A new object at the head of the global list, null when out of memory or
// when a text is longer than 255 bytes. Its action is checked, and its
// create commands run when `run_create`.
object* object_create(double x, double y, double z, float yaw, std::string_view model,
                      std::string_view description, std::string_view action, uint8_t number, uint32_t owner,
                      bool run_create, uint32_t timestamp);
// Unlinks (when linked), releases its model, sound and name, and frees it.
void object_destroy(object* o);
// A copy for building: a fresh model reference, no sound or name, visible
// and solid, timestamp 0, owned by the user, a provisional number 32-254.
object* object_duplicate(const object* o);

void object_position(const object* o, double* x, double* y, double* z);
float object_yaw(const object* o);
model_ref* object_model(const object* o);
uint8_t object_number(const object* o);
uint32_t object_owner(const object* o);
uint32_t object_timestamp(const object* o);
sound_instance* object_sound(const object* o);
void object_set_sound(object* o, sound_instance* sound);
bool object_visible(const object* o);
void object_set_visible(object* o, bool visible);
bool object_solid(const object* o);
void object_set_solid(object* o, bool solid);
const std::string& object_name(const object* o);
void object_set_name(object* o, std::string_view name);

// The head of the global list.
object* object_first();
// The objects named `name` (ignoring case) and owned by `owner`, from the
// head of the global list; null when there are no more.
object* object_find_first(std::string_view name, uint32_t owner);
object* object_find_next();

}  // namespace zk
