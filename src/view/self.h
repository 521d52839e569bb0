// The user's own movement: position, heading and velocity, the per-frame
// step with damping, gravity, collision and climbing, the place shown in
// the window title, the altitude pane, and the keys that drive it all.
#pragma once

#include <cstdint>

namespace zk {

struct Figure;

// --- Key state -----------------------------------------------------------

// Key codes of the key-state tables (the shell maps its keys onto these).
constexpr int key_clear = 0x0C;     // keypad 5 without Num Lock
constexpr int key_shift = 0x10;
constexpr int key_control = 0x11;
constexpr int key_left = 0x25;
constexpr int key_up = 0x26;
constexpr int key_right = 0x27;
constexpr int key_down = 0x28;
constexpr int key_add = 0x6B;       // keypad +
constexpr int key_subtract = 0x6D;  // keypad -

// A key went down or up in the main window or the 3D view. Codes outside
// 0...255 are ignored.
void key_event(int key, bool down);
// Whether the key acts this frame: a key pressed since it was last asked
// answers true once even when it is up again; otherwise whether it is down.
bool key_asked(int key);
// Whether the key is down now (Shift is read this way).
bool key_held(int key);
void key_clear_all();

// --- The own state -------------------------------------------------------

// Scene of the own figure, the camera's view source, the position and
// altitude displays from the settings. y starts at 8.0.
void self_init();
void self_term();
// The task: one movement step at the frame clock.
void self_update();
// The same step at an explicit time in milliseconds.
void self_step(uint32_t now);

// The user's own position in world units.
void self_position(double* x, double* y, double* z);
float self_yaw();
// Where the eyes are: y + 0.9 x the model height.
float self_eye_height();
// The own figure's height; 0.2 while there is no figure or it reports none.
float self_model_height();
// The position was just set from outside and the next frame settles it.
bool self_position_set();
// Horizontal velocity in world units per second.
void self_velocity(double* vx, double* vz);
void self_velocity_3d(double* vx, double* vy, double* vz);
bool self_turning();
bool self_flying();
// The teleport history puts back the movement mode of a place.
void self_set_flying(bool flying);
bool self_grounded();

// Teleport, world entry, teleport history. 1 when taken, 0 when out of
// range (-32764...32764 for x and z, -35...200 for y) and ignored.
int self_set_position(double x, double y, double z, float yaw);
// An automatic move to the place (a pending teleport); same range check.
int self_move_to(double x, double y, double z, float yaw);
// An automatic move is under way.
bool self_gliding();
bool self_arriving();

// The own gesture, which ends 5 s later.
void self_set_gesture(int gesture);
int self_gesture();

// The own figure: made anew at each world reset and set position.
void self_create_model();
void self_release_model();
void self_show_model(bool shown);
// Draws the own figure's scene with the current camera (the avatars' draw
// order decides when).
void self_draw_model();
// The own figure, null when there is none.
const Figure* self_figure();
// The own figure's model height, 0 when unknown or there is no figure.
float self_figure_height();
// Where the own balloon goes: over the figure's head (at the eye when
// there is no figure), turned by the heading.
void self_head_transform(double* x, double* y, double* z, float* yaw);

// Menu commands: Show > Position (119, F11) and Show > Altitude (132, F5).
constexpr int kCommandPosition = 119;
constexpr int kCommandAltitude = 132;
void self_toggle_position_display();
void self_toggle_altitude_display();
bool self_position_display();
bool self_altitude_display();
// Rewrites the title (forced) or only when the place or direction changed.
void self_refresh_title(bool force);
// "N", "NW", ... for a heading in degrees.
const char* self_direction_name(float yaw);

// What movement needs of modules that come later. Unset entries count as
// "no": no ground, nothing selected, no mouse input.
struct SelfHooks {
    bool (*world_has_ground)() = nullptr;
    bool (*building_selected)() = nullptr;
    void (*pick_off)() = nullptr;
    // Forward and turn input from the mouse in mover mode, in pixels.
    void (*mouse_input)(int* forward, int* turn) = nullptr;
    // The avatar type the user chose, whether several types are shown at
    // all (else type 0), and whether figures play their sequences.
    int (*own_avatar_type)() = nullptr;
    bool (*avatar_types_shown)() = nullptr;
    bool (*avatar_animations)() = nullptr;
};
SelfHooks& self_hooks();

}  // namespace zk
