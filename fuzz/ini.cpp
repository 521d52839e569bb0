// The settings file: the accessors read a damaged zelnik.ini, and a write
// (the edit it makes on the file's text) sets its key and keeps the rest.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "fuzz_dir.h"
#include "platform/profile.h"

namespace {

zk::fuzz::FuzzDir g_dir("ini");

std::string lookup(std::string_view text, const char* section, const char* key) {
    std::string v;
    return zk::profile_lookup(text, section, key, v) ? "=" + v : "missing";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Not from a static initializer: the settings module's own statics may
    // not be constructed yet then.
    static const bool ready = (zk::settings_set_directory(g_dir.path()), true);
    (void)ready;
    zk::fuzz::fuzz_put(g_dir.file("zelnik.ini"), data, size);
    (void)zk::settings_get_int("layout", "main_x");
    (void)zk::settings_get_decimal("layout", "border", 0.68);
    if (zk::settings_get_string("start", "world").size() > 127) __builtin_trap();
    if (zk::settings_get_secret("citizen", "pass").size() > 127) __builtin_trap();

    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string other = lookup(text, "show", "toolbar");
    const std::string edited = zk::profile_edit(text, "layout", "main_x", "123");
    if (lookup(edited, "layout", "main_x") != "=123") __builtin_trap();
    if (lookup(edited, "show", "toolbar") != other) __builtin_trap();
    // Writing the value it already holds changes nothing.
    if (zk::profile_edit(edited, "layout", "main_x", "123") != edited) __builtin_trap();
    return 0;
}
