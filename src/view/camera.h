// The two cameras of the 3D view (a full-size one and a half-size one used
// while turning fast), first- and third-person view, looking up and down,
// the background colour and backdrop, and the bracket around drawing.
#pragma once

#include "render/camera.h"

namespace zk {

// Where the user stands, as the camera follows it (filled by self movement).
struct OwnView {
    float x = 0, y = 0, z = 0;
    float yaw = 0;           // degrees, counter-clockwise from north (+z)
    float eye_height = 0.2f; // the eye's height in the world
};
using OwnViewSource = OwnView (*)();
using OwnModelSwitch = void (*)(bool shown);
void camera_set_own_view(OwnViewSource source);
void camera_set_own_model_switch(OwnModelSwitch show);

// Result 0, or a render error when no camera could be made.
int camera_init();
void camera_term();
// Remakes both cameras when the size changes, keeping the camera position.
int camera_resize(int width, int height);
int camera_max_width();
int camera_max_height();
void camera_size_viewwindow();

void camera_track_ahead();
void camera_track_self(int cycle);
void camera_look_up();
void camera_look_down();
void camera_look_level();
float camera_pitch();
float camera_distance();

// Bytes 0..255 per channel.
void camera_set_color(int red, int green, int blue);
// The full image for the main camera, the half-size copy for the other
// (not owned; none removes them).
void camera_set_backdrops(const RwRaster* full, const RwRaster* half);

RwCamera* camera_main();
RwCamera* camera_half();
// The camera drawn this frame: the half one in half-size mode.
RwCamera* camera_current();
bool camera_third_person();
int camera_view_mode();   // -1 none yet, 0 first person, 1 third person
RwV3 camera_position();
bool camera_catching_up();

// Half-size mode, decided once a frame: on while panning is enabled, the
// view is first-person and the user is turning.
void camera_set_panning(bool enabled);
void camera_decide_half_size(bool turning);
bool camera_half_size();

void camera_update();
// A pass draws the view only when something it shows changed since it was
// last drawn (the camera, the device, the scene's clumps and textures).
void camera_begin_update();
void camera_end_update();
// This pass draws (between begin and end): what draws into the view asks.
bool camera_drawing();
// Scenes drawn over the world's by another module (the avatars): their
// digest joins the world scene's, so that figures moving in a still world
// are drawn. None removes it.
using ViewSignatureExtra = uint64_t (*)(const RwCamera* camera);
void camera_set_signature_extra(ViewSignatureExtra extra);

}  // namespace zk
