#include "people/chat.h"

#include <algorithm>
#include <utility>

#include "core/log.h"
#include "core/tasks.h"
#include "net/login.h"
#include "people/avatar.h"
#include "people/balloon.h"
#include "people/console.h"
#include "platform/ui.h"
#include "view/camera.h"
#include "view/self.h"

namespace zk {

namespace {

struct Chat {
    std::string own_line;
    bool shown_until_set = false;  // the own line is a chat line until `until`
    uint32_t until = 0;
    bool third_person = false;     // at the last update
    Balloon* balloon = nullptr;
};
Chat g;
uint32_t (*g_clock)() = tick_now;

void drop_balloon() {
    balloon_destroy(g.balloon);
    g.balloon = nullptr;
}

}  // namespace

bool chat_init() {
    if (log_on(Trace::trace)) log_write("chat_init");
    drop_balloon();
    g = Chat{};
    return true;
}

void chat_set_clock(uint32_t (*now)()) { g_clock = now ? now : tick_now; }

const std::string& chat_own_line() { return g.own_line; }
bool chat_own_balloon() { return g.balloon != nullptr; }

void chat_enter(const std::string& text) {
    if (text.empty()) return;
    std::string line = identity_name() + ": " + text.substr(0, utf8_cut(text, kChatTextMax));
    // Whole characters only, and no more than the channel carries.
    line.resize(utf8_cut(line, std::min(kChatLineMax, kAvatarSendMax)));
    g.own_line = line;
    avatar_send_chat(line.data(), line.size());
    if (g.balloon) balloon_set_text(g.balloon, g.own_line);
    g.until = g_clock() + kChatShownMs;
    g.shown_until_set = true;
    if (ui_present()) ui().chat_entry_reset();
}

void chat_name_changed() {
    if (!g.balloon) return;
    g.own_line = identity_name();
    balloon_set_text(g.balloon, g.own_line);
}

void chat_update() {
    const bool third = camera_third_person();
    if (g.third_person) {
        if (!third) {
            g.third_person = false;
            drop_balloon();
            return;
        }
    } else {
        if (!third) return;
        g.third_person = true;
    }
    if (!g.balloon && !g.own_line.empty()) {
        g.balloon = balloon_create();
        balloon_set_text(g.balloon, g.own_line);
    }
    const uint32_t now = g_clock();
    // Without a chat line of its own the balloon shows the name.
    if (!g.shown_until_set || static_cast<int32_t>(now - g.until) > 0) {
        g.shown_until_set = false;
        if (std::string name = identity_name(); name != g.own_line) {
            g.own_line = std::move(name);
            if (g.balloon) balloon_set_text(g.balloon, g.own_line);
        }
    }
    if (!g.balloon) return;
    double x, y, z;
    float yaw;
    self_head_transform(&x, &y, &z, &yaw);
    balloon_place(g.balloon, float(x), float(y), float(z));
}

}  // namespace zk
