#include "render/texture.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "common/text.h"
#include "render/device.h"
#include "render/library.h"

namespace zk {

namespace {

std::string g_search_path;
std::unordered_map<std::string, RwTexture*> g_named;
std::unordered_set<RwTexture*> g_all;
uint64_t g_serial = 0;

std::string stem(const std::string& name) { return name.substr(0, name.find('.')); }

void compute_frames(RwTexture* t) {
    t->frames = 1;
    t->frame = 0;
    const RwRaster* r = t->raster;
    if (r && r->height > r->width && r->height % r->width == 0) t->frames = r->height / r->width;
}

}  // namespace

bool rw_name_is_safe(const std::string& name) {
    if (name.empty() || name.size() > 255) return false;
    if (name.find("..") != std::string::npos) return false;
    for (unsigned char c : name)
        if (c < 32 || c == 127 || c == '/' || c == '\\' || c == ':') return false;
    return true;
}

RwTexture* rw_texture_create(RwRaster* raster) {
    if (!raster) return nullptr;
    auto* t = new RwTexture;
    t->raster = raster;
    t->serial = ++g_serial;
    compute_frames(t);
    g_all.insert(t);
    return t;
}

void rw_texture_add_reference(RwTexture* texture) {
    if (texture) ++texture->refs;
}

void rw_texture_destroy(RwTexture* t) {
    if (!t || --t->refs > 0) return;
    if (t->named) {
        auto it = g_named.find(lower_case(t->name));
        if (it != g_named.end() && it->second == t) g_named.erase(it);
    }
    g_all.erase(t);
    if (RwDevice* d = rw_device()) d->texture_destroyed(t->serial);
    rw_raster_destroy(t->raster);
    rw_raster_destroy(t->mask);
    delete t;
}

void rw_texture_set_search_path(const std::string& path) { g_search_path = path; }
const std::string& rw_texture_search_path() { return g_search_path; }

RwRaster* rw_raster_read_named(const std::string& name) {
    const std::string s = stem(name);
    if (!rw_name_is_safe(s)) return nullptr;
    size_t start = 0;
    while (start <= g_search_path.size()) {
        size_t end = g_search_path.find(';', start);
        if (end == std::string::npos) end = g_search_path.size();
        std::string dir = g_search_path.substr(start, end - start);
        if (!dir.empty()) {
            for (const std::string& n : {s, lower_case(s)}) {
                if (RwRaster* r = rw_bmp_read(dir + "/" + n + ".bmp")) return r;
            }
        }
        start = end + 1;
    }
    return nullptr;
}

RwTexture* rw_texture_find(const std::string& name) {
    auto it = g_named.find(lower_case(stem(name)));
    return it == g_named.end() ? nullptr : it->second;
}

void rw_texture_register(RwTexture* t, const std::string& name) {
    if (!t || !rw_name_is_safe(stem(name))) return;
    const std::string key = lower_case(stem(name));
    if (t->named) {
        auto it = g_named.find(lower_case(t->name));
        if (it != g_named.end() && it->second == t) g_named.erase(it);
    }
    auto it = g_named.find(key);
    if (it != g_named.end() && it->second != t) it->second->named = false;
    t->name = stem(name);
    t->named = true;
    g_named[key] = t;
}

RwTexture* rw_texture_read_named(const std::string& name) {
    if (RwTexture* t = rw_texture_find(name)) {
        ++t->refs;
        return t;
    }
    RwTexture* t = rw_texture_create(rw_raster_read_named(name));
    if (t) rw_texture_register(t, name);
    else render_set_error(render_error_no_file);
    return t;
}

RwTexture* rw_texture_read(const std::string& path) { return rw_texture_create(rw_bmp_read(path)); }

bool rw_texture_mask(RwTexture* t, const RwRaster* mask) {
    if (!t || !t->raster || !mask) return false;
    RwRaster* m = rw_raster_create(t->raster->width, t->raster->height, 8);
    if (!m) return false;
    for (int i = 0; i < 256; ++i) m->palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 255};
    for (int y = 0; y < m->height; ++y)
        for (int x = 0; x < m->width; ++x) {
            RwRgba c = mask->pixel(int(int64_t(x) * mask->width / m->width),
                                   int(int64_t(y) * mask->height / m->height));
            m->pixels[size_t(y) * m->width + x] = uint8_t((c.r + c.g + c.b) / 3);
        }
    rw_raster_destroy(t->mask);
    t->mask = m;
    ++t->version;
    return true;
}

RwRaster* rw_texture_raster(RwTexture* t) { return t ? t->raster : nullptr; }

bool rw_texture_set_raster(RwTexture* t, RwRaster* raster) {
    if (!t || !raster) return false;
    if (raster == t->raster) {
        ++t->version;
        return true;
    }
    rw_raster_destroy(t->raster);
    t->raster = raster;
    // A mask of another size would no longer fit.
    if (t->mask && (t->mask->width != raster->width || t->mask->height != raster->height)) {
        RwRaster* old = t->mask;
        t->mask = nullptr;
        rw_texture_mask(t, old);
        rw_raster_destroy(old);
    }
    compute_frames(t);
    ++t->version;
    return true;
}

void rw_textures_advance_frames() {
    for (RwTexture* t : g_all)
        if (t->frames > 1) {
            t->frame = (t->frame + 1) % t->frames;
            ++t->version;
        }
}

int rw_texture_count() { return int(g_all.size()); }

int rw_texture_frame_height(const RwTexture* t) {
    if (!t || !t->raster) return 0;
    return t->raster->height / std::max(1, t->frames);
}

RwRgba rw_texture_texel(const RwTexture* t, int x, int y) {
    if (!t || !t->raster) return {0, 0, 0, 0};
    const int fy = t->frame * rw_texture_frame_height(t) + y;
    RwRgba c = t->raster->pixel(x, fy);
    if (t->mask) c.a = t->mask->pixel(x, fy).r;
    return c;
}

}  // namespace zk
