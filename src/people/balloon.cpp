#include "people/balloon.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "core/log.h"
#include "people/console.h"
#include "platform/ui.h"
#include "render/camera.h"
#include "view/camera.h"

namespace zk {

struct Balloon {
    RwV3 anchor;
    bool placed = false;
    std::string text;
};

namespace {

std::vector<std::unique_ptr<Balloon>> g_balloons;
std::vector<BalloonDraw> g_shown;

}  // namespace

void balloon_init() {
    if (log_on(Trace::trace)) log_write("balloon_init");
}

void balloon_term() {
    g_balloons.clear();
    g_shown.clear();
}

Balloon* balloon_create() {
    g_balloons.push_back(std::make_unique<Balloon>());
    return g_balloons.back().get();
}

void balloon_destroy(Balloon* balloon) {
    std::erase_if(g_balloons, [&](const std::unique_ptr<Balloon>& b) { return b.get() == balloon; });
}

void balloon_set_text(Balloon* balloon, const std::string& text) {
    if (!balloon) return;
    balloon->text = console_text(std::string_view(text).substr(0, kConsoleReadMax));
    balloon->text.resize(utf8_cut(balloon->text, kBalloonTextMax));
}

void balloon_place(Balloon* balloon, float x, float y, float z) {
    if (!balloon) return;
    balloon->anchor = {x, y, z};
    balloon->placed = true;
}

size_t balloon_count() { return g_balloons.size(); }

bool balloon_rect(const RwCamera* camera, bool half, float x, float y, float z, int* left, int* top) {
    float px, py;
    if (!rw_camera_project(camera, {x, y, z}, &px, &py)) return false;
    // A point far off to the side would not fit an int; it is not seen.
    if (!(std::fabs(px) < 1e6f && std::fabs(py) < 1e6f)) return false;
    *left = int(std::lround(px)) - kBalloonWidth / 2;
    *top = int(std::lround(py)) - kBalloonHeight / 2;
    // The half-size image is stretched to the whole view afterwards.
    if (half) {
        *left = 2 * *left + kBalloonWidth / 2;
        *top = 2 * *top + kBalloonHeight / 2;
    }
    return true;
}

void balloon_update() {
    if (!ui_present()) return;
    const RwCamera* camera = camera_current();
    const bool half = camera_half_size();
    std::vector<BalloonDraw> shown;
    for (const auto& b : g_balloons) {
        BalloonDraw d;
        if (b->placed && !b->text.empty() && camera &&
            balloon_rect(camera, half, b->anchor.x, b->anchor.y, b->anchor.z, &d.left, &d.top)) {
            d.text = b->text;
            shown.push_back(std::move(d));
        }
    }
    // The view is painted again only when what it shows changed.
    if (shown != g_shown) {
        g_shown = std::move(shown);
        ui().balloons_show(g_shown);
    }
}

}  // namespace zk
