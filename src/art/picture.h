// Pictures shown on objects: a JPEG from the object path or from any
// address, painted on the polygons of the object's model that carry tag 200,
// fetched again periodically when asked to. One picture per address is
// shared by every object that shows it; its converted form is kept in the
// art cache as a texture chunk file.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

struct model_ref;
struct picture;
struct RwTexture;

// Addresses this long or longer are refused.
constexpr size_t kPictureUrlLimit = 256;

void picture_init();
// Shows the picture `name` on the reference (null: fetches it ahead without
// showing it). Null when the name is refused.
picture* picture_create(model_ref* ref, const std::string& name, int refresh_seconds);
// The reference no longer shows the picture; its handle goes with the last.
void picture_destroy(picture* pic, model_ref* ref);
// Paints the picture again on a reference whose clump was replaced.
void picture_reload(picture* pic, model_ref* ref);
// The picture a reference shows, or null.
picture* picture_of(const model_ref* ref);
// The "picture" task: fetches shown pictures again when their period is up.
void picture_update();
// Frees every picture (world reset, shutdown).
void picture_reset();

// The address of a picture name without its scheme, or empty when refused.
// `absolute` tells whether it names a place outside the object path, which
// the Downloads setting for pictures governs.
std::string picture_url(const std::string& name, const std::string& object_path, bool* absolute);

// Tests and measurements.
RwTexture* picture_handle(const picture* pic);
const std::string& picture_path(const picture* pic);
int picture_count();

// Where the world keeps its art ("host[:port]/path").
struct PictureHooks {
    std::string (*object_path)() = nullptr;
};
PictureHooks& picture_hooks();

}  // namespace zk
