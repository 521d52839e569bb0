// Rasters: rectangles of pixels, either 8-bit indices into a palette of 256
// colours or 32-bit RGBA (bytes r, g, b, a). Windows bitmap reading and
// writing live here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zk {

// Largest side and pixel count accepted from any file or stream.
constexpr int kRasterMaxSide = 16384;
constexpr int64_t kRasterMaxPixels = 64ll * 1024 * 1024;

struct RwRgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

struct RwRaster {
    int width = 0, height = 0;
    int depth = 32;                  // 8 or 32 bits per pixel
    std::vector<RwRgba> palette;     // 256 entries for depth 8
    std::vector<uint8_t> pixels;     // rows top-down, width * depth/8 bytes each
    uint32_t version = 1;            // bumped by every change of the pixels
    uint64_t serial = 0;             // never reused; keys caches of the backend

    int stride() const { return width * (depth / 8); }
    // The colour of a pixel whatever the depth; (0,0,0,0) outside.
    RwRgba pixel(int x, int y) const;
};

// A new raster filled with zero bytes; none for sizes out of range or a
// depth other than 8 or 32.
RwRaster* rw_raster_create(int width, int height, int depth);
RwRaster* rw_raster_duplicate(const RwRaster* raster);
void rw_raster_destroy(RwRaster* raster);
// Marks the pixels as changed after writing them directly.
void rw_raster_touched(RwRaster* raster);

// Result codes of the bitmap reader.
enum BmpResult {
    bmp_ok = 0,
    bmp_truncated = 1,     // shorter than its headers say
    bmp_not_bitmap = 2,    // no "BM" signature or an unknown header
    bmp_unsupported = 3,   // compression or depth we do not read
    bmp_too_large = 4,     // sides or pixel count beyond the limits
    bmp_bad_header = 5,    // contradictory or impossible fields
    bmp_unreadable = 6,    // the file could not be read
};

// Reads a Windows bitmap from memory: 1, 4 and 8 bits with a colour table
// give an 8-bit raster; 24 and 32 bits give RGBA. Rows may be stored
// bottom-up (positive height) or top-down (negative height).
RwRaster* rw_bmp_decode(const uint8_t* data, size_t size, int* result = nullptr);
RwRaster* rw_bmp_read(const std::string& path, int* result = nullptr);

// Writes a raster as a bitmap: 8 bits with its palette, or 24 bits.
std::vector<uint8_t> rw_bmp_encode(const RwRaster& raster);

}  // namespace zk
