// Speech balloons: a text over a point of the world (an avatar's head),
// drawn over the 3D view in an 80 x 64 rectangle centred on the point's
// place in the view.
#pragma once

#include <cstddef>
#include <string>

namespace zk {

struct Balloon;
struct RwCamera;

constexpr int kBalloonWidth = 80, kBalloonHeight = 64;
constexpr size_t kBalloonTextMax = 511;  // bytes of UTF-8, whole characters

void balloon_init();
void balloon_term();
// A new balloon with no text and no place (not shown until it has both).
Balloon* balloon_create();
void balloon_destroy(Balloon* balloon);
// Bytes from anywhere, made safe as the console makes them.
void balloon_set_text(Balloon* balloon, const std::string& text);
void balloon_place(Balloon* balloon, float x, float y, float z);
// The task: every balloon in front of the current camera handed to the
// view to draw.
void balloon_update();
size_t balloon_count();

// Where a balloon over (x, y, z) appears in the full-size view, seen by
// `camera` (the half-size one when `half`): the top left of its rectangle.
// False behind the camera.
bool balloon_rect(const RwCamera* camera, bool half, float x, float y, float z, int* left, int* top);

}  // namespace zk
