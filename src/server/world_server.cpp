#include "server/world_server.h"

#include <cmath>
#include <ctime>

#include "common/bytes.h"
#include "common/text.h"

namespace zk::server {

namespace {

void put_object(std::string& s, const WorldObject& o) {
    s.push_back(2);
    s.push_back(static_cast<char>(o.number));
    append_be32(s, o.owner);
    append_be32(s, o.built);
    append_be16(s, o.x);
    append_be16(s, o.y);
    append_be16(s, o.z);
    append_be16(s, o.yaw);
    s.push_back(static_cast<char>(o.model.size()));
    s.push_back(static_cast<char>(o.description.size()));
    s.push_back(static_cast<char>(o.action.size()));
    s += o.model;
    s += o.description;
    s += o.action;
}

bool contains_word(const std::string& text, const char* word) {
    return lower_case(text).find(word) != std::string::npos;
}

}  // namespace

std::string world_attribute_default(int id) {
    switch (id) {
    case 0: return "Tessaly";
    case 5: return "480";
    case 11: return "0";
    case 12: return "0";
    case 13: return "178";
    case 15: return "0";
    case 16: return "zk";
    case 21: return "0";
    default: return "";
    }
}

bool rights_allow(const std::string& list, uint32_t citizen, bool tourists) {
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && (list[i] == ',' || list[i] == ' ')) ++i;
        size_t j = i;
        while (j < list.size() && list[j] != ',' && list[j] != ' ') ++j;
        std::string item = list.substr(i, j - i);
        if (item == "*" && (citizen != 0 || tourists)) return true;
        if (!item.empty() && citizen != 0 && item.find_first_not_of("0123456789") == std::string::npos &&
            item.size() < 11 && std::stoul(item) == citizen)
            return true;
        i = j;
    }
    return false;
}

WorldServer::WorldServer(WorldStore& store, WorldConfig config)
    : Service("world " + config.name, "world " + config.name), store_(store), config_(std::move(config)) {}

std::string WorldServer::attribute(int id) {
    auto all = store_.attributes();
    auto it = all.find(id);
    return it != all.end() ? it->second : world_attribute_default(id);
}

long WorldServer::request_length(const std::string& in) const {
    const auto* p = reinterpret_cast<const uint8_t*>(in.data());
    switch (p[0]) {
    case 0:
        if (in.size() < 27) return 0;
        return 27L + p[24] + p[25] + p[26];
    case 2: return 16;
    case 3: return 48;
    case 5: return 8;
    case 6: return 0;  // runs to the end of the message: see on_tick
    case 7:
        if (in.size() < 35) return 0;
        return 35L + p[32] + p[33] + p[34];
    default: return -1;
    }
}

void WorldServer::on_data(Client& c) {
    last_bytes_[c.id] = now();
    while (c.fd >= 0 && !c.in.empty()) {
        const uint8_t type = static_cast<uint8_t>(c.in[0]);
        if (type == 6) {
            // Finished by on_tick once the sender has gone quiet.
            if (c.in.size() > 8 + kMaxAttributeList) close_client(c, "attribute list too long");
            return;
        }
        long need = request_length(c.in);
        if (need < 0) {
            close_client(c, "unknown request");
            return;
        }
        if (need == 0 || c.in.size() < static_cast<size_t>(need)) return;
        handle(c, reinterpret_cast<const uint8_t*>(c.in.data()), static_cast<size_t>(need));
        if (c.fd >= 0) c.in.erase(0, static_cast<size_t>(need));
    }
}

void WorldServer::on_tick(Client& c, int64_t now) {
    if (c.in.empty() || static_cast<uint8_t>(c.in[0]) != 6 || c.in.size() < 8) return;
    auto it = last_bytes_.find(c.id);
    if (it == last_bytes_.end() || now - it->second < kListQuietMs) return;
    // The message is what arrived before the sender went quiet; it must
    // consist of whole entries.
    const auto* p = reinterpret_cast<const uint8_t*>(c.in.data());
    size_t at = 8;
    while (at + 2 <= c.in.size() && at + 2 + p[at + 1] <= c.in.size()) at += 2 + p[at + 1];
    if (at != c.in.size()) {
        close_client(c, "attribute list cut short");
        return;
    }
    std::string message = std::move(c.in);
    c.in.clear();
    handle(c, reinterpret_cast<const uint8_t*>(message.data()), message.size());
}

void WorldServer::on_close(Client& c) {
    last_bytes_.erase(c.id);
    citizens_.erase(c.id);
}

std::string WorldServer::open_avatar_channel(const std::string& address) {
    std::string e = avatars_.open(address, port());
    if (!e.empty()) return e;
    watch(avatars_.fd());
    // Only a browser that talks to this world gets in, so spoofed senders
    // cannot fill the table; a public speaker is one by the world's rights.
    avatars_.set_admit([this](uint32_t address) {
        bool found = false;
        each_client([&](Client& c) { found = found || c.peer_address == address; });
        return found;
    });
    avatars_.set_speaker([this](uint32_t address) {
        bool speaker = false;
        const std::string list = attribute(attr_public_speakers);
        each_client([&](Client& c) {
            auto it = citizens_.find(c.id);
            if (speaker || c.peer_address != address || it == citizens_.end()) return;
            speaker = is_owner(it->second) || rights_allow(list, it->second);
        });
        return speaker;
    });
    return {};
}

void WorldServer::reply_status(Client& c, uint8_t status) {
    std::string r;
    append_be16(r, 1);
    r.push_back(static_cast<char>(status));
    send(c, r);
}

void WorldServer::reply_body(Client& c, const std::string& body) {
    std::string r;
    append_be16(r, static_cast<uint16_t>(body.size()));
    send(c, r + body);
}

void WorldServer::handle(Client& c, const uint8_t* m, size_t length) {
    const uint8_t type = m[0];
    // Every request carries the citizen number; where it sits depends on the type.
    uint32_t citizen = 0;
    switch (type) {
    case 0: citizen = load_be32(m + 8); break;
    case 2: citizen = load_be32(m + 12); break;
    case 3: citizen = load_be32(m + 44); break;
    case 5:
    case 6: citizen = load_be32(m + 4); break;
    case 7: citizen = load_be32(m + 8); break;
    }
    if (citizen != 0 && identity_ && !identity_(citizen, c.peer_address)) {
        log("request %d from %u: identity rejected", type, citizen);
        reply_status(c, identity_rejected);
        return;
    }
    citizens_[c.id] = citizen;
    switch (type) {
    case 3: query(c, m); return;
    case 5: get_attributes(c, citizen); return;
    case 6: set_attributes(c, citizen, m + 8, length - 8); return;
    }
    store_.begin();
    uint8_t status = type == 0 ? add(citizen, m) : type == 7 ? change(citizen, m) : remove(citizen, m);
    store_.commit();
    log("request %d from %u: %d", type, citizen, status);
    reply_status(c, status);
}

void WorldServer::query(Client& c, const uint8_t* m) {
    const int16_t sx = load_be16s(m + 4), sz = load_be16s(m + 6);
    std::string body;
    int sent = 0;
    for (int dz = -1; dz <= 1; ++dz) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int index = (dz + 1) * 3 + (dx + 1);
            const uint32_t held = load_be32(m + 8 + 4 * index);
            const int16_t x = static_cast<int16_t>(sx + dx), z = static_cast<int16_t>(sz + dz);
            const uint32_t current = store_.sector_version(x, z);
            if (held == current) continue;
            // A timestamp from the future belongs to an older database of
            // this world: send everything.
            const uint32_t since = held <= current ? held : 0;
            std::string part;
            for (const CellChanges& cell : store_.changes(x, z, since)) {
                part.push_back(0);
                append_be16(part, cell.x);
                append_be16(part, cell.z);
                for (const auto& o : cell.objects) put_object(part, o);
                for (uint8_t n : cell.gone) {
                    part.push_back(3);
                    part.push_back(static_cast<char>(n));
                }
                part.push_back(1);
            }
            part.push_back(4);
            append_be16(part, x);
            append_be16(part, z);
            append_be32(part, current);
            if (!body.empty() && body.size() + part.size() > kReplyTarget) continue;
            if (body.size() + part.size() > 65535) continue;
            body += part;
            ++sent;
        }
    }
    log("query %d,%d: %d sectors, %zu bytes", sx, sz, sent, body.size());
    reply_body(c, body);
}

void WorldServer::get_attributes(Client& c, uint32_t citizen) {
    const auto stored = store_.attributes();
    auto value = [&](int id) {
        auto it = stored.find(id);
        return it != stored.end() ? it->second : world_attribute_default(id);
    };
    if (!is_owner(citizen) && !rights_allow(value(attr_enter), citizen, true)) {
        log("attributes for %u: entry refused", citizen);
        reply_status(c, 1);
        return;
    }
    std::map<int, std::string> list(stored);
    if (!list.count(attr_object_path) && !config_.object_path.empty()) list[attr_object_path] = config_.object_path;
    const bool speaker = is_owner(citizen) || rights_allow(value(attr_public_speakers), citizen);
    const bool builder = is_owner(citizen) || rights_allow(value(attr_build), citizen);
    list[attr_may_change].assign(is_owner(citizen) ? 1 : 0, 'Y');
    list[attr_world_name] = config_.name;
    list[attr_public_speaker].assign(speaker ? 1 : 0, 'Y');
    list[attr_build_allowed].assign(1, builder ? '1' : '0');
    std::string body;
    for (const auto& [id, v] : list) {
        if (v.empty() && (id == attr_may_change || id == attr_public_speaker)) continue;
        body.push_back(static_cast<char>(id));
        body.push_back(static_cast<char>(v.size() > 255 ? 255 : v.size()));
        body.append(v, 0, 255);
    }
    log("attributes for %u: %zu bytes", citizen, body.size());
    reply_body(c, body);
}

void WorldServer::set_attributes(Client& c, uint32_t citizen, const uint8_t* list, size_t length) {
    if (!is_owner(citizen)) {
        log("attribute write by %u refused", citizen);
        reply_status(c, not_yours);
        return;
    }
    std::map<int, std::string> values;
    size_t at = 0;
    while (at + 2 <= length && at + 2 + list[at + 1] <= length) {
        int id = list[at];
        std::string v(reinterpret_cast<const char*>(list + at + 2), list[at + 1]);
        at += 2 + list[at + 1];
        // Computed per user, never stored; unknown numbers are dropped.
        if (id > 22 || id == attr_may_change || id == attr_world_name || id == attr_public_speaker ||
            id == attr_build_allowed)
            continue;
        values[id] = v;
    }
    // The cache epoch is the server's to change, not the editor's.
    auto stored = store_.attributes();
    if (stored.count(attr_cache_epoch)) values[attr_cache_epoch] = stored[attr_cache_epoch];
    const bool ok = store_.set_attributes(values);
    log("attribute write by %u: %s", citizen, ok ? "stored" : "failed");
    reply_status(c, ok ? 0 : silent);
}

uint8_t WorldServer::check_build(uint32_t citizen, int cx, int cz, const WorldObject& o, int32_t x, int32_t z) {
    const bool owner = is_owner(citizen);
    if (!owner && !rights_allow(attribute(attr_build), citizen)) return no_build_rights;
    if (std::abs(cx) > config_.radius_cells || std::abs(cz) > config_.radius_cells) return beyond_limits;
    if (!o.model.empty() && (o.model[0] == 'z' || o.model[0] == 'Z') && !owner &&
        !rights_allow(attribute(attr_special_objects), citizen))
        return z_objects;
    if ((contains_word(o.action, "teleport") || contains_word(o.action, "warp")) && !owner &&
        !rights_allow(attribute(attr_special_actions), citizen))
        return illegal_behavior;
    const double radius_m = std::atof(attribute(attr_restricted_radius).c_str());
    if (radius_m > 0 && !owner && !rights_allow(attribute(attr_eminent_domain), citizen)) {
        // Positions are thousandths of a 10-metre unit.
        const double mx = x / 100.0, mz = z / 100.0;
        if (std::sqrt(mx * mx + mz * mz) < radius_m) return restricted_radius;
    }
    return ok;
}

namespace {

// Reads x, y, z and the texts of an add or change request.
bool read_object(const uint8_t* xyz, const uint8_t* lengths, int16_t yaw, WorldObject& o, int32_t& x, int32_t& z,
                 int& cx, int& cz) {
    x = load_be32s(xyz);
    const int32_t y = load_be32s(xyz + 4);
    z = load_be32s(xyz + 8);
    if (y < -32768 || y > 32767) return false;
    cx = cell_of_milli(x);
    cz = cell_of_milli(z);
    if (cx < -32768 || cx > 32767 || cz < -32768 || cz > 32767) return false;
    o.x = static_cast<int16_t>(x - cx * 1000);
    o.y = static_cast<int16_t>(y);
    o.z = static_cast<int16_t>(z - cz * 1000);
    o.yaw = yaw;
    const uint8_t* text = lengths + 3;
    o.model.assign(reinterpret_cast<const char*>(text), lengths[0]);
    o.description.assign(reinterpret_cast<const char*>(text + lengths[0]), lengths[1]);
    o.action.assign(reinterpret_cast<const char*>(text + lengths[0] + lengths[1]), lengths[2]);
    o.built = static_cast<uint32_t>(time(nullptr));
    return true;
}

}  // namespace

uint8_t WorldServer::add(uint32_t citizen, const uint8_t* m) {
    WorldObject o;
    int32_t x, z;
    int cx, cz;
    if (!read_object(m + 12, m + 24, load_be16s(m + 2), o, x, z, cx, cz)) return beyond_limits;
    o.owner = citizen;
    if (uint8_t s = check_build(citizen, cx, cz, o, x, z)) return s;
    const auto c16x = static_cast<int16_t>(cx), c16z = static_cast<int16_t>(cz);
    if (store_.cell_bytes(c16x, c16z) + o.record_size() > kMaxCellBytes) return area_full;
    return store_.add(c16x, c16z, o) < 0 ? area_full : ok;
}

uint8_t WorldServer::change(uint32_t citizen, const uint8_t* m) {
    const uint8_t number = m[1];
    const int16_t old_cx = load_be16s(m + 28), old_cz = load_be16s(m + 30);
    auto old = store_.find(old_cx, old_cz, number);
    if (!old) return silent;
    // Tourists own nothing, whatever number an object carries.
    if (citizen == 0) return not_yours;
    const bool owner = is_owner(citizen);
    const bool eminent = owner || rights_allow(attribute(attr_eminent_domain), citizen);
    if (old->owner != citizen && !eminent) return not_yours;
    const uint32_t new_owner = load_be32(m + 12);
    if (new_owner != old->owner && !owner) return no_give_away;
    WorldObject o;
    int32_t x, z;
    int cx, cz;
    if (!read_object(m + 16, m + 32, load_be16s(m + 2), o, x, z, cx, cz)) return beyond_limits;
    o.owner = new_owner;
    if (uint8_t s = check_build(citizen, cx, cz, o, x, z)) return s;
    const auto c16x = static_cast<int16_t>(cx), c16z = static_cast<int16_t>(cz);
    const bool same_cell = c16x == old_cx && c16z == old_cz;
    const size_t others = store_.cell_bytes(c16x, c16z) - (same_cell ? old->record_size() : 0);
    if (others + o.record_size() > kMaxCellBytes) return area_full;
    if (!same_cell && store_.cell_count(c16x, c16z) >= 255) return area_full;
    store_.remove(old_cx, old_cz, number);
    return store_.add(c16x, c16z, o, same_cell ? number : -1) < 0 ? area_full : ok;
}

uint8_t WorldServer::remove(uint32_t citizen, const uint8_t* m) {
    const uint8_t number = m[1];
    const int16_t cx = load_be16s(m + 4), cz = load_be16s(m + 6);
    auto old = store_.find(cx, cz, number);
    if (!old) return silent;
    if (citizen == 0) return demolish_not_yours;
    if (old->owner != citizen && !is_owner(citizen) && !rights_allow(attribute(attr_eminent_domain), citizen))
        return demolish_not_yours;
    return store_.remove(cx, cz, number) ? ok : silent;
}

}  // namespace zk::server
