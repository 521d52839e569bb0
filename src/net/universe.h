// The universe server connection: framing, requests and replies, the
// reconnection rule, the keep-alive and the per-frame receive step.
//
// A request frame is u16 length (bytes after the length field), byte code,
// payload; a reply frame is u16 length, byte rc, byte code, payload. Fields
// are packed back to back, big-endian, strings with a one-byte length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk {

// The build this browser carries, sent with the build check.
constexpr uint32_t browser_build = 162;

constexpr int universe_default_port = 5670;
// Used when [universe] host is empty.
extern const char* const universe_default_host;

// Results of this layer; the connection layer's 1-5 and 10000+ pass through,
// and any other value is the server's rc (a byte, so never one of these).
constexpr int universe_open_failed = 300;     // the connection could not be opened
constexpr int universe_no_stream = 303;       // no memory for the receive stream
constexpr int universe_send_failed = 400;     // sending failed, or reconnection within 10 s
constexpr int universe_damaged_frame = 401;   // a frame that contradicts its own length

constexpr uint32_t universe_reconnect_interval_ms = 10000;
constexpr uint32_t universe_keepalive_ms = 60000;

// Where replies whose owners live in other modules are handed. Each is
// optional; an unset hook drops the reply (its frame is still consumed).
struct UniverseHooks {
    // The current identity for logging in again after a reconnection: false
    // when there is none (running standalone). A tourist's name begins with
    // a double quote and is not logged in.
    bool (*identity)(std::string* name, std::string* password) = nullptr;
    // A login made after a reconnection succeeded with this citizen number.
    void (*relogged_in)(uint32_t citizen) = nullptr;
    // Reply 3: rc, and the e-mail address when rc is 0 (else null).
    void (*attributes)(int rc, const std::string* email) = nullptr;
    // Reply 4: the outcome of a password request.
    void (*password_sent)(int rc) = nullptr;
    // Reply 7 with rc 0: the world list, a run of length-prefixed names.
    void (*world_list)(const uint8_t* bytes, size_t length) = nullptr;
    // Reply 8: the number always; the name only when rc is 0.
    void (*citizen_name)(uint32_t number, int rc, const std::string& name) = nullptr;
    // Notice 9 with rc 0: a telegram is waiting.
    void (*telegram_waiting)() = nullptr;
    // Reply 10 with rc 0: a telegram.
    void (*telegram)(uint32_t number, const std::string& first, const std::string& second,
                     uint8_t flag) = nullptr;
    // Reply 12: the name always; the number only when rc is 0 (else 0).
    void (*citizen_number)(int rc, const std::string& name, uint32_t number) = nullptr;
    // Reply 13: the four identifier bytes exactly as sent by universe_whos_at;
    // the citizen's name only when rc is 0.
    void (*whos_at)(const uint8_t user[4], int rc, const std::string& name) = nullptr;
};
UniverseHooks& universe_hooks();

// Reads [universe] host and port and starts resolving the host.
int universe_init();
// Task "universe": logs in again after a reconnection, sends the keep-alive
// when due, and handles at most one arrived frame.
void universe_update();
// Closes the connection.
void universe_term();

// Synchronous requests: they wait for their reply inside the call (handling
// other frames that arrive meanwhile) and answer 0, the server's rc, or an
// error of this layer or the connection layer.
int universe_lookup_world(const std::string& name, uint32_t* address, uint16_t* port);
// `*number` is the last 32-bit number the reply reader saw: reply 1 carries
// none, so do not take it for the new citizen's number.
int universe_immigrate(const std::string& name, const std::string& password, const std::string& email,
                       uint32_t* number);
int universe_set_attributes(const std::string& name, const std::string& password, const std::string& email);
int universe_check_build(const std::string& name, const std::string& password, uint32_t* minimum,
                         uint32_t* current, uint8_t* beta);
int universe_login(const std::string& name, const std::string& password, uint32_t* number);

// Asynchronous requests: 0 once sent; the reply reaches its hook later.
int universe_get_attributes();
int universe_send_password(const std::string& name);
int universe_get_worlds();
int universe_get_citizen_name(uint32_t number);
int universe_get_telegram();
int universe_send_telegram(uint32_t number, const std::string& text);
int universe_get_citizen_number(const std::string& name);
// `user` is another user's identifier in the byte order it arrived in.
int universe_whos_at(const uint8_t user[4]);

// Logs in again with the current identity (see UniverseHooks::identity).
void universe_relogin();

// The host name in use ([universe] host or the default).
const std::string& universe_host();
// The universe address variable: 0 while resolving, all ones when it failed.
uint32_t universe_address();
bool universe_connected();
bool universe_relogin_needed();
// Frames received and handled since universe_init.
uint64_t universe_frames_received();

// Decodes and dispatches frames held in memory exactly as if they had
// arrived on the connection (replayed captures). Answers 0 when the bytes
// end on a frame boundary, else the error that stopped it; `*frames` is the
// number of whole frames handled.
int universe_parse(const uint8_t* bytes, size_t length, size_t* frames);

}  // namespace zk
