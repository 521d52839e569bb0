// Textures: a raster with an optional mask, shared by reference count and
// found by name through the texture search path.
#pragma once

#include <cstdint>
#include <string>

#include "render/raster.h"

namespace zk {

struct RwTexture {
    std::string name;              // as found by name; empty for one read from a path
    int refs = 1;
    RwRaster* raster = nullptr;    // owned
    RwRaster* mask = nullptr;      // owned; its brightness becomes alpha
    int frames = 1;                // square frames stacked top to bottom
    int frame = 0;                 // the frame shown
    uint32_t version = 1;          // bumped by every change of what is shown
    uint64_t serial = 0;           // never reused; keys caches of the backend
    bool named = false;            // listed in the dictionary under `name`
};

// A name that may become part of a file path: not empty, at most 255
// bytes, no '/', '\\', "..", NUL or control characters.
bool rw_name_is_safe(const std::string& name);

// A new texture owning `raster` (none for a null raster).
RwTexture* rw_texture_create(RwRaster* raster);
void rw_texture_add_reference(RwTexture* texture);
// Releases one reference; the texture goes with the last one.
void rw_texture_destroy(RwTexture* texture);

// Directories searched for "<name>.bmp", separated by ';'.
void rw_texture_set_search_path(const std::string& path);
const std::string& rw_texture_search_path();

// The texture of that name: the one already loaded (one more reference), or
// read from the search path. The name is cut at its first '.'. None when
// the name is unsafe or no readable bitmap is found.
RwTexture* rw_texture_read_named(const std::string& name);
// The loaded texture of that name, without a new reference.
RwTexture* rw_texture_find(const std::string& name);
// Reads a bitmap file as a new texture of its own (not listed by name).
RwTexture* rw_texture_read(const std::string& path);
// Reads "<name>.bmp" from the search path as a raster.
RwRaster* rw_raster_read_named(const std::string& name);
// Makes a texture known by name (for textures loaded from chunks).
void rw_texture_register(RwTexture* texture, const std::string& name);

// The mask's brightness becomes the texture's alpha (copied; stretched to
// the texture's size when the sizes differ).
bool rw_texture_mask(RwTexture* texture, const RwRaster* mask);
RwRaster* rw_texture_raster(RwTexture* texture);
// Replaces the raster (taking ownership); every user shows it at once.
bool rw_texture_set_raster(RwTexture* texture, RwRaster* raster);

// Steps every multi-frame texture to its next frame.
void rw_textures_advance_frames();
int rw_texture_count();

// The colour a texel shows, mask applied: (u, v) in 0..1 of the current frame.
RwRgba rw_texture_texel(const RwTexture* texture, int x, int y);
int rw_texture_frame_height(const RwTexture* texture);

}  // namespace zk
