// A record of the chunk store as read back from disk: the input is stored
// as it is as the model record "models"+"fuzz" and as the texture record
// "fuzz" (and written as a texture file), then read the way the models and
// pictures read them. A record that does not read must be gone afterwards,
// a header handed out must be the record's, and nothing may outlive the run.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "art/chunk.h"
#include "art/database.h"
#include "art/download.h"
#include "core/settings.h"
#include "fuzz_dir.h"
#include "render/clump.h"
#include "render/texture.h"

namespace {

struct Store : zk::fuzz::FuzzDir {
    Store() : FuzzDir("chunk_record") {
        zk::settings_set_directory(path());
        if (!zk::database_init() || !zk::download_init()) __builtin_trap();
        zk::download_set_path("fuzz/objects");
        zk::chunk_reset();
    }
    ~Store() {
        zk::chunk_term();
        zk::download_term();
    }
    // The chunk store holds its databases alone, so it lets go of them
    // while the record is planted.
    void plant(const uint8_t* data, size_t size) {
        zk::chunk_term();
        for (const char* stem : {"models", "textures"}) {
            const bool models = stem[0] == 'm';
            zk::Database* db = zk::database_open(zk::art_dir() + "/" + stem, 32, 0, 16384, 4096, models, true);
            if (!db || zk::database_store(db, models ? "modelsfuzz" : "fuzz", data, static_cast<int>(size)) != 1)
                __builtin_trap();
            zk::database_close(db);
        }
        zk::chunk_reset();
    }
};

// Made at the first run, once the modules' own statics exist.
Store& store() {
    static Store s;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;  // storing nothing removes the key: no record to read
    store().plant(data, size);
    // Names resolve only to textures already loaded: no disk lookups.
    zk::rw_texture_set_search_path("");
    const int64_t clumps = zk::rw_clump_count();
    const int textures = zk::rw_texture_count();

    std::vector<uint8_t> header;
    if (zk::chunk_header("models", "fuzz", header)) {
        if (header.size() + 2 >= size || (header.size() && std::memcmp(header.data(), data + 2, header.size())))
            __builtin_trap();
    } else if (zk::chunk_exists("models", "fuzz")) {
        __builtin_trap();
    }
    if (zk::RwClump* c = zk::chunk_load("models", "fuzz")) zk::rw_clump_destroy(c);
    else if (zk::chunk_exists("models", "fuzz")) __builtin_trap();

    if (zk::RwTexture* t = zk::chunk_load_texture("fuzz")) zk::rw_texture_destroy(t);
    const std::string file = store().file("picture");
    zk::fuzz::fuzz_put(file, data, size);
    if (zk::RwTexture* t = zk::chunk_load_texture_from_file(file)) zk::rw_texture_destroy(t);

    if (zk::rw_clump_count() != clumps || zk::rw_texture_count() != textures) __builtin_trap();
    zk::chunk_delete("models", "fuzz");
    zk::chunk_delete_texture("fuzz");
    return 0;
}
