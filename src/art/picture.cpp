#include "art/picture.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <unordered_map>
#include <vector>

#include "art/chunk.h"
#include "art/download.h"
#include "art/files.h"
#include "art/image.h"
#include "art/model.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "platform/files.h"
#include "render/clump.h"
#include "render/texture.h"

namespace zk {

struct picture {
    uint64_t id = 0;
    std::string url;   // host and path, no scheme
    std::string path;  // the cached texture chunk file
    download* fetch = nullptr;
    RwTexture* handle = nullptr;
    bool loaded = false;
    uint32_t max_kb = 0;
    uint32_t next_refresh = 0;
    uint32_t period = 0;  // ms, 0 = never
    std::vector<model_ref*> objects;
};

namespace {

struct State {
    std::unordered_map<std::string, std::unique_ptr<picture>> by_url;
    // Callbacks carry an id, not a pointer: a reset may free the picture
    // while its download or conversion is still queued.
    std::unordered_map<uint64_t, picture*> by_id;
    std::unordered_map<const model_ref*, picture*> shown_on;
    std::string temp;
    uint64_t next_id = 1;
};
State g;
PictureHooks g_hooks;

bool trace() { return log_on(Trace::trace); }

void* data_of(const picture* p) { return reinterpret_cast<void*>(static_cast<uintptr_t>(p->id)); }
picture* of_data(void* data) {
    auto it = g.by_id.find(reinterpret_cast<uintptr_t>(data));
    return it == g.by_id.end() ? nullptr : it->second;
}

bool ends_with_nocase(const std::string& s, std::string_view tail) {
    if (s.size() < tail.size()) return false;
    return std::equal(tail.begin(), tail.end(), s.end() - tail.size(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::string object_path() {
    std::string p = g_hooks.object_path ? g_hooks.object_path() : std::string();
    return p.empty() ? download_default_path() : p;
}

void paint(picture* p, model_ref* ref) {
    if (RwClump* c = model_clump(ref)) rw_clump_set_tag_texture(c, kTagPicture, p->handle);
}

void download_callback(void* data, int result, const uint8_t* buffer, uint32_t size);

void request(picture* p) {
    p->fetch = download_url(p->url, p->max_kb, download_callback, data_of(p));
    download_ignore_refresh(p->fetch);
}

// Reads the cached file and shows it; a file that does not read is deleted
// and fetched again.
void load(picture* p) {
    RwTexture* t = chunk_load_texture_from_file(p->path);
    if (!t) {
        file_delete(p->path);
        p->loaded = false;
        if (!p->fetch) request(p);
        download_force(p->fetch);
        return;
    }
    rw_texture_destroy(p->handle);
    p->handle = t;
    for (model_ref* ref : p->objects) paint(p, ref);
    if (p->period) p->next_refresh = tick_now() + p->period;
    p->loaded = true;
}

void converted(void* data, int status) {
    picture* p = of_data(data);
    if (!p || status != 0) return;
    RwTexture* t = rw_texture_read(g.temp);
    file_delete(g.temp);
    if (!t) return;
    // The disk pass may have removed the folder while it stood empty.
    make_directory(program_directory() + "/cache/art/misc");
    const bool saved = chunk_save_texture_to_file(t, p->path);
    rw_texture_destroy(t);
    if (!saved) return;
    p->loaded = true;
    if (!p->objects.empty()) load(p);
}

void download_callback(void* data, int result, const uint8_t* buffer, uint32_t size) {
    picture* p = of_data(data);
    if (!p) return;
    p->fetch = nullptr;
    if (result == kDownloadFetched) image_convert(buffer, size, g.temp, converted, data);
}

// A new picture: asked for at once, shown from the cache when it is there.
picture* start(const std::string& url, uint32_t max_kb) {
    auto p = std::make_unique<picture>();
    p->id = g.next_id++;
    p->url = url;
    p->max_kb = max_kb;
    std::string file = file_name_from_url(url);
    for (std::string_view ext : {".jpg", ".jpeg"})
        if (ends_with_nocase(file, ext)) {
            file.erase(file.size() - ext.size());
            break;
        }
    p->path = program_directory() + "/cache/art/misc/" + file;
    picture* raw = p.get();
    g.by_id[raw->id] = raw;
    g.by_url[url] = std::move(p);
    request(raw);
    if (file_exists(raw->path) != 1) {
        download_force(raw->fetch);
    } else {
        file_touch(raw->path);
        load(raw);
    }
    return raw;
}

}  // namespace

PictureHooks& picture_hooks() { return g_hooks; }

std::string picture_url(const std::string& name, const std::string& path, bool* absolute) {
    *absolute = false;
    std::string url;
    const size_t slash = name.find('/');
    if (slash == 0) {
        url = path + name;
    } else if (slash != std::string::npos) {
        *absolute = true;
        url = name;
        if (url.size() >= 7 && std::equal(url.begin(), url.begin() + 7, "http://",
                                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
            url.erase(0, 7);
        // Another scheme is nothing this client can fetch.
        if (url.find("://") != std::string::npos) return {};
    } else {
        url = path + "/textures/" + name;
    }
    if (url.size() >= kPictureUrlLimit || !(ends_with_nocase(url, ".jpg") || ends_with_nocase(url, ".jpeg")))
        return {};
    return url;
}

void picture_init() {
    if (trace()) log_write("picture_init");
    g.temp = program_directory() + "/temp.bmp";
    make_directory(program_directory() + "/cache/art");
    make_directory(program_directory() + "/cache/art/misc");
}

picture* picture_create(model_ref* ref, const std::string& name, int refresh_seconds) {
    if (trace()) log_write("picture_create (%s)", name.c_str());
    if (g.temp.empty()) return nullptr;
    bool absolute = false;
    const std::string url = picture_url(name, object_path(), &absolute);
    if (url.empty()) return nullptr;
    uint32_t max_kb = 0;
    if (absolute) {
        const uint32_t setting = dloptions_pictures();
        if (setting == 0) return nullptr;
        max_kb = setting == 1 ? 0 : setting;
    }
    auto it = g.by_url.find(url);
    picture* p = it != g.by_url.end() ? it->second.get() : start(url, max_kb);
    if (!ref) return p;

    p->period = uint32_t(std::clamp(refresh_seconds, 0, 1 << 21)) * 1000u;
    download_reference(p->fetch);
    if (picture* previous = picture_of(ref)) picture_destroy(previous, ref);
    g.shown_on[ref] = p;
    p->objects.push_back(ref);
    if (!p->handle) {
        if (p->loaded) load(p);
    } else {
        paint(p, ref);
    }
    return p;
}

void picture_destroy(picture* p, model_ref* ref) {
    if (!p) return;
    auto it = std::find(p->objects.begin(), p->objects.end(), ref);
    if (it == p->objects.end()) return;
    p->objects.erase(it);
    if (auto s = g.shown_on.find(ref); s != g.shown_on.end() && s->second == p) g.shown_on.erase(s);
    if (RwClump* c = model_clump(ref)) rw_clump_set_tag_texture(c, kTagPicture, nullptr);
    if (p->objects.empty()) {
        rw_texture_destroy(p->handle);
        p->handle = nullptr;
    }
    download_dereference(p->fetch);
}

void picture_reload(picture* p, model_ref* ref) {
    if (p && p->handle && std::find(p->objects.begin(), p->objects.end(), ref) != p->objects.end()) paint(p, ref);
}

picture* picture_of(const model_ref* ref) {
    auto it = g.shown_on.find(ref);
    return it == g.shown_on.end() ? nullptr : it->second;
}

void picture_update() {
    const uint32_t now = tick_now();
    for (auto& [url, p] : g.by_url) {
        if (p->objects.empty() || !p->period || p->fetch || int32_t(now - p->next_refresh) <= 0) continue;
        request(p.get());
        p->next_refresh = now + p->period;
    }
}

void picture_reset() {
    if (trace()) log_write("picture_reset");
    for (auto& [url, p] : g.by_url) rw_texture_destroy(p->handle);
    g.by_url.clear();
    g.by_id.clear();
    g.shown_on.clear();
}

RwTexture* picture_handle(const picture* p) { return p ? p->handle : nullptr; }
const std::string& picture_path(const picture* p) { return p->path; }
int picture_count() { return int(g.by_url.size()); }

}  // namespace zk
