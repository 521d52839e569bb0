#include "view/camera.h"

#include <algorithm>
#include <cmath>

#include "core/log.h"
#include "platform/ui.h"
#include "render/library.h"
#include "view/scene.h"

namespace zk {

namespace {

constexpr float kNear = 0.025f;
constexpr float kPitchLimit = 85;
constexpr float kPitchStep = 5;
constexpr float kDistances[4] = {0.5f, 1.0f, 2.0f, 4.0f};
constexpr int kLookUp = 124, kLookDown = 125, kLookLevel = 131, kFirstPerson = 126, kThirdPerson = 127;

RwCamera* g_main = nullptr;
RwCamera* g_half = nullptr;
int g_width = 0, g_height = 0;
int g_mode = -1;
float g_pitch = 0;
int g_distance = 0;
RwV3 g_desired, g_current;
float g_r = 0, g_g = 0, g_b = 0.7f;
const RwRaster* g_backdrop_full = nullptr;
const RwRaster* g_backdrop_half = nullptr;
bool g_half_mode = false;
bool g_drawing = false;            // this pass draws the view
uint64_t g_drawn_signature = 0;    // of the view last drawn
bool g_panning = false;
OwnViewSource g_source = nullptr;
OwnModelSwitch g_model_switch = nullptr;
ViewSignatureExtra g_signature_extra = nullptr;

OwnView own() { return g_source ? g_source() : OwnView{}; }

void show_own_model(bool shown) {
    if (g_model_switch) g_model_switch(shown);
}

void menu_state() {
    if (!ui_present()) return;
    UiPort& u = ui();
    if (g_mode == 1) {
        for (int c : {kLookUp, kLookDown, kLookLevel}) {
            u.menu_enable(c, false);
            u.toolbar_enable(c, false);
        }
        u.menu_check(kThirdPerson, true);
        u.menu_check(kFirstPerson, false);
        u.toolbar_press(kFirstPerson, false);
    } else {
        u.menu_check(kFirstPerson, true);
        u.menu_check(kThirdPerson, false);
        u.toolbar_press(kThirdPerson, false);
        const bool level = g_pitch != 0, up = g_pitch != -kPitchLimit, down = g_pitch != kPitchLimit;
        u.menu_enable(kLookLevel, level);
        u.toolbar_enable(kLookLevel, level);
        u.menu_enable(kLookUp, up);
        u.toolbar_enable(kLookUp, up);
        u.menu_enable(kLookDown, down);
        u.toolbar_enable(kLookDown, down);
    }
}

void setup(RwCamera* c, int inset) {
    rw_camera_set_background(c, g_r, g_g, g_b);
    rw_camera_set_near(c, kNear);
    rw_camera_set_viewport(c, 0, 0, std::max(0, c->width - inset), std::max(0, c->height - inset));
}

void give_backdrops() {
    if (g_main) rw_camera_set_backdrop(g_main, g_backdrop_full);
    if (g_half) rw_camera_set_backdrop(g_half, g_backdrop_half);
}

}  // namespace

void camera_set_own_view(OwnViewSource source) { g_source = source; }
void camera_set_own_model_switch(OwnModelSwitch show) { g_model_switch = show; }

int camera_init() {
    if (log_on(Trace::trace)) log_write("camera_init");
    if (int rc = camera_resize(200, 120); rc != 0) return rc;
    camera_track_ahead();
    if (ui_present()) {
        ui().toolbar_enable(kFirstPerson, true);
        ui().toolbar_enable(kThirdPerson, true);
    }
    return 0;
}

void camera_term() {
    rw_camera_destroy(g_main);
    rw_camera_destroy(g_half);
    g_main = g_half = nullptr;
    g_width = g_height = 0;
    g_mode = -1;
    g_pitch = 0;
    g_distance = 0;
    g_desired = g_current = {};
    g_r = 0, g_g = 0, g_b = 0.7f;
    g_backdrop_full = g_backdrop_half = nullptr;
    g_half_mode = g_panning = false;
}

int camera_resize(int width, int height) {
    if (width == g_width && height == g_height && g_main) return 0;
    if (log_on(Trace::trace)) log_write("camera_resize %d %d", width, height);
    RwCamera* main = rw_camera_create(width, height);
    RwCamera* half = rw_camera_create(std::max(1, width / 2), std::max(1, height / 2));
    if (!main || !half) {
        rw_camera_destroy(main);
        rw_camera_destroy(half);
        render_set_error(render_error_out_of_memory);
        return render_error_out_of_memory;
    }
    if (g_main) {
        main->matrix = g_main->matrix;
        half->matrix = g_half->matrix;
    }
    rw_camera_destroy(g_main);
    rw_camera_destroy(g_half);
    g_main = main;
    g_half = half;
    g_width = width;
    g_height = height;
    setup(g_main, 4);
    setup(g_half, 2);
    give_backdrops();
    camera_size_viewwindow();
    return 0;
}

int camera_max_width() { return ui_present() ? ui().screen_width() : 0; }
int camera_max_height() { return ui_present() ? ui().screen_height() : 0; }

void camera_size_viewwindow() {
    if (!g_main) return;
    const float w = float(g_main->viewport.width), h = float(g_main->viewport.height);
    if (w <= 0 || h <= 0) return;
    const float fw = w > h ? 1.0f : w / h, fh = w > h ? h / w : 1.0f;
    if (g_mode == 1) {
        rw_camera_set_view_window(g_main, 0.5f * fw, 0.5f * fh);
    } else {
        rw_camera_set_view_window(g_main, fw, fh);
        rw_camera_set_view_window(g_half, fw, fh);
    }
}

void camera_track_ahead() {
    if (ui_present()) ui().toolbar_press(kFirstPerson, true);
    if (g_mode == 0) return;
    show_own_model(false);
    g_mode = 0;
    camera_size_viewwindow();
    menu_state();
}

void camera_track_self(int cycle) {
    if (ui_present()) ui().toolbar_press(kThirdPerson, true);
    if (g_mode == 1) {
        if (cycle) g_distance = (g_distance + 1) % 4;
        return;
    }
    show_own_model(true);
    g_mode = 1;
    // The camera starts where it stands and catches up from there.
    if (g_main) g_current = rw_camera_position(g_main);
    camera_size_viewwindow();
    menu_state();
}

void camera_look_up() {
    if (g_mode != 0) return;
    g_pitch = std::max(-kPitchLimit, g_pitch - kPitchStep);
    menu_state();
}

void camera_look_down() {
    if (g_mode != 0) return;
    g_pitch = std::min(kPitchLimit, g_pitch + kPitchStep);
    menu_state();
}

void camera_look_level() {
    if (g_mode != 0) return;
    g_pitch = 0;
    menu_state();
}

float camera_pitch() { return g_pitch; }
float camera_distance() { return kDistances[g_distance]; }

void camera_set_color(int red, int green, int blue) {
    g_r = float(std::clamp(red, 0, 255)) / 255.0f;
    g_g = float(std::clamp(green, 0, 255)) / 255.0f;
    g_b = float(std::clamp(blue, 0, 255)) / 255.0f;
    rw_camera_set_background(g_main, g_r, g_g, g_b);
    rw_camera_set_background(g_half, g_r, g_g, g_b);
}

void camera_set_backdrops(const RwRaster* full, const RwRaster* half) {
    g_backdrop_full = full;
    g_backdrop_half = half;
    give_backdrops();
}

RwCamera* camera_main() { return g_main; }
RwCamera* camera_half() { return g_half; }
RwCamera* camera_current() { return g_half_mode ? g_half : g_main; }
bool camera_third_person() { return g_mode == 1; }
int camera_view_mode() { return g_mode; }
RwV3 camera_position() { return g_main ? rw_camera_position(g_main) : RwV3{}; }

bool camera_catching_up() {
    return g_mode == 1 && (std::fabs(g_current.x - g_desired.x) > 1.0f || std::fabs(g_current.z - g_desired.z) > 1.0f);
}

void camera_set_panning(bool enabled) { g_panning = enabled; }
void camera_decide_half_size(bool turning) { g_half_mode = g_panning && g_mode == 0 && turning; }
bool camera_half_size() { return g_half_mode; }

void camera_update() {
    if (!g_main) return;
    const OwnView v = own();
    if (g_mode == 0) {
        // Pitch about the camera's own x axis, then the heading about the
        // vertical, then to the eye.
        RwMatrix m = matrix_translation(v.x, v.eye_height, v.z) * matrix_rotation({0, 1, 0}, v.yaw) *
                     matrix_rotation({1, 0, 0}, g_pitch);
        rw_camera_set_matrix(g_main, m);
        rw_camera_set_matrix(g_half, m);
    } else if (g_mode == 1) {
        const float angle = (v.yaw + 180) * 0.017453292f, d = kDistances[g_distance];
        g_desired = {v.x + std::sin(angle) * d, v.eye_height + d, v.z + std::cos(angle) * d};
        g_current = g_current + (g_desired - g_current) * 0.2f;
        rw_camera_set_matrix(g_main, matrix_look_at(g_current, {v.x, v.eye_height, v.z}, {0, 1, 0}));
    }
}

void camera_begin_update() {
    RwCamera* c = camera_current();
    g_drawing = false;
    if (!c) return;
    // A view that shows what it showed last time is not drawn again: idle,
    // the browser leaves the processor (and the battery) alone.
    uint64_t signature = rw_camera_view_signature(c, scene_current());
    if (g_signature_extra) signature = (signature ^ g_signature_extra(c)) * 0x9E3779B97F4A7C15ull;
    if (signature == g_drawn_signature) return;
    if (!rw_camera_begin_update(c)) return;
    g_drawing = true;
    g_drawn_signature = signature;
    rw_camera_clear(c);
}

void camera_end_update() {
    if (g_drawing) rw_camera_end_update(camera_current());
}

bool camera_drawing() { return g_drawing; }

void camera_set_signature_extra(ViewSignatureExtra extra) { g_signature_extra = extra; }

}  // namespace zk
