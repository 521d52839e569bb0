#include "net/universe.h"

#include <arpa/inet.h>

#include <cstring>
#include <new>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "common/bytes.h"
#include "common/fields.h"
#include "net/resolve.h"
#include "net/tcp.h"

namespace zk {

const char* const universe_default_host = "universe.zelnik.net";

namespace {

constexpr size_t kStreamBuffer = 1024;
constexpr size_t kRequestBuffer = 256;
// How long a blocked reader sleeps between looks at the socket.
constexpr int kPollSliceMs = 20;
constexpr int kSendTimeoutRetries = 3;

// The receive stream. With no connection it reads from memory instead.
struct Stream {
    tcp_connection* connection = nullptr;
    const uint8_t* memory = nullptr;
    size_t memory_left = 0;

    uint8_t buffer[kStreamBuffer];
    size_t count = 0;  // bytes in the buffer
    size_t pos = 0;    // next byte to read
    int error = 0;     // sticky: once set, every field reads as 0

    // A whole frame (or a whole wait for a reply) must arrive within the
    // idle time-out, even from a peer that trickles one byte at a time.
    uint32_t deadline_start = 0;
};

struct State {
    std::string host;
    uint32_t address = 0;  // resolve writes it between passes
    uint16_t port = 0;     // network order

    tcp_connection* connection = nullptr;
    Stream* stream = nullptr;

    bool attempted = false;
    uint32_t last_attempt = 0;
    bool relogin_needed = false;
    bool relogin_waiting = false;  // a failed relogin waits before trying again
    uint32_t relogin_after = 0;
    bool keepalive_armed = false;
    uint32_t keepalive_due = 0;

    // Fields of the last replies.
    uint32_t world_address = 0;
    uint16_t world_port = 0;
    uint32_t build_minimum = 0;
    uint32_t build_current = 0;
    uint8_t build_beta = 0;
    uint32_t last_number = 0;
    int last_rc = 0;

    uint64_t frames = 0;
};

State g;
UniverseHooks g_hooks;

void trace(const char* name) {
    if (log_on(Trace::trace)) log_write("%s", name);
}

// --- the receive stream ---------------------------------------------------

// Makes at least one byte available; false with the stream's error set.
bool fill(Stream& s) {
    if (s.error) return false;
    if (s.pos < s.count) return true;
    s.pos = s.count = 0;
    if (!s.connection) {
        size_t n = s.memory_left < kStreamBuffer ? s.memory_left : kStreamBuffer;
        if (n == 0) {
            s.error = tcp_closed;
            return false;
        }
        std::memcpy(s.buffer, s.memory, n);
        s.memory += n;
        s.memory_left -= n;
        s.count = n;
        return true;
    }
    for (;;) {
        if (net_now() - s.deadline_start > tcp_idle_timeout_ms) {
            s.error = tcp_timeout;
            return false;
        }
        size_t n = 0;
        int rc = tcp_receive(s.connection, s.buffer, kStreamBuffer, &n);
        if (rc != tcp_ok) {
            s.error = rc;
            return false;
        }
        if (n > 0) {
            s.count = n;
            return true;
        }
        tcp_wait(s.connection, false, kPollSliceMs);
    }
}

// Copies `n` bytes into `out`. On failure `out` is zeroed and the error is set.
bool take(Stream& s, uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        if (!fill(s)) {
            std::memset(out, 0, n);
            return false;
        }
        size_t chunk = s.count - s.pos;
        if (chunk > n - done) chunk = n - done;
        std::memcpy(out + done, s.buffer + s.pos, chunk);
        s.pos += chunk;
        done += chunk;
    }
    return true;
}

// --- replies ----------------------------------------------------------------

// Decodes the payload of one reply and hands it on. The payload is whole in
// memory and every field is bounded by it; hooks run last, with copies, so
// that a hook may itself talk to the universe. 0, or 401 when a field runs
// past the end of the frame.
int handle_reply(int rc, int code, const uint8_t* payload, size_t length) {
    FieldReader r(payload, length);
    switch (code) {
    case 0:
        if (rc == 0) {
            uint32_t address = r.get_u32();
            uint16_t port = r.get_u16();
            if (!r.ok()) return universe_damaged_frame;
            g.world_address = address;
            g.world_port = port;
        }
        return 0;
    case 3: {
        std::string email;
        if (rc == 0) {
            while (r.ok() && r.remaining() > 0) {
                uint8_t tag = r.get_byte();
                std::string value = r.get_string();
                if (tag == 2) email = value;
            }
            if (!r.ok()) return universe_damaged_frame;
        }
        if (g_hooks.attributes) g_hooks.attributes(rc, rc == 0 ? &email : nullptr);
        return 0;
    }
    case 4:
        if (g_hooks.password_sent) g_hooks.password_sent(rc);
        return 0;
    case 5:
        if (rc == 0) {
            uint32_t minimum = r.get_u32();
            uint32_t current = r.get_u32();
            uint8_t beta = r.get_byte();
            if (!r.ok()) return universe_damaged_frame;
            g.build_minimum = minimum;
            g.build_current = current;
            g.build_beta = beta;
        }
        return 0;
    case 6:
        if (rc == 0) {
            uint32_t number = r.get_u32();
            if (!r.ok()) return universe_damaged_frame;
            g.last_number = number;
        }
        return 0;
    case 7:
        if (rc == 0 && g_hooks.world_list) {
            std::vector<uint8_t> list(payload, payload + length);
            g_hooks.world_list(list.data(), list.size());
        }
        return 0;
    case 8: {
        uint32_t number = r.get_u32();
        std::string name;
        if (rc == 0) name = r.get_string();
        if (!r.ok()) return universe_damaged_frame;
        g.last_number = number;
        if (g_hooks.citizen_name) g_hooks.citizen_name(number, rc, name);
        return 0;
    }
    case 9:
        if (rc == 0 && g_hooks.telegram_waiting) g_hooks.telegram_waiting();
        return 0;
    case 10: {
        if (rc != 0) return 0;
        uint32_t number = r.get_u32();
        std::string first = r.get_string();
        std::string second = r.get_string();
        uint8_t flag = r.get_byte();
        if (!r.ok()) return universe_damaged_frame;
        g.last_number = number;
        if (g_hooks.telegram) g_hooks.telegram(number, first, second, flag);
        return 0;
    }
    case 12: {
        std::string name = r.get_string();
        uint32_t number = 0;
        if (rc == 0) number = r.get_u32();
        if (!r.ok()) return universe_damaged_frame;
        if (rc == 0) g.last_number = number;
        if (g_hooks.citizen_number) g_hooks.citizen_number(rc, name, number);
        return 0;
    }
    case 13: {
        uint8_t user[4];
        r.get_raw(user, sizeof user);
        std::string name;
        if (rc == 0) name = r.get_string();
        if (!r.ok()) return universe_damaged_frame;
        g.last_number = load_be32(user);
        if (g_hooks.whos_at) g_hooks.whos_at(user, rc, name);
        return 0;
    }
    default:
        // 1 and 2 carry nothing; 11 and 14-255 are skipped whole. Bytes
        // beyond a reply's fields go with its frame.
        return 0;
    }
}

// Reads one whole frame and handles it. 0 with its code, or the error. The
// stream is not touched once the frame has been read: a hook may reconnect.
int read_frame(Stream& s, int* code) {
    *code = -1;
    uint8_t header[4];
    if (!take(s, header, sizeof header)) return s.error;
    unsigned length = load_be16(header);
    int rc = header[2];
    int c = header[3];
    if (log_on(Trace::universe)) log_write("Received universe message: code %d, length %u, rc %d", c, length, rc);
    if (length < 2) {
        s.error = universe_damaged_frame;
        return s.error;
    }
    size_t n = length - 2u;
    uint8_t small[512];
    std::vector<uint8_t> large;
    uint8_t* payload = small;
    if (n > sizeof small) {
        large.resize(n);
        payload = large.data();
    }
    if (!take(s, payload, n)) return s.error;
    g.last_rc = rc;
    if (int bad = handle_reply(rc, c, payload, n); bad != 0) return bad;
    ++g.frames;
    *code = c;
    return 0;
}

// --- the connection -----------------------------------------------------------

void drop_connection() {
    delete g.stream;
    g.stream = nullptr;
    if (g.connection) tcp_close(g.connection);
    g.connection = nullptr;
}

int reconnect() {
    drop_connection();
    // Still resolving, or resolving failed: there is nowhere to connect to
    // (and no attempt to hold the next one back).
    if (g.address == 0 || g.address == resolve_failed) return universe_open_failed;
    uint32_t now = net_now();
    if (g.attempted && now - g.last_attempt < universe_reconnect_interval_ms) return universe_send_failed;
    g.attempted = true;
    g.last_attempt = now;
    if (tcp_connect(g.address, g.port, &g.connection) != tcp_ok) {
        g.connection = nullptr;
        return universe_open_failed;
    }
    g.stream = new (std::nothrow) Stream;
    if (!g.stream) {
        drop_connection();
        return universe_no_stream;
    }
    g.stream->connection = g.connection;
    g.relogin_needed = true;
    return 0;
}

// Receives one frame from the connection; a failure drops the connection
// and reconnects.
int receive_one(int* code) {
    int rc = read_frame(*g.stream, code);
    if (rc != 0) reconnect();
    return rc;
}

// `wait_for_connect`: a request waits up to the connection time-out for a
// connection still being opened; the keep-alive leaves it to a later frame.
int send_frame(const uint8_t* frame, size_t length, bool wait_for_connect = true) {
    if (!g.stream) {
        if (int rc = reconnect(); rc != 0) return rc;
    }
    int retries = 0;
    for (;;) {
        int rc = tcp_send(g.connection, frame, length);
        if (rc == tcp_ok) {
            g.keepalive_armed = true;
            g.keepalive_due = net_now() + universe_keepalive_ms;
            return 0;
        }
        if (rc == tcp_not_connected) {
            if (!wait_for_connect) return rc;
            tcp_wait(g.connection, true, kPollSliceMs);
            continue;
        }
        if (int rr = reconnect(); rr != 0) return rr;
        if (rc == tcp_timeout && retries < kSendTimeoutRetries) {
            ++retries;
            continue;
        }
        return universe_send_failed;
    }
}

// A request under construction in its 256-byte buffer.
struct Request {
    uint8_t buffer[kRequestBuffer];
    FieldPacker fields{buffer, sizeof buffer};
    explicit Request(uint8_t code) {
        fields.put_u16(0);
        fields.put_byte(code);
    }
    Request(const Request&) = delete;  // the packer points into this buffer
    Request& operator=(const Request&) = delete;
};

int send_request(Request& request, bool wait_for_connect = true) {
    // A field too long for its length byte or the buffer is refused whole.
    if (!request.fields.ok()) return universe_send_failed;
    uint16_t length = static_cast<uint16_t>(request.fields.size() - 2);
    request.fields.patch_u16(0, length);
    if (log_on(Trace::universe))
        log_write("Sending universe message: code %d, length %d", request.buffer[2], length);
    return send_frame(request.buffer, request.fields.size(), wait_for_connect);
}

// Reads frames until one of code `wanted` arrives, handling the others.
int wait_reply(int wanted) {
    uint32_t start = net_now();
    for (;;) {
        if (!g.stream) return universe_send_failed;
        g.stream->deadline_start = start;
        int code;
        if (int rc = receive_one(&code); rc != 0) return rc;
        if (code == wanted) return g.last_rc;
    }
}

int request_and_wait(Request& request, int wanted) {
    if (int rc = send_request(request); rc != 0) return rc;
    return wait_reply(wanted);
}

void current_identity(std::string* name, std::string* password) {
    if (!g_hooks.identity || !g_hooks.identity(name, password)) {
        name->clear();
        password->clear();
    }
}

}  // namespace

UniverseHooks& universe_hooks() { return g_hooks; }

int universe_init() {
    trace("universe_init");
    drop_connection();
    g = State{};
    g.host = settings_get_string("universe", "host");
    if (g.host.empty()) g.host = universe_default_host;
    int port = settings_get_int("universe", "port");
    if (port <= 0 || port > 65535) port = universe_default_port;
    g.port = htons(static_cast<uint16_t>(port));
    resolve(g.host, &g.address);
    return 0;
}

void universe_term() {
    trace("universe_term");
    drop_connection();
    g.keepalive_armed = false;
    g.relogin_needed = false;
}

void universe_update() {
    resolve_poll();
    if (g.relogin_needed) {
        if (!g.relogin_waiting || static_cast<int32_t>(net_now() - g.relogin_after) >= 0) universe_relogin();
    }
    if (g.keepalive_armed && static_cast<int32_t>(net_now() - g.keepalive_due) > 0) {
        Request request(32);
        send_request(request, false);
    }
    if (g.stream && (g.stream->pos < g.stream->count || tcp_readable(g.connection))) {
        g.stream->deadline_start = net_now();
        int code;
        receive_one(&code);
    }
}

void universe_relogin() {
    trace("universe_relogin");
    std::string name, password;
    if (!g_hooks.identity || !g_hooks.identity(&name, &password) || name.empty() || name[0] == '"') {
        g.relogin_needed = false;
        g.relogin_waiting = false;
        return;
    }
    uint32_t number = 0;
    if (universe_login(name, password, &number) == 0) {
        if (g_hooks.relogged_in) g_hooks.relogged_in(number);
        return;
    }
    // A refused or unreachable login is not repeated every frame.
    g.relogin_needed = true;
    g.relogin_waiting = true;
    g.relogin_after = net_now() + universe_reconnect_interval_ms;
}

int universe_lookup_world(const std::string& name, uint32_t* address, uint16_t* port) {
    trace("universe_lookup_world");
    Request request(24);
    request.fields.put_string(name);
    int rc = request_and_wait(request, 0);
    if (rc == 0) {
        *address = g.world_address;
        *port = g.world_port;
    }
    return rc;
}

int universe_immigrate(const std::string& name, const std::string& password, const std::string& email,
                       uint32_t* number) {
    trace("universe_immigrate");
    Request request(25);
    request.fields.put_string(name);
    request.fields.put_string(password);
    request.fields.put_byte(2);
    request.fields.put_string(email);
    int rc = request_and_wait(request, 1);
    *number = g.last_number;
    return rc;
}

int universe_set_attributes(const std::string& name, const std::string& password, const std::string& email) {
    trace("universe_set_attributes");
    std::string current_name, current_password;
    current_identity(&current_name, &current_password);
    Request request(26);
    request.fields.put_string(current_name);
    request.fields.put_string(current_password);
    request.fields.put_byte(0);
    request.fields.put_string(name);
    request.fields.put_byte(1);
    request.fields.put_string(password);
    request.fields.put_byte(2);
    request.fields.put_string(email);
    return request_and_wait(request, 2);
}

int universe_get_attributes() {
    trace("universe_get_attributes");
    std::string name, password;
    current_identity(&name, &password);
    Request request(27);
    request.fields.put_string(name);
    request.fields.put_string(password);
    return send_request(request);
}

int universe_send_password(const std::string& name) {
    trace("universe_send_password");
    Request request(28);
    request.fields.put_string(name);
    return send_request(request);
}

int universe_check_build(const std::string& name, const std::string& password, uint32_t* minimum,
                         uint32_t* current, uint8_t* beta) {
    trace("universe_check_build");
    Request request(29);
    request.fields.put_u32(browser_build);
    request.fields.put_string(name);
    request.fields.put_string(password);
    int rc = request_and_wait(request, 5);
    if (rc == 0) {
        *minimum = g.build_minimum;
        *current = g.build_current;
        *beta = g.build_beta;
    }
    return rc;
}

int universe_login(const std::string& name, const std::string& password, uint32_t* number) {
    trace("universe_login");
    Request request(30);
    request.fields.put_string(name);
    request.fields.put_string(password);
    int rc = request_and_wait(request, 6);
    if (rc == 0) {
        *number = g.last_number;
        // This login is the one a reconnection asked for.
        g.relogin_needed = false;
        g.relogin_waiting = false;
    }
    return rc;
}

int universe_get_worlds() {
    trace("universe_get_worlds");
    Request request(31);
    return send_request(request);
}

int universe_get_citizen_name(uint32_t number) {
    trace("universe_get_citizen_name");
    Request request(33);
    request.fields.put_u32(number);
    return send_request(request);
}

int universe_get_telegram() {
    trace("universe_get_telegram");
    Request request(34);
    return send_request(request);
}

int universe_send_telegram(uint32_t number, const std::string& text) {
    trace("universe_send_telegram");
    Request request(35);
    request.fields.put_u32(number);
    request.fields.put_string(text);
    return send_request(request);
}

int universe_get_citizen_number(const std::string& name) {
    trace("universe_get_citizen_number");
    Request request(36);
    request.fields.put_string(name);
    return send_request(request);
}

int universe_whos_at(const uint8_t user[4]) {
    trace("universe_whos_at");
    Request request(37);
    request.fields.put_raw(user, 4);
    return send_request(request);
}

const std::string& universe_host() { return g.host; }
uint32_t universe_address() { return g.address; }
bool universe_connected() { return g.connection != nullptr; }
bool universe_relogin_needed() { return g.relogin_needed; }
uint64_t universe_frames_received() { return g.frames; }

int universe_parse(const uint8_t* bytes, size_t length, size_t* frames) {
    *frames = 0;
    auto* s = new (std::nothrow) Stream;
    if (!s) return universe_no_stream;
    s->memory = bytes;
    s->memory_left = length;
    int rc = 0;
    while (s->pos < s->count || s->memory_left > 0) {
        int code;
        rc = read_frame(*s, &code);
        if (rc != 0) break;
        ++*frames;
    }
    delete s;
    return rc;
}

}  // namespace zk
