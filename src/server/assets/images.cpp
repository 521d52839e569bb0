#include "server/assets/images.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cmath>

#include <jpeglib.h>

#include "common/bytes.h"

namespace zk::server {

namespace {

// Tileable value noise: lattice values hashed from (x mod period, y mod
// period, seed), so every texture wraps without a seam.
float lattice(int x, int y, int period, uint32_t seed) {
    x = ((x % period) + period) % period;
    y = ((y % period) + period) % period;
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return static_cast<float>(h & 0xFFFF) / 65535.0f;
}

float smooth(float t) { return t * t * (3 - 2 * t); }

float value_noise(float u, float v, int period, uint32_t seed) {
    const float fx = u * static_cast<float>(period), fy = v * static_cast<float>(period);
    const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
    const float tx = smooth(fx - static_cast<float>(x0)), ty = smooth(fy - static_cast<float>(y0));
    const float a = lattice(x0, y0, period, seed), b = lattice(x0 + 1, y0, period, seed);
    const float c = lattice(x0, y0 + 1, period, seed), d = lattice(x0 + 1, y0 + 1, period, seed);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

// Fractal sum of octaves, 0..1.
float fractal(float u, float v, int period, int octaves, uint32_t seed) {
    float sum = 0, weight = 1, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += value_noise(u, v, period << i, seed + static_cast<uint32_t>(i)) * weight;
        total += weight;
        weight *= 0.5f;
    }
    return sum / total;
}

struct Rgb {
    float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scale(Rgb c, float f) { return {c.r * f, c.g * f, c.b * f}; }

void put(Image& im, int x, int y, Rgb c) {
    uint8_t* p = &im.rgb[(static_cast<size_t>(y) * static_cast<size_t>(im.width) + static_cast<size_t>(x)) * 3];
    p[0] = static_cast<uint8_t>(std::clamp(c.r, 0.0f, 255.0f));
    p[1] = static_cast<uint8_t>(std::clamp(c.g, 0.0f, 255.0f));
    p[2] = static_cast<uint8_t>(std::clamp(c.b, 0.0f, 255.0f));
}

using Shader = Rgb (*)(float u, float v, const Image& im, int x, int y);

Rgb grass(float u, float v, const Image&, int, int) {
    const float n = fractal(u, v, 4, 5, 11);
    const float blade = value_noise(u * 3, v * 0.5f, 32, 12);
    return mix(Rgb{52, 96, 34}, Rgb{118, 160, 64}, n * 0.8f + blade * 0.4f);
}

Rgb stone(float u, float v, const Image&, int, int) {
    // Irregular flagstones: the nearest of a jittered grid of centres,
    // dark joints where two cells meet.
    const int cells = 4;
    float best = 9, second = 9;
    uint32_t id = 0;
    for (int j = -1; j <= cells; ++j)
        for (int i = -1; i <= cells; ++i) {
            const float cx = (static_cast<float>(i) + 0.2f + 0.6f * lattice(i, j, cells, 21)) / cells;
            const float cy = (static_cast<float>(j) + 0.2f + 0.6f * lattice(i, j, cells, 22)) / cells;
            const float d = std::hypot(u - cx, v - cy);
            if (d < best) {
                second = best;
                best = d;
                id = static_cast<uint32_t>(((i % cells) + cells) % cells * 7 + ((j % cells) + cells) % cells);
            } else if (d < second) {
                second = d;
            }
        }
    const float tone = 0.8f + 0.25f * lattice(static_cast<int>(id), 0, 64, 23);
    const Rgb base = scale(mix(Rgb{120, 118, 112}, Rgb{168, 164, 152}, fractal(u, v, 8, 4, 24)), tone);
    return second - best < 0.012f ? Rgb{60, 58, 55} : base;
}

Rgb brick(float u, float v, const Image&, int, int) {
    const float rows = 8, cols = 4;
    const int row = static_cast<int>(v * rows);
    const float shift = (row % 2) ? 0.5f / cols : 0;
    const float bu = std::fmod(u + shift, 1.0f) * cols, bv = v * rows;
    const float fu = bu - std::floor(bu), fv = bv - std::floor(bv);
    const float grit = fractal(u, v, 16, 3, 31);
    if (fu < 0.06f || fv < 0.12f) return mix(Rgb{170, 165, 150}, Rgb{200, 196, 186}, grit);
    const float tone = 0.8f + 0.3f * lattice(static_cast<int>(bu), row, 64, 32);
    return scale(mix(Rgb{140, 52, 36}, Rgb{176, 82, 52}, grit), tone);
}

Rgb wood(float u, float v, const Image&, int, int) {
    // Planks running along v with rings bent by noise.
    const float planks = 4;
    const float pu = u * planks, fu = pu - std::floor(pu);
    const int plank = static_cast<int>(pu);
    const float ring = std::sin((fu * 6 + fractal(u, v, 2, 3, 41 + static_cast<uint32_t>(plank)) * 8) * 6.2832f);
    const float tone = 0.85f + 0.2f * lattice(plank, 0, 16, 42);
    Rgb c = scale(mix(Rgb{120, 78, 40}, Rgb{168, 118, 68}, 0.5f + 0.35f * ring), tone);
    if (fu < 0.03f) c = Rgb{70, 44, 24};
    return c;
}

Rgb bark(float u, float v, const Image&, int, int) {
    const float streak = fractal(u, v * 0.125f, 8, 4, 51);
    const float crack = value_noise(u, v * 0.25f, 16, 52);
    Rgb c = mix(Rgb{62, 44, 30}, Rgb{112, 86, 62}, streak);
    return crack < 0.2f ? scale(c, 0.55f) : c;
}

Rgb leaves(float u, float v, const Image&, int, int) {
    const float n = fractal(u, v, 8, 4, 61);
    return mix(Rgb{28, 82, 26}, Rgb{96, 150, 48}, n);
}

Rgb water(float u, float v, const Image&, int, int) {
    const float wave = std::sin((v * 4 + fractal(u, v, 4, 3, 71) * 1.5f) * 6.2832f);
    return mix(Rgb{24, 70, 120}, Rgb{70, 140, 190}, 0.5f + 0.4f * wave);
}

Rgb sand(float u, float v, const Image&, int, int) {
    return mix(Rgb{196, 176, 128}, Rgb{230, 214, 170}, fractal(u, v, 16, 3, 81));
}

Rgb gravel(float u, float v, const Image&, int, int) {
    const float n = fractal(u, v, 32, 2, 91);
    return mix(Rgb{110, 100, 90}, Rgb{186, 176, 160}, n * n * 1.6f);
}

Rgb roof(float u, float v, const Image&, int, int) {
    const float rows = 8;
    const float fv = v * rows - std::floor(v * rows);
    const float shade = 0.65f + 0.45f * fv;
    return scale(mix(Rgb{110, 40, 30}, Rgb{150, 60, 40}, fractal(u, v, 8, 3, 101)), shade);
}

Rgb metal(float u, float v, const Image&, int, int) {
    const float brushed = value_noise(u * 0.25f, v, 64, 111);
    return mix(Rgb{60, 64, 70}, Rgb{120, 126, 134}, 0.3f + 0.5f * brushed);
}

Rgb glow(float u, float v, const Image&, int, int) {
    const float d = std::hypot(u - 0.5f, v - 0.5f) * 2;
    return mix(Rgb{255, 250, 220}, Rgb{240, 190, 90}, d);
}

Rgb door(float u, float v, const Image& im, int x, int y) {
    Rgb c = wood(u * 0.5f, v, im, x, y);
    // Two sunk panels and a brass knob.
    const bool in_panel = u > 0.15f && u < 0.85f && ((v > 0.08f && v < 0.45f) || (v > 0.55f && v < 0.92f));
    const bool edge = in_panel && (u < 0.19f || u > 0.81f || (v > 0.08f && v < 0.12f) || (v > 0.41f && v < 0.45f) ||
                                   (v > 0.55f && v < 0.59f) || (v > 0.88f && v < 0.92f));
    if (edge) c = scale(c, 0.6f);
    else if (in_panel) c = scale(c, 0.9f);
    if (std::hypot((u - 0.88f) * 2, v - 0.5f) < 0.035f) c = Rgb{200, 170, 60};
    return c;
}

// The animated door's three frames: its panels glow red, green, then yellow
// so that each frame is told apart at a glance (and by the tests' pixels).
template <int Frame>
Rgb doorway(float u, float v, const Image& im, int x, int y) {
    Rgb c = door(u, v, im, x, y);
    const bool in_panel = u > 0.19f && u < 0.81f && ((v > 0.12f && v < 0.41f) || (v > 0.59f && v < 0.88f));
    if (in_panel) c = Frame == 1 ? Rgb{220, 40, 30} : Frame == 2 ? Rgb{40, 200, 60} : Rgb{230, 200, 40};
    return c;
}

Rgb board(float u, float v, const Image& im, int x, int y) {
    // The back and rim of the signboard.
    return scale(wood(v, u, im, x, y), 0.8f);
}

Rgb painting(float u, float v, const Image&, int, int) {
    // A small landscape: sky, sun, two hills and a lake.
    if (std::hypot(u - 0.72f, v - 0.25f) < 0.09f) return Rgb{250, 220, 90};
    const float hill1 = 0.55f - 0.15f * std::sin(u * 3.1416f), hill2 = 0.62f - 0.1f * std::sin((u + 0.4f) * 4.0f);
    if (v > 0.8f) return mix(Rgb{40, 90, 150}, Rgb{90, 150, 200}, fractal(u, v, 8, 2, 121));
    if (v > hill2) return mix(Rgb{50, 110, 40}, Rgb{90, 140, 50}, fractal(u, v, 8, 3, 122));
    if (v > hill1) return mix(Rgb{70, 90, 60}, Rgb{100, 120, 80}, fractal(u, v, 8, 3, 123));
    return mix(Rgb{240, 200, 170}, Rgb{90, 150, 220}, 1 - v * 1.6f);
}

// A flower on a magenta ground: colours no other demo texture has, so a
// test can tell the picture on its frame from everything around it.
Rgb sunflower(float u, float v, const Image&, int, int) {
    const float du = u - 0.5f, dv = v - 0.4f, r = std::hypot(du, dv);
    if (r < 0.1f) return Rgb{110, 60, 20};
    const float petals = 0.24f + 0.05f * std::cos(12 * std::atan2(dv, du));
    if (r < petals) return Rgb{250, 200, 30};
    if (std::fabs(du) < 0.03f && v > 0.5f) return Rgb{40, 140, 40};
    return Rgb{200, 30, 150};
}

// The demo worlds' backdrop: a sky panorama whose left and right edges
// meet, with clouds, two ranges of hills and, in its lowest tenth, the land
// below the horizon.
Rgb sky(float u, float v, const Image&, int, int) {
    constexpr float kTurn = 6.2831853f;
    const float far = 0.74f + 0.05f * std::sin(kTurn * 2 * u) + 0.03f * std::sin(kTurn * 5 * u + 1);
    const float near = 0.82f + 0.04f * std::sin(kTurn * 3 * u + 2) + 0.02f * std::sin(kTurn * 9 * u);
    if (v > 0.9f) return mix(Rgb{70, 100, 50}, Rgb{50, 80, 40}, fractal(u, v, 16, 3, 131));
    if (v > near) return mix(Rgb{50, 105, 45}, Rgb{85, 130, 55}, fractal(u, v, 16, 3, 132));
    if (v > far) return mix(Rgb{95, 125, 120}, Rgb{120, 145, 140}, fractal(u, v, 16, 3, 133));
    const Rgb air = mix(Rgb{25, 60, 150}, Rgb{170, 200, 235}, v / 0.9f);
    const float cloud = std::clamp((fractal(u, v * 0.5f, 8, 4, 134) - 0.52f) * 5, 0.0f, 1.0f) * (1 - v / 0.8f);
    return mix(air, Rgb{245, 245, 250}, cloud);
}

// Leaf clusters cut out by the mask; alpha follows the same noise as the
// colour so the holes fall between clusters.
void leaf_alpha(Image& im) {
    im.alpha.assign(static_cast<size_t>(im.width) * static_cast<size_t>(im.height), 0);
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(im.width);
            const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(im.height);
            const float n = fractal(u, v, 8, 3, 62);
            im.alpha[static_cast<size_t>(y) * static_cast<size_t>(im.width) + static_cast<size_t>(x)] = n > 0.42f ? 255 : 0;
        }
}

struct Entry {
    TextureRecipe recipe;
    Shader shader;
};

// None is taller than wide: the browser shows such a texture as a strip of
// square animation frames.
const std::vector<Entry>& entries() {
    static const std::vector<Entry> list = {
        {{"grass", "", 128, 128}, grass},     {{"stone", "", 128, 128}, stone},
        {{"brick", "", 128, 128}, brick},     {{"wood", "", 128, 128}, wood},
        {{"bark", "", 128, 128}, bark},       {{"leaves", "leavesm", 128, 128}, leaves},
        {{"water", "", 128, 128}, water},     {{"sand", "", 128, 128}, sand},
        {{"gravel", "", 128, 128}, gravel},   {{"roof", "", 128, 128}, roof},
        {{"metal", "", 64, 64}, metal},       {{"glow", "", 64, 64}, glow},
        {{"door", "", 128, 128}, door},       {{"board", "", 128, 64}, board},
        {{"painting", "", 128, 128}, painting}, {{"sunflower", "", 128, 128}, sunflower},
        {{"sky", "", 1024, 256}, sky},
        {{"doorway1", "", 128, 128}, doorway<1>}, {{"doorway2", "", 128, 128}, doorway<2>},
        {{"doorway3", "", 128, 128}, doorway<3>},
    };
    return list;
}

struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void jpeg_fail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

}  // namespace

const std::vector<TextureRecipe>& texture_recipes() {
    static const std::vector<TextureRecipe> list = [] {
        std::vector<TextureRecipe> out;
        for (const Entry& e : entries()) out.push_back(e.recipe);
        return out;
    }();
    return list;
}

Image make_texture(const TextureRecipe& recipe) {
    Image im;
    const Entry* entry = nullptr;
    for (const Entry& e : entries())
        if (e.recipe.name == recipe.name) entry = &e;
    if (!entry || recipe.width <= 0 || recipe.height <= 0 || recipe.width > 1024 || recipe.height > 1024) return im;
    im.width = recipe.width;
    im.height = recipe.height;
    im.rgb.resize(static_cast<size_t>(im.width) * static_cast<size_t>(im.height) * 3);
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(im.width);
            const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(im.height);
            put(im, x, y, entry->shader(u, v, im, x, y));
        }
    if (!recipe.mask.empty()) leaf_alpha(im);
    return im;
}

std::string jpeg_encode(const Image& image, int quality) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3)
        return {};
    jpeg_compress_struct c{};
    JpegError err{};
    c.err = jpeg_std_error(&err.base);
    err.base.error_exit = jpeg_fail;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = static_cast<JDIMENSION>(image.width);
    c.image_height = static_cast<JDIMENSION>(image.height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, std::clamp(quality, 1, 100), TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&image.rgb[static_cast<size_t>(c.next_scanline) *
                                                       static_cast<size_t>(image.width) * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

namespace {

}  // namespace

std::string bmp_mask(const Image& image) {
    const size_t w = static_cast<size_t>(image.width > 0 ? image.width : 0);
    const size_t h = static_cast<size_t>(image.height > 0 ? image.height : 0);
    if (w == 0 || h == 0 || image.alpha.size() != w * h) return {};
    const size_t stride = (w + 3) & ~size_t{3};
    const uint32_t offset = 14 + 40 + 256 * 4;
    const auto pixels = static_cast<uint32_t>(stride * h);
    std::string out;
    out.reserve(offset + pixels);
    out += "BM";
    append_le32(out, offset + pixels);
    append_le32(out, 0);
    append_le32(out, offset);
    append_le32(out, 40);
    append_le32(out, static_cast<uint32_t>(w));
    append_le32(out, static_cast<uint32_t>(h));  // positive: rows bottom-up
    append_le16(out, 1);
    append_le16(out, 8);
    append_le32(out, 0);  // no compression
    append_le32(out, pixels);
    append_le32(out, 2835);  // 72 dpi
    append_le32(out, 2835);
    append_le32(out, 256);
    append_le32(out, 0);
    for (int i = 0; i < 256; ++i) {
        const char g = static_cast<char>(i);
        out.push_back(g);
        out.push_back(g);
        out.push_back(g);
        out.push_back(0);
    }
    for (size_t y = h; y-- > 0;) {
        out.append(reinterpret_cast<const char*>(&image.alpha[y * w]), w);
        out.append(stride - w, '\0');
    }
    return out;
}

}  // namespace zk::server
