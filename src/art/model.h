// Models: the shared shapes that objects, avatars and the ground show.
//
// A model is published as "<name>.zip" holding "<name>.rwx" in the "models"
// (or "avatars") directory of the object path. Each model is converted once
// into a chunk record (chunk.h) with a header naming its textures and masks;
// later runs load the chunk directly. While textures are missing the model
// shows an untextured "flat" conversion, and while nothing can be shown, a
// small placeholder triangle.
//
// Every object holds a reference with a clump of its own. A newly chosen
// clump (the template) replaces the shown one at once for avatars and at the
// next model_flush for everything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

struct RwClump;
struct RwScene;
struct model;
struct model_ref;

// Model types, the first header byte.
constexpr uint8_t kModelPlain = 0;
constexpr uint8_t kModelAligned = 1;  // the shape turns to face the viewer
constexpr uint8_t kModelAvatar = 2;

constexpr size_t kModelNameLength = 20;
constexpr size_t kModelHeaderRoom = 2584;
// Shape lines are examined up to this many characters.
constexpr size_t kModelLineLength = 256;
// Texture and mask names in a header, like texture chunk keys.
constexpr size_t kModelTextureName = 32;

// Makes the model table and the placeholder. False when the placeholder
// cannot be built.
bool model_init();
// Frees every model and the placeholder.
void model_term();
// Frees every model entry (world reset; objects have let go of theirs).
void model_reset();
void model_empty_cache();

// The scene that references without one are shown in.
void model_set_scene(RwScene* scene);
RwScene* model_scene();

// A new reference to the model `name` of `dir` ("models" or "avatars"). The
// name is lower-cased, its first ".rwx" removed, and cut to 20 characters.
// Without a scene the reference is given the current one at the next
// model_flush. Null when out of memory or before model_init.
model_ref* model_reference(const std::string& dir, const std::string& name, RwScene* scene);
// An object's reference: "models", entering the scene at the next flush.
model_ref* model_reference_object(const std::string& name);
// Removes the reference's clump from the scene and frees both.
void model_dereference(model_ref* ref);

// What later modules keep on an object's model instance (animated textures,
// signs) follows the instance: told when its shown clump has been replaced
// by a new one, and when the reference goes. Unset hooks are skipped.
struct ModelHooks {
    void (*instance_replaced)(model_ref* ref) = nullptr;
    void (*instance_released)(model_ref* ref) = nullptr;
};
ModelHooks& model_hooks();
// Rotation of `yaw` degrees about the vertical axis, then translation.
void model_place(model_ref* ref, double x, double y, double z, float yaw);
// The shown clump, the object's model instance (null for null).
RwClump* model_clump(const model_ref* ref);
// Keep out of, or put back into, the scene.
void model_hide(model_ref* ref);
void model_show(model_ref* ref);
bool model_hidden(const model_ref* ref);
// The model is loaded and its reference shows what it will keep showing
// (no template waits to replace it).
bool model_ready(const model_ref* ref);
// The height of the shape (highest minus lowest y), computed once per
// model. False for a null reference or a model that is not ready.
bool model_height(model_ref* ref, float* height);
// The lowest y of the shape, once known.
bool model_bottom(const model_ref* ref, float* y);

// Chooses the reference's next clump: the converted model, its flat
// substitute while textures are missing, or the placeholder.
void update_model(model_ref* ref);
void update_models(model* m);
// Shows the chosen clump in place of the current one, keeping its place.
void reload_model(model_ref* ref);
// Swaps in every waiting template and puts new references into the scene.
void model_flush();

// References alive now.
int64_t model_reference_count();
// Model entries in the table (tests).
size_t model_count();
// The placeholder's template (for tests and measurements).
const RwClump* model_placeholder();

// The chunk key prefix of a directory's flat substitutes. It ends in a
// character that model names never hold, so no flat key equals the key of
// another model ("modelsflat" + "x" would be "models" + "flatx").
std::string model_flat_prefix(const std::string& dir);

// The header of a shape: [type] then per texture [n][name], each followed
// by [0][m][mask name] when the shape masks it. `type` is the type before
// the shape is read; "axisalignment zorientx|zorienty" makes it aligned.
std::vector<uint8_t> model_read_header(std::string_view rwx, uint8_t type);
struct ModelTexture {
    std::string name, mask;
};
// The textures a header names; false when it is damaged.
bool model_header_textures(std::span<const uint8_t> header, std::vector<ModelTexture>& textures);
// The shape text handed to the converter: texture lines cut after the
// texture name (the reader has no use for masks there), or, for the flat
// substitute, without any texture line.
std::string model_shape_text(std::string_view rwx, bool flat);

// The Advanced page: keep extracted ".rwx" and converted ".bmp" files.
struct AdvancedSwitches {
    bool keep_rwx = false;
    bool keep_bmp = false;
};
// Reads both switches from the settings and applies them.
void advanced_init();
AdvancedSwitches advanced_switches();
// The page's Apply: takes both over at once and writes them.
void advanced_apply(const AdvancedSwitches& switches);

}  // namespace zk
