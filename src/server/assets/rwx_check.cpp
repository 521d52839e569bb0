#include "server/assets/rwx_check.h"

#include "common/text.h"
#include "render/rwx.h"

namespace zk::server {

RwxSummary rwx_check(std::string_view text) {
    RwxSummary out;
    RwClump* root = rw_read_shape_text(text, &out.error);
    if (!root) {
        if (out.error.empty()) out.error = "the model cannot be read";
        return out;
    }
    rw_clump_for_all(root, [&out](RwClump* c) {
        ++out.clumps;
        out.vertices += static_cast<int>(c->vertices.size());
        out.faces += static_cast<int>(c->polygons.size());
        // Materials exist only for the looks faces use: names set but never
        // drawn with are not listed. The reader keeps names without extension.
        for (const RwMaterial& m : c->materials) {
            if (!m.texture_name.empty()) out.textures.insert(lower_case(m.texture_name));
            if (!m.mask_name.empty()) out.masks.insert(lower_case(m.mask_name));
        }
        for (const RwPolygon& p : c->polygons)
            if (p.tag != 0) out.tags.insert(p.tag);
        return true;
    });
    rw_clump_destroy(root);
    return out;
}

}  // namespace zk::server
