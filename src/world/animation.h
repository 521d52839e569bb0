// Animated object textures: an object's model instance shows a sequence of
// numbered textures ("door1", "door2", ...) one after another, on a clock.
//
// An instance holds at most one animation; a new one replaces the old. The
// animation follows the instance: a replacement clump shows the current
// frame again, and the animation goes with the instance (bind
// animation_instance_replaced and animation_instance_released to the model
// hooks).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

struct object;
struct model_ref;

// Limits of an animation.
constexpr int kAnimationMaxImages = 99;
constexpr size_t kAnimationMaxBase = 7;         // base name characters
constexpr size_t kAnimationMaxBaseMany = 6;     // ... with 10 or more images
constexpr size_t kAnimationMaskedBase = 6;      // bases this short also get masks

void animation_update();                 // the task "animate": animation_step(tick_now())
void animation_step(uint32_t now);       // the same at an explicit time
// 1 when the animation was made (it replaces the object's previous one and
// shows its first frame at once), 0 when a limit is broken or the object
// has no model instance (nothing changes). `frames` holds 1-based image
// numbers; empty means 1..image_count (allowed only when frame_count ==
// image_count).
int animation_create(object* o, const std::string& base, int image_count, int frame_count, int delay_ms,
                     const std::vector<int>& frames);
// Requests an animation's textures (and masks) ahead of time.
void animation_prefetch(const std::string& base, int image_count);
// Absolute n shows frame n (from 1, wrapping; n < 1 is ignored); relative
// moves by n either way, wrapping.
void animation_frame(object* o, int n, bool relative);
void animation_start(object* o, bool looping);
void animation_stop(object* o);
// adone: called when an animation that does not loop has passed its last
// frame.
struct AnimationHooks { void (*adone)(object* o) = nullptr; };
AnimationHooks& animation_hooks();

// The model hooks' side of animations.
void animation_instance_replaced(model_ref* instance);
void animation_instance_released(model_ref* instance);

// Animations alive, released ones not yet removed included (tests).
size_t animation_count();
// The frame index an object's animation shows, -1 without one (tests).
int animation_current(const object* o);

}  // namespace zk
