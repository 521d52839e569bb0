#include "view/self.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/log.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "common/messages.h"
#include "platform/ui.h"
#include "render/camera.h"
#include "render/clump.h"
#include "people/sequencer.h"
#include "art/model.h"
#include "view/camera.h"
#include "view/collision.h"
#include "view/mouse.h"
#include "world/cell.h"
#include "world/visible.h"
#include "world/world.h"

namespace zk {

namespace {

// The altitude pane's width among the status panes.
constexpr int kAltitudePaneWeight = 14;

// --- Key state ---

bool g_down[256];
bool g_pressed[256];

// --- The own state ---

constexpr double kLimitXZ = 32764;
constexpr double kLimitYLow = -35, kLimitYHigh = 200;
constexpr uint32_t kMaxStep = 750;         // ms: a longer frame moves as this
constexpr uint32_t kGestureTime = 5000;    // ms
constexpr float kDefaultModelHeight = 0.2f;

struct SelfState {
    double x = 0, y = 8.0, z = 0;
    float yaw = 0, target_yaw = 0;
    double vx = 0, vy = 0, vz = 0;
    uint32_t last_time = 0;
    bool started = false;  // last_time holds a frame time
    bool flying = false, grounded = false, turning = false;
    double gx = 0, gy = 0, gz = 0;  // glide target
    bool gliding = false, arriving = false;
    bool position_set = false;
    float model_height = 0;
    int gesture = 0;
    uint32_t gesture_until = 0;
    // What the title shows, to rewrite it only on change.
    int title_cx = 0, title_cz = 0, title_direction = -1;
    std::string title_world;
    bool title_force = true;
};

SelfState s;
SelfHooks g_hooks;
RwScene* g_scene = nullptr;
Figure* g_figure = nullptr;  // the own figure, in g_scene
int g_figure_type = -1;      // the avatar type it was last given
bool g_position_display = true;
bool g_altitude_display = false;
int g_altitude_pane = 0;
std::string g_altitude_text;

bool in_range(double x, double y, double z) {
    const float fx = static_cast<float>(x), fy = static_cast<float>(y), fz = static_cast<float>(z);
    return fx >= -kLimitXZ && fx <= kLimitXZ && fz >= -kLimitXZ && fz <= kLimitXZ && fy >= kLimitYLow &&
           fy <= kLimitYHigh;
}

float wrap_degrees(float a) {
    a = std::fmod(a, 360.0f);
    if (a < -180) a += 360;
    if (a >= 180) a -= 360;
    return a;
}

OwnView own_view() {
    OwnView v;
    v.x = static_cast<float>(s.x);
    v.y = static_cast<float>(s.y);
    v.z = static_cast<float>(s.z);
    v.yaw = s.yaw;
    v.eye_height = self_eye_height();
    return v;
}

void altitude_show() {
    if (!g_altitude_display || !ui_present()) return;
    if (!g_altitude_pane) g_altitude_pane = ui().status_pane_add(kAltitudePaneWeight);
    const std::string text = load_message(88, s.y * 10);
    if (g_altitude_pane && text != g_altitude_text) {
        ui().status_pane_set(g_altitude_pane, text);
        g_altitude_text = text;
    }
}

void altitude_hide() {
    if (g_altitude_pane && ui_present()) ui().status_pane_remove(g_altitude_pane);
    g_altitude_pane = 0;
    g_altitude_text.clear();
}

int direction_index(float yaw) {
    const int whole = static_cast<int>(yaw);
    return ((whole + 18023) % 360 + 360) % 360 / 45;
}

// One sub-step's candidate: 1 blocked, 0 free.
int blocked(double px, double py, double pz) {
    const RwV3 v{static_cast<float>(s.vx), static_cast<float>(s.vy), static_cast<float>(s.vz)};
    return collision_test(s.x + px, s.y + py, s.z + pz, v);
}

void move_checked(double px, double py, double pz) {
    const double largest = std::fmax(std::fabs(px), std::fmax(std::fabs(py), std::fabs(pz)));
    // A huge step (a frame after a far glide target) is cut into at most
    // this many tests rather than stalling the frame.
    const int n = static_cast<int>(std::fmin(std::floor(largest * 20), 4000.0)) + 1;
    px /= n, py /= n, pz /= n;
    s.grounded = false;
    for (int i = 0; i < n; ++i) {
        if (!blocked(px, py, pz)) {
            if (s.gliding || s.position_set) return;
            s.x += px, s.y += py, s.z += pz;
            continue;
        }
        s.arriving = false;
        if (s.gliding || s.position_set) return;
        if (key_held(key_subtract)) s.flying = false;
        s.vy = 0;
        if (py >= 0) return;  // not going down: nothing to stand on, just stop
        s.grounded = true;
        if (px == 0 && pz == 0) return;
        py = 0;
        if (!blocked(px, py, pz)) {
            s.x += px, s.z += pz;
            continue;
        }
        // Something low in the way: try to step up onto it.
        for (int raise = 1; raise <= 5; ++raise) {
            const double up = 0.01 * raise;
            if (!blocked(px, up, pz)) {
                s.x += px, s.y += up, s.z += pz;
                return;
            }
        }
        s.vx = s.vz = 0;
        return;
    }
}

void clamp_position() {
    s.x = std::fmin(std::fmax(s.x, -kLimitXZ), kLimitXZ);
    s.z = std::fmin(std::fmax(s.z, -kLimitXZ), kLimitXZ);
    s.y = std::fmin(std::fmax(s.y, kLimitYLow), kLimitYHigh);
}

// What the own figure shows: the chosen avatar type, when several types
// are shown at all.
int figure_type() {
    const bool many = !g_hooks.avatar_types_shown || g_hooks.avatar_types_shown();
    return many && g_hooks.own_avatar_type ? g_hooks.own_avatar_type() : 0;
}

void hide_in_first_person() {
    if (g_figure && !camera_third_person()) model_hide(figure_model(g_figure));
}

// The own figure takes the own place, heading and gesture, and plays on.
void update_figure(uint32_t now) {
    if (!g_figure) return;
    const int type = figure_type();
    figure_set_target(g_figure, float(s.x), float(s.y), float(s.z), int(s.yaw), now, type, s.gesture);
    figure_advance(g_figure, tick_now() + 1);
    if (type != g_figure_type) {
        g_figure_type = type;
        hide_in_first_person();
        s.model_height = 0;
    }
}

void finish_frame(uint32_t now) {
    self_refresh_title(false);
    altitude_show();
    update_figure(now);
}

}  // namespace

// --- Key state -----------------------------------------------------------

void key_event(int key, bool down) {
    if (key < 0 || key > 255) return;
    g_down[key] = down;
    if (down) g_pressed[key] = true;
}

bool key_asked(int key) {
    if (key < 0 || key > 255) return false;
    if (g_pressed[key]) {
        g_pressed[key] = false;
        return true;
    }
    return g_down[key];
}

bool key_held(int key) { return key >= 0 && key <= 255 && g_down[key]; }

void key_clear_all() {
    for (int i = 0; i < 256; ++i) g_down[i] = g_pressed[i] = false;
}

// --- The own state -------------------------------------------------------

SelfHooks& self_hooks() { return g_hooks; }

void self_init() {
    if (log_on(Trace::trace)) log_write("self_init");
    s = SelfState{};
    if (!g_scene) {
        g_scene = rw_scene_create();
        if (g_scene) rw_scene_add_light(g_scene, RwLight{RwLightKind::directional, 1.0f, {-0.8f, -0.5f, -0.2f}});
    }
    g_position_display = settings_get_int("show", "position") != 0;
    g_altitude_display = settings_get_int("show", "altitude") == 1;
    altitude_hide();
    altitude_show();
    if (ui_present()) {
        ui().menu_check(kCommandPosition, g_position_display);
        ui().menu_check(kCommandAltitude, g_altitude_display);
    }
    camera_set_own_view(own_view);
    camera_set_own_model_switch(self_show_model);
}

void self_term() {
    self_release_model();
    altitude_hide();
    camera_set_own_view(nullptr);
    camera_set_own_model_switch(nullptr);
    if (g_scene) rw_scene_destroy(g_scene);
    g_scene = nullptr;
}

void self_update() { self_step(tick_now()); }

void self_step(uint32_t now) {
    // 1. A position set from outside starts from a clean keyboard.
    if (s.position_set) key_clear_all();
    if (s.gesture_until && static_cast<int32_t>(now - s.gesture_until) > 0) s.gesture = 0, s.gesture_until = 0;

    // 2. Elapsed time, capped so a stalled frame does not fling the user.
    uint32_t dt = s.started ? now - s.last_time : 0;
    if (dt > kMaxStep) dt = kMaxStep;
    s.last_time = now;
    s.started = true;
    s.turning = false;
    const bool shift = key_held(key_shift);

    // 3. While building has an object selected the keys move the object.
    if (g_hooks.building_selected && g_hooks.building_selected()) {
        finish_frame(now);
        return;
    }

    // 4-5. Damping and the velocity to start from.
    const double t = dt * 0.001;
    const double d = 1 - 0.6 * t;
    const bool automatic = s.gliding || s.arriving;
    if (key_asked(key_clear)) {
        s.vx = s.vy = s.vz = 0;
    } else if (automatic) {
        s.vx = s.gx - s.x, s.vy = s.gy - s.y, s.vz = s.gz - s.z;
    } else if (s.flying) {
        s.vx *= d, s.vy *= d, s.vz *= d;
    } else {
        s.vy *= d;
    }

    // 6. Input.
    int forward = 0, turn = 0;
    if (g_hooks.mouse_input) g_hooks.mouse_input(&forward, &turn);
    else mouse_mover_input(&forward, &turn);
    double f = forward;
    if (key_asked(key_up)) f += 75;
    if (key_asked(key_down)) f -= 75;
    const bool ctrl = key_asked(key_control);
    if (ctrl) f *= 4;
    const double speed = f * 0.003;
    double tn = turn;
    if (key_asked(key_left)) tn += 200;
    if (key_asked(key_right)) tn -= 200;

    // 7. Turning: the heading closes most of the gap to the target each frame.
    s.target_yaw = wrap_degrees(static_cast<float>(s.target_yaw + tn * 0.05));
    s.turning = tn > 20 || tn < -20;
    s.yaw = wrap_degrees(s.yaw + 0.8f * wrap_degrees(s.target_yaw - s.yaw));

    // 8. Climbing and sinking.
    const double climb = 0.3 * t * (ctrl ? 4 : 1);
    if (key_asked(key_add)) s.vy += climb, s.flying = true;
    if (key_asked(key_subtract)) s.vy -= climb;

    // 9. Horizontal velocity.
    const double a = s.yaw * 0.01745329;
    if (!s.flying && !automatic) {
        s.vx += (std::sin(a) * speed - s.vx) * 0.5;
        s.vz += (std::cos(a) * speed - s.vz) * 0.5;
        if (!shift && g_hooks.world_has_ground && g_hooks.world_has_ground()) {
            s.vy += -0.98 * t;
            if (s.grounded) s.vy *= 0.1;
        }
    } else if (s.flying || s.gliding) {
        s.vx += std::sin(a) * speed * t;
        s.vz += std::cos(a) * speed * t;
    }
    if (!automatic && std::fabs(s.vx) < 0.01 && std::fabs(s.vz) < 0.01) s.vx = s.vz = 0;

    // 10. This frame's step.
    const double scale = automatic ? 0.8 * t : t;
    const double px = s.vx * scale, py = s.vy * scale, pz = s.vz * scale;

    // 11. An automatic move slows into arriving and then ends.
    if (automatic) {
        const double speed3 = std::sqrt(s.vx * s.vx + s.vy * s.vy + s.vz * s.vz);
        if (speed3 < 0.35) s.arriving = true, s.gliding = false;
        if (speed3 < 0.05) s.arriving = false;
    }

    // 12-13. Move, checked against collisions unless Shift or a glide.
    if (!shift && !s.gliding) {
        move_checked(px, py, pz);
    } else {
        s.x += px, s.y += py, s.z += pz;
        if (s.gliding) {
            // Only for the "bump" triggers of what the glide passes.
            collision_test(s.x, s.y, s.z,
                           RwV3{static_cast<float>(s.vx), static_cast<float>(s.vy), static_cast<float>(s.vz)});
        }
    }

    // 14.
    clamp_position();
    if (s.position_set) {
        s.position_set = false;
        camera_update();
    }
    finish_frame(now);
}

void self_position(double* x, double* y, double* z) {
    if (x) *x = s.x;
    if (y) *y = s.y;
    if (z) *z = s.z;
}

float self_yaw() { return s.yaw; }

float self_model_height() {
    if (s.model_height <= 0) s.model_height = self_figure_height();
    return s.model_height > 0 ? s.model_height : kDefaultModelHeight;
}

float self_eye_height() { return static_cast<float>(s.y) + 0.9f * self_model_height(); }

bool self_position_set() { return s.position_set; }

void self_velocity(double* vx, double* vz) {
    if (vx) *vx = s.vx;
    if (vz) *vz = s.vz;
}

void self_velocity_3d(double* vx, double* vy, double* vz) {
    self_velocity(vx, vz);
    if (vy) *vy = s.vy;
}

bool self_turning() { return s.turning; }
bool self_flying() { return s.flying; }
void self_set_flying(bool flying) { s.flying = flying; }
bool self_grounded() { return s.grounded; }

int self_set_position(double x, double y, double z, float yaw) {
    if (!in_range(x, y, z)) return 0;
    if (g_hooks.pick_off) g_hooks.pick_off();
    s.x = x, s.y = y, s.z = z;
    s.yaw = s.target_yaw = wrap_degrees(yaw);
    s.vx = s.vy = s.vz = 0;
    s.position_set = true;
    s.grounded = true;
    s.gliding = s.arriving = false;
    self_create_model();
    return 1;
}

int self_move_to(double x, double y, double z, float yaw) {
    if (!in_range(x, y, z)) return 0;
    if (g_hooks.pick_off) g_hooks.pick_off();
    s.gx = x, s.gy = y, s.gz = z;
    s.target_yaw = wrap_degrees(yaw);
    s.gliding = true;
    s.arriving = false;
    return 1;
}

bool self_gliding() { return s.gliding; }
bool self_arriving() { return s.arriving; }

void self_set_gesture(int gesture) {
    s.gesture = gesture;
    s.gesture_until = tick_now() + kGestureTime;
    if (s.gesture_until == 0) s.gesture_until = 1;
}

int self_gesture() { return s.gesture; }

void self_create_model() {
    if (log_on(Trace::trace)) log_write("self_create_model");
    // A new world may have a new title: show the place anew next frame.
    s.title_force = true;
    s.model_height = 0;
    figure_destroy(g_figure);
    g_figure = nullptr;
    if (!g_scene) return;
    g_figure = figure_create(g_scene, 1, !g_hooks.avatar_animations || g_hooks.avatar_animations());
    if (!g_figure) return;
    g_figure_type = figure_type();
    figure_set_target(g_figure, float(s.x), float(s.y), float(s.z), int(s.yaw), tick_now(), g_figure_type,
                      s.gesture);
    hide_in_first_person();
}

void self_release_model() {
    if (log_on(Trace::trace)) log_write("self_release_model");
    figure_destroy(g_figure);
    g_figure = nullptr;
    s.model_height = 0;
}

void self_show_model(bool shown) {
    if (!g_figure) return;
    if (shown) model_show(figure_model(g_figure));
    else model_hide(figure_model(g_figure));
}

void self_draw_model() {
    if (g_figure && g_scene && camera_current()) rw_camera_render(camera_current(), g_scene);
}

const Figure* self_figure() { return g_figure; }

float self_figure_height() {
    float h = 0;
    return g_figure && model_height(figure_model(g_figure), &h) ? h : 0;
}

void self_head_transform(double* x, double* y, double* z, float* yaw) {
    float fx = float(s.x), fy = float(s.y), fz = float(s.z);
    if (g_figure) figure_position(g_figure, &fx, &fy, &fz);
    const float h = g_figure ? self_figure_height() : 0;
    *x = fx, *z = fz;
    *y = g_figure && h > 0 ? fy + h : self_eye_height();
    *yaw = s.yaw;
}

void self_toggle_position_display() {
    g_position_display = !g_position_display;
    if (ui_present()) ui().menu_check(kCommandPosition, g_position_display);
    settings_put_int("show", "position", g_position_display ? 1 : 0);
    self_refresh_title(true);
}

void self_toggle_altitude_display() {
    g_altitude_display = !g_altitude_display;
    if (ui_present()) ui().menu_check(kCommandAltitude, g_altitude_display);
    settings_put_int("show", "altitude", g_altitude_display ? 1 : 0);
    if (g_altitude_display) altitude_show();
    else altitude_hide();
}

bool self_position_display() { return g_position_display; }
bool self_altitude_display() { return g_altitude_display; }

const char* self_direction_name(float yaw) {
    static const char* const names[8] = {"N", "NW", "W", "SW", "S", "SE", "E", "NE"};
    return names[direction_index(yaw)];
}

void self_refresh_title(bool force) {
    const int cx = cell_index(s.x), cz = cell_index(s.z), dir = direction_index(s.yaw);
    const std::string& world = world_title();
    if (!force && !s.title_force && cx == s.title_cx && cz == s.title_cz && dir == s.title_direction &&
        world == s.title_world)
        return;
    s.title_cx = cx, s.title_cz = cz, s.title_direction = dir, s.title_world = world;
    s.title_force = false;
    if (!ui_present()) return;
    if (!g_position_display) {
        ui().main_window_set_title(world);
        return;
    }
    const std::string place = cell_place_text(s.x, s.z);
    ui().main_window_set_title(load_message(46, world.c_str(), place.c_str(), self_direction_name(s.yaw)));
}

}  // namespace zk
