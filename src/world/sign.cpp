#include "world/sign.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <deque>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "art/model.h"
#include "common/text.h"
#include "core/log.h"
#include "core/tasks.h"
#include "platform/ui.h"
#include "render/clump.h"
#include "world/cell.h"

namespace zk {

namespace {

struct SignJob {
    std::string text;
    uint32_t color = 0, background = 0;
    model_ref* instance = nullptr;  // null once the instance has gone
    bool pending = false;           // waiting in the queue
    RwTexture* texture = nullptr;   // the sign drawn last; one reference
};

struct State {
    std::unordered_map<model_ref*, std::unique_ptr<SignJob>> jobs;
    // Jobs whose instance went while they waited: dropped when their turn comes.
    std::vector<std::unique_ptr<SignJob>> orphans;
    std::deque<SignJob*> queue;
    int line_height = 0;
    bool handled_any = false;
    uint32_t last = 0;
};
State g;

struct NamedColor {
    const char* name;
    uint32_t rgb;
};
constexpr NamedColor kColors[] = {
    {"aquamarine", 0x70DB93}, {"black", 0x000000},     {"blue", 0x0000FF},     {"brass", 0xB5A642},
    {"bronze", 0x8C7853},     {"brown", 0xA62A2A},     {"copper", 0xB87333},   {"cyan", 0x00FFFF},
    {"darkgrey", 0x303030},   {"forestgreen", 0x238E23}, {"gold", 0xCD7F32},   {"green", 0x00FF00},
    {"grey", 0x707070},       {"lightgrey", 0xC0C0C0}, {"magenta", 0xFF00FF},  {"maroon", 0x8E236B},
    {"navyblue", 0x23238E},   {"orange", 0xFF7F00},    {"orangered", 0xFF2400}, {"orchid", 0xDB70DB},
    {"pink", 0xFF6EC7},       {"red", 0xFF0000},       {"salmon", 0x6F4242},   {"scarlet", 0x8C1717},
    {"silver", 0xE6E8FA},     {"skyblue", 0x3299CC},   {"tan", 0xDB9370},      {"teal", 0x007070},
    {"turquoise", 0xADEAEA},  {"violet", 0x4F2F4F},    {"white", 0xFFFFFF},    {"yellow", 0xFFFF00},
};

RwRgba rgba(uint32_t rgb) { return {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255}; }

SignJob* job_of(model_ref* instance) {
    auto it = g.jobs.find(instance);
    return it == g.jobs.end() ? nullptr : it->second.get();
}

void enqueue(SignJob* job) {
    if (job->pending) return;
    job->pending = true;
    g.queue.push_back(job);
}

// The instance's sign faces: tag 100 and four corners.
template <class F>
void for_each_face(model_ref* instance, F&& f) {
    rw_clump_for_all_polygons(model_clump(instance), [&](RwClump* c, size_t i) {
        const RwPolygon& p = c->polygons[i];
        return p.tag != kTagSign || p.v.size() != 4 || f(c, i);
    });
}

void show(SignJob* job) {
    for_each_face(job->instance, [&](RwClump* c, size_t i) {
        rw_polygon_set_texture(c, i, job->texture);
        return true;
    });
}

// A face still showing the previous sign has its material changed in place,
// so that signing an object again and again does not pile up materials
// that hold old bitmaps.
void put(RwClump* c, size_t i, RwTexture* sign, const RwTexture* previous) {
    const uint32_t at = c->polygons[i].material;
    if (!previous || at >= c->materials.size() || c->materials[at].texture != previous) {
        rw_polygon_set_texture(c, i, sign);
        return;
    }
    RwMaterial& m = c->materials[at];
    rw_texture_add_reference(sign);
    rw_texture_destroy(m.texture);
    m.texture = sign;
    m.texture_name = sign->name;
    rw_clump_changed(c);
}

// The texture is made from the first face and set on every face. The
// previous one is held until then: faces showing it are recognised by it.
void draw(SignJob* job) {
    RwTexture* previous = std::exchange(job->texture, nullptr);
    bool first = true;
    for_each_face(job->instance, [&](RwClump* c, size_t i) {
        if (first) {
            first = false;
            const RwPolygon& p = c->polygons[i];
            if (p.v[0] >= c->vertices.size() || p.v[2] >= c->vertices.size()) return false;
            const RwV3 a = c->vertices[p.v[0]].p, b = c->vertices[p.v[2]].p;
            const float p0[3] = {a.x, a.y, a.z}, p2[3] = {b.x, b.y, b.z};
            job->texture = sign_texture(job->text, job->color, job->background, p0, p2);
        }
        if (job->texture) put(c, i, job->texture, previous);
        return job->texture != nullptr;
    });
    rw_texture_destroy(previous);
}

}  // namespace

void sign_init() {
    if (log_on(Trace::trace)) log_write("sign_init");
    if (ui_present() && g.line_height <= 0) g.line_height = ui().sign_font();
}

void sign_update() { sign_step(tick_now()); }

void sign_step(uint32_t now) {
    if (g.queue.empty() || (g.handled_any && now - g.last < kSignInterval)) return;
    g.handled_any = true;
    g.last = now;
    SignJob* job = g.queue.front();
    g.queue.pop_front();
    job->pending = false;
    if (!job->instance) {
        std::erase_if(g.orphans, [job](const std::unique_ptr<SignJob>& o) { return o.get() == job; });
        return;
    }
    draw(job);
}

uint32_t sign_color(std::string_view text) {
    for (const NamedColor& c : kColors)
        if (equal_ignoring_case(text, c.name)) return c.rgb;
    // Read as a hexadecimal number, as far as it goes.
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        i += 2;
    uint32_t value = 0;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
        const char c = ascii_lower(text[i]);
        value = value * 16 + uint32_t(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return value & 0xFFFFFF;
}

void sign_queue(object* o, const std::string& text, uint32_t color, uint32_t background) {
    if (!o || !o->model) return;
    std::unique_ptr<SignJob>& slot = g.jobs[o->model];
    if (!slot) {
        slot = std::make_unique<SignJob>();
        slot->instance = o->model;
    }
    slot->text = text;
    slot->color = color;
    slot->background = background;
    enqueue(slot.get());
}

RwTexture* sign_texture(const std::string& text, uint32_t color, uint32_t background, const float first[3],
                        const float third[3]) {
    if (g.line_height <= 0 || !ui_present()) return nullptr;
    const double vertical = std::fabs(double(first[1]) - third[1]);
    const double horizontal = std::hypot(double(first[0]) - third[0], double(first[2]) - third[2]);
    if (!(vertical >= 0.00001) || !std::isfinite(vertical) || !std::isfinite(horizontal)) return nullptr;
    const double aspect = std::min(horizontal / vertical, 10.0);

    // The smallest size the text fits, growing by half a line; a text too
    // long for its face ends at the pixel limit (and a face too narrow for
    // any text at the height limit).
    const int grow = std::max(1, g.line_height / 2);
    int height = g.line_height, width = 0, measured_at = -1, text_width = 0, text_height = 0;
    for (;; height += grow) {
        width = int(height * aspect);
        if (width != measured_at) {
            if (!ui().sign_measure(text, width, &text_width, &text_height)) return nullptr;
            measured_at = width;
        }
        if (text_width <= width && text_height <= height) break;
        if (int64_t(width) * height > kSignMaxPixels || height >= kSignMaxHeight) break;
    }
    // A face too narrow for a single column of text gets nothing.
    if (width < 1) return nullptr;
    width += width & 1;
    const int margin_x = std::max(1, width / 50), margin_y = std::max(1, height / 50);
    const int bitmap_width = width + 2 * margin_x, bitmap_height = height + 2 * margin_y;
    RwRaster* raster = rw_raster_create(bitmap_width, bitmap_height, 8);
    if (!raster) return nullptr;
    raster->palette[0] = rgba(background);
    raster->palette[1] = rgba(color);
    const int top = text_height < bitmap_height ? (bitmap_height - text_height) / 2 : margin_y;
    ui().sign_draw(text, bitmap_width, bitmap_height, margin_x, top, width, raster->pixels.data());
    RwTexture* sign = rw_texture_create(raster);
    // One picture however tall: never read as square frames stacked up.
    if (sign) sign->frames = 1;
    return sign;
}

void sign_instance_replaced(model_ref* instance) {
    SignJob* job = job_of(instance);
    if (!job) return;
    if (job->texture)
        show(job);
    else
        enqueue(job);  // drawn on the new clump, whose faces may be the first it has
}

void sign_instance_released(model_ref* instance) {
    auto it = g.jobs.find(instance);
    if (it == g.jobs.end()) return;
    std::unique_ptr<SignJob> job = std::move(it->second);
    g.jobs.erase(it);
    rw_texture_destroy(job->texture);
    job->texture = nullptr;
    job->instance = nullptr;
    if (job->pending) g.orphans.push_back(std::move(job));
}

size_t sign_queued() { return g.queue.size(); }

}  // namespace zk
