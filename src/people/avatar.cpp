#include "people/avatar.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

#include "art/download.h"
#include "art/files.h"
#include "art/model.h"
#include "art/zip.h"
#include "common/bytes.h"
#include "core/log.h"
#include "core/perform.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "net/tcp.h"
#include "net/universe.h"
#include "people/registry.h"
#include "people/sequencer.h"
#include "platform/os.h"
#include "render/camera.h"
#include "render/clump.h"
#include "shell/bps.h"
#include "view/camera.h"
#include "view/self.h"
#include "world/world.h"

namespace zk {

namespace {

constexpr uint32_t kNoSpeech = 0x7FFFFFFF;
constexpr uint8_t kNone = 0xFF;
constexpr size_t kTextMax = 255;
constexpr size_t kRingSize = 10;
constexpr size_t kUpdateHeader = 13;

struct Avatar {
    RwScene* scene = nullptr;
    Figure* figure = nullptr;
    Balloon* balloon = nullptr;
    float x = 0, y = 0, z = 0, yaw = 0;
    uint32_t last_update = 0;
    float first_yaw = 0;
    uint32_t last_speech = kNoSpeech;
    uint32_t text_sent = 0;
    bool text_acknowledged = true;
    int text_retries = 0;
    float distance = 0;
    bool named = false;  // shows the name of its address's name record
    uint8_t type = kNone;
};

struct NameRecord {
    bool has_sequence = false;
    uint8_t sequence = 0;
    uint16_t sequence_port = 0;  // the sender of that sequence
    bool muted = false;
    bool has_pending = false;
    std::string pending;
    bool relayed = false;
    std::string name;
    uint32_t asked = 0;
    bool asked_ever = false;
    uint64_t used = 0;
};

// A relayed line already seen: its sender and sequence.
struct RingEntry {
    uint32_t address = 0;
    uint16_t port = 0;
    int sequence = -1;
};

struct State {
    int socket = -1;
    uint16_t local_port = 0;
    uint16_t first_port = 3000, last_port = 3100;
    std::map<uint64_t, Avatar> avatars;
    std::unordered_map<uint32_t, NameRecord> names;
    uint64_t name_clock = 0;
    std::vector<RwScene*> pool;
    bool enabled = true;
    bool available = false;
    bool public_speaker = false;
    uint8_t own_type = 0;
    // The server the state last went to.
    bool state_sent = false;
    uint32_t state_time = 0;
    uint32_t state_address = 0;
    uint16_t state_port = 0;
    bool update_done = false;
    uint32_t update_time = 0;
    std::array<RingEntry, kRingSize> ring{};
    size_t ring_index = 0;
    uint8_t sequence = 0;
    std::string pending;
    bool relay_acknowledged = true;
    uint32_t relay_sent = 0;
    int relay_retries = 0;
    int last_read_error = 0;
    uint32_t ask_second = 0;
    int asks_this_second = 0;
};
State g;
AvatarHooks g_hooks;

uint32_t tick_now_port() { return tick_now(); }
bool entered() { return !world_name().empty(); }

AvatarPorts real_ports() {
    return AvatarPorts{tick_now_port, net_now, world_server_address, world_server_port, entered, universe_whos_at};
}
AvatarPorts g_ports = real_ports();

void trace(const char* text) {
    if (log_on(Trace::trace)) log_write("%s", text);
}

uint64_t key_of(uint32_t address, uint16_t port) { return (uint64_t{address} << 16) | port; }
uint32_t address_of(uint64_t key) { return static_cast<uint32_t>(key >> 16); }
uint16_t port_of(uint64_t key) { return static_cast<uint16_t>(key); }

bool setting_on(const char* key) {
    const int v = settings_get_int("performance", key);
    return (v == -1 ? perform_default_avatars() : v) != 0;
}

void print(int style, const std::string& text) {
    if (g_hooks.console_print) g_hooks.console_print(style, text);
}

// Control bytes in text from the network would fake console lines.
std::string printable(const uint8_t* p, size_t n) {
    std::string s(reinterpret_cast<const char*>(p), n);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
    return s;
}

// --- Sending -------------------------------------------------------------

void send_to(uint32_t address, uint16_t port, const uint8_t* data, size_t size) {
    if (g.socket < 0 || address == 0 || address == 0xFFFFFFFFu) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = port;
    const ssize_t n = sendto(g.socket, data, size, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n > 0) bps_count(static_cast<uint32_t>(n));
}

bool server(uint32_t* address, uint16_t* port) {
    *address = g_ports.server_address();
    *port = g_ports.server_port();
    return *address != 0 && *address != 0xFFFFFFFFu && g_ports.world_entered();
}

void send_leave(uint32_t address, uint16_t port) {
    const uint8_t leave = 3;
    send_to(address, port, &leave, 1);
    send_to(address, port, &leave, 1);
}

void send_state(uint32_t address, uint16_t port, uint32_t now) {
    double x = 0, y = 0, z = 0;
    self_position(&x, &y, &z);
    uint8_t d[18];
    d[0] = 0;
    store_be32(d + 1, static_cast<uint32_t>(static_cast<int32_t>(x * 1000)));
    store_be32(d + 5, static_cast<uint32_t>(static_cast<int32_t>(y * 1000)));
    store_be32(d + 9, static_cast<uint32_t>(static_cast<int32_t>(z * 1000)));
    store_be16(d + 13, static_cast<uint16_t>(static_cast<int32_t>(self_yaw() * 10)));
    d[15] = g.own_type;
    d[16] = 0;
    d[17] = static_cast<uint8_t>(self_gesture());
    send_to(address, port, d, sizeof d);
    g.state_sent = true;
    g.state_time = now;
    g.state_address = address;
    g.state_port = port;
}

// The pending own line under `type` with the current sequence.
void send_line(uint8_t type, uint32_t address, uint16_t port) {
    uint8_t d[kAvatarSendMax + 1];
    const size_t n = std::min(g.pending.size(), kAvatarSendMax - 2);
    d[0] = type;
    d[1] = g.sequence;
    std::memcpy(d + 2, g.pending.data(), n);
    size_t size = n + 2;
    if (type == 2 && size == 16) d[size++] = 0;
    send_to(address, port, d, size);
}

void send_ack(uint8_t sequence, uint32_t address, uint16_t port) {
    const uint8_t d[2] = {1, sequence};
    send_to(address, port, d, sizeof d);
}

// --- Scenes, figures and balloons ----------------------------------------

RwScene* take_scene() {
    if (!g.pool.empty()) {
        RwScene* s = g.pool.back();
        g.pool.pop_back();
        return s;
    }
    RwScene* s = rw_scene_create();
    if (!s) return nullptr;
    if (log_on(Trace::trace)) log_write("RwCreateScene: %p", static_cast<void*>(s));
    rw_scene_add_light(s, RwLight{RwLightKind::directional, 1.0f, RwV3{-0.8f, -0.5f, -0.2f}});
    return s;
}

void give_scene(RwScene* s) {
    if (!s) return;
    if (g.pool.size() < kAvatarScenePool)
        g.pool.push_back(s);
    else
        rw_scene_destroy(s);
}

void drop_balloon(Avatar& a) {
    if (a.balloon && g_hooks.balloon_destroy) g_hooks.balloon_destroy(a.balloon);
    a.balloon = nullptr;
}

void drop_figure(Avatar& a) {
    if (a.figure) figure_destroy(a.figure);
    a.figure = nullptr;
    give_scene(a.scene);
    a.scene = nullptr;
    drop_balloon(a);
}

void drop_all_figures() {
    for (auto& [key, a] : g.avatars) drop_figure(a);
}

void remove_all() {
    drop_all_figures();
    g.avatars.clear();
}

const std::string* name_of(uint32_t address) {
    auto it = g.names.find(address);
    return it == g.names.end() ? nullptr : &it->second.name;
}

void set_balloon_text(Avatar& a, const std::string& text) {
    if (a.balloon && g_hooks.balloon_set_text) g_hooks.balloon_set_text(a.balloon, text);
}

void make_balloon(Avatar& a) {
    if (!a.balloon && g_hooks.balloon_create) a.balloon = g_hooks.balloon_create();
}

// --- Names ---------------------------------------------------------------

bool address_has_avatar(uint32_t address) {
    auto it = g.avatars.lower_bound(key_of(address, 0));
    return it != g.avatars.end() && address_of(it->first) == address;
}

// Room for one more record: the least recently used one goes, unless the
// user muted it or an avatar stands at its address.
void make_room() {
    if (g.names.size() < kAvatarNamesMax) return;
    auto victim = g.names.end();
    for (auto it = g.names.begin(); it != g.names.end(); ++it) {
        const NameRecord& r = it->second;
        if (r.muted || address_has_avatar(it->first)) continue;
        if (victim == g.names.end() || r.used < victim->second.used) victim = it;
    }
    if (victim != g.names.end()) g.names.erase(victim);
}

NameRecord* name_record(uint32_t address, bool* existed) {
    auto it = g.names.find(address);
    *existed = it != g.names.end();
    if (!*existed) {
        make_room();
        if (g.names.size() >= kAvatarNamesMax) return nullptr;
        it = g.names.emplace(address, NameRecord{}).first;
    }
    it->second.used = ++g.name_clock;
    return &it->second;
}

// Whether the universe may be asked about `address` now.
bool may_ask(NameRecord& r, uint32_t now) {
    if (r.asked_ever && now - r.asked < kAvatarAskMs) return false;
    const uint32_t second = now / 1000;
    if (second != g.ask_second) {
        g.ask_second = second;
        g.asks_this_second = 0;
    }
    if (g.asks_this_second >= kAvatarAsksPerSecond) return false;
    ++g.asks_this_second;
    r.asked = now;
    r.asked_ever = true;
    return true;
}

// --- Lines ---------------------------------------------------------------

void show_line(Avatar* a, NameRecord& r, const std::string& message) {
    const std::string line = r.name + ": " + message;
    if (a && g.available && g.enabled) {
        make_balloon(*a);
        set_balloon_text(*a, line);
    }
    if (!r.muted && (a || r.relayed || g.public_speaker)) {
        const int style = r.relayed ? 1 : !r.name.empty() && r.name[0] == '"' ? 4 : 0;
        print(style, line);
    }
    if (a) {
        a->named = true;
        a->last_speech = g_ports.now() + 1;
        if (a->last_speech == kNoSpeech) --a->last_speech;
    }
}

Avatar* avatar_at(uint32_t address, uint16_t port) {
    auto it = g.avatars.find(key_of(address, port));
    return it == g.avatars.end() ? nullptr : &it->second;
}

Avatar* any_avatar_at(uint32_t address) {
    auto it = g.avatars.lower_bound(key_of(address, 0));
    return it != g.avatars.end() && address_of(it->first) == address ? &it->second : nullptr;
}

void process_text(uint8_t sequence, const uint8_t* text, size_t size, uint32_t address, uint16_t port,
                  bool relayed) {
    if (log_on(Trace::trace)) log_write("avatar: process_text");
    bool existed = false;
    NameRecord* r = name_record(address, &existed);
    if (!r) return;
    // A repeat from the same sender; another browser behind the same address
    // counts its own sequence.
    if (existed && r->has_sequence && r->sequence == sequence && r->sequence_port == port) return;
    r->has_sequence = true;
    r->sequence = sequence;
    r->sequence_port = port;
    r->relayed = relayed;

    size = std::min(size, kTextMax);
    const uint8_t* colon = static_cast<const uint8_t*>(std::memchr(text, ':', size));
    if (!colon || colon == text) return;
    const size_t name_length = static_cast<size_t>(colon - text);
    const std::string name = printable(text, std::min(name_length, kAvatarNameLength));
    const size_t message_at = name_length + 2;
    std::string message = message_at < size ? printable(text + message_at, size - message_at) : std::string();
    if (r->muted) message = "<muted>";
    if (text[0] == '"') r->name = name;
    if (name == r->name) {
        show_line(avatar_at(address, port), *r, message);
        return;
    }
    r->pending = std::move(message);
    r->has_pending = true;
    uint8_t user[4];
    std::memcpy(user, &address, 4);
    if (may_ask(*r, g_ports.now()) && g_ports.whos_at) g_ports.whos_at(user);
}

void direct_text(const uint8_t* d, size_t n, uint32_t address, uint16_t port) {
    if (n < 2) return;
    send_ack(d[1], address, port);
    process_text(d[1], d + 2, n - 2, address, port, false);
}

void relayed_text(const uint8_t* d, size_t n, uint32_t server_address, uint16_t server_port) {
    if (n < 8) return;
    send_ack(d[1], server_address, server_port);
    uint32_t address;
    uint16_t port;
    std::memcpy(&address, d + 2, 4);
    std::memcpy(&port, d + 6, 2);
    for (const RingEntry& e : g.ring)
        if (e.sequence == d[1] && e.address == address && e.port == port) return;
    g.ring[g.ring_index] = RingEntry{address, port, d[1]};
    g.ring_index = (g.ring_index + 1) % kRingSize;
    process_text(d[1], d + 8, n - 8, address, port, true);
}

void acknowledgement(const uint8_t* d, size_t n, uint32_t address, uint16_t port, bool from_server) {
    if (n < 2 || d[1] != g.sequence) return;
    if (g.public_speaker) {
        // Only the world server relays, so only it acknowledges a relayed line.
        if (from_server) g.relay_acknowledged = true;
        return;
    }
    if (Avatar* a = avatar_at(address, port)) a->text_acknowledged = true;
}

// --- Updates -------------------------------------------------------------

int valid_type(int type) {
    if (type == kNone) return kNone;
    return registry_entry(type) ? type : 0;
}

void update(const uint8_t* d, size_t n) {
    const uint32_t now = g_ports.frame_now();
    if (n < kUpdateHeader || (g.update_done && g.update_time == now)) return;
    const int64_t bx = load_be32s(d + 1), by = load_be32s(d + 5), bz = load_be32s(d + 9);
    const bool multiple = avatar_multiple_types(), animated = avatar_animations();
    const size_t records = std::min<size_t>((n - kUpdateHeader) / kAvatarRecordBytes, kAvatarRecordsMax);
    for (size_t i = 0; i < records; ++i) {
        const uint8_t* p = d + kUpdateHeader + i * kAvatarRecordBytes;
        uint32_t address;
        uint16_t port;
        std::memcpy(&address, p, 4);
        std::memcpy(&port, p + 4, 2);
        float x = static_cast<float>((bx + load_be16s(p + 6)) / 1000.0);
        float y = static_cast<float>((by + load_be16s(p + 8)) / 1000.0);
        const float z = static_cast<float>((bz + load_be16s(p + 10)) / 1000.0);
        const float yaw = load_be16s(p + 12) / 10.0f;
        const uint8_t type = p[14], gesture = p[16];
        auto [it, fresh] = g.avatars.try_emplace(key_of(address, port));
        Avatar& a = it->second;
        if (fresh) {
            a.first_yaw = yaw;
            const std::string* name = name_of(address);
            a.named = name && !name->empty();
        } else if (g.available && g.enabled) {
            if (type == kNone)
                y -= 0.17f;
            else
                a.type = type;
            if (!multiple) a.type = 0;
            if (!a.figure) {
                trace("ZKD_create");
                a.scene = take_scene();
                a.figure = a.scene ? figure_create(a.scene, 3, animated) : nullptr;
                if (!a.figure) {
                    give_scene(a.scene);
                    a.scene = nullptr;
                }
                trace("ZKD_create done");
            }
            if (a.figure) {
                const int shown = valid_type(a.type);
                const bool typed = shown != kNone;
                figure_set_target(a.figure, x, y, z, static_cast<int>(yaw), now, typed ? shown : 0,
                                  typed && gesture != kNone ? gesture : 0);
            }
            if (a.named && !a.balloon && a.figure) {
                make_balloon(a);
                if (const std::string* name = name_of(address)) set_balloon_text(a, *name);
            }
        }
        a.x = x, a.y = y, a.z = z, a.yaw = yaw;
        a.last_update = now;
    }
    for (auto it = g.avatars.begin(); it != g.avatars.end();) {
        if (it->second.last_update != now) {
            drop_figure(it->second);
            it = g.avatars.erase(it);
        } else {
            ++it;
        }
    }
    g.update_done = true;
    g.update_time = now;
}

// --- The frame -----------------------------------------------------------

// 0, or the socket error that ended the loop.
int receive_all() {
    uint8_t buffer[kAvatarDatagramMax];
    for (int i = 0; i < kAvatarReadsPerFrame; ++i) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(g.socket, buffer, sizeof buffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                                   &length);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            if (errno == EINTR) continue;
            return errno + tcp_system_error_base;
        }
        bps_count(static_cast<uint32_t>(n));
        if (static_cast<size_t>(n) > sizeof buffer) continue;  // cut by the buffer: nobody sends that much
        if (from.sin_family != AF_INET) continue;
        if (avatar_receive(buffer, static_cast<size_t>(n), from.sin_addr.s_addr, from.sin_port) != 0) return 1;
    }
    return 0;
}

void resend(Avatar& a, uint64_t key, uint32_t now) {
    if (g.public_speaker || g.pending.empty() || a.text_acknowledged || now - a.text_sent <= kAvatarResendMs) return;
    if (a.text_retries >= kAvatarResends) {
        a.text_acknowledged = true;
        return;
    }
    send_line(0, address_of(key), port_of(key));
    a.text_sent = now;
    ++a.text_retries;
}

float own_distance() {
    if (!camera_third_person()) return 0;
    double x = 0, y = 0, z = 0;
    self_position(&x, &y, &z);
    const RwV3 c = camera_position();
    const float dx = static_cast<float>(x) - c.x, dz = static_cast<float>(z) - c.z;
    return dx * dx + dz * dz;
}

void draw_own() {
    if (g_hooks.draw_own_figure) g_hooks.draw_own_figure();
}

}  // namespace

AvatarHooks& avatar_hooks() { return g_hooks; }
AvatarPorts& avatar_ports() { return g_ports; }
void avatar_ports_restore() { g_ports = real_ports(); }

void avatar_set_port_range(uint16_t first, uint16_t last) {
    g.first_port = first;
    g.last_port = last;
}

uint16_t avatar_local_port() { return g.local_port; }

int avatar_init() {
    trace("avatar_init");
    g.enabled = true;
    if (g.socket >= 0) return 0;
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (s < 0) return errno + tcp_system_error_base;
    int error = EADDRINUSE;
    for (uint32_t port = g.first_port; port <= g.last_port; ++port) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_ANY);
        at.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) {
            error = 0;
            break;
        }
        error = errno;
        if (error != EADDRINUSE) break;
    }
    if (error != 0) {
        close(s);
        return error + tcp_system_error_base;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
    g.local_port = ntohs(bound.sin_port);
    g.socket = s;
    return 0;
}

void avatar_term() {
    trace("avatar_term");
    if (g.socket >= 0) {
        uint32_t address;
        uint16_t port;
        if (g.state_sent)
            send_leave(g.state_address, g.state_port);
        else if (server(&address, &port))
            send_leave(address, port);
        close(g.socket);
    }
    remove_all();
    for (RwScene* s : g.pool) rw_scene_destroy(s);
    const uint16_t first = g.first_port, last = g.last_port;
    g = State{};
    g.first_port = first;
    g.last_port = last;
}

int avatar_receive(const uint8_t* data, size_t size, uint32_t address, uint16_t port) {
    if (size == 0) return 0;
    uint32_t server_address;
    uint16_t server_port;
    const bool from_server = server(&server_address, &server_port) && address == server_address &&
                             port == server_port;
    switch (data[0]) {
    case 0: direct_text(data, size, address, port); break;
    case 1: acknowledgement(data, size, address, port, from_server); break;
    case 2:
        if (from_server) update(data, size);
        break;
    case 3:
        if (from_server) relayed_text(data, size, address, port);
        break;
    default: break;
    }
    return 0;
}

void avatar_update() {
    uint32_t address;
    uint16_t port;
    if (!server(&address, &port)) return;
    uint32_t now = g_ports.frame_now();
    if (g.enabled && (!g.state_sent || now - g.state_time > kAvatarStateMs)) send_state(address, port, now);

    if (g.socket >= 0) {
        const int error = receive_all();
        if (error != 0) {
            // Said once while it lasts, not every frame.
            if (error != g.last_read_error) print(0, "Read failed (reason " + std::to_string(error) + ")");
            g.last_read_error = error;
            return;
        }
        g.last_read_error = 0;
    }

    now = g_ports.now() + 1;
    if (g.public_speaker && !g.pending.empty() && !g.relay_acknowledged && now - g.relay_sent > kAvatarResendMs) {
        if (g.relay_retries >= kAvatarResends) {
            g.relay_acknowledged = true;
        } else {
            send_line(2, address, port);
            g.relay_sent = now;
            ++g.relay_retries;
        }
    }

    const RwV3 camera = camera_position();
    std::vector<Avatar*> drawn;
    for (auto& [key, a] : g.avatars) {
        resend(a, key, now);
        if (!a.figure) continue;
        figure_advance(a.figure, now);
        float fx = 0, fy = 0, fz = 0;
        figure_position(a.figure, &fx, &fy, &fz);
        const float dx = fx - camera.x, dz = fz - camera.z;
        a.distance = dx * dx + dz * dz;
        if (a.balloon && g_hooks.balloon_place) {
            float height = 0;
            if (!model_height(figure_model(a.figure), &height)) height = 0;
            g_hooks.balloon_place(a.balloon, fx, fy + height, fz);
        }
        if (a.last_speech != kNoSpeech && now - a.last_speech > kAvatarSpeechMs) {
            a.last_speech = kNoSpeech;
            if (const std::string* name = name_of(address_of(key)); name && a.named) set_balloon_text(a, *name);
        }
        if (a.scene) drawn.push_back(&a);
    }

    // Far to near, each in its own scene over the world, the own figure
    // where its distance puts it.
    std::stable_sort(drawn.begin(), drawn.end(), [](const Avatar* l, const Avatar* r) { return l->distance > r->distance; });
    float own = own_distance();
    bool own_drawn = false;
    for (Avatar* a : drawn) {
        if (own != 0 && own > a->distance) {
            draw_own();
            own_drawn = true;
            own = 0;
        }
        rw_camera_render(camera_current(), a->scene);
    }
    if (!own_drawn) draw_own();
}

void avatar_drop_all() {
    trace("avatar_drop_all");
    uint32_t address;
    uint16_t port;
    const bool has_server = server(&address, &port);
    if (g.state_sent && (!has_server || address != g.state_address || port != g.state_port)) {
        send_leave(g.state_address, g.state_port);
        g.state_sent = false;
    }
    remove_all();
    registry_reset(art_dir());
    sequencer_reset(art_dir());
    g.available = false;
    if (g_hooks.menu_reset_avatars) g_hooks.menu_reset_avatars();
    g.ring.fill(RingEntry{});
    g.ring_index = 0;
    g.update_done = false;
    // A line relayed by the old server is not sent to the new one.
    g.relay_acknowledged = true;
}

namespace {

std::string list_path() { return art_dir() + "/avatars/avatars.dat"; }

void load_list(const std::string& path) {
    const int rc = registry_load(path);
    // A parse error keeps the types read before it, and those are shown.
    if (rc >= 0) {
        char names[256];
        int count = 0;
        const bool all = registry_names(names, sizeof names, &count);
        if (g_hooks.menu_rebuild_avatars) g_hooks.menu_rebuild_avatars(all ? count : 0, names);
        g.available = true;
    }
    if (g_hooks.gestures_rebuild) g_hooks.gestures_rebuild();
}

void list_arrived(void*, int result, const uint8_t* buffer, uint32_t size) {
    const std::string path = list_path();
    if (result == kDownloadFetched && zip_extract(buffer, size, path) == kZipOk) {
        self_release_model();
        drop_all_figures();
        load_list(path);
        self_create_model();
        return;
    }
    if (file_exists(path) != 1) load_list("");
}

}  // namespace

void avatar_reload_list() {
    trace("avatar_reload_list");
    download* d = download_file("avatars", "avatars.zip", kDownloadAvatars, list_arrived, nullptr);
    const std::string path = list_path();
    if (!art_dir().empty() && file_exists(path) == 1)
        load_list(path);
    else if (d)
        download_force(d);
    else
        load_list("");
}

void avatar_set_enabled(bool enabled) {
    g.enabled = enabled;
    if (!enabled) drop_all_figures();
}

bool avatar_enabled() { return g.enabled; }
void avatar_set_public_speaker(bool speaker) { g.public_speaker = speaker; }
void avatar_set_own_type(int type) { g.own_type = static_cast<uint8_t>(std::clamp(type, 0, 255)); }
int avatar_own_type() { return g.own_type; }

void avatar_send_chat(const char* line, size_t length) {
    if (!g.enabled || !line) return;
    g.pending.assign(line, std::min(length, kAvatarSendMax));
    ++g.sequence;
    const uint32_t now = g_ports.now() + 1;
    uint32_t address;
    uint16_t port;
    if (g.public_speaker) {
        if (server(&address, &port)) send_line(2, address, port);
        g.relay_acknowledged = false;
        g.relay_sent = now;
        g.relay_retries = 0;
    } else {
        for (auto& [key, a] : g.avatars) {
            send_line(0, address_of(key), port_of(key));
            a.text_acknowledged = false;
            a.text_sent = now;
            a.text_retries = 0;
        }
    }
    print(g.public_speaker ? 1 : g.pending[0] == '"' ? 4 : 0, g.pending);
}

void avatar_whos_at_reply(const uint8_t user[4], int rc, const std::string& name) {
    uint32_t address;
    std::memcpy(&address, user, 4);
    auto it = g.names.find(address);
    if (it == g.names.end()) return;
    NameRecord& r = it->second;
    if (rc == 0) {
        r.name = printable(reinterpret_cast<const uint8_t*>(name.data()), std::min(name.size(), kAvatarNameLength));
        if (r.has_pending) show_line(any_avatar_at(address), r, r.pending);
    }
    r.pending.clear();
    r.has_pending = false;
}

bool avatar_multiple_types() { return setting_on("avatars"); }
bool avatar_animations() { return setting_on("lifeforms"); }

void avatar_performance_apply(bool multiple_types, bool animations) {
    settings_put_int("performance", "avatars", multiple_types ? 1 : 0);
    settings_put_int("performance", "lifeforms", animations ? 1 : 0);
    avatar_drop_all();
    avatar_reload_list();
    self_create_model();
}

bool avatar_menu_target(int x, int y, AvatarMenuTarget* target) {
    const RwCamera* camera = camera_current();
    if (!camera || x < 0 || y < 0 || x >= camera->viewport.width || y >= camera->viewport.height) return false;
    const Avatar* best = nullptr;
    uint32_t best_address = 0;
    for (const auto& [key, a] : g.avatars) {
        if (!a.scene || !a.figure) continue;
        // A figure standing where the camera is (users who came in at the
        // same place) surrounds the eye: a click passes through it, it is
        // not on it.
        if (a.distance < kAvatarAroundEye * kAvatarAroundEye) continue;
        RwPick pick;
        if (!rw_camera_pick(camera, a.scene, x, y, &pick)) continue;
        const RwClump* root = pick.clump;
        while (root && root->parent) root = root->parent;
        if (root != figure_clump(a.figure)) continue;
        if (!g.names.count(address_of(key))) continue;
        if (!best || a.distance < best->distance) {
            best = &a;
            best_address = address_of(key);
        }
    }
    if (!best) return false;
    if (target) {
        const NameRecord& r = g.names.at(best_address);
        *target = AvatarMenuTarget{best_address, r.name, r.muted};
    }
    return true;
}

bool avatar_menu(int x, int y) {
    AvatarMenuTarget t;
    if (!g_hooks.show_menu || !avatar_menu_target(x, y, &t)) return false;
    if (g_hooks.show_menu(x, y, t.name, t.muted) == kAvatarCommandMute) avatar_toggle_mute(t.address);
    return true;
}

void avatar_toggle_mute(uint32_t address) {
    auto it = g.names.find(address);
    if (it != g.names.end()) it->second.muted = !it->second.muted;
}

bool avatar_muted(uint32_t address) {
    auto it = g.names.find(address);
    return it != g.names.end() && it->second.muted;
}

std::vector<AvatarInfo> avatar_list() {
    std::vector<AvatarInfo> out;
    for (const auto& [key, a] : g.avatars) {
        AvatarInfo i;
        i.address = address_of(key);
        i.port = port_of(key);
        i.x = a.x, i.y = a.y, i.z = a.z, i.yaw = a.yaw;
        i.type = a.type;
        i.figure = a.figure != nullptr;
        i.scene = a.scene != nullptr;
        i.balloon = a.balloon != nullptr;
        if (const std::string* name = name_of(i.address); name && a.named) i.name = *name;
        out.push_back(std::move(i));
    }
    return out;
}

size_t avatar_name_count() { return g.names.size(); }

uint64_t avatar_view_signature(const RwCamera* camera) {
    uint64_t h = 0;
    for (const auto& [key, a] : g.avatars)
        if (a.figure && a.scene) h = (h ^ rw_camera_view_signature(camera, a.scene)) * 0x100000001B3ull;
    return h;
}

}  // namespace zk
