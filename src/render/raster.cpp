#include "render/raster.h"

#include <cstring>

#include "common/bytes.h"
#include "render/io.h"

namespace zk {

RwRgba RwRaster::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0, 0};
    if (depth == 8) {
        uint8_t i = pixels[size_t(y) * width + x];
        return i < palette.size() ? palette[i] : RwRgba{0, 0, 0, 255};
    }
    const uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

namespace {
uint64_t g_raster_serial = 0;
}

RwRaster* rw_raster_create(int width, int height, int depth) {
    if (width <= 0 || height <= 0 || width > kRasterMaxSide || height > kRasterMaxSide) return nullptr;
    if (int64_t(width) * height > kRasterMaxPixels) return nullptr;
    if (depth != 8 && depth != 32) return nullptr;
    auto* r = new RwRaster;
    r->width = width;
    r->height = height;
    r->depth = depth;
    r->serial = ++g_raster_serial;
    r->pixels.assign(size_t(width) * height * (depth / 8), 0);
    if (depth == 8) r->palette.assign(256, RwRgba{});
    return r;
}

RwRaster* rw_raster_duplicate(const RwRaster* raster) {
    if (!raster) return nullptr;
    auto* r = new RwRaster(*raster);
    r->version = 1;
    r->serial = ++g_raster_serial;
    return r;
}

void rw_raster_destroy(RwRaster* raster) { delete raster; }

void rw_raster_touched(RwRaster* raster) {
    if (raster) ++raster->version;
}

namespace {

RwRaster* fail(int* result, int code) {
    if (result) *result = code;
    return nullptr;
}

}  // namespace

RwRaster* rw_bmp_decode(const uint8_t* data, size_t size, int* result) {
    if (result) *result = bmp_ok;
    if (!data || size < 14 + 12) return fail(result, bmp_truncated);
    if (data[0] != 'B' || data[1] != 'M') return fail(result, bmp_not_bitmap);
    const uint32_t pixel_offset = load_le32(data + 10);
    const uint32_t header_size = load_le32(data + 14);
    int64_t width, height;
    int bits, planes;
    uint32_t compression = 0, colours_used = 0;
    size_t entry_size;
    if (header_size == 12) {  // the old OS/2 core header
        width = load_le16(data + 18);
        height = int16_t(load_le16(data + 20));
        planes = load_le16(data + 22);
        bits = load_le16(data + 24);
        entry_size = 3;
    } else if (header_size >= 40 && header_size <= 124) {
        if (size < 14 + size_t(header_size)) return fail(result, bmp_truncated);
        width = int32_t(load_le32(data + 18));
        height = int32_t(load_le32(data + 22));
        planes = load_le16(data + 26);
        bits = load_le16(data + 28);
        compression = load_le32(data + 30);
        colours_used = load_le32(data + 46);
        entry_size = 4;
    } else {
        return fail(result, bmp_not_bitmap);
    }
    if (planes != 1) return fail(result, bmp_bad_header);
    const bool top_down = height < 0;
    if (top_down) height = -height;
    if (width <= 0 || height <= 0) return fail(result, bmp_bad_header);
    if (width > kRasterMaxSide || height > kRasterMaxSide || width * height > kRasterMaxPixels)
        return fail(result, bmp_too_large);
    // Bit fields on 32 bits are accepted when they are the usual masks.
    if (compression == 3 && bits == 32 && header_size >= 52) {
        if (load_le32(data + 54) != 0x00FF0000 || load_le32(data + 58) != 0x0000FF00 ||
            load_le32(data + 62) != 0x000000FF)
            return fail(result, bmp_unsupported);
    } else if (compression != 0) {
        return fail(result, bmp_unsupported);
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return fail(result, bmp_unsupported);

    const bool paletted = bits <= 8;
    const size_t max_colours = size_t(1) << (paletted ? bits : 0);
    size_t colours = 0;
    if (paletted) {
        colours = colours_used ? colours_used : max_colours;
        if (colours > max_colours) return fail(result, bmp_bad_header);
    }
    const size_t table_at = 14 + header_size;
    if (table_at + colours * entry_size > size) return fail(result, bmp_truncated);
    const size_t row_bytes = ((size_t(width) * bits + 31) / 32) * 4;
    if (pixel_offset < table_at || pixel_offset > size || size - pixel_offset < row_bytes * size_t(height))
        return fail(result, bmp_truncated);

    RwRaster* r = rw_raster_create(int(width), int(height), paletted ? 8 : 32);
    if (!r) return fail(result, bmp_too_large);
    if (paletted) {
        for (size_t i = 0; i < colours; ++i) {
            const uint8_t* e = data + table_at + i * entry_size;
            r->palette[i] = {e[2], e[1], e[0], 255};
        }
    }
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* src = data + pixel_offset + size_t(row) * row_bytes;
        const int64_t y = top_down ? row : height - 1 - row;
        uint8_t* dst = &r->pixels[size_t(y) * r->stride()];
        for (int64_t x = 0; x < width; ++x) {
            switch (bits) {
            case 1: dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1; break;
            case 4: dst[x] = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15; break;
            case 8: dst[x] = src[x]; break;
            case 24:
                dst[x * 4 + 0] = src[x * 3 + 2];
                dst[x * 4 + 1] = src[x * 3 + 1];
                dst[x * 4 + 2] = src[x * 3 + 0];
                dst[x * 4 + 3] = 255;
                break;
            case 32:
                dst[x * 4 + 0] = src[x * 4 + 2];
                dst[x * 4 + 1] = src[x * 4 + 1];
                dst[x * 4 + 2] = src[x * 4 + 0];
                dst[x * 4 + 3] = 255;
                break;
            }
        }
    }
    return r;
}

RwRaster* rw_bmp_read(const std::string& path, int* result) {
    std::string bytes;
    if (!rw_read_file(path, bytes, 512u * 1024 * 1024)) return fail(result, bmp_unreadable);
    return rw_bmp_decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), result);
}

std::vector<uint8_t> rw_bmp_encode(const RwRaster& r) {
    std::vector<uint8_t> out;
    const int bits = r.depth == 8 ? 8 : 24;
    const size_t row_bytes = ((size_t(r.width) * bits + 31) / 32) * 4;
    const uint32_t table = r.depth == 8 ? 1024 : 0;
    const uint32_t offset = 14 + 40 + table;
    const uint32_t file_size = offset + uint32_t(row_bytes * r.height);
    out.reserve(file_size);
    out.push_back('B');
    out.push_back('M');
    append_le32(out, file_size);
    append_le32(out, 0);
    append_le32(out, offset);
    append_le32(out, 40);
    append_le32(out, uint32_t(r.width));
    append_le32(out, uint32_t(r.height));
    append_le16(out, 1);
    append_le16(out, uint16_t(bits));
    append_le32(out, 0);
    append_le32(out, uint32_t(row_bytes * r.height));
    append_le32(out, 2835);
    append_le32(out, 2835);
    append_le32(out, r.depth == 8 ? 256 : 0);
    append_le32(out, 0);
    if (r.depth == 8)
        for (int i = 0; i < 256; ++i) {
            RwRgba c = i < int(r.palette.size()) ? r.palette[i] : RwRgba{};
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
            out.push_back(0);
        }
    for (int y = r.height - 1; y >= 0; --y) {
        size_t start = out.size();
        for (int x = 0; x < r.width; ++x) {
            if (r.depth == 8) {
                out.push_back(r.pixels[size_t(y) * r.width + x]);
            } else {
                const uint8_t* p = &r.pixels[(size_t(y) * r.width + x) * 4];
                out.push_back(p[2]);
                out.push_back(p[1]);
                out.push_back(p[0]);
            }
        }
        out.resize(start + row_bytes, 0);
    }
    return out;
}

}  // namespace zk
