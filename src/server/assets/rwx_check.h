// The check run on every model before it is published: the model is read
// with the browser's own reader, so that what passes here is what the
// browser shows. It also lists the textures, masks and face tags the model
// uses, so that missing art is caught at build time.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace zk::server {

struct RwxSummary {
    std::string error;  // the reader's "line N: ..." reason, empty when the model is sound
    int clumps = 0, vertices = 0, faces = 0;
    std::set<std::string> textures, masks;  // lower case, without extension
    std::set<int> tags;                     // of faces; untagged faces (0) are not listed
};

RwxSummary rwx_check(std::string_view text);

}  // namespace zk::server
