#include "app/task_list.h"

#include <string>

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
#include "shell/web.h"
#include "sound/sound.h"
#include "view/camera.h"
#include "view/focus.h"
#include "view/frame.h"
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
    // A handed-in teleport runs as a behavior command.
    {"cgi",
     [] {
         cgi_update();
         std::string command;
         while (cgi_take_command(command)) behavior_queue(command);
     }},
    {"behavior", behavior_update},
    {"disk", disk_update},
    {"image", image_update},
    {"picture", picture_update},
    {"web", web_update},
    {"universe", universe_update},
    {"telegram", telegram_update},
};

}  // namespace

const Task* task_list() { return kTasks; }

}  // namespace zk
