#include "art/texture.h"

#include <memory>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "art/chunk.h"
#include "art/download.h"
#include "art/files.h"
#include "art/image.h"
#include "art/zip.h"
#include "common/keyed_table.h"
#include "core/log.h"
#include "render/texture.h"

namespace zk {

struct mask {
    uint64_t id = 0;
    std::string name;
    download* fetch = nullptr;
    bool requested = false;
    bool failed = false;
};

struct texture {
    uint64_t id = 0;  // what callbacks carry, so a late one never finds a freed entry
    std::string name;
    download* fetch = nullptr;
    bool loaded = false;
    bool have_bmp = false;
    int refs = 0;
    RwTexture* handle = nullptr;
    mask* shown_through = nullptr;
    std::vector<std::pair<TextureCallback, void*>> callbacks;
};

namespace {

constexpr uint32_t kBuckets = 307;
constexpr uint32_t kMaskBuckets = 127;

struct State {
    std::unique_ptr<KeyedTable> table, masks;
    std::unordered_map<uint64_t, texture*> textures_by_id;
    std::unordered_map<uint64_t, mask*> masks_by_id;
    uint64_t next_id = 1;
    bool keep_bmp = false;
};
State g;

bool trace() { return log_on(Trace::trace); }
bool texture_trace() { return log_on(Trace::texture); }

void* data_of(uint64_t id) { return reinterpret_cast<void*>(static_cast<uintptr_t>(id)); }
uint64_t id_of(void* data) { return reinterpret_cast<uintptr_t>(data); }

template <class T>
T* find_id(const std::unordered_map<uint64_t, T*>& by_id, void* data) {
    auto it = by_id.find(id_of(data));
    return it == by_id.end() ? nullptr : it->second;
}

std::string bmp_path(const std::string& name) { return art_dir() + "/textures/" + name + ".bmp"; }

// Names become file names and chunk keys: one that could not be either is
// no texture at all.
std::string key_of(const std::string& name) {
    std::string key = name.substr(0, name.find('.'));
    return !key.empty() && key.size() <= kChunkKeyLength && rw_name_is_safe(key) ? key : std::string();
}

template <class T>
T* find_or_add(std::unique_ptr<KeyedTable>& table, uint32_t buckets, std::unordered_map<uint64_t, T*>& by_id,
               const std::string& key, bool& created) {
    created = false;
    if (!table) table = std::make_unique<KeyedTable>(buckets, sizeof(T*));
    bool existed = false;
    auto** slot = table->find_or_add_as<T*>(key.data(), key.size(), &existed);
    if (!slot) return nullptr;
    if (!existed) {
        *slot = new (std::nothrow) T;
        if (!*slot) {
            table->remove(key.data(), key.size());
            return nullptr;
        }
        (*slot)->id = g.next_id++;
        (*slot)->name = key;
        by_id[(*slot)->id] = *slot;
        created = true;
    }
    return *slot;
}

template <class F>
void for_each_texture(F&& f) {
    if (!g.table) return;
    for (KeyedTable::Iterator it(*g.table); it.next();) f(*static_cast<texture**>(it.value()));
}

// The converted texture from the store, shared with a figure that still
// shows it under that name.
RwTexture* stored_texture(const std::string& name) {
    if (RwTexture* shown = rw_texture_find(name)) {
        rw_texture_add_reference(shown);
        return shown;
    }
    return chunk_load_texture(name);
}

void texture_download_callback(void* data, int result, const uint8_t* buffer, uint32_t size);

// Asks for the JPEG again: the stored form was lost.
void fetch_again(texture* t) {
    if (!t->fetch)
        t->fetch = download_file("textures", t->name + ".jpg", kDownloadTexture, texture_download_callback,
                                 data_of(t->id));
    download_force(t->fetch);
}

void apply_mask(texture* t) {
    RwRaster* raster = rw_raster_read_named(t->shown_through->name);
    if (!raster) {
        if (texture_trace()) log_write("RwReadMaskRaster failed!");
        return;
    }
    rw_texture_mask(t->handle, raster);
    rw_raster_destroy(raster);
}

// The new picture goes into the handle every figure already shows.
bool reload(texture* t) {
    if (texture_trace()) log_write("reload (%s)", t->name.c_str());
    RwTexture* fresh = rw_texture_read(bmp_path(t->name));
    if (!fresh) {
        if (texture_trace()) log_write("ERROR: RwReadTexture() failed!");
        return false;
    }
    RwRaster* copy = rw_raster_duplicate(rw_texture_raster(fresh));
    rw_texture_destroy(fresh);
    if (!copy) {
        if (texture_trace()) log_write("ERROR: RwDuplicateRaster () failed!");
        return false;
    }
    if (!rw_texture_set_raster(t->handle, copy)) {
        rw_raster_destroy(copy);
        if (texture_trace()) log_write("ERROR: RwSetTextureRaster () failed!");
        return false;
    }
    if (texture_trace()) log_write("reload complete");
    return true;
}

// Another texture shown through the same mask still needs its picture.
bool mask_awaited(const texture* done) {
    bool awaited = false;
    for_each_texture([&](const texture* t) {
        awaited = awaited || (t != done && t->shown_through == done->shown_through && !t->loaded);
    });
    return awaited;
}

void delete_bmps(texture* t) {
    if (g.keep_bmp) return;
    file_delete(bmp_path(t->name));
    t->have_bmp = false;
    if (t->shown_through && !mask_awaited(t)) file_delete(bmp_path(t->shown_through->name));
}

void finish_texture(texture* t) {
    if (texture_trace()) {
        log_write("finish_texture (%s)", t->name.c_str());
        if (!t->have_bmp) log_write("ERROR: have_bmp is FALSE!");
        if (t->fetch) log_write("ERROR: download still in progress!");
    }
    const bool reloading = t->handle != nullptr;
    if (reloading) {
        // Those waiting were called when it first loaded; the figures
        // showing it see the new picture through the handle.
        t->callbacks.clear();
        if (!reload(t)) return;
    } else {
        // Read fresh from the file, never an older texture of that name.
        RwTexture* read = rw_texture_read(bmp_path(t->name));
        if (!read) {
            if (texture_trace()) log_write("ERROR: RwReadNamedTexture failed!");
            file_delete(bmp_path(t->name));
            t->have_bmp = false;
            return;
        }
        rw_texture_register(read, t->name);
        t->handle = read;
    }
    if (t->shown_through && !t->shown_through->failed) apply_mask(t);
    // Stored again after a reload too: the next run must not show the old picture.
    chunk_save_texture(t->handle, t->name);
    t->loaded = true;

    if (texture_trace()) log_write("Beginning callbacks");
    // A callback may reference textures, even this one: the list is taken first.
    auto waiting = std::exchange(t->callbacks, {});
    for (const auto& [callback, data] : waiting) callback(data, 0);
    if (texture_trace()) log_write("callbacks complete");

    if (t->refs == 0) {
        rw_texture_destroy(t->handle);
        t->handle = nullptr;
    }
    delete_bmps(t);
}

void image_callback(void* data, int status) {
    if (texture_trace()) log_write("texture: image_callback (%d)", status);
    texture* t = find_id(g.textures_by_id, data);
    if (!t || status != 0) return;
    t->have_bmp = true;
    // The mask's callback finishes the texture once the mask is in.
    if (t->shown_through && t->shown_through->fetch) return;
    finish_texture(t);
}

void mask_callback(void* data, int result, const uint8_t* buffer, uint32_t size) {
    mask* m = find_id(g.masks_by_id, data);
    if (!m) return;
    m->fetch = nullptr;
    if (result == kDownloadFetched)
        m->failed = zip_extract(buffer, size, bmp_path(m->name)) != kZipOk;
    else if (result == kDownloadFailed)
        m->failed = true;
    std::vector<texture*> ready;
    for_each_texture([&](texture* t) {
        if (t->shown_through == m && t->have_bmp) ready.push_back(t);
    });
    for (texture* t : ready) finish_texture(t);
}

void texture_download_callback(void* data, int result, const uint8_t* buffer, uint32_t size) {
    if (texture_trace()) log_write("texture: callback (%d)", result);
    texture* t = find_id(g.textures_by_id, data);
    if (!t) return;
    t->fetch = nullptr;
    if (result == kDownloadFailed) return;
    mask* m = t->shown_through;
    // A mask is asked for whenever its picture is missing: one texture's
    // finishing deletes it, and another may come through it later.
    const bool mask_missing = m && file_exists(bmp_path(m->name)) != 1;
    if (m && !m->fetch && !m->failed && (!m->requested || mask_missing)) {
        m->requested = true;
        m->fetch = download_file("textures", m->name + ".zip", kDownloadTexture, mask_callback, data_of(m->id));
        // Without its picture on disk, a stored date says nothing.
        if (mask_missing) download_force(m->fetch);
    }
    if (result == kDownloadUpToDate) {
        if (file_exists(bmp_path(t->name)) == 1 && !t->loaded) image_callback(data_of(t->id), 0);
    } else {
        image_convert(buffer, size, bmp_path(t->name), image_callback, data_of(t->id));
    }
    if (texture_trace()) log_write("texture: callback complete");
}

void free_all() {
    for_each_texture([](texture* t) {
        rw_texture_destroy(t->handle);
        delete t;
    });
    if (g.table) g.table->clear();
    if (g.masks)
        for (KeyedTable::Iterator it(*g.masks); it.next();) delete *static_cast<mask**>(it.value());
    if (g.masks) g.masks->clear();
    g.textures_by_id.clear();
    g.masks_by_id.clear();
}

}  // namespace

texture* texture_download(const std::string& name, TextureCallback callback, void* data) {
    const std::string key = key_of(name);
    if (key.empty()) return nullptr;
    bool created = false;
    texture* t = find_or_add(g.table, kBuckets, g.textures_by_id, key, created);
    if (!t) return nullptr;
    if (created) {
        t->fetch = download_file("textures", key + ".jpg", kDownloadTexture, texture_download_callback,
                                 data_of(t->id));
        if (!art_dir().empty() && file_exists(bmp_path(key)) == 1) {
            // A picture on disk is newer than the stored form.
            t->have_bmp = true;
            chunk_delete_texture(key);
        } else {
            t->handle = stored_texture(key);
        }
        t->loaded = t->handle != nullptr;
        if (!t->loaded && !t->have_bmp) download_force(t->fetch);
    }
    if (!t->loaded && callback) t->callbacks.emplace_back(callback, data);
    return t;
}

void texture_set_mask(texture* t, const std::string& mask_name) {
    const std::string key = key_of(mask_name);
    if (!t || key.empty()) return;
    bool created = false;
    t->shown_through = find_or_add(g.masks, kMaskBuckets, g.masks_by_id, key, created);
}

void texture_reference(texture* t) {
    if (!t) return;
    download_reference(t->fetch);
    if (t->shown_through) download_reference(t->shown_through->fetch);
    ++t->refs;
    if (!t->handle && t->loaded) {
        t->handle = stored_texture(t->name);
        if (!t->handle) {
            // The stored form was damaged (and deleted): converted again.
            t->loaded = false;
            fetch_again(t);
        }
    }
}

void texture_dereference(texture* t) {
    if (!t) return;
    download_dereference(t->fetch);
    if (t->shown_through) download_dereference(t->shown_through->fetch);
    if (t->refs > 0 && --t->refs == 0) {
        rw_texture_destroy(t->handle);
        t->handle = nullptr;
    }
}

bool texture_loaded(const texture* t) { return t && t->loaded; }

RwTexture* texture_handle(const texture* t) { return t ? t->handle : nullptr; }

int texture_reference_count(const texture* t) { return t ? t->refs : 0; }

void texture_set_keep_bmp(bool keep) { g.keep_bmp = keep; }
bool texture_keep_bmp() { return g.keep_bmp; }

void texture_reset() {
    if (trace()) log_write("texture_reset");
    free_all();
}

void texture_term() {
    free_all();
    g.table.reset();
    g.masks.reset();
}

}  // namespace zk
