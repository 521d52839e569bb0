// The ground: one model that the world names, kept under the viewer by
// moving it from sector to sector as the user walks.
#pragma once

#include <string>

namespace zk {

struct RwClump;

// World entry: an empty name clears the ground, the name it already shows
// changes nothing, another replaces it.
void ground_set(const std::string& name);
// Lets go of the ground model and forgets its name (world reset, shutdown).
void ground_clear();
// The ground's shown figure, or null.
RwClump* ground_clump();
// The ground's model is loaded and shown: movement falls onto it and
// collision tests it only then.
bool ground_ready();
// The "ground" task: moves the ground when the user entered another sector.
void ground_update();
void ground_release();

// Where the ground looks for the user.
struct GroundHooks {
    void (*position)(double* x, double* y, double* z) = nullptr;
};
GroundHooks& ground_hooks();

}  // namespace zk
