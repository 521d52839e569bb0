// The description tip: an object's description shown beside the cursor
// once the cursor has rested on the object for half a second.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

struct object;

constexpr uint32_t focus_tip_delay = 500;  // ms on the same object
constexpr int focus_tip_max_width = 80;    // pixels

bool focus_init();
// The task: picker mode only, and not while the third-person camera is
// still catching up.
void focus_update();
// The same at an explicit time in milliseconds.
void focus_step(uint32_t now);

// The tip as it stands, for drawing and tests.
struct FocusTip {
    bool shown = false;
    int left = 0, top = 0, width = 0, height = 0;
    std::string text;
};
const FocusTip& focus_tip();
// Drops the tip and forgets the object.
void focus_drop();

// What focus needs of other modules; unset entries mean "nothing".
struct FocusHooks {
    // An object editing action is in progress.
    bool (*editing)() = nullptr;
    // The object under a point of the view.
    object* (*pick)(int x, int y) = nullptr;
    // Text extent of `text` laid out centred and word-wrapped within
    // `max_width` pixels.
    void (*measure)(const std::string& text, int max_width, int* width, int* height) = nullptr;
    // Draws the tip box into the camera image.
    void (*draw)(const FocusTip& tip) = nullptr;
    // The view's size in pixels.
    void (*view_size)(int* width, int* height) = nullptr;
};
FocusHooks& focus_hooks();

}  // namespace zk
