#include "shell/menu.h"

#include <algorithm>
#include <cstring>

#include "common/messages.h"
#include "core/log.h"
#include "core/settings.h"
#include "art/download.h"
#include "net/login.h"
#include "net/telegram.h"
#include "people/avatar.h"
#include "people/gesture.h"
#include "platform/ui.h"
#include "shell/bps.h"
#include "shell/help.h"
#include "upgrade/about.h"
#include "view/camera.h"
#include "view/frame.h"
#include "view/mouse.h"
#include "view/self.h"
#include "world/pdialog.h"
#include "world/pick.h"
#include "world/prop.h"
#include "world/visible.h"
#include "world/world.h"

namespace zk {

namespace {

constexpr int kFirstSpecialNumber = 251;
const char* const kSpecialNames[] = {"special1", "special2", "special3"};
constexpr int kAvatarPopupIndex = 6;
constexpr int kCitizenPopupIndex = 5;

struct State {
    std::vector<MenuPopup> bar;
    bool citizen = false;
    // The Avatar menu: the ordinary names as they came, the public-speaker
    // flag and the checked item.
    std::vector<std::string> names;
    bool public_speaker = false;
    int checked = 0;
};
State g;
MenuHooks g_hooks;

constexpr int f_key(int n) { return menu_key_f1 + n - 1; }
constexpr bool kCheckable = true;

MenuItem item(int command, const char* text, int key = menu_key_none, bool checkable = false) {
    MenuItem m;
    m.command = command;
    m.text = text;
    m.key = key;
    m.checkable = checkable;
    return m;
}

MenuItem separator() { return MenuItem{}; }

MenuItem* find_item(int command) {
    for (MenuPopup& p : g.bar)
        for (MenuItem& m : p.items)
            if (m.command == command) return &m;
    return nullptr;
}

void publish() {
    if (ui_present()) ui().menu_bar_set(g.bar);
}

int ordinary_count() { return static_cast<int>(g.names.size()); }
int avatar_total() { return ordinary_count() + (g.public_speaker ? 3 : 0); }

// The avatar number stored and sent for an item: specials are 251 and up.
int avatar_number(int index) {
    return index < ordinary_count() ? index : index - ordinary_count() + kFirstSpecialNumber;
}

// Outside text as a menu text: printable, and "&" shown as itself.
std::string printable(const std::string& name) {
    std::string text;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = '?';
        if (c == '&') text.push_back('&');
        text.push_back(c);
    }
    return text;
}

// An avatar's name from the server: the first letter in capitals.
std::string menu_text(const std::string& name) {
    std::string text = printable(name);
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

MenuPopup avatar_popup() {
    MenuPopup p;
    p.title = "&Avatar";
    const int column = ui_present() ? menu_column_length(ui().screen_height(), ui().menu_bar_height()) : 0;
    for (int i = 0; i < avatar_total(); ++i) {
        const std::string name = i < ordinary_count() ? g.names[i] : kSpecialNames[i - ordinary_count()];
        MenuItem m;
        m.command = kCommandAvatarFirst + i;
        m.text = menu_text(name);
        m.checkable = true;
        m.checked = i == g.checked;
        m.column_break = column > 0 && i > 0 && i % column == 0;
        p.items.push_back(std::move(m));
    }
    return p;
}

bool avatar_popup_shown() { return g.bar.size() > kAvatarPopupIndex && g.bar[kAvatarPopupIndex].title == "&Avatar"; }

// The checked item follows the stored avatar number of a citizen; a tourist
// has the first. The own avatar takes it at once, and its gestures with it.
// The caller publishes.
void rebuild_avatars() {
    int checked = g.citizen ? world_avatar() : 0;
    if (checked >= kFirstSpecialNumber)
        checked = g.public_speaker ? ordinary_count() + checked - kFirstSpecialNumber : -1;
    if (checked < 0 || checked >= avatar_total()) checked = 0;
    g.checked = checked;
    const int number = avatar_number(checked);
    if (number != avatar_own_type()) {
        avatar_set_own_type(number);
        gesture_rebuild();
    }
    if (avatar_popup_shown()) g.bar[kAvatarPopupIndex] = avatar_popup();
}

void choose_avatar(int index) {
    if (index == g.checked) return;
    menu_set_checked(kCommandAvatarFirst + g.checked, false);
    menu_set_checked(kCommandAvatarFirst + index, true);
    g.checked = index;
    const int number = avatar_number(index);
    world_set_avatar(number);
    // The own figure takes the new type on its next step.
    avatar_set_own_type(number);
    gesture_rebuild();
}

bool teleport_command(int command) {
    return command == kCommandTeleportForward || command == kCommandTeleportBack || command == kCommandTeleportTo ||
           command == kCommandTeleportRemember || command == kCommandTeleportEdit;
}

bool web_command(int command) {
    return command == kCommandShowWeb || (command >= kCommandWebBack && command <= kCommandWebWorlds);
}

void camera_checks() {
    menu_set_checked(kCommandFirstPerson, camera_view_mode() == 0);
    menu_set_checked(kCommandThirdPerson, camera_view_mode() == 1);
}

}  // namespace

MenuHooks& menu_hooks() { return g_hooks; }

void menu_init() {
    if (log_on(Trace::trace)) log_write("menu_init");
    g.bar = {
        {"&File", {item(kCommandExit, "E&xit")}},
        {"&Teleport",
         {item(kCommandTeleportBack, "&Back"), item(kCommandTeleportForward, "&Forward"), separator(),
          item(kCommandTeleportTo, "&To..."), separator(), item(kCommandTeleportRemember, "&Remember..."),
          item(kCommandTeleportEdit, "&Edit...")}},
        {"&View",
         {item(kCommandLookUp, "Look &Up\tPgUp"), item(kCommandLookDown, "Look &Down\tPgDn"),
          item(kCommandLookLevel, "Look &Level"), separator(),
          item(kCommandFirstPerson, "&First Person\tHome", menu_key_home, kCheckable),
          item(kCommandThirdPerson, "&Third Person\tEnd", menu_key_end, kCheckable)}},
        {"&Options", {item(kCommandSettings, "&Settings..."), item(kCommandWorldOptions, "&World...")}},
        {"&Show",
         {item(kCommandShowPosition, "&Position\tF11", f_key(11), kCheckable),
          item(kCommandShowAltitude, "&Altitude\tF5", f_key(5), kCheckable),
          item(kCommandShowVisibility, "&Visibility\tF2", f_key(2), kCheckable),
          item(kCommandShowFrameRate, "&Frame Rate\tF12", f_key(12), kCheckable),
          item(kCommandShowBandwidth, "&Bandwidth\tF4", f_key(4), kCheckable),
          item(kCommandShowCache, "&Cache Updates\tF6", f_key(6), kCheckable),
          item(kCommandShowDownloads, "&Downloads...\tF3", f_key(3), kCheckable),
          item(kCommandObjectProperties, "&Object Properties..."), separator(),
          item(kCommandShowToolbar, "&Toolbar", menu_key_none, kCheckable),
          item(kCommandShowWeb, "&Web", menu_key_none, kCheckable)}},
        {"&Citizen",
         {item(kCommandChangeUser, "&Change to..."), separator(), item(kCommandContactCitizen, "C&ontact Citizen..."),
          item(kCommandReadTelegram, "&Read Telegram")}},
        {"&Web",
         {item(kCommandWebBack, "&Back"), item(kCommandWebBack + 1, "&Forward"), item(kCommandWebBack + 2, "&Stop"),
          item(kCommandWebRefresh, "&Refresh"), separator(), item(kCommandWebOpen, "&Open..."),
          item(kCommandWebWorlds, "&Worlds")}},
        {"&Help", {item(kCommandHelp, "&Topics\tF1", f_key(1)), separator(), item(kCommandAbout, "&About...")}},
    };
    // Until the first login there is no one to change from, and until a
    // telegram waits there is nothing to read.
    find_item(kCommandChangeUser)->enabled = false;
    find_item(kCommandReadTelegram)->enabled = false;
    find_item(kCommandShowToolbar)->checked = settings_get_int("show", "toolbar") == 1;
    for (MenuPopup& p : g.bar)
        for (MenuItem& m : p.items) {
            if (teleport_command(m.command) && !g_hooks.teleport) m.enabled = false;
            if (web_command(m.command) && !g_hooks.web) m.enabled = false;
        }
    g.citizen = false;
    g.checked = 0;
    // The tourist's item until a login says otherwise.
    g.bar[kCitizenPopupIndex].items.push_back(item(kCommandImmigrate, "&Immigrate..."));
    publish();
}

void menu_term() {
    if (log_on(Trace::trace)) log_write("menu_term");
    g = State{};
}

const std::vector<MenuPopup>& menu_bar() { return g.bar; }

void menu_handle(int command) {
    if (log_on(Trace::trace)) log_write("menu_handle (%d)", command);
    if ((command >= kCommandObjectDelete && command <= kCommandObjectTurnRight) || command == kCommandUndoChanges) {
        pick_command(command);
        return;
    }
    if (teleport_command(command)) {
        if (g_hooks.teleport) g_hooks.teleport(command);
        return;
    }
    if (web_command(command)) {
        if (g_hooks.web) g_hooks.web(command);
        return;
    }
    switch (command) {
    case kCommandExit:
        if (ui_present()) ui().main_window_close();
        return;
    case kCommandAbout: about_show(0); return;
    case kCommandSettings:
        if (ui_present()) ui().settings_sheet();
        return;
    case kCommandWorldOptions: world_options(); return;
    case kCommandHelp: help_show(); return;
    case kCommandMouseMode:
        mouse_as_mover();
        pick_off();
        return;
    case kCommandShowPosition: self_toggle_position_display(); return;
    case kCommandShowVisibility: visible_toggle(); return;
    case kCommandShowFrameRate: fps_toggle_display(); return;
    case kCommandShowBandwidth: bps_toggle(); return;
    case kCommandShowDownloads: download_toggle(); return;
    case kCommandLookUp: camera_look_up(); return;
    case kCommandLookDown: camera_look_down(); return;
    case kCommandLookLevel: camera_look_level(); return;
    case kCommandFirstPerson:
        camera_track_ahead();
        camera_checks();
        return;
    case kCommandThirdPerson:
        camera_track_self(1);
        camera_checks();
        return;
    case kCommandShowToolbar:
        if (ui_present()) ui().toolbar_toggle();
        return;
    case kCommandShowAltitude: self_toggle_altitude_display(); return;
    case kCommandShowCache: prop_show_cache(); return;
    case kCommandObjectProperties: pdialog_toggle(); return;
    case kCommandChangeUser: login(); return;
    case kCommandChangeAttributes: immigrate(1); return;
    case kCommandImmigrate: immigrate(0); return;
    case kCommandContactCitizen: telegram_contact(); return;
    case kCommandReadTelegram: telegram_read(); return;
    default: break;
    }
    if (command >= kCommandLocationFirst && g_hooks.location && g_hooks.location(command)) return;
    if (command >= kCommandAvatarFirst && command < kCommandAvatarFirst + avatar_total())
        choose_avatar(command - kCommandAvatarFirst);
}

std::string menu_tooltip(int command) {
    // Command -> string of the tooltip.
    static const std::pair<int, int> kTips[] = {
        {106, 105}, {107, 106}, {108, 109}, {109, 110}, {110, 113}, {111, 114}, {112, 108}, {113, 107},
        {114, 111}, {115, 112}, {116, 115}, {117, 116}, {118, 117}, {124, 120}, {125, 121}, {131, 87},
        {126, 122}, {127, 123}, {134, 131}, {135, 132}, {136, 133}, {137, 134}, {139, 148}, {147, 143},
    };
    for (const auto& [c, message] : kTips)
        if (c == command) return load_message(message);
    if (command == kCommandContactCitizen) return "Send telegram";
    return "Unknown!";
}

const std::vector<int>& menu_toolbar_buttons() {
    static const std::vector<int> kButtons = {107, 106, 0, 124, 125, 131, 0, 126, 127, 0,
                                              118, 0,   146, 147, 0, 134, 135, 136, 137, 139};
    return kButtons;
}

void menu_identity_changed(bool citizen) {
    if (g.bar.size() <= kCitizenPopupIndex) return;
    menu_set_enabled(kCommandChangeUser, true);
    g.citizen = citizen;
    // The Avatar menu comes after the Citizen menu, so the latter's place
    // stays the same.
    if (!citizen && avatar_popup_shown()) g.bar.erase(g.bar.begin() + kAvatarPopupIndex);
    if (citizen && !avatar_popup_shown()) g.bar.insert(g.bar.begin() + kAvatarPopupIndex, MenuPopup{"&Avatar", {}});
    std::vector<MenuItem>& items = g.bar[kCitizenPopupIndex].items;
    std::erase_if(items, [](const MenuItem& m) {
        return m.command == kCommandChangeAttributes || m.command == kCommandImmigrate;
    });
    items.push_back(citizen ? item(kCommandChangeAttributes, "&Attributes...")
                            : item(kCommandImmigrate, "&Immigrate..."));
    // Another user: the avatar stored for the new one (none for a tourist).
    rebuild_avatars();
    publish();
}

void menu_set_enabled(int command, bool enabled) {
    if (MenuItem* m = find_item(command)) m->enabled = enabled;
    if (!ui_present()) return;
    ui().menu_enable(command, enabled);
    ui().toolbar_enable(command, enabled);
}

void menu_set_checked(int command, bool checked) {
    if (MenuItem* m = find_item(command)) m->checked = checked;
    if (ui_present()) ui().menu_check(command, checked);
}

void menu_rebuild_avatars(int count, const char* names) {
    menu_rebuild_avatars(count, names, kMenuAvatarNamesMax);
}

void menu_rebuild_avatars(int count, const char* names, size_t size) {
    g.names.clear();
    const int wanted = std::clamp(count, 0, kMenuAvatarsMax);
    size_t at = 0;
    while (names && static_cast<int>(g.names.size()) < wanted && at < size) {
        const void* end = std::memchr(names + at, 0, size - at);
        // A name that runs off the end of the list is no name.
        if (!end) break;
        const size_t length = static_cast<size_t>(static_cast<const char*>(end) - (names + at));
        g.names.emplace_back(names + at, length);
        at += length + 1;
    }
    rebuild_avatars();
    if (avatar_popup_shown()) publish();
}

void menu_set_public_speaker(bool speaker) {
    if (speaker == g.public_speaker) return;
    g.public_speaker = speaker;
    rebuild_avatars();
    if (avatar_popup_shown()) publish();
}

void menu_reset_avatars() {
    g.names.clear();
    g.checked = 0;
    if (avatar_popup_shown()) {
        g.bar[kAvatarPopupIndex].items.clear();
        publish();
    }
}

int menu_avatar_checked() { return g.checked; }

void menu_set_locations(const std::vector<std::string>& names) {
    if (g.bar.size() <= 1) return;
    std::vector<MenuItem>& items = g.bar[1].items;
    while (!items.empty() && (items.back().command >= kCommandLocationFirst || items.back().command == 0))
        items.pop_back();
    if (!names.empty()) items.push_back(separator());
    for (size_t k = 0; k < names.size(); ++k)
        items.push_back(item(kCommandLocationFirst + static_cast<int>(k), printable(names[k]).c_str()));
    publish();
}

int menu_column_length(int screen_height, int menu_bar_height) {
    if (menu_bar_height < 0) return 0;
    const int length = screen_height / (menu_bar_height + 1) - 1;
    return length > 0 ? length : 0;
}

}  // namespace zk
