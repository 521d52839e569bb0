#include "app/tasks.h"

#include "core/log.h"
#include "art/backdrop.h"
#include "art/disk.h"
#include "art/download.h"
#include "art/ground.h"
#include "art/http.h"
#include "art/image.h"
#include "art/picture.h"
#include "net/cgi.h"
#include "net/telegram.h"
#include "net/universe.h"
#include "people/avatar.h"
#include "people/balloon.h"
#include "people/chat.h"
#include "shell/bps.h"
#include "shell/slider.h"
#include "shell/web.h"
#include "sound/sound.h"
#include "view/camera.h"
#include "view/focus.h"
#include "view/frame.h"
#include "view/mouse.h"
#include "view/scene.h"
#include "view/self.h"
#include "view/viewport.h"
#include "world/animation.h"
#include "world/behavior.h"
#include "world/pick.h"
#include "world/prop.h"
#include "world/sign.h"
#include "world/visible.h"

namespace zk {

namespace {

bool g_pass_running = false;
bool g_inactive = false;

constexpr Task kTasks[kTaskCount] = {
    {"tick", tick_read},
    {"prop", prop_update},
    {"camera", camera_update},
    {"ground", ground_update},
    {"backdrop", backdrop_update},
    {"http", http_update},
    {"download", download_update},
    {"visible", visible_update},
    {"sound", sound_update},
    {"frame", frame_update},
    {"sign", sign_update},
    {"animate", animation_update},
    {nullptr, camera_begin_update},
    {"scene", scene_update},
    {"self", self_update},
    {"avatar", avatar_update},
    {"chat", chat_update},
    {"balloon", balloon_update},
    {"pick", pick_update},
    {nullptr, camera_end_update},
    {"focus", focus_update},
    {"viewport", viewport_update},
    {"fps", fps_update},
    {"bps", bps_update},
    {"cgi", cgi_update},
    {"behavior", behavior_update},
    {"disk", disk_update},
    {"image", image_update},
    {"picture", picture_update},
    {"web", web_update},
    {"universe", universe_update},
    {"telegram", telegram_update},
};

}  // namespace

const Task* tasks_table() { return kTasks; }

void tasks_run() {
    const bool trace = log_on(Trace::tasks);
    for (const Task& task : kTasks) {
        if (task.name && trace) log_write("%s", task.name);
        task.update();
    }
}

bool tasks_timer_event(void (*pass)()) {
    // A modal loop entered from inside a task delivers timer events too;
    // they must not start a second pass.
    if (g_pass_running || tasks_fatal_box()) return false;
    g_pass_running = true;
    // No frame while the user drags a splitter.
    if (slider_update() || vslider_update()) {
        g_pass_running = false;
        return false;
    }
    pass();
    g_pass_running = false;
    return true;
}

int tasks_activation_changed(bool active) {
    g_inactive = !active;
    if (active)
        mouse_activate();
    else
        mouse_deactivate();
    return active ? 0 : 1000;
}

bool app_inactive() { return g_inactive; }

bool tasks_pass_running() { return g_pass_running; }

}  // namespace zk
