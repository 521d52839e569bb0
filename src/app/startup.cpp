#include "app/startup.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "core/device.h"
#include "core/layout.h"
#include "core/log.h"
#include "core/perform.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "app/task_list.h"
#include "art/backdrop.h"
#include "art/chunk.h"
#include "art/database.h"
#include "art/disk.h"
#include "art/download.h"
#include "art/files.h"
#include "art/ground.h"
#include "art/http.h"
#include "art/image.h"
#include "art/model.h"
#include "art/picture.h"
#include "art/texture.h"
#include "common/messages.h"
#include "net/cgi.h"
#include "net/login.h"
#include "net/resolve.h"
#include "net/tcp.h"
#include "net/telegram.h"
#include "net/universe.h"
#include "people/avatar.h"
#include "people/balloon.h"
#include "people/chat.h"
#include "people/colors.h"
#include "people/console.h"
#include "people/font.h"
#include "people/gesture.h"
#include "platform/files.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "render/library.h"
#include "shell/bps.h"
#include "shell/menu.h"
#include "shell/options.h"
#include "shell/slider.h"
#include "shell/status.h"
#include "shell/teleport.h"
#include "shell/url.h"
#include "shell/web.h"
#include "sound/sound.h"
#include "upgrade/about.h"
#include "upgrade/check.h"
#include "view/camera.h"
#include "view/click.h"
#include "view/collision.h"
#include "view/focus.h"
#include "view/frame.h"
#include "view/mouse.h"
#include "view/scene.h"
#include "view/self.h"
#include "view/viewport.h"
#include "world/animation.h"
#include "world/behavior.h"
#include "world/cell.h"
#include "world/pdialog.h"
#include "world/pick.h"
#include "world/prop.h"
#include "world/sign.h"
#include "world/visible.h"
#include "world/world.h"

namespace zk {

namespace {

bool g_three_d_ready = false;
bool g_window_created = false;

void trace(const char* name) {
    if (log_on(Trace::trace)) log_write("%s", name);
}

// Step 19: the rendering library, the camera and the scene.
const char* init_three_d() {
    trace("init_three_d");
    if (!render_open("MSWindows")) return load_message(1);
    if (log_on(Trace::trace)) log_write("DEBUG:");
    if (int rc = camera_init(); rc != 0)
        return load_message(rc == render_error_out_of_memory ? 5 : 6);
    if (!scene_init()) return load_message(9);
    g_three_d_ready = true;
    return nullptr;
}

// Models for the objects of cells, bound once the model cache is up and
// dropped when it goes.
void bind_object_hooks(bool bound) {
    ObjectHooks& h = object_hooks();
    h.model_reference = bound ? model_reference_object : nullptr;
    h.model_place = bound ? model_place : nullptr;
    h.model_dereference = bound ? model_dereference : nullptr;
    // An object's texture animation and sign belong to its model instance:
    // a new clump gets them again, and they go with the instance.
    ModelHooks& m = model_hooks();
    m = ModelHooks{};
    if (!bound) return;
    m.instance_replaced = [](model_ref* r) {
        animation_instance_replaced(r);
        sign_instance_replaced(r);
        picture_reload(picture_of(r), r);
    };
    m.instance_released = [](model_ref* r) {
        animation_instance_released(r);
        sign_instance_released(r);
        picture_destroy(picture_of(r), r);
    };
}

// Once the user's own figure exists: collision glides it, and the
// visibility manager loads less while the user moves fast and waits while a
// glide (a pending teleport) is under way.
void bind_self_hooks() {
    collision_hooks().automatic_move = self_gliding;
    // The user falls onto the ground and is stopped by it only once its
    // model is in: before, the user would fall through.
    collision_hooks().ground = [] { return ground_ready() ? static_cast<const RwClump*>(ground_clump()) : nullptr; };
    self_hooks().world_has_ground = ground_ready;
    ground_hooks().position = self_position;
    backdrop_hooks().turning = self_turning;
    visible_ports().velocity = self_velocity;
    visible_ports().teleport_pending = self_gliding;
}

// Once the mouse modes exist: a right click in the view gives up mover mode.
void bind_mouse_hooks() {
    viewport_hooks().mouse_is_mover = mouse_is_mover;
    viewport_hooks().mouse_to_picker = mouse_as_picker;
}

// Other users' lines reach the console and their balloons, and a new avatar
// table brings its gestures.
void bind_chat_hooks() {
    AvatarHooks& a = avatar_hooks();
    a.balloon_create = balloon_create;
    a.balloon_set_text = balloon_set_text;
    a.balloon_place = balloon_place;
    a.balloon_destroy = balloon_destroy;
    a.console_print = console_print;
    a.gestures_rebuild = gesture_rebuild;
    a.menu_rebuild_avatars = menu_rebuild_avatars;
    a.menu_reset_avatars = menu_reset_avatars;
    // Names come from the network: the menu shows them as the console would.
    a.show_menu = [](int x, int y, const std::string& name, bool muted) {
        return ui().avatar_menu(x, y, console_text(name), muted);
    };
}

// Building: a right click in the view selects, movement and teleports end
// the selection, and the universe's citizen names fill the owner line.
void bind_pick_hooks() {
    viewport_hooks().pick_at = [](int x, int y) { pick_at(x, y); };
    self_hooks().building_selected = pick_selected;
    self_hooks().pick_off = pick_off;
    static void (*earlier)(uint32_t, int, const std::string&) = universe_hooks().citizen_name;
    universe_hooks().citizen_name = [](uint32_t number, int rc, const std::string& name) {
        pdialog_citizen_name(number, rc, name);
        if (earlier) earlier(number, rc, name);
    };
}

// Step 25: the start world, falling back to zk.
const char* enter_start_world() {
    std::string start = settings_get_string("start", "world");
    if (start.empty()) start = "zk";
    int rc = world_enter(start, 1);
    if (rc == 27) rc = world_enter("zk", 1);
    if (rc != 0) return load_message(146, start.c_str());
    return nullptr;
}

}  // namespace

std::string startup_command_line(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line.push_back(' ');
        line.append(argv[i]);
    }
    return line;
}

bool three_d_ready() { return g_three_d_ready; }

int zelnik_main(int argc, char** argv) {
    return zelnik_run(os_executable_directory(), startup_command_line(argc, argv));
}

void startup_bind_hooks() {
    tasks_bind(task_list());
    TaskHooks& tasks = task_hooks();
    tasks.splitter_dragging = [] { return slider_update() || vslider_update(); };
    tasks.activated = mouse_activate;
    tasks.deactivated = mouse_deactivate;

    net_set_byte_counter(bps_count);
    http_set_byte_counter(bps_count);

    telegram_set_menu_port(menu_set_enabled);
    LoginPorts& login = login_ports();
    login.identity_changed = [](bool citizen) {
        menu_identity_changed(citizen);
        chat_name_changed();  // the own balloon shows the new name
    };
    login.splash_message = about_set_message;
    login.splash_waiting = about_set_waiting;
    login.splash_wait = about_wait;
    login.splash_hide = about_hide_dialog;
    login.splash_hide_cancel = about_hide_cancel;
    login.build_check = build_check;

    // Objects act: their create clauses as they are made, a click in the
    // view, a bump, an animation that ends.
    object_hooks().action_check = behavior_action_check;
    object_hooks().action_create = behavior_action_create;
    collision_hooks().bump = behavior_bump;
    animation_hooks().adone = behavior_adone;
    viewport_hooks().click = view_click;

    // Other users' avatars and the own figure.
    universe_hooks().whos_at = avatar_whos_at_reply;
    behavior_hooks().avatars = avatar_set_enabled;
    viewport_hooks().avatar_menu = avatar_menu;
    avatar_hooks().draw_own_figure = self_draw_model;
    // Figures moving in a still world are drawn too.
    camera_set_signature_extra(avatar_view_signature);
    self_hooks().own_avatar_type = avatar_own_type;
    self_hooks().avatar_types_shown = avatar_multiple_types;
    self_hooks().avatar_animations = avatar_animations;

    bind_pick_hooks();

    // Objects' sounds: the pre-scan fetches, a `sound` command replaces the
    // object's ambient source, and the object's end frees it.
    behavior_hooks().sound = [](object* o, const std::string& file, bool execute) {
        if (!execute) return sound_download(file);
        sound_destroy(object_sound(o));
        double x = 0, y = 0, z = 0;
        object_position(o, &x, &y, &z);
        object_set_sound(o, sound_create(file, static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)));
    };
    behavior_hooks().noise = [](const std::string& file, bool execute) {
        if (execute) sound_effect(file);
        else sound_download(file);
    };
    object_hooks().sound_destroy = sound_destroy;

    WorldHooks& world = world_hooks();
    world.reset = world_reset;
    world.object_path = download_set_path;
    world.refresh_minutes = download_set_refresh;
    world.ground = ground_set;
    world.backdrop = backdrop_set;
    // The web pane: its commands, addresses from objects, and the world's
    // home page (never in the external browser).
    menu_hooks().web = web_command;
    behavior_hooks().url = web_open;
    world.home_page = [](const std::string& address) { web_open(address, true); };
    // Pictures on objects, from the object path or from any address.
    picture_hooks().object_path = [] { return world_attribute(attr_object_path); };
    disk_hooks().property_directory = world_property_directory;
    behavior_hooks().picture = [](object* o, const std::string& address, int seconds, bool) {
        picture_create(o ? o->model : nullptr, address, seconds);
    };
    // The right to speak to the whole world also offers the special avatars.
    world.public_speaker = [](bool speaker) {
        avatar_set_public_speaker(speaker);
        menu_set_public_speaker(speaker);
    };
    bind_chat_hooks();

    // Teleports are remembered, Back and Forward walk them, and the
    // Teleport menu's dialogs and locations queue new ones.
    menu_hooks().teleport = teleport_command;
    menu_hooks().location = teleport_location_command;
    behavior_hooks().history_push = history_push;
    world.history_push = history_push;
    world.history_back = history_back;
    universe_hooks().world_list = teleport_world_list;
}

int zelnik_run(const std::string& directory, const std::string& command_line) {
    startup_bind_hooks();

    // 1. One browser per program directory: a second start hands its
    // command line to the first, which comes to the front.
    if (!directory.empty() && ui().instance_hand_over(directory, command_line)) return 0;

    // 2.
    tick_read();
    std::srand(tick_now());

    // 3.
    settings_set_directory(directory);
    make_directory(directory + "/cache");

    // 4.
    if (!settings_file_exists()) return terminate(load_message(15));
    ui().instance_listen(directory);

    // 5.
    log_init();

    // 6-7. Nothing to register; every Linux is a supported platform.
    trace("init_application");
    trace("os_init");

    // 8.
    trace("init_instance");
    if (!ui().main_window_create(product_name(),
                                 layout_initial_placement(ui().screen_width(), ui().screen_height())))
        return terminate(nullptr);
    g_window_created = true;

    // 9.
    if (!device_init()) return terminate(nullptr);

    // 10-12.
    if (int rc = resolve_init(); rc != 0) return terminate(load_message(18, rc));
    if (int rc = about_init(); rc != 0) return terminate(load_message(151, rc));
    universe_init();

    // 13.
    menu_init();
    teleport_load();
    cgi_register_window();
    check_for_new_upgrade();

    // 14.
    if (login_init() != 0) return terminate(nullptr);

    // 15-16.
    slider_init();
    vslider_init();
    if (int msg = perform_init(); msg != 0) return terminate(load_message(msg, product_name()));

    // 17-18.
    if (!database_init()) return terminate(load_message(82));
    if (!download_init()) return terminate(load_message(104));
    if (!ui().toolbar_create(settings_get_int("show", "toolbar") == 1)) return terminate(load_message(104));

    // 19.
    if (const char* failure = init_three_d()) return terminate(failure);

    // 20.
    if (!font_init()) return terminate(load_message(14));
    if (!viewport_init()) return terminate(nullptr);
    status_init();
    web_init();

    // 21.
    if (!model_init()) return terminate(load_message(11));
    bind_object_hooks(true);
    if (int rc = avatar_init(); rc != 0) return terminate(load_message(13, rc));
    if (!cell_init()) return terminate(load_message(16));
    if (!world_init()) return terminate(load_message(102));
    pick_init();
    if (!focus_init()) return terminate(load_message(21));
    if (!chat_init()) return terminate(load_message(23));
    if (!colors_init()) return terminate(load_message(30));
    if (!console_init()) return terminate(load_message(124));

    // 22.
    proxy_init();
    if (http_init() != 0) return terminate("Unable to access Internet");

    // 23.
    ui().main_window_show(layout_start_maximized());

    // 24.
    sndoptions_init();
    dloptions_init();
    sound_init();
    self_init();
    bind_self_hooks();
    balloon_init();
    mouse_init();
    bind_mouse_hooks();
    prop_init();
    bps_init();
    frame_init();
    sign_init();
    disk_init();
    gesture_init();
    visible_init();
    advanced_init();
    picture_init();
    telegram_init();
    pdialog_init();
    options_register();
    url_init(settings_get_string("browser", "name"));
    cgi_init(command_line);
    about_hide();

    // 25.
    if (const char* failure = enter_start_world()) return terminate(failure);

    // 26.
    cgi_update();
    ui().run_loop();

    // 27.
    mouse_deactivate();
    return terminate(nullptr);
}

int terminate(const char* message) {
    trace("terminate");
    avatar_term();
    visible_term();
    ground_release();
    picture_reset();
    model_term();
    texture_term();
    bind_object_hooks(false);
    sound_term();
    prop_term();
    universe_term();
    http_term();
    file_term();
    menu_term();
    teleport_term();
    cgi_term();
    resolve_term();
    cell_term();
    chunk_term();
    download_term();
    world_term();
    web_term();
    image_term();
    url_term();
    console_term();
    if (message) {
        tasks_set_fatal_box(true);
        ui().stop_box(load_message(7), message);
        tasks_set_fatal_box(false);
    }
    pick_term();
    scene_term();
    backdrop_clear();
    camera_term();
    render_close();
    g_three_d_ready = false;
    if (g_window_created) {
        ui().main_window_destroy();
        g_window_created = false;
    }
    return 0;
}

int world_reset() {
    trace("world_reset");
    visible_reset();
    frame_clear_counters();
    pick_drop_selection();
    ground_release();
    avatar_drop_all();
    self_release_model();
    model_empty_cache();
    download_reset();
    picture_reset();
    image_reset();
    texture_reset();
    avatar_reload_list();
    chunk_reset();
    avatar_set_own_type(world_avatar());
    gesture_rebuild();
    self_create_model();
    backdrop_clear();
    sound_reset();
    collision_recompute();
    return cell_reset();
}

}  // namespace zk
