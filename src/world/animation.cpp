#include "world/animation.h"

#include <memory>
#include <unordered_map>

#include "art/model.h"
#include "art/texture.h"
#include "common/text.h"
#include "core/log.h"
#include "core/tasks.h"
#include "render/clump.h"
#include "world/cell.h"

namespace zk {

namespace {

struct Animation {
    uint64_t id = 0;              // what texture callbacks carry
    object* owner = nullptr;      // null once released
    model_ref* instance = nullptr;
    std::vector<texture*> images;  // one reference held on each
    std::vector<int> frames;       // indices into `images`
    size_t current = 0;
    uint32_t delay = 0;
    uint32_t due = 0;
    bool running = true;
    bool looping = true;
};

struct State {
    // Released records stay until the next step, so that a step that runs
    // an adone trigger never loses the record it is looking at.
    std::vector<std::unique_ptr<Animation>> list;
    std::unordered_map<model_ref*, Animation*> by_instance;
    std::unordered_map<uint64_t, Animation*> by_id;
    uint64_t next_id = 1;
    AnimationHooks hooks;
};
State g;

Animation* of(const object* o) {
    if (!o || !o->model) return nullptr;
    auto it = g.by_instance.find(o->model);
    return it == g.by_instance.end() ? nullptr : it->second;
}

void release(Animation* a) {
    if (!a->owner) return;
    // The textures go now, not at the next step: a world reset frees the
    // texture table right after the objects.
    for (texture* t : a->images) texture_dereference(t);
    a->images.clear();
    a->frames.clear();
    g.by_instance.erase(a->instance);
    g.by_id.erase(a->id);
    a->owner = nullptr;
    a->instance = nullptr;
    a->running = false;
}

// Every polygon of the instance shows the texture. Materials are changed
// rather than polygons: the same picture for a fraction of the work.
void show_on(RwClump* clump, RwTexture* shown) {
    rw_clump_for_all(clump, [&](RwClump* c) {
        bool changed = false;
        for (RwMaterial& m : c->materials) {
            if (m.texture == shown) continue;
            rw_texture_add_reference(shown);
            rw_texture_destroy(m.texture);
            m.texture = shown;
            m.texture_name = shown->name;
            changed = true;
        }
        if (changed) rw_clump_changed(c);
        return true;
    });
}

// A frame whose texture is not in yet leaves the instance as it is; the
// texture's arrival shows the frame then.
void show(const Animation* a) {
    if (!a->owner || a->frames.empty()) return;
    RwTexture* shown = texture_handle(a->images[size_t(a->frames[a->current])]);
    if (shown) show_on(model_clump(a->instance), shown);
}

void texture_arrived(void* data, int status) {
    auto it = g.by_id.find(reinterpret_cast<uintptr_t>(data));
    if (status == 0 && it != g.by_id.end()) show(it->second);
}

// Moves `steps` frames on; true when an animation that does not loop has
// passed its last frame (it then stays there and stops).
bool advance(Animation* a, uint64_t steps) {
    const uint64_t count = a->frames.size();
    if (a->looping) {
        a->current = size_t((a->current + steps) % count);
        return false;
    }
    const uint64_t left = count - 1 - a->current;
    if (steps <= left) {
        a->current += size_t(steps);
        return false;
    }
    a->current = size_t(count - 1);
    a->running = false;
    return true;
}

bool names_allowed(const std::string& base, int image_count) {
    if (image_count < 1 || image_count > kAnimationMaxImages) return false;
    return base.size() <= (image_count >= 10 ? kAnimationMaxBaseMany : kAnimationMaxBase);
}

// The image's texture, its mask set when the base is short enough.
texture* image(const std::string& base, int number, TextureCallback callback, void* data) {
    const std::string name = lower_case(base) + std::to_string(number);
    texture* t = texture_download(name, callback, data);
    if (t && base.size() <= kAnimationMaskedBase) texture_set_mask(t, name + "m");
    return t;
}

}  // namespace

void animation_update() { animation_step(tick_now()); }

void animation_step(uint32_t now) {
    std::erase_if(g.list, [](const std::unique_ptr<Animation>& a) { return !a->owner; });
    // By index: an adone trigger may add records.
    for (size_t i = 0; i < g.list.size(); ++i) {
        Animation* a = g.list[i].get();
        if (!a->owner || !a->running) continue;
        const size_t before = a->current;
        bool ended;
        if (a->delay == 0) {
            ended = advance(a, 1);
        } else {
            const int32_t late = int32_t(now - a->due);
            if (late <= 0) continue;
            // Every delay that has passed is one frame on: counted at once,
            // so a long pause costs no more than a short one.
            const uint64_t steps = (uint64_t(late) + a->delay - 1) / a->delay;
            a->due += uint32_t(steps * a->delay);
            ended = advance(a, steps);
        }
        if (a->frames.size() > 1 && a->current != before) show(a);
        if (ended && g.hooks.adone) g.hooks.adone(a->owner);
    }
}

int animation_create(object* o, const std::string& base, int image_count, int frame_count, int delay_ms,
                     const std::vector<int>& frames) {
    if (!o || !o->model || !names_allowed(base, image_count) || frame_count < 1) return 0;
    if (frames.empty() ? frame_count != image_count : frames.size() != size_t(frame_count)) return 0;
    for (int f : frames)
        if (f < 1 || f > image_count) return 0;
    if (log_on(Trace::trace)) log_write("animation_create (%s, %d)", base.c_str(), image_count);

    auto a = std::make_unique<Animation>();
    a->id = g.next_id++;
    a->owner = o;
    a->instance = o->model;
    a->delay = uint32_t(delay_ms > 0 ? delay_ms : 0);
    if (frames.empty())
        for (int f = 0; f < frame_count; ++f) a->frames.push_back(f);
    else
        for (int f : frames) a->frames.push_back(f - 1);
    void* data = reinterpret_cast<void*>(uintptr_t(a->id));
    for (int n = 1; n <= image_count; ++n) {
        texture* t = image(base, n, texture_arrived, data);
        texture_reference(t);
        a->images.push_back(t);
    }
    if (Animation* old = of(o)) release(old);
    a->due = tick_now();
    g.by_instance[a->instance] = a.get();
    g.by_id[a->id] = a.get();
    show(a.get());
    g.list.push_back(std::move(a));
    return 1;
}

void animation_prefetch(const std::string& base, int image_count) {
    if (!names_allowed(base, image_count)) return;
    for (int n = 1; n <= image_count; ++n) image(base, n, nullptr, nullptr);
}

void animation_frame(object* o, int n, bool relative) {
    Animation* a = of(o);
    if (!a || (!relative && n < 1)) return;
    const int64_t count = int64_t(a->frames.size());
    const int64_t to = relative ? int64_t(a->current) + n : int64_t(n) - 1;
    a->current = size_t((to % count + count) % count);
    show(a);
}

void animation_start(object* o, bool looping) {
    if (Animation* a = of(o)) {
        a->looping = looping;
        a->running = true;
        a->due = tick_now() + a->delay;
    }
}

void animation_stop(object* o) {
    if (Animation* a = of(o)) a->running = false;
}

AnimationHooks& animation_hooks() { return g.hooks; }

void animation_instance_replaced(model_ref* instance) {
    auto it = g.by_instance.find(instance);
    if (it != g.by_instance.end()) show(it->second);
}

void animation_instance_released(model_ref* instance) {
    auto it = g.by_instance.find(instance);
    if (it != g.by_instance.end()) release(it->second);
}

size_t animation_count() { return g.list.size(); }

int animation_current(const object* o) {
    const Animation* a = of(o);
    return a ? int(a->current) : -1;
}

}  // namespace zk
