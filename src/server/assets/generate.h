// Builds the object path trees of the demo worlds from the sources in
// assets/: models zipped (one encrypted per world), textures drawn and
// encoded, masks zipped, and the world's content file copied beside them.
#pragma once

#include <string>

namespace zk::server {

// Writes <out>/<world>/{models,textures,world.txt} for every demo world.
// Files whose content is unchanged are left alone, so their modification
// times (and the object server's Last-Modified) stay put. Answers an error
// text, empty on success.
std::string generate_demo_objects(const std::string& assets_dir, const std::string& out_dir);

}  // namespace zk::server
