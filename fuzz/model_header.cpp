// Shape text from a model archive, as model loading reads it: the header of
// textures and masks, which must parse back and stay within its room, and
// the two texts handed to the converter. The input is also read as a
// stored header, as the chunk store hands one back.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "art/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zk;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<ModelTexture> named;
    const std::vector<uint8_t> header = model_read_header(text, kModelPlain);
    if (header.size() > kModelHeaderRoom || !model_header_textures(header, named)) __builtin_trap();
    size_t bytes = 1;
    for (const ModelTexture& t : named) {
        if (t.name.empty() || t.name.size() > kModelTextureName || t.mask.size() > kModelTextureName) __builtin_trap();
        bytes += 1 + t.name.size() + (t.mask.empty() ? 0 : 2 + t.mask.size());
    }
    if (bytes != header.size()) __builtin_trap();

    // Cut lines only get shorter; the flat text names no texture at all.
    const std::string shape = model_shape_text(text, false);
    const std::string flat = model_shape_text(text, true);
    if (shape.size() > size + 1 || flat.size() > size) __builtin_trap();
    if (model_read_header(flat, kModelPlain).size() != 1) __builtin_trap();

    if (model_header_textures(std::span<const uint8_t>(data, size), named))
        for (const ModelTexture& t : named)
            if (t.name.empty() || t.name.size() > kModelTextureName) __builtin_trap();
    return 0;
}
