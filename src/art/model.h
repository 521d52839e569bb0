// Models: the handle through which objects show a shape.
//
// For now every reference shows its own copy of the placeholder, a single
// small triangle, so that objects can be seen and picked before models are
// downloaded and converted.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

struct RwClump;
struct RwScene;
struct model_ref;

// Builds the placeholder and hooks model references into live objects.
// False when the placeholder cannot be built.
bool model_init();
void model_term();
void advanced_init();
void model_empty_cache();

// The scene that references are shown in (none: kept out of any scene).
void model_set_scene(RwScene* scene);
RwScene* model_scene();

// A new reference showing a copy of the placeholder; not yet in the scene
// (model_flush adds it). Null when out of memory.
model_ref* model_reference(const std::string& name);
// Removes the reference's clump from the scene and frees both.
void model_dereference(model_ref* ref);
// Rotation of `yaw` degrees about the vertical axis, then translation.
void model_place(model_ref* ref, double x, double y, double z, float yaw);
// The shown clump, the object's model instance (null for null).
RwClump* model_clump(const model_ref* ref);
// Keep out of, or put back into, the scene.
void model_hide(model_ref* ref);
void model_show(model_ref* ref);
bool model_hidden(const model_ref* ref);
// Adds every new reference that is not hidden to the scene.
void model_flush();
// References alive now.
int64_t model_reference_count();
// The placeholder's template (for tests and measurements).
const RwClump* model_placeholder();

}  // namespace zk
