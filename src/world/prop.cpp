#include "world/prop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "core/log.h"
#include "core/message.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "common/bytes.h"
#include "common/fields.h"
#include "net/login.h"
#include "net/tcp.h"
#include "net/universe.h"
#include "people/console.h"
#include "platform/ui.h"
#include "view/self.h"
#include "world/cell.h"
#include "world/visible.h"
#include "world/world.h"

namespace zk {

namespace {

// The cache-updates pane's width among the status panes.
constexpr int kPaneWeight = 16;

constexpr int kMenuCache = 133;

enum State { send_request = 1, receive_length = 2, receive_body = 3, finished_refresh = 4, finished = 5 };

enum RequestType : uint8_t { add_object = 0, delete_object = 2, query = 3, get_attributes = 5,
                             set_attributes = 6, change_object = 7 };

constexpr uint8_t kIdentityRejected = 12;
constexpr uint8_t kEntryRefused = 7;
constexpr int kSilentFailure = 101;
// Object records one frame applies, counted at the cells' ends: each may
// move a whole cell's records in the work buffer.
constexpr int kRecordsPerPass = 1024;

struct PropRequest {
    PropRequest* next;
    int cell_count;      // 0, 1 or 2
    int16_t cells[2][2];  // {x, z} of each affected cell
    PropAttributesCallback callback;
    size_t length;
    uint8_t message[prop_message_limit];
};

// A complete reply whose records are applied over several frames.
struct Applying {
    std::unique_ptr<uint8_t[]> body;
    size_t length = 0;
    size_t at = 0;                  // the next record
    std::vector<uint64_t> written;  // cells and sectors stored so far, each once
    int ignored = 0;                // records outside the request's sectors, or repeated
};

struct Connection {
    tcp_connection* socket = nullptr;
    int state = send_request;
    // The reply of the head request.
    uint8_t prefix[2] = {};
    size_t prefix_received = 0;
    std::unique_ptr<uint8_t[]> reply;
    size_t reply_length = 0;
    size_t reply_received = 0;
    Applying apply;
    PropRequest* head = nullptr;
    PropRequest* tail = nullptr;
    bool query_outstanding = false;
    int16_t query_sx = 0, query_sz = 0;
    uint32_t query_time = 0;
    bool query_time_set = false;   // cleared: the next frame may query at once
    uint32_t attempt_time = 0;
    bool attempt_time_set = false;  // cleared: the next connection attempt is immediate
    bool reset_marker = false;
    int reconnects = 0;             // immediate reconnections since the last reply
    int requeries = 0;              // immediate queries after long replies, in a row
    int pane = 0;
};

Connection g;

// Bytes that stand in for the connection while prop_replay runs.
struct Replay {
    bool on = false;
    const uint8_t* at = nullptr;
    size_t left = 0;
};
Replay g_replay;

int link_send(const uint8_t* data, size_t length) {
    if (g_replay.on) return tcp_ok;
    return tcp_send(g.socket, data, length);
}

int link_receive(uint8_t* out, size_t room, size_t* got) {
    if (!g_replay.on) return tcp_receive(g.socket, out, room, got);
    // As the TCP layer: at most 4,096 bytes a call.
    const size_t n = std::min({room, g_replay.left, size_t{4096}});
    if (n > 0) std::memcpy(out, g_replay.at, n);
    g_replay.at += n;
    g_replay.left -= n;
    *got = n;
    return tcp_ok;
}

std::string default_attribute(int index) { return world_attribute(index); }
uint32_t default_address() { return world_server_address(); }
uint16_t default_port() { return world_server_port(); }
bool default_known() { return world_attributes_known(); }
bool default_pending() { return world_attributes_pending(); }
void default_unable() { world_unable_to_contact(); }
uint32_t default_citizen() { return identity_citizen(); }
void default_changed(int x, int z) { visible_cell_changed(x, z); }
void default_console(const std::string& speaker, const std::string& text) { console_system(speaker, text); }
void default_relogin() { universe_relogin(); }

PropPorts real_ports() {
    PropPorts p{};
    p.now = tick_now;
    p.server_address = default_address;
    p.server_port = default_port;
    p.attributes_known = default_known;
    p.attributes_pending = default_pending;
    p.unable_to_contact = default_unable;
    p.attribute = default_attribute;
    p.position = self_position;
    p.citizen = default_citizen;
    p.cell_changed = default_changed;
    p.console = default_console;
    p.relogin = default_relogin;
    return p;
}

PropPorts g_ports = real_ports();

void trace(const char* what) {
    if (log_on(Trace::trace)) log_write("%s", what);
}

void pane_text(const std::string& text) {
    if (g.pane && ui_present()) ui().status_pane_set(g.pane, text);
}

void show_pane(bool on) {
    if (!ui_present()) return;
    if (on && !g.pane) g.pane = ui().status_pane_add(kPaneWeight);
    if (!on && g.pane) {
        ui().status_pane_remove(g.pane);
        g.pane = 0;
    }
    ui().menu_check(kMenuCache, on);
}

// --- Requests ------------------------------------------------------------

PropRequest* request_new() {
    return new (std::nothrow) PropRequest{};
}

void request_add_cell(PropRequest* r, int16_t x, int16_t z) {
    if (r->cell_count >= 2) return;
    r->cells[r->cell_count][0] = x;
    r->cells[r->cell_count][1] = z;
    ++r->cell_count;
}

// Queues a packed request; 1 (and the request freed) when packing failed.
int request_queue(PropRequest* r, const FieldPacker& packer) {
    if (!packer.ok()) {
        delete r;
        return 1;
    }
    r->length = packer.size();
    if (r->message[0] == query) g.query_outstanding = true;
    if (g.tail)
        g.tail->next = r;
    else
        g.head = r;
    g.tail = r;
    return 0;
}

void request_free_head() {
    PropRequest* r = g.head;
    if (!r) return;
    g.head = r->next;
    if (!g.head) g.tail = nullptr;
    delete r;
}

// Thousandths of a unit, half away from zero, held inside 32 bits.
uint32_t milli(double v) {
    double t = std::round(v * 1000.0);
    if (std::isnan(t)) t = 0;
    if (t > std::numeric_limits<int32_t>::max()) t = std::numeric_limits<int32_t>::max();
    if (t < std::numeric_limits<int32_t>::min()) t = std::numeric_limits<int32_t>::min();
    return static_cast<uint32_t>(static_cast<int32_t>(t));
}

// Tenths of a degree, half away from zero, then the remainder of 3,600
// with the sign of the dividend.
uint16_t tenths(float yaw) {
    double t = std::round(static_cast<double>(yaw) * 10.0);
    if (!std::isfinite(t)) t = 0;
    t = std::fmod(t, 3600.0);
    return static_cast<uint16_t>(static_cast<int16_t>(t));
}

uint32_t timestamp_at(double x, double z) { return cell_sector_timestamp(cell_sector_of(x), cell_sector_of(z)); }

void put_texts_lengths(FieldPacker& p, const object* o) {
    p.put_byte(static_cast<uint8_t>(o->model_name.size()));
    p.put_byte(static_cast<uint8_t>(o->description.size()));
    p.put_byte(static_cast<uint8_t>(o->action.size()));
}

void put_texts(FieldPacker& p, const object* o) {
    p.put_raw(o->model_name.data(), o->model_name.size());
    p.put_raw(o->description.data(), o->description.size());
    p.put_raw(o->action.data(), o->action.size());
}

bool texts_fit(const object* o) {
    return o->model_name.size() <= 255 && o->description.size() <= 255 && o->action.size() <= 255;
}

int queue_query(int16_t sx, int16_t sz) {
    PropRequest* r = request_new();
    if (!r) return 1;
    FieldPacker p(r->message, sizeof r->message);
    p.put_byte(query);
    p.put_zeros(3);
    p.put_u16(static_cast<uint16_t>(sx));
    p.put_u16(static_cast<uint16_t>(sz));
    for (int dz = -1; dz <= 1; ++dz)
        for (int dx = -1; dx <= 1; ++dx)
            p.put_u32(cell_sector_timestamp(static_cast<int16_t>(sx + dx), static_cast<int16_t>(sz + dz)));
    p.put_u32(g_ports.citizen());
    return request_queue(r, p);
}

// --- Replies -------------------------------------------------------------

// Whether a reply to `r` may write into sector (sx, sz): a query's 3 x 3
// sectors, or the sectors of the cells a building request touched.
bool sector_asked(const PropRequest* r, int sx, int sz) {
    if (r->message[0] == query) {
        const int qx = load_be16s(r->message + 4), qz = load_be16s(r->message + 6);
        return std::abs(sx - qx) <= 1 && std::abs(sz - qz) <= 1;
    }
    for (int i = 0; i < r->cell_count; ++i)
        if (cell_sector(r->cells[i][0]) == sx && cell_sector(r->cells[i][1]) == sz) return true;
    return false;
}

// True the first time a reply writes this cell (or sector): a reply that
// names one again is not asking for work that a reply needs.
bool first_write(Applying& a, bool cell, int16_t x, int16_t z) {
    const uint64_t key = (uint64_t{cell} << 32) | (uint32_t{static_cast<uint16_t>(x)} << 16) | static_cast<uint16_t>(z);
    if (std::find(a.written.begin(), a.written.end(), key) != a.written.end()) return false;
    a.written.push_back(key);
    return true;
}

// Applies the records of a reply to the cell cache, from a.at on. Stops at
// the first record that the bytes left cannot hold, at an unknown tag, and
// when the connection was reset meanwhile (the cache may then belong to
// another world). Records outside a cell (before the first begin or after
// an end) are skipped: they belong to no cell. So are cells and sectors
// that the request did not ask about, or that the reply named before.
// After prop_writes_per_pass writes, or kRecordsPerPass records, it sets
// `*more` and stops between cells, where a.at takes the next frame on.
int apply_records(const PropRequest* r, Applying& a, bool* more) {
    *more = false;
    const uint8_t* body = a.body.get();
    const size_t length = a.length;
    bool begun = false;
    bool keep = false;  // the open cell is one to store (so begun too)
    int records = 0;    // object records applied in this frame
    int writes = 0;
    int16_t cx = 0, cz = 0;
    while (a.at < length) {
        if (!begun && (writes >= prop_writes_per_pass || records >= kRecordsPerPass)) {
            *more = true;
            return 0;
        }
        const uint8_t tag = body[a.at];
        const uint8_t* p = body + a.at + 1;
        const size_t left = length - a.at - 1;
        switch (tag) {
        case 0:  // cell begin
            if (left < 4) return 0;
            cx = load_be16s(p);
            cz = load_be16s(p + 2);
            begun = true;
            keep = sector_asked(r, cell_sector(cx), cell_sector(cz)) && first_write(a, true, cx, cz);
            if (keep)
                cell_update_begin(cx, cz);
            else
                ++a.ignored;
            a.at += 5;
            break;
        case 1:  // cell end
            a.at += 1;
            if (!begun) break;
            begun = false;
            if (!keep) break;
            keep = false;
            ++writes;
            if (!cell_update_end()) return prop_cell_store_failed;
            g_ports.cell_changed(cx, cz);
            if (g.reset_marker) return 0;
            break;
        case 2: {  // object
            if (left < cell_record_header) return 0;
            const size_t size = cell_record_header + p[17] + p[18] + p[19];
            if (left < size) return 0;
            if (keep) {
                ++records;
                const char* text = reinterpret_cast<const char*>(p + cell_record_header);
                cell_element_delete(p[0]);
                cell_element_add(p[0], load_be32(p + 1), load_be32(p + 5), load_be16s(p + 9), load_be16s(p + 11),
                                 load_be16s(p + 13), load_be16s(p + 15), std::string_view(text, p[17]),
                                 std::string_view(text + p[17], p[18]),
                                 std::string_view(text + p[17] + p[18], p[19]));
            }
            a.at += 1 + size;
            break;
        }
        case 3:  // object gone
            if (left < 1) return 0;
            if (keep) {
                ++records;
                cell_element_delete(p[0]);
            }
            a.at += 2;
            break;
        case 4: {  // sector timestamp
            if (left < 8) return 0;
            const int16_t sx = load_be16s(p), sz = load_be16s(p + 2);
            a.at += 9;
            if (!sector_asked(r, sx, sz) || !first_write(a, false, sx, sz)) {
                ++a.ignored;
                break;
            }
            ++writes;
            if (!cell_sector_set_timestamp(sx, sz, load_be32(p + 4))) return prop_sector_store_failed;
            break;
        }
        default:
            return 0;
        }
    }
    return 0;
}

std::string status_text(int code) {
    switch (code) {
    case 3: return "You are only allowed to change your own property";
    case 11: return "You are not allowed to give your property away";
    case 100: return "You are not allowed to encroach into anothers' property";
    case 102: return "You are only allowed to demolish your own property";
    case 103: return "Try building somewhere else because this area is full";
    case 106: return "Only registered objects can be used for construction";
    case 109: return "This object's behavior is illegal";
    case 110: return "Sorry, you are not allowed to build in this world.";
    case 111: return "Sorry, you cannot build beyond this point.";
    case 113: return "You are not allowed to build with 'z' objects";
    case 114:
        return "You are not allowed to build within " + g_ports.attribute(15) + " meters of ground zero";
    default: {
        char text[96];
        std::snprintf(text, sizeof text, "Your construction request could not be processed (reason %d)", code);
        return text;
    }
    }
}

// Closes the connection and opens a new one to the same server at once.
// A server that keeps failing is left to the connection throttle.
void reconnect() {
    trace("prop: reconnect");
    pane_text("Waiting for server");
    tcp_close(g.socket);
    g.socket = nullptr;
    g.prefix_received = 0;
    if (++g.reconnects >= prop_reconnect_limit) {
        g.reconnects = 0;
        g.attempt_time = g_ports.now();
        g.attempt_time_set = true;
        return;
    }
    if (g_replay.on) return;  // the replayed bytes go on as the new connection
    tcp_connection* c = nullptr;
    if (tcp_connect(g_ports.server_address(), g_ports.server_port(), &c) == tcp_ok) g.socket = c;
}

void free_reply() {
    g.reply.reset();
    g.apply = Applying{};
    g.reply_length = 0;
    g.reply_received = 0;
    g.prefix_received = 0;
}

void identity_rejected() {
    trace("prop: identity rejected");
    free_reply();
    reconnect();
    pane_text("Identity rejected");
    g.state = send_request;
    g_ports.relogin();
}

// The reply's outcome settles the state.
void settle(int result) {
    if (g.reset_marker) return;  // the reset's state stands
    if (result == kIdentityRejected) {
        identity_rejected();
        return;
    }
    g.reconnects = 0;
    if (result == 0) {
        g.state = finished;
        return;
    }
    if (result != kSilentFailure && result != prop_cell_store_failed && result != prop_sector_store_failed)
        g_ports.console("Building Inspector", status_text(result));
    g.state = finished_refresh;
}

// Applies the records of the reply in g.apply up to the frame's share of
// cell writes; settles the state once the whole reply is applied.
void apply_step() {
    // Held here: a hook may reset the connection, which frees g.apply.
    Applying a = std::move(g.apply);
    g.apply = Applying{};
    bool more = false;
    const int result = apply_records(g.head, a, &more);
    if (g.reset_marker) return;
    if (more) {
        g.apply = std::move(a);
        return;
    }
    if (a.ignored > 0 && log_on(Trace::trace))
        log_write("prop: %d records outside the sectors asked about ignored", a.ignored);
    // The server had more to say: ask again at once, a few times in a row.
    if (a.length <= prop_long_reply) {
        g.requeries = 0;
    } else if (g.requeries < prop_long_reply_requeries) {
        ++g.requeries;
        g.query_time_set = false;
    } else {
        trace("prop: long replies in a row; the next query waits");
    }
    settle(result);
}

// The whole body is in: hand it on, or start applying its records.
void reply_complete() {
    std::unique_ptr<uint8_t[]> body = std::move(g.reply);
    const size_t length = g.reply_length;
    free_reply();
    const PropRequest* r = g.head;
    const bool attribute_read = r->message[0] == get_attributes;
    // An attribute list may well open with attribute 12; only a bare
    // status byte means the same for it.
    if (body[0] == kIdentityRejected && (!attribute_read || length == 1)) {
        settle(kIdentityRejected);
        return;
    }
    if (attribute_read) {
        if (r->callback) {
            if (length == 1)
                r->callback(nullptr, 0, body[0] == kEntryRefused ? 1 : body[0]);
            else
                r->callback(body.get(), length, 0);
        }
        settle(0);
        return;
    }
    if (length == 1) {
        settle(static_cast<int8_t>(body[0]));
        return;
    }
    g.apply.body = std::move(body);
    g.apply.length = length;
    apply_step();
}

void step_send() {
    const int rc = link_send(g.head->message, g.head->length);
    if (rc == tcp_ok) {
        g.state = receive_length;
        g.prefix_received = 0;
    } else if (rc != tcp_not_connected) {
        reconnect();  // the same request goes again on the new connection
    }
}

void step_length() {
    size_t got = 0;
    const int rc = link_receive(g.prefix + g.prefix_received, 2 - g.prefix_received, &got);
    if (rc != tcp_ok) {
        reconnect();
        g.state = send_request;
        return;
    }
    // The two bytes may come in two pieces; the first one is kept.
    g.prefix_received += got;
    if (g.prefix_received < 2) return;
    g.prefix_received = 0;
    const size_t length = load_be16(g.prefix);
    if (length == 0) {
        g.reconnects = 0;
        if (g.head->message[0] == get_attributes && g.head->callback) {
            static const uint8_t kNothing = 0;
            g.head->callback(&kNothing, 0, 0);
            if (g.reset_marker) return;
        }
        g.state = finished;
        return;
    }
    g.reply.reset(new (std::nothrow) uint8_t[length]);
    if (!g.reply) {
        message_box("%s", "Unable to allocate reply buffer");
        // The body is still on its way: only a new connection is in step.
        reconnect();
        g.state = finished_refresh;
        return;
    }
    g.reply_length = length;
    g.reply_received = 0;
    g.state = receive_body;
}

void step_body() {
    size_t got = 0;
    const int rc = link_receive(g.reply.get() + g.reply_received, g.reply_length - g.reply_received, &got);
    if (rc != tcp_ok) {
        reconnect();
        free_reply();
        g.state = send_request;
        return;
    }
    g.reply_received += got;
    if (got > 0 && g.head->message[0] == query) {
        char text[64];
        std::snprintf(text, sizeof text, "received %ld of %ld", static_cast<long>(g.reply_received),
                      static_cast<long>(g.reply_length));
        pane_text(text);
    }
    if (g.reply_received == g.reply_length) reply_complete();
}

void step_finish() {
    PropRequest* r = g.head;
    if (g.state == finished_refresh) {
        for (int i = 0; i < r->cell_count; ++i) {
            g_ports.cell_changed(r->cells[i][0], r->cells[i][1]);
            if (g.reset_marker) return;
        }
    }
    if (r->message[0] == query) {
        g.query_outstanding = false;
        pane_text("");
    }
    request_free_head();
    g.state = send_request;
}

void step();

}  // namespace

PropPorts& prop_ports() { return g_ports; }
void prop_ports_restore() { g_ports = real_ports(); }

void prop_init() {
    trace("prop_init");
    if (settings_get_int("show", "cache") == 1) show_pane(true);
}

void prop_update() {
    const uint32_t address = g_ports.server_address();
    if (address == 0 || address == 0xFFFFFFFFu) {
        if (address != 0) g_ports.unable_to_contact();
        g.query_time_set = false;
        return;
    }
    if (!g.socket) {
        const uint32_t now = g_ports.now();
        if (g.attempt_time_set && now - g.attempt_time <= prop_connect_throttle_ms) return;
        g.attempt_time = now;
        g.attempt_time_set = true;
        tcp_connection* c = nullptr;
        if (tcp_connect(address, g_ports.server_port(), &c) != tcp_ok) return;
        g.socket = c;
    }
    step();
}

void prop_replay(const uint8_t* bytes, size_t length) {
    g_replay = Replay{true, bytes, length};
    for (;;) {
        const bool awaiting = g.head && (g.state == receive_length || (g.state == receive_body && !g.apply.body));
        if (awaiting && g_replay.left == 0) break;
        const bool queued = g.head != nullptr;
        step();
        if (!queued && !g.head) break;
    }
    g_replay = Replay{};
}

namespace {

// What prop_update does once there is a connection.
void step() {
    g.reset_marker = false;

    if (!g.query_outstanding && g_ports.attributes_known() && !g_ports.attributes_pending()) {
        double x = 0, y = 0, z = 0;
        g_ports.position(&x, &y, &z);
        const int16_t sx = cell_sector_of(x), sz = cell_sector_of(z);
        const uint32_t now = g_ports.now();
        const bool same = g.query_time_set && sx == g.query_sx && sz == g.query_sz &&
                          now - g.query_time <= prop_query_interval_ms;
        if (!same) {
            if (sx != g.query_sx || sz != g.query_sz) g.requeries = 0;
            g.query_sx = sx;
            g.query_sz = sz;
            g.query_time = now;
            g.query_time_set = true;
            if (log_on(Trace::trace)) log_write("prop: query (%d, %d)", sx, sz);
            queue_query(sx, sz);
        }
    }

    if (!g.head) return;
    switch (g.state) {
    case send_request: step_send(); break;
    case receive_length: step_length(); break;
    case receive_body:
        if (g.apply.body)
            apply_step();
        else
            step_body();
        break;
    default: step_finish(); break;
    }
}

}  // namespace

void prop_term() {
    trace("prop_term");
    prop_reset();
    show_pane(false);
}

void prop_reset() {
    trace("prop_reset");
    tcp_close(g.socket);
    g.socket = nullptr;
    free_reply();
    while (g.head) request_free_head();
    g.query_outstanding = false;
    g.query_time_set = false;
    g.attempt_time_set = false;
    g.reconnects = 0;
    g.requeries = 0;
    g.state = send_request;
    g.reset_marker = true;
    pane_text("");
}

bool prop_query_outstanding() { return g.query_outstanding; }

int prop_state() { return g.state; }

size_t prop_queue_length() {
    size_t n = 0;
    for (PropRequest* r = g.head; r; r = r->next) ++n;
    return n;
}

int prop_attributes_get(PropAttributesCallback callback) {
    PropRequest* r = request_new();
    if (!r) return 1;
    r->callback = callback;
    FieldPacker p(r->message, sizeof r->message);
    p.put_byte(get_attributes);
    p.put_zeros(3);
    p.put_u32(g_ports.citizen());
    return request_queue(r, p);
}

int prop_attributes_set(const uint8_t* list, size_t length) {
    if (length > prop_attribute_list_limit || (length > 0 && !list)) return 1;
    PropRequest* r = request_new();
    if (!r) return 1;
    FieldPacker p(r->message, sizeof r->message);
    p.put_byte(set_attributes);
    p.put_zeros(3);
    p.put_u32(g_ports.citizen());
    p.put_raw(list, length);
    return request_queue(r, p);
}

int prop_object_add(const object* o) {
    if (!o || !texts_fit(o)) return 1;
    PropRequest* r = request_new();
    if (!r) return 1;
    request_add_cell(r, cell_index(o->x), cell_index(o->z));
    FieldPacker p(r->message, sizeof r->message);
    p.put_byte(add_object);
    p.put_zeros(1);
    p.put_u16(tenths(o->yaw));
    p.put_u32(timestamp_at(o->x, o->z));
    p.put_u32(g_ports.citizen());
    p.put_u32(milli(o->x));
    p.put_u32(milli(o->y));
    p.put_u32(milli(o->z));
    put_texts_lengths(p, o);
    put_texts(p, o);
    return request_queue(r, p);
}

int prop_object_change(int16_t old_x, int16_t old_z, const object* o) {
    if (!o || !texts_fit(o)) return 1;
    PropRequest* r = request_new();
    if (!r) return 1;
    const int16_t new_x = cell_index(o->x), new_z = cell_index(o->z);
    request_add_cell(r, old_x, old_z);
    if (new_x != old_x || new_z != old_z) request_add_cell(r, new_x, new_z);
    FieldPacker p(r->message, sizeof r->message);
    p.put_byte(change_object);
    p.put_byte(o->number);
    p.put_u16(tenths(o->yaw));
    p.put_u32(timestamp_at(o->x, o->z));
    p.put_u32(g_ports.citizen());
    p.put_u32(o->owner);
    p.put_u32(milli(o->x));
    p.put_u32(milli(o->y));
    p.put_u32(milli(o->z));
    p.put_u16(static_cast<uint16_t>(old_x));
    p.put_u16(static_cast<uint16_t>(old_z));
    put_texts_lengths(p, o);
    put_texts(p, o);
    return request_queue(r, p);
}

int prop_object_delete(int16_t x, int16_t z, uint8_t number) {
    PropRequest* r = request_new();
    if (!r) return 1;
    request_add_cell(r, x, z);
    FieldPacker p(r->message, sizeof r->message);
    p.put_byte(delete_object);
    p.put_byte(number);
    p.put_zeros(2);
    p.put_u16(static_cast<uint16_t>(x));
    p.put_u16(static_cast<uint16_t>(z));
    p.put_u32(cell_sector_timestamp(cell_sector(x), cell_sector(z)));
    p.put_u32(g_ports.citizen());
    return request_queue(r, p);
}

void prop_show_cache() {
    const bool on = g.pane == 0;
    show_pane(on);
    settings_put_int("show", "cache", on ? 1 : 0);
}

}  // namespace zk
