// The avatar table file as the browser loads it, and every query the avatar
// menu and the figures make of what it read.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_dir.h"
#include "people/registry.h"

namespace {

zk::fuzz::FuzzDir g_dir("registry");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = g_dir.file("avatars.dat");
    zk::fuzz::fuzz_put(path, data, size);
    const int result = zk::registry_load(path);
    const int count = zk::registry_count();
    if (count < 0 || size_t(count) > zk::kRegistryMaxEntries) __builtin_trap();
    if ((result > 0) == zk::registry_error().empty()) __builtin_trap();  // every parse error says why
    char names[256];
    int n = -1;
    if (zk::registry_names(names, sizeof names, &n) && n != count) __builtin_trap();
    for (int type = -1; type <= 255; ++type) {
        const zk::AvatarEntry* e = zk::registry_entry(type);
        if (!e) continue;
        if (e->implicit_names.size() != e->implicit_sequences.size() ||
            e->explicit_names.size() != e->explicit_sequences.size() ||
            e->explicit_names.size() > zk::kRegistryMaxActions || e->attributes.size() > zk::kRegistryMaxAttributes)
            __builtin_trap();
        for (const auto& [key, value] : e->attributes)
            if (key.size() > zk::kRegistryMaxValue || value.size() > zk::kRegistryMaxValue) __builtin_trap();
        if (zk::registry_explicit_names(type, names, sizeof names, &n) && size_t(n) != e->explicit_names.size())
            __builtin_trap();
        if (zk::registry_model_file(type).size() > zk::kRegistryMaxValue + 4) __builtin_trap();
    }
    zk::registry_reset("");
    return 0;
}
