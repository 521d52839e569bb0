#include "world/cell.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/log.h"
#include "core/tasks.h"
#include "art/database.h"
#include "common/bytes.h"
#include "common/messages.h"
#include "common/text.h"
#include "net/login.h"
#include "platform/files.h"
#include "world/world.h"

namespace zk {

namespace {

constexpr uint16_t kKindSector = 0;
constexpr uint16_t kKindCell = 1;
constexpr int kKeyLength = 6;

Database* g_cache = nullptr;

// One buffer for loading and for updating: the two never interleave, as
// both run to completion inside one call sequence of one frame.
std::vector<uint8_t> g_work;
size_t g_cursor = 0;
int16_t g_cell_x = 0, g_cell_z = 0;  // the cell begun for updating

object* g_objects = nullptr;
object* g_find_at = nullptr;  // where the name search goes on
std::string g_find_name;
uint32_t g_find_owner = 0;

ObjectHooks g_hooks;

// kind, x, z: little-endian, as the cache has always stored them.
std::string make_key(uint16_t kind, int16_t x, int16_t z) {
    std::string key;
    key.reserve(kKeyLength);
    append_le16(key, kind);
    append_le16(key, static_cast<uint16_t>(x));
    append_le16(key, static_cast<uint16_t>(z));
    return key;
}

// Size of the record at `at`, or 0 when the bytes left cannot hold it.
size_t record_size(const std::vector<uint8_t>& buf, size_t at) {
    if (at > buf.size() || buf.size() - at < cell_record_header) return 0;
    const uint8_t* r = buf.data() + at;
    const size_t size = cell_record_header + r[17] + r[18] + r[19];
    return size <= buf.size() - at ? size : 0;
}

// Reads a whole cell into the work buffer; a missing one leaves it empty.
void load_cell(int16_t x, int16_t z) {
    g_work.clear();
    g_cursor = 0;
    if (!g_cache) return;
    if (!database_fetch_unknown(g_cache, make_key(kKindCell, x, z), g_work)) g_work.clear();
}

void place_model(object* o) {
    if (g_hooks.model_reference) o->model = g_hooks.model_reference(o->model_name);
    if (o->model && g_hooks.model_place) g_hooks.model_place(o->model, o->x, o->y, o->z, o->yaw);
}

void link(object* o) {
    o->next = g_objects;
    g_objects = o;
    o->linked = true;
}

}  // namespace

// --- Coordinates ---------------------------------------------------------

int16_t cell_index(double v) {
    if (std::isnan(v)) return 0;
    const double t = v >= 0 ? std::trunc(v) : std::trunc(v - 0.99999);
    if (t <= -32768.0) return -32768;
    if (t >= 32767.0) return 32767;
    return static_cast<int16_t>(t);
}

int16_t cell_sector(int cell) {
    return static_cast<int16_t>(cell >= 0 ? (cell + 3) / 6 : (cell - 2) / 6);
}

int16_t cell_sector_of(double v) { return cell_sector(cell_index(v)); }

std::string cell_place_text(double x, double z) {
    const int cx = cell_index(x), cz = cell_index(z);
    if (cx == 0 && cz == 0) return load_message(45);
    char text[32];
    std::snprintf(text, sizeof text, "%d%c %d%c", std::abs(cz), cz >= 0 ? 'N' : 'S', std::abs(cx),
                  cx >= 0 ? 'W' : 'E');
    return text;
}

// --- The cell cache ------------------------------------------------------

bool cell_init() {
    if (log_on(Trace::trace)) log_write("cell_init");
    try {
        g_work.reserve(cell_buffer_initial);
    } catch (const std::bad_alloc&) {
        return false;
    }
    g_work.clear();
    g_cursor = 0;
    return true;
}

int cell_open(const std::string& directory, bool empty) {
    if (g_cache) {
        database_close(g_cache);
        g_cache = nullptr;
    }
    g_work.clear();
    g_cursor = 0;
    if (directory.empty()) return 0;
    // World entry makes the directory; a missing parent must not cost the cache.
    for (size_t slash = directory.find('/', 1); slash != std::string::npos; slash = directory.find('/', slash + 1))
        make_directory(directory.substr(0, slash));
    make_directory(directory);
    g_cache = database_open(directory + "/cell", kKeyLength, 0, 16384, 4096, false, false);
    if (!g_cache) return 0;
    if (empty) database_reset(g_cache);
    return 1;
}

int cell_reset() {
    if (log_on(Trace::trace)) log_write("cell_reset");
    return cell_open(world_property_directory(), world_epoch_changed());
}

void cell_term() {
    if (log_on(Trace::trace)) log_write("cell_term");
    database_close(g_cache);
    g_cache = nullptr;
    std::vector<uint8_t>().swap(g_work);
    g_cursor = 0;
}

bool cell_cache_open() { return g_cache != nullptr; }

void cell_start(int16_t x, int16_t z) {
    if (log_on(Trace::trace)) log_write("cell_start (%d, %d)", x, z);
    load_cell(x, z);
    g_cell_x = x;
    g_cell_z = z;
}

void cell_start_records(int16_t x, int16_t z, const uint8_t* records, size_t length) {
    g_work.assign(records, records + length);
    g_cursor = 0;
    g_cell_x = x;
    g_cell_z = z;
}

int cell_next(object** out) {
    *out = nullptr;
    // A record cut short (a damaged cache entry) ends the cell.
    const size_t size = record_size(g_work, g_cursor);
    if (size == 0) return 0;
    const uint8_t* r = g_work.data() + g_cursor;
    const char* texts = reinterpret_cast<const char*>(r + cell_record_header);
    const std::string_view model(texts, r[17]);
    const std::string_view description(texts + r[17], r[18]);
    const std::string_view action(texts + r[17] + r[18], r[19]);
    const double x = g_cell_x + load_le16s(r + 9) / 1000.0;
    const double y = load_le16s(r + 11) / 1000.0;
    const double z = g_cell_z + load_le16s(r + 13) / 1000.0;
    const float yaw = static_cast<float>(load_le16s(r + 15) / 10.0);
    const uint8_t number = r[0];
    const uint32_t owner = load_be32(r + 1);
    const uint32_t timestamp = load_be32(r + 5);
    // The create action may start another cell load; take the record first.
    g_cursor += size;
    object* o = object_create(x, y, z, yaw, model, description, action, number, owner, true, timestamp);
    if (!o) return 0;
    *out = o;
    return 1;
}

void cell_update_begin(int16_t x, int16_t z) {
    if (log_on(Trace::trace)) log_write("cell_update_begin (%d, %d)", x, z);
    load_cell(x, z);
    g_cell_x = x;
    g_cell_z = z;
}

int cell_element_add(uint8_t number, uint32_t owner, uint32_t timestamp, int16_t x, int16_t y, int16_t z,
                     int16_t yaw, std::string_view model, std::string_view description, std::string_view action) {
    if (model.size() > 255 || description.size() > 255 || action.size() > 255) return 0;
    const size_t size = cell_record_header + model.size() + description.size() + action.size();
    // A cell that outgrows the buffer gets a larger one; only a cell past
    // every sensible size is refused.
    if (g_work.size() + size > cell_buffer_limit) {
        if (log_on(Trace::trace)) log_write("cell_element_add: cell (%d, %d) is full", g_cell_x, g_cell_z);
        return 0;
    }
    const size_t at = g_work.size();
    try {
        g_work.resize(at + size);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    uint8_t* r = g_work.data() + at;
    r[0] = number;
    store_be32(r + 1, owner);
    store_be32(r + 5, timestamp);
    store_le16(r + 9, x);
    store_le16(r + 11, y);
    store_le16(r + 13, z);
    store_le16(r + 15, yaw);
    r[17] = static_cast<uint8_t>(model.size());
    r[18] = static_cast<uint8_t>(description.size());
    r[19] = static_cast<uint8_t>(action.size());
    uint8_t* text = r + cell_record_header;
    if (!model.empty()) std::memcpy(text, model.data(), model.size());
    text += model.size();
    if (!description.empty()) std::memcpy(text, description.data(), description.size());
    text += description.size();
    if (!action.empty()) std::memcpy(text, action.data(), action.size());
    return 1;
}

int cell_element_delete(uint8_t number) {
    size_t at = 0;
    while (size_t size = record_size(g_work, at)) {
        if (g_work[at] == number) {
            g_work.erase(g_work.begin() + static_cast<std::ptrdiff_t>(at),
                         g_work.begin() + static_cast<std::ptrdiff_t>(at + size));
            return 1;
        }
        at += size;
    }
    return 0;
}

int cell_update_end() {
    if (log_on(Trace::trace)) log_write("cell_update_end (%d, %d)", g_cell_x, g_cell_z);
    if (!g_cache) return 0;
    return database_store(g_cache, make_key(kKindCell, g_cell_x, g_cell_z), g_work.data(),
                          static_cast<int>(g_work.size()));
}

const uint8_t* cell_work_data() { return g_work.data(); }
size_t cell_work_length() { return g_work.size(); }

uint32_t cell_sector_timestamp(int16_t sx, int16_t sz) {
    if (!g_cache) return 0;
    uint8_t stamp[4] = {};
    int length = 0;
    if (!database_fetch(g_cache, make_key(kKindSector, sx, sz), stamp, sizeof stamp, &length) || length != 4)
        return 0;
    return load_be32(stamp);
}

int cell_sector_set_timestamp(int16_t sx, int16_t sz, uint32_t timestamp) {
    if (!g_cache) return 0;
    uint8_t stamp[4];
    store_be32(stamp, timestamp);
    // A zero timestamp stores the same "nothing cached" that a missing one
    // reads as; the record engine removes a key stored empty.
    if (timestamp == 0) return database_store(g_cache, make_key(kKindSector, sx, sz), nullptr, 0);
    return database_store(g_cache, make_key(kKindSector, sx, sz), stamp, 4);
}

// --- Live objects --------------------------------------------------------

ObjectHooks& object_hooks() { return g_hooks; }

object* object_create(double x, double y, double z, float yaw, std::string_view model,
                      std::string_view description, std::string_view action, uint8_t number, uint32_t owner,
                      bool run_create, uint32_t timestamp) {
    if (model.size() > 255 || description.size() > 255 || action.size() > 255) return nullptr;
    auto* o = new (std::nothrow) object;
    if (!o) return nullptr;
    try {
        o->model_name.assign(model);
        o->description.assign(description);
        o->action.assign(action);
    } catch (const std::bad_alloc&) {
        delete o;
        return nullptr;
    }
    o->x = x;
    o->y = y;
    o->z = z;
    o->yaw = yaw;
    o->number = number;
    o->owner = owner;
    o->timestamp = timestamp;
    place_model(o);
    link(o);
    if (g_hooks.action_check) g_hooks.action_check(o);
    if (run_create && g_hooks.action_create) g_hooks.action_create(o);
    return o;
}

void object_destroy(object* o) {
    if (!o) return;
    if (o->linked) {
        if (g_find_at == o) g_find_at = o->next;
        object** p = &g_objects;
        while (*p && *p != o) p = &(*p)->next;
        if (*p) *p = o->next;
        o->linked = false;
    }
    if (o->model && g_hooks.model_dereference) g_hooks.model_dereference(o->model);
    if (o->sound && g_hooks.sound_destroy) g_hooks.sound_destroy(o->sound);
    delete o;
}

object* object_duplicate(const object* source) {
    if (!source) return nullptr;
    auto* o = new (std::nothrow) object;
    if (!o) return nullptr;
    try {
        *o = *source;
        o->name.clear();
    } catch (const std::bad_alloc&) {
        delete o;
        return nullptr;
    }
    o->next = nullptr;
    o->linked = false;
    o->model = nullptr;
    o->sound = nullptr;
    o->visible = true;
    o->solid = true;
    o->timestamp = 0;
    o->owner = identity_citizen();
    o->number = static_cast<uint8_t>(tick_now() % 223 + 32);
    place_model(o);
    link(o);
    return o;
}

void object_position(const object* o, double* x, double* y, double* z) {
    *x = o->x;
    *y = o->y;
    *z = o->z;
}
float object_yaw(const object* o) { return o->yaw; }
model_ref* object_model(const object* o) { return o->model; }
uint8_t object_number(const object* o) { return o->number; }
uint32_t object_owner(const object* o) { return o->owner; }
uint32_t object_timestamp(const object* o) { return o->timestamp; }
sound_instance* object_sound(const object* o) { return o->sound; }
void object_set_sound(object* o, sound_instance* sound) { o->sound = sound; }
bool object_visible(const object* o) { return o->visible; }
void object_set_visible(object* o, bool visible) { o->visible = visible; }
bool object_solid(const object* o) { return o->solid; }
void object_set_solid(object* o, bool solid) { o->solid = solid; }
const std::string& object_name(const object* o) { return o->name; }
void object_set_name(object* o, std::string_view name) { o->name.assign(name); }

object* object_first() { return g_objects; }

object* object_find_first(std::string_view name, uint32_t owner) {
    g_find_name.assign(name);
    g_find_owner = owner;
    g_find_at = g_objects;
    return object_find_next();
}

object* object_find_next() {
    // An object without a name is never found, not even by an empty one.
    while (object* o = g_find_at) {
        g_find_at = o->next;
        if (!o->name.empty() && o->owner == g_find_owner && equal_ignoring_case(o->name, g_find_name)) return o;
    }
    return nullptr;
}

}  // namespace zk
