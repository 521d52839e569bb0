// A world server: the neighbourhood query, building with rights checked,
// and the world's attributes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "server/avatar_channel.h"
#include "server/service.h"
#include "server/world_store.h"

namespace zk::server {

struct WorldConfig {
    std::string name = "zk";
    uint32_t owner = 0;        // citizen number of the world's owner (0: nobody)
    int radius_cells = 32000;  // nobody builds beyond this many cells from ground zero
    std::string object_path;   // answered while the owner has set none
};

// Attribute numbers the server computes for each user.
enum WorldAttribute {
    attr_title = 0, attr_backdrop = 1, attr_ground = 2, attr_object_path = 3, attr_build = 6, attr_eminent_domain = 7, attr_enter = 8,
    attr_special_actions = 9, attr_special_objects = 10, attr_may_change = 14, attr_restricted_radius = 15,
    attr_world_name = 16, attr_public_speaker = 17, attr_public_speakers = 18, attr_cache_epoch = 19,
    attr_build_allowed = 21, attr_object_password = 22,
};

// Whether `citizen` is named by a rights list: "*" names every citizen (and
// tourists too when `tourists` is set); otherwise citizen numbers separated
// by commas or blanks.
bool rights_allow(const std::string& list, uint32_t citizen, bool tourists = false);

class WorldServer : public Service {
public:
    WorldServer(WorldStore& store, WorldConfig config);

    // Whether a citizen number really belongs to the user at that address
    // (the universe knows); tourists (0) are always who they say.
    void set_identity_check(std::function<bool(uint32_t citizen, uint32_t address)> fn) {
        identity_ = std::move(fn);
    }

    const WorldConfig& config() const { return config_; }

    // The avatar channel on the world's port number (UDP), served by the
    // same loop; call after listen_on. An error text, empty on success.
    std::string open_avatar_channel(const std::string& address);
    AvatarChannel& avatars() { return avatars_; }

    // A query reply stops adding sectors beyond this size; the browser asks
    // again at once for a long reply, so the rest follows.
    static constexpr size_t kReplyTarget = 16384;
    // A cell's records stay below this so that a whole sector always fits in
    // one reply.
    static constexpr size_t kMaxCellBytes = 1200;
    static constexpr size_t kMaxAttributeList = 1016;
    static constexpr int64_t kListQuietMs = 100;

    // Result codes of building requests.
    enum Status : uint8_t {
        ok = 0, not_yours = 3, no_give_away = 11, identity_rejected = 12, silent = 101, demolish_not_yours = 102,
        area_full = 103, illegal_behavior = 109, no_build_rights = 110, beyond_limits = 111, z_objects = 113,
        restricted_radius = 114,
    };

protected:
    void on_data(Client& c) override;
    void on_tick(Client& c, int64_t now) override;
    void on_close(Client& c) override;
    void on_wake() override { avatars_.poll(now()); }

private:
    // Bytes the request at the front of `in` needs, 0 when not yet known,
    // -1 when the type is unknown.
    long request_length(const std::string& in) const;
    void handle(Client& c, const uint8_t* m, size_t length);
    void reply_status(Client& c, uint8_t status);
    void reply_body(Client& c, const std::string& body);
    void query(Client& c, const uint8_t* m);
    void get_attributes(Client& c, uint32_t citizen);
    void set_attributes(Client& c, uint32_t citizen, const uint8_t* list, size_t length);
    uint8_t add(uint32_t citizen, const uint8_t* m);
    uint8_t change(uint32_t citizen, const uint8_t* m);
    uint8_t remove(uint32_t citizen, const uint8_t* m);
    // 0 when `citizen` may put `object` in cell (cx, cz).
    uint8_t check_build(uint32_t citizen, int cx, int cz, const WorldObject& object, int32_t x, int32_t z);
    std::string attribute(int id);
    bool is_owner(uint32_t citizen) const { return citizen != 0 && citizen == config_.owner; }

    WorldStore& store_;
    WorldConfig config_;
    std::function<bool(uint32_t, uint32_t)> identity_;
    std::map<uint64_t, int64_t> last_bytes_;  // client id -> time of its last bytes
    std::map<uint64_t, uint32_t> citizens_;   // client id -> citizen its requests carried, as checked
    AvatarChannel avatars_;
};

// The built-in defaults of the attributes, as the browser has them.
std::string world_attribute_default(int id);

}  // namespace zk::server
