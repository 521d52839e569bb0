// An object's action text as a world server sends it: read as tokens, then
// checked and run for every trigger on a live object made from it, and
// handed in once as a queued command. Sounds, pages and pictures are not
// wired in; teleports move the user and enter worlds.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "art/texture.h"
#include "core/settings.h"
#include "fuzz_dir.h"
#include "view/mouse.h"
#include "view/self.h"
#include "world/behavior.h"
#include "world/cell.h"
#include "world/world.h"

namespace {

struct Setup {
    zk::fuzz::FuzzDir dir{"behavior"};
    Setup() {
        // World entry makes the world's cache directories here.
        zk::settings_set_directory(dir.path());
        zk::object_hooks().action_check = zk::behavior_action_check;
        zk::object_hooks().action_create = zk::behavior_action_create;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    const std::string_view text(reinterpret_cast<const char*>(data), size < 255 ? size : 255);
    zk::behavior_tokens(text, true);
    zk::behavior_tokens(text, false);
    if (zk::object* o = zk::object_create(0.5, 0, 0.5, 0, "box", "a sign text", text, 1, 7, true, 0)) {
        for (zk::BehaviorTrigger t : {zk::BehaviorTrigger::bump, zk::BehaviorTrigger::adone})
            zk::behavior_run(o, t);
        zk::behavior_activate(o);
    }
    zk::behavior_queue(text);
    zk::behavior_update();

    // Nothing of this run reaches the next.
    while (zk::object* left = zk::object_first()) zk::object_destroy(left);
    zk::behavior_reset();
    zk::texture_reset();  // the textures an animation asked for ahead
    zk::world_term();
    std::error_code ec;
    std::filesystem::remove_all(setup.dir.file("cache"), ec);
    zk::self_set_position(0, 8, 0, 0);
    zk::mouse_as_picker();
    return 0;
}
