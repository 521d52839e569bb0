// Procedural textures for the demo worlds, their JPEG encoding through
// libjpeg, and the 8-bit BMP masks of the textures that have holes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk::server {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;    // width * height * 3, top row first
    std::vector<uint8_t> alpha;  // width * height, 0 or 255; empty when opaque
};

struct TextureRecipe {
    std::string_view name;  // "textures/<name>.jpg"
    std::string_view mask;  // "textures/<mask>.zip" holding "<mask>.bmp"; empty when none
    int width, height;
};

// Every texture the demo models may name.
const std::vector<TextureRecipe>& texture_recipes();

// The picture of a recipe; an empty image for a name that has none.
Image make_texture(const TextureRecipe& recipe);

// Baseline JPEG of the image's colours, or empty on failure.
std::string jpeg_encode(const Image& image, int quality);

// An 8-bit BMP of the image's alpha: a 256-entry grey palette, index 0
// (black) where the texture is transparent and 255 (white) where it shows.
// Empty when the image has no alpha.
std::string bmp_mask(const Image& image);

}  // namespace zk::server
