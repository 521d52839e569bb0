// Textures and masks, shared by name between every model and object that
// shows them. A texture is keyed by its name cut at the first ".".
//
// A texture is published as "<name>.jpg" in the "textures" directory of the
// object path and may be shown through a mask, published as "<mask>.zip"
// holding "<mask>.bmp". The JPEG is converted to a BMP (image.h), read,
// masked, and kept in the texture chunk store (chunk.h) so that later runs
// load it directly. A texture has a renderer handle while references exist.
#pragma once

#include <string>

namespace zk {

struct texture;
struct RwTexture;

// Called once the texture has become loaded, with status 0. A texture that
// cannot be finished never calls back.
using TextureCallback = void (*)(void* data, int status);

// The texture of that name, found or created (null when memory runs out or
// the name could not be a file name). A callback given while it is not
// loaded is called once it is.
texture* texture_download(const std::string& name, TextureCallback callback, void* data);
// Sets the mask (by name) that the texture is shown through.
void texture_set_mask(texture* t, const std::string& mask_name);
void texture_reference(texture* t);
void texture_dereference(texture* t);
// The texture exists in converted form and may be used.
bool texture_loaded(const texture* t);
// The renderer's texture, or null.
RwTexture* texture_handle(const texture* t);
// References held now (tests).
int texture_reference_count(const texture* t);

// The Advanced page's "keep .bmp files" switch.
void texture_set_keep_bmp(bool keep);
bool texture_keep_bmp();

// Forgets every texture and mask (world reset).
void texture_reset();
// The same at the end, once models have let go of theirs.
void texture_term();

}  // namespace zk
