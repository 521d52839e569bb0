#include "art/model.h"

#include <unistd.h>

#include <memory>
#include <new>
#include <unordered_map>

#include "art/chunk.h"
#include "art/download.h"
#include "art/files.h"
#include "art/texture.h"
#include "art/zip.h"
#include "common/keyed_table.h"
#include "common/text.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/files.h"
#include "render/clump.h"
#include "render/math.h"

namespace zk {

struct model {
    uint64_t id = 0;  // what callbacks carry, so a late one never finds a freed model
    uint8_t type = kModelPlain;
    std::string dir, name;
    model_ref* refs = nullptr;  // newest first
    int32_t ref_count = 0;
    download* fetch = nullptr;
    bool ready = false;
    bool just_downloaded = false;
    bool rwx_present = false;
    bool chunk_present = false;
    bool rwx_in_memory = false;  // the archive was encrypted: the text never stays on disk
    std::string rwx_text;
    float height = 0, min_y = 0, max_y = 0;
    std::vector<uint8_t> header;
    int32_t pending_textures = 0;
    // Every reference holds one texture reference on each of these.
    std::vector<texture*> textures;
    // The shape last loaded from the chunk store (a flat one while textures
    // are missing), kept while the model is referenced: each object gets a
    // duplicate, and duplicates share their GPU buffers and are drawn in one go.
    RwClump* shape = nullptr;
    bool shape_flat = false;
};

struct model_ref {
    model_ref* next = nullptr;
    RwClump* clump = nullptr;
    RwClump* pending = nullptr;  // the template waiting to replace `clump`
    RwScene* scene = nullptr;
    model* owner = nullptr;
    bool hidden = false;
};

namespace {

constexpr uint32_t kBuckets = 401;
constexpr float kUnknown = 1e10f;
// Larger than any archive member the extractor writes by default.
constexpr size_t kMaxShape = kZipDefaultLimit;

struct State {
    std::unique_ptr<KeyedTable> table;
    std::unordered_map<uint64_t, model*> by_id;
    uint64_t next_id = 1;
    RwClump* placeholder = nullptr;
    RwScene* scene = nullptr;
    int64_t references = 0;
    bool scene_changed = false;
    bool keep_rwx = false;
    ModelHooks hooks;
};
State g;

bool trace() { return log_on(Trace::trace); }

RwClump* build_placeholder() {
    RwClump* c = rw_clump_create();
    if (!c) return nullptr;
    c->name = "placeholder";
    c->vertices = {{RwV3{-0.02f, 0, 0}}, {RwV3{0.02f, 0, 0}}, {RwV3{0, 0.02f, 0}}};
    RwMaterial m;
    m.r = m.g = m.b = 0.8f;
    m.ambient = 0.5f;
    m.material_modes = rw_material_double;  // seen from both sides
    c->materials.push_back(m);
    c->polygons.push_back(RwPolygon{{0, 1, 2}, 0, 0});
    rw_clump_changed(c);
    return c;
}

template <class F>
void for_each_model(F&& f) {
    if (!g.table)
        return;
    for (KeyedTable::Iterator it(*g.table); it.next();) f(*static_cast<model**>(it.value()));
}

model* model_of(void* data) {
    auto it = g.by_id.find(reinterpret_cast<uintptr_t>(data));
    return it == g.by_id.end() ? nullptr : it->second;
}

void* data_of(const model* m) { return reinterpret_cast<void*>(static_cast<uintptr_t>(m->id)); }

// Names from worlds become file names and URLs. A name that is not already
// its own cache file name (slashes, backslashes, colons, control
// characters, nothing but dots) is refused rather than mapped: a mapped
// name would fetch and store something the world never named.
bool plain_name(const std::string& name) { return !name.empty() && file_name_from_url(name) == name; }

// Lower case, the first ".rwx" removed, at most 20 characters.
std::string model_name(const std::string& given) {
    std::string name = lower_case(given);
    if (size_t rwx = name.find(".rwx"); rwx != std::string::npos) name.erase(rwx, 4);
    if (name.size() > kModelNameLength) name.resize(kModelNameLength);
    return name;
}

std::string rwx_path(const model* m) { return art_dir() + "/" + m->dir + "/" + m->name + ".rwx"; }

// The shape text: held in memory, or read from the ".rwx". Null when there
// is none.
const std::string* shape_text(const model* m, std::string& storage) {
    if (m->rwx_in_memory) return m->rwx_text.empty() ? nullptr : &m->rwx_text;
    if (art_dir().empty() || !file_read_all(rwx_path(m), storage, kMaxShape)) return nullptr;
    return &storage;
}

void take_textures(model* m, int per_reference) {
    for (model_ref* r = m->refs; r; r = r->next)
        for (texture* t : m->textures) per_reference > 0 ? texture_reference(t) : texture_dereference(t);
}

// Writes the shape as the converter should read it to a file of this
// process, converts it under prefix + name, and deletes the file. Textures
// are held meanwhile, since the reader resolves texture names.
int convert(model* m, const std::string& text, bool flat, const std::string& prefix) {
    const std::string shape = model_shape_text(text, flat);
    const std::string tmp = art_dir() + "/zktmp-" + std::to_string(getpid()) + ".rwx";
    if (file_store(tmp, shape.data(), shape.size()) != 0) return chunk_no_shape;
    if (!flat && !m->rwx_in_memory && !g.keep_rwx) {
        file_delete(rwx_path(m));
        m->rwx_present = false;
    }
    for (texture* t : m->textures) texture_reference(t);
    const int rc = chunk_create(tmp, m->header, prefix, m->name);
    for (texture* t : m->textures) texture_dereference(t);
    file_delete(tmp);
    return rc;
}

void create_chunk(model* m) {
    std::string storage;
    const std::string* text = shape_text(m, storage);
    if (!text) {
        m->rwx_present = false;
        return;
    }
    m->chunk_present = convert(m, *text, false, m->dir) == chunk_ok;
}

void create_flat_chunk(model* m) {
    const std::string prefix = model_flat_prefix(m->dir);
    if (!m->just_downloaded && chunk_exists(prefix, m->name)) return;
    std::string storage;
    if (const std::string* text = shape_text(m, storage)) convert(m, *text, true, prefix);
}

void texture_callback(void* data, int status) {
    if (trace()) log_write("model: texture_callback");
    model* m = model_of(data);
    if (!m || status != 0 || m->pending_textures <= 0 || --m->pending_textures > 0) return;
    if (!m->chunk_present && m->rwx_present) {
        create_chunk(m);
        if (m->type != kModelAligned) chunk_delete(model_flat_prefix(m->dir), m->name);
    }
    update_models(m);
}

void load_model(model* m) {
    std::vector<uint8_t> header;
    if (m->rwx_present) {
        std::string storage;
        if (const std::string* text = shape_text(m, storage))
            header = model_read_header(*text, m->dir == "avatars" ? kModelAvatar : kModelPlain);
        else
            m->rwx_present = false;
    }
    std::vector<ModelTexture> named;
    if (!m->rwx_present && !(chunk_header(m->dir, m->name, header) && model_header_textures(header, named))) {
        // No record, or a damaged one: fetch the model again.
        if (m->chunk_present) chunk_delete(m->dir, m->name);
        m->chunk_present = false;
        download_force(m->fetch);
        return;
    }
    if (m->rwx_present) model_header_textures(header, named);
    m->header = std::move(header);
    m->type = m->header[0];
    m->pending_textures = 0;
    for (const ModelTexture& entry : named) {
        texture* t = texture_download(entry.name, texture_callback, data_of(m));
        if (!t) continue;
        if (!entry.mask.empty()) texture_set_mask(t, entry.mask);
        m->textures.push_back(t);
        if (!texture_loaded(t)) ++m->pending_textures;
    }
    m->ready = true;
    if (m->pending_textures > 0 && m->type != kModelAligned && m->rwx_present) create_flat_chunk(m);
    take_textures(m, 1);
    if (m->pending_textures == 0 && m->rwx_present) create_chunk(m);
    update_models(m);
}

void model_download_callback(void* data, int result, const uint8_t* buffer, uint32_t size) {
    model* m = model_of(data);
    if (!m) return;
    m->fetch = nullptr;
    if (result != kDownloadFetched) return;
    int encrypted = 0;
    if (const int rc = zip_extract(buffer, size, rwx_path(m), &encrypted); rc != kZipOk) {
        // The model goes on with what it has.
        if (trace()) log_write("model: %s.zip not extracted (%d)", m->name.c_str(), rc);
        return;
    }
    m->height = m->min_y = m->max_y = kUnknown;
    m->just_downloaded = true;
    // The stored conversion is of the old version: made again once the
    // textures of the new one are in.
    chunk_delete(m->dir, m->name);
    m->chunk_present = false;
    m->rwx_in_memory = encrypted != 0;
    m->rwx_text.clear();
    if (m->rwx_in_memory) {
        if (!file_read_all(rwx_path(m), m->rwx_text, kMaxShape)) m->rwx_text.clear();
        file_delete(rwx_path(m));
    }
    m->rwx_present = !m->rwx_in_memory || !m->rwx_text.empty();
    take_textures(m, -1);
    m->textures.clear();
    load_model(m);
}

void start_model(model* m) {
    m->type = m->dir == "avatars" ? kModelAvatar : kModelPlain;
    m->height = m->min_y = m->max_y = kUnknown;
    if (m->name.empty()) return;
    if (!plain_name(m->name)) {
        if (trace()) log_write("model: name refused");
        return;
    }
    m->fetch = download_file(m->dir, m->name + ".zip", kDownloadModel, model_download_callback, data_of(m));
    m->chunk_present = chunk_exists(m->dir, m->name);
    m->rwx_present = !art_dir().empty() && file_exists(rwx_path(m)) == 1;
    if (!m->chunk_present && !m->rwx_present) {
        download_force(m->fetch);
        return;
    }
    load_model(m);
}

void drop_shape(model* m) {
    rw_clump_destroy(m->shape);
    m->shape = nullptr;
}

void free_model(model* m) {
    drop_shape(m);
    g.by_id.erase(m->id);
    delete m;
}

// Tokens of one shape line as the header and the converter see them: the
// first 256 characters, up to a comment.
struct Token {
    std::string_view text;
    size_t end;  // offset in the line just past the token
};

void tokens_of(std::string_view line, std::vector<Token>& out) {
    out.clear();
    line = line.substr(0, std::min(line.size(), kModelLineLength));
    line = line.substr(0, line.find('#'));
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    for (size_t i = 0; i < line.size();) {
        while (i < line.size() && space(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !space(line[i])) ++i;
        if (i > start) out.push_back({line.substr(start, i - start), i});
    }
}

template <class F>
void for_each_line(std::string_view text, F&& f) {
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = text.find('\n', pos);
        const size_t next = end == std::string_view::npos ? text.size() : end + 1;
        f(text.substr(pos, next - pos));
        pos = next;
    }
}

bool is(std::string_view token, std::string_view word) { return equal_ignoring_case(token, word); }

// A texture statement naming something other than "null" starts at token i.
bool texture_at(const std::vector<Token>& t, size_t i) {
    return i + 1 < t.size() && (is(t[i].text, "texture") || is(t[i].text, "textureext")) && !is(t[i + 1].text, "null");
}

// Index of the name token of the line's first such statement, or 0.
size_t texture_statement(const std::vector<Token>& t) {
    for (size_t i = 0; i + 1 < t.size(); ++i)
        if (texture_at(t, i)) return i + 1;
    return 0;
}

// A texture or mask name for the header: lower case, cut at its first ".",
// fitting the texture key. Empty when refused.
std::string header_name(std::string_view token) {
    std::string name = lower_case(token.substr(0, token.find('.')));
    return name.size() <= kModelTextureName && plain_name(name) ? name : std::string();
}

}  // namespace

std::string model_flat_prefix(const std::string& dir) { return dir + "flat:"; }

std::vector<uint8_t> model_read_header(std::string_view rwx, uint8_t type) {
    std::vector<uint8_t> header{type};
    std::vector<Token> t;
    bool full = false;
    for_each_line(rwx, [&](std::string_view line) {
        tokens_of(line, t);
        for (size_t i = 0; i < t.size(); ++i) {
            if (is(t[i].text, "axisalignment") && i + 1 < t.size() &&
                (is(t[i + 1].text, "zorienty") || is(t[i + 1].text, "zorientx"))) {
                header[0] = kModelAligned;
                ++i;
                continue;
            }
            if (!texture_at(t, i)) continue;
            const std::string name = header_name(t[++i].text);
            std::string mask;
            if (i + 2 < t.size() && is(t[i + 1].text, "mask")) {
                mask = header_name(t[i + 2].text);
                i += 2;
            }
            if (name.empty() || full) continue;
            // A texture goes in together with its mask, or not at all.
            const size_t room = 1 + name.size() + (mask.empty() ? 0 : 2 + mask.size());
            if (header.size() + room > kModelHeaderRoom) {
                full = true;
                continue;
            }
            header.push_back(static_cast<uint8_t>(name.size()));
            header.insert(header.end(), name.begin(), name.end());
            if (mask.empty()) continue;
            header.push_back(0);
            header.push_back(static_cast<uint8_t>(mask.size()));
            header.insert(header.end(), mask.begin(), mask.end());
        }
    });
    return header;
}

bool model_header_textures(std::span<const uint8_t> header, std::vector<ModelTexture>& textures) {
    textures.clear();
    if (header.empty() || header[0] > kModelAvatar || header.size() > kModelHeaderRoom) return false;
    auto name_at = [&](size_t at, std::string& out) {
        const size_t n = header[at];
        if (n == 0 || at + 1 + n > header.size()) return false;
        const std::string_view text(reinterpret_cast<const char*>(header.data()) + at + 1, n);
        out = header_name(text);
        return out == text;
    };
    for (size_t i = 1; i < header.size();) {
        ModelTexture entry;
        if (!name_at(i, entry.name)) return false;
        i += 1 + entry.name.size();
        if (i < header.size() && header[i] == 0) {
            if (i + 1 >= header.size() || !name_at(i + 1, entry.mask)) return false;
            i += 2 + entry.mask.size();
        }
        textures.push_back(std::move(entry));
    }
    return true;
}

std::string model_shape_text(std::string_view rwx, bool flat) {
    std::string out;
    out.reserve(rwx.size() + 1);
    std::vector<Token> t;
    for_each_line(rwx, [&](std::string_view line) {
        tokens_of(line, t);
        const size_t n = texture_statement(t);
        if (n && flat) return;
        if (n && n + 2 < t.size() && is(t[n + 1].text, "mask")) {
            out.append(line.substr(0, t[n].end));
            out.push_back('\n');
        } else {
            out.append(line);
        }
    });
    return out;
}

bool model_init() {
    if (trace()) log_write("model_init");
    if (!g.table) g.table = std::make_unique<KeyedTable>(kBuckets, sizeof(model*));
    if (!g.placeholder) g.placeholder = build_placeholder();
    return g.placeholder != nullptr;
}

void model_term() {
    model_reset();
    if (g.table && g.table->size() == 0) g.table.reset();
    rw_clump_destroy(g.placeholder);
    g.placeholder = nullptr;
    g.scene_changed = false;
}

void model_reset() {
    if (!g.table) return;
    for (KeyedTable::Iterator it(*g.table); it.next();) {
        model* m = *static_cast<model**>(it.value());
        if (m->ref_count > 0) {
            // Still shown somewhere: kept, but cut loose from the downloads
            // and textures that the reset drops next.
            if (trace()) log_write("model_reset: %s still referenced", m->name.c_str());
            take_textures(m, -1);
            m->textures.clear();
            drop_shape(m);
            m->pending_textures = 0;
            m->fetch = nullptr;
            continue;
        }
        free_model(m);
        it.remove_current();
    }
}

void model_empty_cache() {
    if (trace()) log_write("model_empty_cache");
    model_reset();
}

void model_set_scene(RwScene* scene) { g.scene = scene; }
RwScene* model_scene() { return g.scene; }

model_ref* model_reference(const std::string& dir, const std::string& given, RwScene* scene) {
    if (!g.table || !g.placeholder) return nullptr;
    const std::string name = model_name(given);
    const std::string key = dir + name;
    bool existed = false;
    auto** slot = g.table->find_or_add_as<model*>(key.data(), key.size(), &existed);
    if (!slot) return nullptr;
    if (!existed) {
        model* m = new (std::nothrow) model;
        if (!m) {
            g.table->remove(key.data(), key.size());
            return nullptr;
        }
        m->id = g.next_id++;
        m->dir = dir;
        m->name = name;
        *slot = m;
        g.by_id[m->id] = m;
        start_model(m);
    }
    model* m = *slot;
    model_ref* ref = new (std::nothrow) model_ref;
    if (!ref) return nullptr;
    if (existed) download_reference(m->fetch);
    for (texture* t : m->textures) texture_reference(t);
    ref->owner = m;
    ref->scene = scene;
    if (!scene) g.scene_changed = true;
    ref->next = m->refs;
    m->refs = ref;
    ++m->ref_count;
    ++g.references;
    update_model(ref);
    return ref;
}

model_ref* model_reference_object(const std::string& name) { return model_reference("models", name, nullptr); }

ModelHooks& model_hooks() { return g.hooks; }

void model_dereference(model_ref* ref) {
    if (!ref) return;
    if (g.hooks.instance_released) g.hooks.instance_released(ref);
    model* m = ref->owner;
    for (model_ref** p = &m->refs; *p; p = &(*p)->next)
        if (*p == ref) {
            *p = ref->next;
            break;
        }
    download_dereference(m->fetch);
    for (texture* t : m->textures) texture_dereference(t);
    rw_clump_destroy(ref->pending);
    rw_clump_destroy(ref->clump);  // leaves the scene first
    --m->ref_count;
    --g.references;
    if (m->ref_count == 0) drop_shape(m);
    delete ref;
}

void model_place(model_ref* ref, double x, double y, double z, float yaw) {
    if (!ref || !ref->clump) return;
    const RwMatrix m = matrix_translation(float(x), float(y), float(z)) * matrix_rotation(RwV3{0, 1, 0}, yaw);
    rw_clump_transform(ref->clump, m);
}

RwClump* model_clump(const model_ref* ref) { return ref ? ref->clump : nullptr; }

void model_hide(model_ref* ref) {
    if (!ref || ref->hidden) return;
    if (ref->clump && ref->clump->scene) rw_scene_remove_clump(ref->clump);
    ref->hidden = true;
}

void model_show(model_ref* ref) {
    if (!ref || !ref->hidden) return;
    ref->hidden = false;
    if (ref->scene) {
        if (!ref->clump->scene) rw_scene_add_clump(ref->scene, ref->clump);
    } else {
        g.scene_changed = true;  // hidden through a flush: the next one places it
    }
}

bool model_hidden(const model_ref* ref) { return ref && ref->hidden; }

bool model_ready(const model_ref* ref) { return ref && ref->owner->ready && !ref->pending; }

bool model_height(model_ref* ref, float* height) {
    if (!ref || !ref->owner->ready) return false;
    model* m = ref->owner;
    if (m->height >= kUnknown) {
        // The shape about to be shown, when one waits.
        const RwClump* c = ref->pending ? ref->pending : ref->clump;
        const RwBox box = rw_clump_hierarchy_bbox(c);
        m->min_y = box.empty ? 0 : box.min.y;
        m->max_y = box.empty ? 0 : box.max.y;
        m->height = m->max_y - m->min_y;
    }
    if (height) *height = m->height;
    return true;
}

bool model_bottom(const model_ref* ref, float* y) {
    if (!ref || !ref->owner->ready || ref->owner->min_y >= kUnknown) return false;
    if (y) *y = ref->owner->min_y;
    return true;
}

void update_model(model_ref* ref) {
    if (!ref) return;
    model* m = ref->owner;
    rw_clump_destroy(ref->pending);
    ref->pending = nullptr;
    const bool full = m->ready && m->pending_textures == 0 && m->chunk_present;
    const bool flat = !full && m->ready && m->pending_textures > 0 && m->type != kModelAligned;
    if ((full || flat) && !(m->shape && m->shape_flat == flat)) {
        drop_shape(m);
        m->shape = chunk_load(flat ? model_flat_prefix(m->dir) : m->dir, m->name);
        m->shape_flat = flat;
        if (full && m->shape)
            m->height = m->min_y = m->max_y = kUnknown;
        else if (full)
            m->chunk_present = false;  // damaged, and deleted
    }
    RwClump* next = (full || flat) && m->shape ? rw_clump_duplicate(m->shape) : nullptr;
    if (!next) next = rw_clump_duplicate(g.placeholder);
    ref->pending = next;
    if (m->type == kModelAvatar)
        reload_model(ref);
    else
        g.scene_changed = true;
    if (!ref->clump) ref->clump = rw_clump_duplicate(g.placeholder);
}

void update_models(model* m) {
    // The chunk may have changed: every reference gets the shape loaded anew.
    drop_shape(m);
    for (model_ref* r = m->refs; r; r = r->next) update_model(r);
}

void reload_model(model_ref* ref) {
    if (!ref || !ref->pending) return;
    if (trace()) log_write("reload_model");
    model* m = ref->owner;
    if (ref->clump) {
        const RwMatrix place = rw_clump_matrix(ref->clump);
        rw_clump_destroy(ref->clump);  // leaves the scene first
        ref->clump = ref->pending;
        rw_clump_transform(ref->clump, place);
    } else {
        ref->clump = ref->pending;
    }
    ref->pending = nullptr;
    if (m->type == kModelAvatar && m->height >= kUnknown) model_height(ref, nullptr);
    if (!ref->scene) ref->scene = g.scene;
    if (!ref->hidden && ref->scene) {
        if (trace())
            log_write("RwAddClumpToScene (%p, %p)", static_cast<void*>(ref->scene), static_cast<void*>(ref->clump));
        rw_scene_add_clump(ref->scene, ref->clump);
    }
    if (g.hooks.instance_replaced) g.hooks.instance_replaced(ref);
    if (trace()) log_write("reload_model complete");
}

void model_flush() {
    if (!g.scene_changed) return;
    bool left = false;
    for_each_model([&](model* m) {
        for (model_ref* r = m->refs; r; r = r->next) {
            if (r->pending) {
                reload_model(r);
            } else if (!r->hidden && !r->scene) {
                r->scene = g.scene;
                if (g.scene) rw_scene_add_clump(g.scene, r->clump);
            }
            left = left || (!r->hidden && !r->scene);
        }
    });
    // Without a scene yet, the next flush tries again.
    g.scene_changed = left;
}

int64_t model_reference_count() { return g.references; }

size_t model_count() { return g.table ? g.table->size() : 0; }

const RwClump* model_placeholder() { return g.placeholder; }

void advanced_init() {
    if (trace()) log_write("advanced_init");
    AdvancedSwitches s;
    s.keep_rwx = settings_get_int("advanced", "keep_rwx") == 1;
    s.keep_bmp = settings_get_int("advanced", "keep_bmp") == 1;
    g.keep_rwx = s.keep_rwx;
    texture_set_keep_bmp(s.keep_bmp);
}

AdvancedSwitches advanced_switches() { return {g.keep_rwx, texture_keep_bmp()}; }

void advanced_apply(const AdvancedSwitches& s) {
    g.keep_rwx = s.keep_rwx;
    texture_set_keep_bmp(s.keep_bmp);
    settings_put_int("advanced", "keep_rwx", s.keep_rwx ? 1 : 0);
    settings_put_int("advanced", "keep_bmp", s.keep_bmp ? 1 : 0);
}

}  // namespace zk
