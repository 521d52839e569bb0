#include "render/stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "common/bytes.h"
#include "render/io.h"
#include "render/library.h"

namespace zk {

struct RwStream {
    RwStreamMode mode = RwStreamMode::read;
    FILE* file = nullptr;            // writing to a file
    std::string file_bytes;          // reading from a file
    const uint8_t* data = nullptr;   // reading
    size_t size = 0, pos = 0;
    std::vector<uint8_t> out;        // writing to memory
    bool memory_write = false;
    bool failed = false;
};

RwStream* rw_stream_open_file(const std::string& path, RwStreamMode mode) {
    auto* s = new RwStream;
    s->mode = mode;
    if (mode == RwStreamMode::write) {
        s->file = std::fopen(path.c_str(), "wb");
        if (!s->file) {
            delete s;
            render_set_error(render_error_no_file);
            return nullptr;
        }
    } else {
        if (!rw_read_file(path, s->file_bytes, size_t(kChunkMaxLength) + 12)) {
            delete s;
            render_set_error(render_error_no_file);
            return nullptr;
        }
        s->data = reinterpret_cast<const uint8_t*>(s->file_bytes.data());
        s->size = s->file_bytes.size();
    }
    return s;
}

RwStream* rw_stream_open_memory(const void* data, size_t size) {
    if (!data && size) return nullptr;
    auto* s = new RwStream;
    s->data = static_cast<const uint8_t*>(data);
    s->size = size;
    return s;
}

RwStream* rw_stream_open_memory_write() {
    auto* s = new RwStream;
    s->mode = RwStreamMode::write;
    s->memory_write = true;
    return s;
}

const std::vector<uint8_t>& rw_stream_bytes(const RwStream* s) {
    static const std::vector<uint8_t> none;
    return s ? s->out : none;
}

bool rw_stream_close(RwStream* s) {
    if (!s) return false;
    bool ok = !s->failed;
    if (s->file) {
        if (std::fflush(s->file) != 0) ok = false;
        if (std::fclose(s->file) != 0) ok = false;
        if (!ok) render_set_error(render_error_no_file);
    }
    delete s;
    return ok;
}

namespace {


bool write_raw(RwStream* s, const void* bytes, size_t n) {
    if (s->mode != RwStreamMode::write || s->failed) return false;
    if (s->memory_write) {
        const auto* b = static_cast<const uint8_t*>(bytes);
        s->out.insert(s->out.end(), b, b + n);
        return true;
    }
    if (n && std::fwrite(bytes, 1, n, s->file) != n) {
        s->failed = true;
        render_set_error(render_error_no_file);
    }
    return !s->failed;
}

}  // namespace

bool rw_stream_write_chunk(RwStream* s, uint32_t type, uint32_t flags, const void* bytes, size_t length) {
    if (!s || length > kChunkMaxLength || (!bytes && length)) return false;
    std::vector<uint8_t> head;
    append_le32(head, type);
    append_le32(head, flags);
    append_le32(head, uint32_t(length));
    return write_raw(s, head.data(), head.size()) && write_raw(s, bytes, length);
}

bool rw_stream_peek_chunk(RwStream* s, uint32_t* type, uint32_t* flags, uint32_t* length) {
    if (!s || s->mode != RwStreamMode::read || s->size - s->pos < 12) return false;
    const uint8_t* p = s->data + s->pos;
    if (type) *type = load_le32(p);
    if (flags) *flags = load_le32(p + 4);
    if (length) *length = load_le32(p + 8);
    return true;
}

bool rw_stream_read_chunk(RwStream* s, uint32_t* type, uint32_t* flags, std::vector<uint8_t>& bytes) {
    uint32_t t, f, n;
    if (!rw_stream_peek_chunk(s, &t, &f, &n)) return false;
    if (n > kChunkMaxLength || s->size - s->pos - 12 < n) return false;
    const uint8_t* p = s->data + s->pos + 12;
    bytes.assign(p, p + n);
    s->pos += 12 + size_t(n);
    if (type) *type = t;
    if (flags) *flags = f;
    return true;
}

bool rw_stream_find_chunk(RwStream* s, uint32_t type, uint32_t* flags, std::vector<uint8_t>& bytes) {
    uint32_t t;
    while (rw_stream_read_chunk(s, &t, flags, bytes))
        if (t == type) return true;
    bytes.clear();
    return false;
}

// ---- payload encoding ----

namespace {

constexpr uint16_t kClumpFormat = 1;
constexpr uint16_t kTextureFormat = 1;
constexpr int kMaxDepth = 64;
constexpr uint32_t kMaxPolygonVertices = 4096;
// Texture names of one hierarchy looked for on disk: twice what a shape may.
constexpr size_t kMaxTextureLookups = 1024;

class Writer {
public:
    Writer() { out.reserve(4096); }
    std::vector<uint8_t> out;
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) { append_le16(out, v); }
    void u32(uint32_t v) { append_le32(out, v); }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void f32(float v) {
        uint32_t b;
        std::memcpy(&b, &v, 4);
        u32(b);
    }
    void str(const std::string& s) {
        const size_t n = std::min<size_t>(s.size(), 65535);
        u16(uint16_t(n));
        bytes(s.data(), n);
    }
    void bytes(const void* p, size_t n) {
        if (n == 0) return;
        const size_t at = out.size();
        out.resize(at + n);
        std::memcpy(out.data() + at, p, n);
    }
};

class Reader {
public:
    Reader(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    bool ok() const { return ok_; }
    size_t left() const { return ok_ ? n_ - p_ : 0; }
    bool need(size_t n) {
        if (!ok_ || n_ - p_ < n) ok_ = false;
        return ok_;
    }
    uint8_t u8() { return need(1) ? d_[p_++] : 0; }
    uint16_t u16() {
        if (!need(2)) return 0;
        uint16_t v = load_le16(d_ + p_);
        p_ += 2;
        return v;
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        uint32_t v = load_le32(d_ + p_);
        p_ += 4;
        return v;
    }
    int32_t i32() { return int32_t(u32()); }
    float f32() {
        uint32_t b = u32();
        float v;
        std::memcpy(&v, &b, 4);
        if (!std::isfinite(v)) ok_ = false;
        return ok_ ? v : 0;
    }
    std::string str() {
        uint16_t n = u16();
        if (!need(n)) return {};
        std::string s(reinterpret_cast<const char*>(d_ + p_), n);
        p_ += n;
        return s;
    }
    const uint8_t* take(size_t n) {
        if (!need(n)) return nullptr;
        const uint8_t* p = d_ + p_;
        p_ += n;
        return p;
    }
    // A count of items of at least `item_size` bytes each that can still fit.
    uint32_t count(size_t item_size) {
        uint32_t n = u32();
        if (ok_ && item_size && n > left() / item_size) ok_ = false;
        return ok_ ? n : 0;
    }
    void fail() { ok_ = false; }

private:
    const uint8_t* d_;
    size_t n_, p_ = 0;
    bool ok_ = true;
};

void encode_clump(Writer& w, const RwClump* c) {
    w.str(c->name);
    w.i32(c->tag);
    w.u8(c->hidden ? 1 : 0);
    w.u8(uint8_t(c->alignment));
    for (float f : c->matrix.m) w.f32(f);
    w.u32(uint32_t(c->vertices.size()));
    for (const RwVertex& v : c->vertices) {
        w.f32(v.p.x); w.f32(v.p.y); w.f32(v.p.z); w.f32(v.u); w.f32(v.v);
    }
    w.u32(uint32_t(c->materials.size()));
    for (const RwMaterial& m : c->materials) {
        w.f32(m.r); w.f32(m.g); w.f32(m.b);
        w.f32(m.ambient); w.f32(m.diffuse); w.f32(m.specular); w.f32(m.opacity);
        w.u8(uint8_t(m.light)); w.u8(uint8_t(m.geometry));
        w.u8(m.texture_modes); w.u8(m.material_modes);
        w.str(m.texture ? m.texture->name : m.texture_name);
        w.str(m.mask_name);
    }
    w.u32(uint32_t(c->polygons.size()));
    for (const RwPolygon& p : c->polygons) {
        w.u32(p.material);
        w.i32(p.tag);
        w.u32(uint32_t(p.v.size()));
        for (uint32_t i : p.v) w.u32(i);
    }
    w.u32(uint32_t(c->children.size()));
    for (const RwClump* child : c->children) encode_clump(w, child);
}

RwClump* decode_clump(Reader& r, int depth) {
    if (depth > kMaxDepth) {
        r.fail();
        return nullptr;
    }
    RwClump* c = rw_clump_create();
    c->name = r.str();
    c->tag = r.i32();
    c->hidden = r.u8() != 0;
    uint8_t align = r.u8();
    if (align > 2) r.fail();
    c->alignment = RwAxisAlignment(align);
    for (float& f : c->matrix.m) f = r.f32();
    uint32_t nv = r.count(20);
    c->vertices.resize(nv);
    for (RwVertex& v : c->vertices) {
        v.p.x = r.f32(); v.p.y = r.f32(); v.p.z = r.f32(); v.u = r.f32(); v.v = r.f32();
    }
    uint32_t nm = r.count(36);
    c->materials.resize(nm);
    for (RwMaterial& m : c->materials) {
        m.r = r.f32(); m.g = r.f32(); m.b = r.f32();
        m.ambient = r.f32(); m.diffuse = r.f32(); m.specular = r.f32(); m.opacity = r.f32();
        uint8_t light = r.u8(), geometry = r.u8();
        if (light > 1 || geometry > 2) r.fail();
        m.light = RwLightSampling(light);
        m.geometry = RwGeometrySampling(geometry);
        m.texture_modes = r.u8();
        m.material_modes = r.u8();
        m.texture_name = r.str();
        m.mask_name = r.str();
    }
    uint32_t np = r.count(12);
    c->polygons.resize(np);
    for (RwPolygon& p : c->polygons) {
        p.material = r.u32();
        p.tag = r.i32();
        uint32_t n = r.count(4);
        if (n < 3 || n > kMaxPolygonVertices || p.material >= nm) r.fail();
        if (!r.ok()) break;
        p.v.resize(n);
        for (uint32_t& i : p.v) {
            i = r.u32();
            if (i >= nv) r.fail();
        }
    }
    uint32_t nc = r.ok() ? r.count(88) : 0;
    for (uint32_t i = 0; i < nc && r.ok(); ++i) {
        RwClump* child = decode_clump(r, depth + 1);
        if (child) rw_clump_add_child(c, child);
    }
    if (!r.ok()) {
        rw_clump_destroy(c);
        return nullptr;
    }
    return c;
}

// The materials' textures, once the whole hierarchy is known to be sound:
// each name is looked for once however many materials name it.
bool resolve_textures(RwClump* root) {
    std::map<std::string, RwTexture*> seen;  // one reference each, let go at the end
    size_t lookups = 0;
    const bool ok = rw_clump_for_all(root, [&](RwClump* c) {
        for (RwMaterial& m : c->materials) {
            if (m.texture_name.empty()) continue;
            auto it = seen.find(m.texture_name);
            if (it == seen.end()) {
                if (!rw_texture_find(m.texture_name) && ++lookups > kMaxTextureLookups) return false;
                it = seen.emplace(m.texture_name, rw_texture_read_named(m.texture_name)).first;
            }
            m.texture = it->second;
            rw_texture_add_reference(m.texture);
        }
        return true;
    });
    for (auto& [name, t] : seen) rw_texture_destroy(t);
    return ok;
}

void encode_raster(Writer& w, const RwRaster* r) {
    w.u32(uint32_t(r->width));
    w.u32(uint32_t(r->height));
    w.u8(uint8_t(r->depth));
    if (r->depth == 8)
        for (int i = 0; i < 256; ++i) {
            RwRgba c = i < int(r->palette.size()) ? r->palette[i] : RwRgba{};
            w.u8(c.r); w.u8(c.g); w.u8(c.b); w.u8(c.a);
        }
    w.bytes(r->pixels.data(), r->pixels.size());
}

RwRaster* decode_raster(Reader& r) {
    uint32_t width = r.u32(), height = r.u32();
    uint8_t depth = r.u8();
    if (!r.ok() || (depth != 8 && depth != 32) || width == 0 || height == 0 || width > kRasterMaxSide ||
        height > kRasterMaxSide) {
        r.fail();
        return nullptr;
    }
    const size_t table = depth == 8 ? 1024 : 0;
    const size_t bytes = size_t(width) * height * (depth / 8);
    if (r.left() < table + bytes) {
        r.fail();
        return nullptr;
    }
    RwRaster* ras = rw_raster_create(int(width), int(height), depth);
    if (!ras) {
        r.fail();
        return nullptr;
    }
    if (depth == 8)
        for (RwRgba& c : ras->palette) {
            c.r = r.u8(); c.g = r.u8(); c.b = r.u8(); c.a = r.u8();
        }
    const uint8_t* p = r.take(bytes);
    if (p) std::memcpy(ras->pixels.data(), p, bytes);
    return ras;
}

}  // namespace

std::vector<uint8_t> rw_clump_encode(const RwClump* clump) {
    Writer w;
    if (!clump) return {};
    w.u16(kClumpFormat);
    encode_clump(w, clump);
    return std::move(w.out);
}

RwClump* rw_clump_decode(const uint8_t* data, size_t size) {
    if (!data) return nullptr;
    Reader r(data, size);
    if (r.u16() != kClumpFormat) return nullptr;
    RwClump* c = decode_clump(r, 0);
    // Trailing bytes mean a damaged payload.
    if (c && (r.left() != 0 || !resolve_textures(c))) {
        rw_clump_destroy(c);
        return nullptr;
    }
    return c;
}

std::vector<uint8_t> rw_texture_encode(const RwTexture* t) {
    if (!t || !t->raster) return {};
    Writer w;
    w.u16(kTextureFormat);
    w.str(t->name);
    encode_raster(w, t->raster);
    w.u8(t->mask ? 1 : 0);
    if (t->mask) encode_raster(w, t->mask);
    return std::move(w.out);
}

RwTexture* rw_texture_decode(const uint8_t* data, size_t size) {
    if (!data) return nullptr;
    Reader r(data, size);
    if (r.u16() != kTextureFormat) return nullptr;
    std::string name = r.str();
    RwRaster* raster = decode_raster(r);
    RwRaster* mask = nullptr;
    uint8_t has_mask = r.u8();
    if (has_mask > 1) r.fail();
    if (has_mask == 1 && r.ok()) mask = decode_raster(r);
    if (r.ok() && mask && (mask->width != raster->width || mask->height != raster->height || mask->depth != 8))
        r.fail();
    if (!r.ok() || r.left() != 0 || !raster) {
        rw_raster_destroy(raster);
        rw_raster_destroy(mask);
        return nullptr;
    }
    RwTexture* t = rw_texture_create(raster);
    t->mask = mask;
    // Known by name again, as when it was first read, so that shapes read
    // later find it.
    if (rw_name_is_safe(name)) rw_texture_register(t, name);
    else t->name = name;
    return t;
}

bool rw_stream_write_clump(RwStream* s, const RwClump* clump, uint32_t flags) {
    if (!clump) return false;
    std::vector<uint8_t> b = rw_clump_encode(clump);
    return rw_stream_write_chunk(s, kChunkClump, flags, b.data(), b.size());
}

RwClump* rw_stream_read_clump(RwStream* s) {
    uint32_t type;
    std::vector<uint8_t> b;
    RwClump* c = nullptr;
    if (rw_stream_read_chunk(s, &type, nullptr, b) && type == kChunkClump) c = rw_clump_decode(b.data(), b.size());
    if (!c) render_set_error(render_error_bad_stream);
    return c;
}

bool rw_stream_write_texture(RwStream* s, const RwTexture* t, uint32_t flags) {
    if (!t || !t->raster) return false;
    std::vector<uint8_t> b = rw_texture_encode(t);
    return rw_stream_write_chunk(s, kChunkTexture, flags, b.data(), b.size());
}

RwTexture* rw_stream_read_texture(RwStream* s) {
    uint32_t type;
    std::vector<uint8_t> b;
    RwTexture* t = nullptr;
    if (rw_stream_read_chunk(s, &type, nullptr, b) && type == kChunkTexture) t = rw_texture_decode(b.data(), b.size());
    if (!t) render_set_error(render_error_bad_stream);
    return t;
}

}  // namespace zk
