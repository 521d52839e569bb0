// The avatar channel: the other users near the own position, shown as
// animated figures, and the chat lines that go between browsers.
//
// One UDP socket (the first free port of 3000-3100) carries the own state to
// the world server once a second, the world server's list of the users
// around, and chat lines sent directly to the other browsers or, for a public
// speaker, relayed by the world server. Every multi-byte field is big-endian;
// text is raw bytes running to the end of the datagram.
//
//   type  direction                 layout after the type byte
//   0     browser -> world server   state: x*1000, y*1000, z*1000 (u32 each,
//                                   two's complement), yaw*10 (u16), avatar
//                                   type, 0, gesture: 18 bytes in all
//   0     browser -> browser        direct text: sequence (u8), text
//   1     receiver -> text sender   acknowledgement: sequence (u8)
//   2     browser -> world server   text to relay: sequence, text (a datagram
//                                   of exactly 16 bytes gets a 0 appended)
//   2     world server -> browser   update: base x, y, z (thousandths, two's
//                                   complement u32), then 17-byte records:
//                                   address (u32), port (u16), dx, dy, dz
//                                   (i16, added to the base), yaw (i16,
//                                   tenths), avatar type (0xFF none), an
//                                   ignored byte, gesture (0xFF none)
//   3     world server -> browser   relayed text: sequence, sender's address
//                                   (u32), port (u16), text
//   3     browser -> world server   leave: the type byte alone, sent twice
//
// Every datagram is checked before it is read: updates and relayed texts
// count only from the world server's address and port, at most 64 datagrams
// are read a frame, a datagram over 512 bytes is dropped, and an update's
// records past the 18th are ignored (the server lists the nearest first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zk {

struct Balloon;
struct RwCamera;

constexpr size_t kAvatarDatagramMax = 512;
constexpr size_t kAvatarSendMax = 256;
constexpr int kAvatarRecordsMax = 18;
constexpr size_t kAvatarRecordBytes = 17;
constexpr int kAvatarReadsPerFrame = 64;
constexpr int kAvatarScenePool = 19;
constexpr uint32_t kAvatarStateMs = 1000;
constexpr uint32_t kAvatarResendMs = 4000;
constexpr int kAvatarResends = 10;
constexpr uint32_t kAvatarSpeechMs = 30000;
// A figure nearer the camera than this (world units, across the ground) takes
// no clicks.
constexpr float kAvatarAroundEye = 0.05f;
constexpr size_t kAvatarNameLength = 19;
// Name records kept; past it the least recently used one that nothing needs
// makes room (strangers cannot grow the table without end).
constexpr size_t kAvatarNamesMax = 1024;
// Who-is-at questions to the universe: at most one per address in this
// time, and at most this many a second in all.
constexpr uint32_t kAvatarAskMs = 5000;
constexpr int kAvatarAsksPerSecond = 10;

// Creates the tables and the channel, and sets avatars enabled. 0, or the
// socket error (errno + 10000).
int avatar_init();
// The task: the own state when due, the datagrams that arrived, resends,
// figures advanced and drawn far to near.
void avatar_update();
// The avatar reset (world change, Performance change): the leave datagram to
// a server the state went to that is no longer the world's, every record and
// its figure, scene and balloon dropped, the registry and sequencer emptied.
void avatar_drop_all();
// The avatar table load: avatars/avatars.zip through the download manager,
// avatars/avatars.dat of the art directory loaded now when it exists.
void avatar_reload_list();
// The leave datagram and the socket closed; everything freed.
void avatar_term();

// One datagram from (address, port), both network order, exactly as the
// receive loop hands it on. 0, or 1 when a record could not be made.
int avatar_receive(const uint8_t* data, size_t size, uint32_t address, uint16_t port);

// The behavior command "avatars": disabled, the figures and balloons go (the
// records stay) and neither state nor chat is sent.
void avatar_set_enabled(bool enabled);
bool avatar_enabled();
// The world's public-speaker answer: chat goes through the world server.
void avatar_set_public_speaker(bool speaker);
// The own avatar type (the Avatars menu, world entry).
void avatar_set_own_type(int type);
int avatar_own_type();
// A chat line "name: text" to the users around; printed in the console.
void avatar_send_chat(const char* line, size_t length);
// The universe's answer to who is at an address (UniverseHooks::whos_at).
void avatar_whos_at_reply(const uint8_t user[4], int rc, const std::string& name);

// [performance] avatars ("Show Multiple Avatar Types") and lifeforms ("Show
// Avatar Animations").
bool avatar_multiple_types();
bool avatar_animations();
// A change on the Performance page: stored, then the avatars reset, the
// table loaded again and the own figure made again.
void avatar_performance_apply(bool multiple_types, bool animations);

// The avatar under a point of the view: the nearest figure hit whose address
// has a name record.
struct AvatarMenuTarget {
    uint32_t address = 0;  // network order
    std::string name;
    bool muted = false;
};
bool avatar_menu_target(int x, int y, AvatarMenuTarget* target);
// The right-click in picker mode: shows the menu through the hook (the
// name, a separator, "Mute" checked while muted); true when one was shown.
constexpr int kAvatarCommandMute = 9000;
bool avatar_menu(int x, int y);
void avatar_toggle_mute(uint32_t address);
bool avatar_muted(uint32_t address);

// What the table holds (tests, benchmarks).
struct AvatarInfo {
    uint32_t address = 0;  // network order
    uint16_t port = 0;     // network order
    float x = 0, y = 0, z = 0, yaw = 0;
    int type = 0xFF;
    bool figure = false, scene = false, balloon = false;
    std::string name;
};
std::vector<AvatarInfo> avatar_list();
// Name records held now.
size_t avatar_name_count();
// The channel's local port (host order), 0 without one.
uint16_t avatar_local_port();
// Ports tried by avatar_init, both host order; 0 and 0 let the system pick.
void avatar_set_port_range(uint16_t first, uint16_t last);
// A digest of every avatar scene as `camera` would show it.
uint64_t avatar_view_signature(const RwCamera* camera);

// Later modules: balloons and the console (chat), the Avatars menu, the
// gesture buttons, the own figure's drawing and the pop-up menu. Unset hooks
// are skipped.
struct AvatarHooks {
    Balloon* (*balloon_create)() = nullptr;
    void (*balloon_set_text)(Balloon* balloon, const std::string& text) = nullptr;
    void (*balloon_place)(Balloon* balloon, float x, float y, float z) = nullptr;
    void (*balloon_destroy)(Balloon* balloon) = nullptr;
    // Styles: 0 plain, 1 bold, 4 grey.
    void (*console_print)(int style, const std::string& text) = nullptr;
    // `names` packed, each ending with a zero byte.
    void (*menu_rebuild_avatars)(int count, const char* names) = nullptr;
    void (*menu_reset_avatars)() = nullptr;
    void (*gestures_rebuild)() = nullptr;
    void (*draw_own_figure)() = nullptr;
    // Shows the menu at a view point; answers the command chosen, 0 for none.
    int (*show_menu)(int x, int y, const std::string& name, bool muted) = nullptr;
};
AvatarHooks& avatar_hooks();

// What the channel reads from other modules; tests put in their own.
struct AvatarPorts {
    uint32_t (*frame_now)();        // the frame clock
    uint32_t (*now)();              // the clock of resends and balloons
    uint32_t (*server_address)();   // network order; 0 none, all ones unreachable
    uint16_t (*server_port)();      // network order
    bool (*world_entered)();
    int (*whos_at)(const uint8_t user[4]);
};
AvatarPorts& avatar_ports();
void avatar_ports_restore();

}  // namespace zk
