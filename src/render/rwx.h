// The reader of RenderWare script (.rwx) shape files.
#pragma once

#include <string>
#include <string_view>

#include "render/clump.h"

namespace zk {

// Reads a shape into a new clump hierarchy; none on failure, with the
// library's last error set and, when asked, a line-numbered reason. A shape
// that would cost more work or memory than any real model (the limits are
// in rwx.cpp) fails with render_error_too_large.
// Texture names are resolved when read: a texture already loaded under the
// name, or "<name>.bmp" from the texture search path; a texture that cannot
// be found leaves the polygon untextured (its name is kept).
// Vertices are placed in the model's space, except in joints: a clump below
// the outermost one whose clump-level Tag is 1-30 gets as its matrix the
// transform in force at its first vertex or child clump (its pivot, set by
// the Translate and Rotate before its geometry), taken from its parent's
// frame, and its vertices and those of its untagged descendants are given
// from that pivot. Every vertex stays where it was; turning the joint's
// matrix turns it, and what hangs on it, about the pivot.
RwClump* rw_read_shape(const std::string& path, std::string* error = nullptr);
RwClump* rw_read_shape_text(std::string_view text, std::string* error = nullptr);

}  // namespace zk
