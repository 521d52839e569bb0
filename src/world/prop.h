// The world server connection: one TCP connection to the server of the
// current world, a queue of requests sent strictly one at a time, and the
// neighbourhood query that keeps the cell cache up to date.
//
// A request is the bare message (its type byte first); a reply is a
// big-endian u16 length and that many bytes. A one-byte body is a status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk {

struct object;

void prop_init();
void prop_update();
void prop_term();

// Closes the connection and drops every queued request (world entry).
void prop_reset();
bool prop_query_outstanding();

// The attribute read's callback: (body, length, 0) on success, (null, 0, 1)
// when the server refuses entry, (null, 0, code) for any other status.
using PropAttributesCallback = void (*)(const uint8_t* body, size_t length, int code);
// Queue an attribute read / write; 0 when queued, 1 when not. A list
// longer than prop_attribute_list_limit is not queued.
int prop_attributes_get(PropAttributesCallback callback);
int prop_attributes_set(const uint8_t* list, size_t length);

// Building: queue an add, a change (the object left the cell old_x,
// old_z) or a delete. 0 when queued, 1 when not.
int prop_object_add(const object* o);
int prop_object_change(int16_t old_x, int16_t old_z, const object* o);
int prop_object_delete(int16_t x, int16_t z, uint8_t number);

// Menu command 133 (F6): shows or hides the "Cache Updates" pane.
void prop_show_cache();

// Send/receive state of the request at the head of the queue: 1 send,
// 2 receive length, 3 receive body, 4 finished with refresh, 5 finished.
int prop_state();
size_t prop_queue_length();

constexpr size_t prop_message_limit = 1024;
constexpr size_t prop_attribute_list_limit = prop_message_limit - 8;
constexpr uint32_t prop_query_interval_ms = 30000;
constexpr uint32_t prop_connect_throttle_ms = 45000;
// A reply longer than this means the server had more to say: ask again,
// at once, but only so many times in a row.
constexpr size_t prop_long_reply = 4096;
constexpr int prop_long_reply_requeries = 8;
// A reply writes only cells and sector timestamps of the sectors its
// request asked about (a query's 3 x 3 sectors, a building request's cells'
// sectors), each at most once, and about this many in one frame (each is a
// commit to disk); the rest of the reply is applied in the frames that follow.
constexpr int prop_writes_per_pass = 4;
// Reconnections in a row without a reply before the throttle takes over.
constexpr int prop_reconnect_limit = 5;

// Internal results of applying a reply.
constexpr int prop_cell_store_failed = 200;
constexpr int prop_sector_store_failed = 201;

// Where the connection meets the rest of the program. Each entry starts as
// the real module's function; a test may point any of them elsewhere to
// drive the connection without world entry, the frame clock or a display.
struct PropPorts {
    uint32_t (*now)();
    uint32_t (*server_address)();  // network order; 0 not looked up, all ones unreachable
    uint16_t (*server_port)();     // network order
    bool (*attributes_known)();
    bool (*attributes_pending)();
    void (*unable_to_contact)();
    std::string (*attribute)(int index);
    void (*position)(double* x, double* y, double* z);
    uint32_t (*citizen)();
    void (*cell_changed)(int x, int z);
    void (*console)(const std::string& speaker, const std::string& text);
    void (*relogin)();
};
PropPorts& prop_ports();
// Puts every port back to the real module's function.
void prop_ports_restore();

// Runs the connection over reply bytes held in memory as if they had
// arrived on it (replayed captures, fuzzing): requests are taken as sent,
// queries are queued through the ports as in prop_update, and it returns
// when the bytes are used up and a reply is awaited, or nothing is queued.
void prop_replay(const uint8_t* bytes, size_t length);

}  // namespace zk
