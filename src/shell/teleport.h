// Teleport history (Back and Forward), the Teleport dialog, and the
// remembered locations kept in teleport.txt beside the program and shown at
// the end of the Teleport menu.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialogs.h"

namespace zk {

// --- History -----------------------------------------------------------------

// The oldest place is dropped beyond this many.
constexpr size_t kHistoryLimit = 256;

struct TeleportNode {
    std::string world;
    double x = 0, y = 0, z = 0;
    float yaw = 0;
    bool third_person = false;
    bool flying = false;
};

// Records the present place in the current node and makes a new current node
// for the current world; drops every forward node. Back is enabled when there
// was a current node, Forward disabled.
void history_push();
// Steps back (forward) when there is a place there: enters its world, puts
// the user at its position, heading, view and movement mode. True when it
// stepped and the world could be entered.
bool history_back();
bool history_forward();
const std::vector<TeleportNode>& history_nodes();
size_t history_current();

// --- Remembered locations --------------------------------------------------------

constexpr size_t kLocationLineMax = 255;  // characters of a line of teleport.txt
constexpr size_t kLocationsMax = 1000;
constexpr size_t kLocationFileMax = 1 << 20;  // bytes read of teleport.txt
constexpr int kCommandLocationBase = 2000;

struct LocationEntry {
    std::string name;
    std::string location;  // "<world> <z>N|S <x>W|E <y>a <heading>", never a colon
};

// What reading a file left out.
struct LocationSkips {
    size_t too_long = 0, control = 0, unreadable = 0, over_limit = 0;
    bool cut = false;  // the file went on beyond kLocationFileMax
    size_t total() const { return too_long + control + unreadable + over_limit; }
};

// "%s %.1f%c %.1f%c %.1fa %.0f": the world, |z| N or S, |x| W or E, the
// altitude, the heading (360 added when it is below zero).
std::string teleport_location_text(const std::string& world, float x, float y, float z, float yaw);
// The user's present place.
std::string teleport_location_here();

// Lines "location:name", split at the first colon; lines too long, with
// control bytes or without a colon, and lines beyond kLocationsMax, are
// skipped and counted.
std::vector<LocationEntry> teleport_parse(std::string_view text, LocationSkips* skips);
std::string teleport_format(const std::vector<LocationEntry>& entries);
// The names in menu order (ascending, ignoring case); the k-th is command
// 2000 + k.
std::vector<size_t> teleport_menu_order(const std::vector<LocationEntry>& entries);

// Start-up: reads teleport.txt, fills the menu, disables Back and Forward.
void teleport_load();
void teleport_term();
const std::vector<LocationEntry>& teleport_locations();
// Writes the list as teleport.txt; on success it becomes the list and the
// menu's items. On failure nothing changes and the user is told.
bool teleport_store(const std::vector<LocationEntry>& entries);
// Remembers the present place under `name` (cut at its first line break and
// to fit a line); false for an empty name or a failed write.
bool teleport_remember(const std::string& name);

// Menu commands 106, 107, 128, 144, 145, and 2000 + k (queues the teleport;
// false for a number that names no location).
void teleport_command(int command);
bool teleport_location_command(int command);

// --- The universe's world list -----------------------------------------------------

constexpr uint32_t kWorldListFresh = 600000;  // ms
constexpr size_t kWorldListMax = 4096;
// Length-prefixed names; empty names and names with control bytes are left
// out, a cut name ends the list.
std::vector<std::string> teleport_parse_worlds(const uint8_t* bytes, size_t length);
// The universe's reply (UniverseHooks::world_list).
void teleport_world_list(const uint8_t* bytes, size_t length);

// --- Dialog logic ------------------------------------------------------------

class TeleportDialog : public TeleportController {
public:
    TeleportWorlds initial() override;
    TeleportWorlds poll() override;
    void ok(const std::string& world, const std::string& coordinates) override;

private:
    unsigned seen_ = 0;
};

class RememberDialog : public RememberController {
public:
    int name_limit() override;
    bool ok(const std::string& name) override;
};

class LocationsDialog : public LocationsController {
public:
    LocationsDialog();  // a copy of the list, in menu order
    std::vector<std::string> names() override;
    std::string rename(int index, const std::string& name) override;
    void remove(int index) override;
    bool ok() override;

private:
    std::vector<LocationEntry> copy_;
};

}  // namespace zk
