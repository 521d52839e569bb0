// World entry, the world's attributes, options and rights.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/dialogs.h"

namespace zk {

constexpr int kAttributeCount = 23;

enum WorldAttributeIndex {
    attr_title = 0, attr_backdrop = 1, attr_ground = 2, attr_object_path = 3, attr_refresh = 5,
    attr_build = 6, attr_eminent_domain = 7, attr_enter = 8, attr_special_actions = 9,
    attr_special_objects = 10, attr_red = 11, attr_green = 12, attr_blue = 13, attr_may_change = 14,
    attr_restricted_radius = 15, attr_world_name = 16, attr_public_speaker = 17, attr_public_speakers = 18,
    attr_cache_epoch = 19, attr_home_page = 20, attr_number_21 = 21, attr_object_password = 22,
};

bool world_init();
// 0 on success (also for the current world), 1 for a bad name, or the
// universe's error. `record` pushes the current place on the history.
int world_enter(const std::string& name, int record);
void world_term();

// The current world's name (empty before the first entry).
const std::string& world_name();
// The current world's server, as the universe's look-up answered it
// (network byte order): 0 while not looked up, all ones when the world
// cannot be contacted.
uint32_t world_server_address();
uint16_t world_server_port();
// The attributes of the current world are known (from the cache or the
// server); an attribute read is queued or in flight.
bool world_attributes_known();
bool world_attributes_pending();
// Asks the world server for its attributes again; the reply applies them.
void world_attributes_request();
// Called by the world-server connection when the address is all ones.
void world_unable_to_contact();
// Attribute `index` as a text (the stored value or its default).
std::string world_attribute(int index);
// The current world's property directory, which holds its cell cache.
std::string world_property_directory();
// Whether the world's cache epoch changed at this entry (the cell cache is
// then emptied when it is opened).
bool world_epoch_changed();
// The title as applied (window title and status).
const std::string& world_title();
bool world_public_speaker();

// The attribute set itself.
const std::string& attribute_default(int index);
// Sets a value; one equal to the default is not stored when none was.
void attribute_set(int index, const std::string& value);
bool attribute_stored(int index);
// A value as a number (0 when it is none).
int attribute_number(int index);
void attributes_clear();
// {index, length, bytes} entries of every stored value in index order,
// never 14, 16, 17 or 21.
std::string attributes_encode();
// Clears the stored values, then sets each entry; indices above 22 are
// ignored and a cut entry ends the list.
void attributes_decode(const uint8_t* list, size_t length);

// The avatar the user chose in the current world: 0 when none, and 0 for a
// number above 250 unless the user is a public speaker.
void world_set_avatar(int avatar);
int world_avatar();

// Without a teleport history (WorldHooks): the worlds the user came from,
// for going back after a refused entry.
void world_history_push(const std::string& name);
// Enters the previous world; false when there is none.
bool world_history_back();

// What a rights list shows to a user who may not change it.
std::string world_rights_summary(const std::string& list);

// The World Options window's logic.
class WorldOptionsDialog : public WorldOptionsController {
public:
    WorldOptionsDialog();  // queues the attribute read
    ~WorldOptionsDialog() override;
    std::string window_title() override;
    bool editable() override;
    bool ready() override;
    WorldOptionsFields fields() override;
    bool ok(const WorldOptionsFields& fields) override;
    // Whether OK sent an attribute write.
    bool sent() const { return sent_; }

private:
    bool sent_ = false;
};

// The World Options window (command 104).
void world_options();
constexpr int kCommandWorldOptions = 104;

// Hooks of modules that come later (the download layer's object path and
// refresh interval, the backdrop, the ground, the web pane's home page, the
// reset of every world-bound module).
struct WorldHooks {
    // Answers true when the art directory changed with the path.
    bool (*object_path)(const std::string& path) = nullptr;
    void (*refresh_minutes)(long minutes) = nullptr;
    void (*backdrop)(const std::string& name) = nullptr;
    void (*ground)(const std::string& name) = nullptr;
    void (*home_page)(const std::string& url) = nullptr;
    void (*public_speaker)(bool speaker) = nullptr;
    // Resets the world-bound modules before another world's caches are used.
    int (*reset)() = nullptr;
    // The teleport history: records the place being left (called once the
    // entry succeeded, with the new world current), and goes back after a
    // refused or failed entry (false when there is nowhere to go).
    void (*history_push)() = nullptr;
    bool (*history_back)() = nullptr;
};
WorldHooks& world_hooks();

}  // namespace zk
