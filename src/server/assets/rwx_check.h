// A structural check of hand-written RenderWare script models, run on every
// model before it is published: balanced blocks, faces whose vertex numbers
// exist in their clump, bounded lines. It also lists the textures, masks and
// face tags a model uses, so that missing art is caught at build time.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace zk::server {

struct RwxSummary {
    std::string error;  // "line N: ...", empty when the model is sound
    int clumps = 0, vertices = 0, faces = 0;
    std::set<std::string> textures, masks;  // lower case, without extension
    std::set<int> tags;
};

RwxSummary rwx_check(std::string_view text);

}  // namespace zk::server
