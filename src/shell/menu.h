// Menus and commands: every user command arrives as a number, from the menu
// bar, an accelerator key, the toolbar or a dynamic item (avatars,
// remembered locations), and menu_handle routes it to the module that owns
// it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "net/telegram.h"  // kCommandReadTelegram
#include "platform/ui.h"
#include "world/world.h"  // kCommandWorldOptions

namespace zk {

enum MenuCommand : int {
    kCommandExit = 101,
    kCommandAbout = 102,
    kCommandSettings = 103,
    kCommandHelp = 105,
    kCommandTeleportForward = 106,
    kCommandTeleportBack = 107,
    kCommandObjectDelete = 108,   // 108-117 and 140: building
    kCommandObjectTurnRight = 117,
    kCommandMouseMode = 118,
    kCommandShowPosition = 119,
    kCommandShowVisibility = 120,
    kCommandShowFrameRate = 121,
    kCommandShowBandwidth = 122,
    kCommandShowDownloads = 123,
    kCommandLookUp = 124,
    kCommandLookDown = 125,
    kCommandFirstPerson = 126,
    kCommandThirdPerson = 127,
    kCommandTeleportTo = 128,
    kCommandShowToolbar = 129,
    kCommandShowWeb = 130,
    kCommandLookLevel = 131,
    kCommandShowAltitude = 132,
    kCommandShowCache = 133,
    kCommandWebBack = 134,  // 134-137: Back, Forward, Stop, Refresh
    kCommandWebRefresh = 137,
    kCommandWebOpen = 138,
    kCommandWebWorlds = 139,
    kCommandUndoChanges = 140,
    kCommandChangeUser = 141,
    kCommandChangeAttributes = 142,
    kCommandImmigrate = 143,
    kCommandTeleportRemember = 144,
    kCommandTeleportEdit = 145,
    kCommandContactCitizen = 146,
    kCommandObjectProperties = 148,  // the building window, beside the other tool windows
    kCommandAvatarFirst = 1000,    // + avatar index
    kCommandLocationFirst = 2000,  // + remembered location
};

// Commands owned by modules that come later (teleport history and
// remembered locations, the web pane). Unset, their items are disabled.
struct MenuHooks {
    // Teleport forward, back, To..., Remember..., Edit....
    void (*teleport)(int command) = nullptr;
    // A command from 2000 up: true when it named a remembered location.
    bool (*location)(int command) = nullptr;
    // Show Web, web navigation, Open..., Worlds.
    void (*web)(int command) = nullptr;
};
MenuHooks& menu_hooks();

// Builds the menu bar for a tourist before the first login (Change to...
// disabled until then) and shows it.
void menu_init();
void menu_term();
// The menu bar as it stands.
const std::vector<MenuPopup>& menu_bar();
// Routes a command; traced as "menu_handle (%d)".
void menu_handle(int command);
// A command's toolbar tooltip, "Unknown!" for any other number.
std::string menu_tooltip(int command);
// The toolbar's buttons in order, 0 for a gap.
const std::vector<int>& menu_toolbar_buttons();

// After each login: a tourist gets "&Immigrate..." and no Avatar menu, a
// citizen the Avatar menu after "&Citizen" and "&Attributes...".
void menu_identity_changed(bool citizen);
// Enables or disables, checks or unchecks a command's menu item and toolbar
// button.
void menu_set_enabled(int command, bool enabled);
void menu_set_checked(int command, bool checked);

// The Avatar menu: `names` holds `count` names back to back, each ending in
// a zero byte. The names come from a server's file: at most
// kMenuAvatarsMax of them are taken, none is read past `size` bytes (the
// avatar module's kMenuAvatarNamesMax without it), and a name without its
// zero byte there ends the list.
constexpr int kMenuAvatarsMax = 256;
constexpr size_t kMenuAvatarNamesMax = 256;
void menu_rebuild_avatars(int count, const char* names);
void menu_rebuild_avatars(int count, const char* names, size_t size);
void menu_set_public_speaker(bool speaker);
void menu_reset_avatars();
// The checked avatar item's index.
int menu_avatar_checked();
// The remembered locations at the end of the Teleport menu, as commands
// 2000 + k.
void menu_set_locations(const std::vector<std::string>& names);

// Items per column of a menu on a screen `screen_height` high: a column
// break goes before every item whose index is a non-zero multiple of it.
int menu_column_length(int screen_height, int menu_bar_height);

}  // namespace zk
