#include "art/texture.h"

#include <memory>
#include <new>

#include "common/keyed_table.h"
#include "core/log.h"

namespace zk {

// Textures are not fetched or converted yet, so none ever becomes loaded and
// no callback is ever due: textured models keep showing their untextured
// substitute. The table and its reference counts are what models rely on.
struct texture {
    std::string name;
    std::string mask;
    int refs = 0;
};

namespace {

constexpr uint32_t kBuckets = 307;

std::unique_ptr<KeyedTable> g_table;
bool g_keep_bmp = false;

}  // namespace

texture* texture_download(const std::string& name, TextureCallback, void*) {
    const std::string key = name.substr(0, name.find('.'));
    if (!g_table) g_table = std::make_unique<KeyedTable>(kBuckets, sizeof(texture*));
    bool existed = false;
    auto** slot = g_table->find_or_add_as<texture*>(key.data(), key.size(), &existed);
    if (!slot) return nullptr;
    if (!existed) {
        *slot = new (std::nothrow) texture;
        if (!*slot) {
            g_table->remove(key.data(), key.size());
            return nullptr;
        }
        (*slot)->name = key;
    }
    return *slot;
}

void texture_set_mask(texture* t, const std::string& mask_name) {
    if (t) t->mask = mask_name.substr(0, mask_name.find('.'));
}

void texture_reference(texture* t) {
    if (t) ++t->refs;
}

void texture_dereference(texture* t) {
    if (t && t->refs > 0) --t->refs;
}

bool texture_loaded(const texture*) { return false; }

int texture_reference_count(const texture* t) { return t ? t->refs : 0; }

void texture_set_keep_bmp(bool keep) { g_keep_bmp = keep; }
bool texture_keep_bmp() { return g_keep_bmp; }

namespace {

void free_all() {
    if (!g_table) return;
    for (KeyedTable::Iterator it(*g_table); it.next();) delete *static_cast<texture**>(it.value());
    g_table->clear();
}

}  // namespace

void texture_reset() {
    if (log_on(Trace::trace)) log_write("texture_reset");
    free_all();
}

void texture_term() {
    free_all();
    g_table.reset();
}

}  // namespace zk
