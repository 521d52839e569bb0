// Building: selecting an object with the right mouse button, moving,
// turning, duplicating, deleting and editing it, and sending the result to
// the world server when the selection ends. Edits show at once; a refusal
// reloads the cells from the cache, which undoes them.
#pragma once

#include <cstdint>

namespace zk {

struct object;
struct RwClump;

void pick_init();
// The task: keeps the highlight box on the selected object and draws it.
void pick_update();
void pick_term();
// World reset: the selected object goes without anything being sent.
void pick_drop_selection();

bool pick_selected();
// Runs an editing command (object menu ids 108-117 and 140): 1 when it was
// one, else 0.
int pick_command(int id);
// Selects the object under a view point: 1 when one is selected (or a
// second click on it ended the selection), 0 when there is none.
int pick_at(int x, int y);
// Ends the selection, handing the object back to its cell and sending what
// changed; ends the showing of invisible objects in every case.
void pick_off();

// The selected object, null when none; its cell when it was taken.
const object* pick_object();
// The highlight box's instance (in a scene of its own).
const RwClump* pick_highlight();

constexpr double pick_step = 0.05, pick_fine_step = 0.005;
constexpr float pick_turn = 15.0f, pick_fine_turn = 1.5f;

// Where picking meets the view. Each entry starts as the real module's
// function; a test may point any of them elsewhere.
struct PickPorts {
    RwClump* (*instance_at)(int x, int y);
    float (*user_yaw)();
};
PickPorts& pick_ports();
void pick_ports_restore();

}  // namespace zk
