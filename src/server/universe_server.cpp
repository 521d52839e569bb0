#include "server/universe_server.h"

#include "common/bytes.h"
#include "common/fields.h"
#include "common/text.h"
#include "server/password.h"
#include "server/validate.h"

namespace zk::server {

namespace {

constexpr uint8_t kNoCitizen = 3;
constexpr uint8_t kWrongPassword = 13;
constexpr uint8_t kNoWorld = 27;

// Little helpers to build payloads of message fields.
struct Payload {
    std::string bytes;
    Payload& byte(uint8_t v) {
        bytes.push_back(static_cast<char>(v));
        return *this;
    }
    Payload& u16(uint16_t v) {
        append_be16(bytes, v);
        return *this;
    }
    Payload& u32(uint32_t v) {
        append_be32(bytes, v);
        return *this;
    }
    Payload& str(const std::string& s) {
        size_t n = s.size() > 255 ? 255 : s.size();
        byte(static_cast<uint8_t>(n));
        bytes.append(s, 0, n);
        return *this;
    }
    Payload& raw(const uint8_t* p, size_t n) {
        bytes.append(reinterpret_cast<const char*>(p), n);
        return *this;
    }
};

}  // namespace

UniverseServer::UniverseServer(Citizens& citizens, UniverseConfig config)
    : Service("universe", "universe"),
      citizens_(citizens),
      config_(config),
      hashing_(config.hash_threads, config.max_queued_hashes) {
    watch(hashing_.wake_fd());
}

void UniverseServer::add_world(const std::string& name, uint32_t address, uint16_t port) {
    worlds_.push_back({name, address, port});
}

const UniverseServer::World* UniverseServer::find_world(const std::string& name) const {
    for (const auto& w : worlds_)
        if (equal_ignoring_case(w.name, name)) return &w;
    return nullptr;
}

void UniverseServer::on_close(Client& c) { sessions_.erase(c.id); }

bool UniverseServer::logged_in(uint32_t citizen, uint32_t address) {
    bool found = false;
    each_client([&](Client& c) {
        auto s = sessions_.find(c.id);
        if (s != sessions_.end() && s->second.citizen == citizen && c.peer_address == address) found = true;
    });
    return found;
}

std::optional<std::string> UniverseServer::name_at(uint32_t address) {
    std::optional<std::string> name;
    each_client([&](Client& c) {
        auto s = sessions_.find(c.id);
        if (s != sessions_.end() && s->second.citizen != 0 && c.peer_address == address) name = s->second.name;
    });
    return name;
}

void UniverseServer::reply(Client& c, uint8_t code, uint8_t rc, const std::string& payload) {
    Payload frame;
    frame.u16(static_cast<uint16_t>(2 + payload.size())).byte(rc).byte(code);
    frame.bytes += payload;
    send(c, frame.bytes);
}

void UniverseServer::on_data(Client& c) {
    size_t at = 0;
    // A request waiting for its hash holds back those after it, so that
    // replies keep the order of the requests.
    while (c.fd >= 0 && !c.waiting && !c.closing && c.in.size() - at >= 2) {
        const auto* p = reinterpret_cast<const uint8_t*>(c.in.data()) + at;
        size_t length = load_be16(p);
        if (length < 1 || length > kMaxFrame) {
            close_client(c, "bad frame length");
            return;
        }
        if (c.in.size() - at - 2 < length) break;  // wait for the rest
        if (!handle(c, p[2], p + 3, length - 1)) {
            close_client(c, "malformed request");
            return;
        }
        at += 2 + length;
    }
    if (c.fd >= 0) c.in.erase(0, at);
}

bool UniverseServer::take_hash(uint32_t address) {
    const int64_t t = now();
    if (limits_.size() >= 4096) {
        // Forget addresses whose allowance is whole again.
        std::erase_if(limits_, [&](const auto& e) {
            const AddressLimit& a = e.second;
            return a.in_flight == 0 &&
                   (a.tokens >= config_.login_burst ||
                    (config_.login_refill_ms > 0 &&
                     (t - a.refilled_ms) / config_.login_refill_ms >= config_.login_burst - a.tokens));
        });
    }
    auto [it, fresh] = limits_.try_emplace(address);
    AddressLimit& a = it->second;
    if (fresh || a.tokens >= config_.login_burst) {
        if (fresh) a.tokens = config_.login_burst;
        a.refilled_ms = t;
    } else if (config_.login_refill_ms > 0 && t > a.refilled_ms) {
        const int64_t gained = (t - a.refilled_ms) / config_.login_refill_ms;
        if (gained >= config_.login_burst - a.tokens) {
            a.tokens = config_.login_burst;
            a.refilled_ms = t;
        } else {
            a.tokens += static_cast<int>(gained);
            a.refilled_ms += gained * config_.login_refill_ms;
        }
    }
    if (a.tokens < 1 || a.in_flight >= config_.hashes_in_flight_per_address) return false;
    --a.tokens;
    ++a.in_flight;
    return true;
}

void UniverseServer::refuse(Client& c, uint8_t code) {
    Session& session = sessions_[c.id];
    log("request for reply %d from %s refused: too many logins", code, address_text(c.peer_address).c_str());
    reply(c, code, kTryLater);
    if (++session.refused > kMaxRefusals) {
        log("connection %llu: refused too often", static_cast<unsigned long long>(c.id));
        c.closing = true;
    }
}

void UniverseServer::off_loop(Client& c, uint8_t code, std::function<Then()> work) {
    const uint32_t address = c.peer_address;
    if (!take_hash(address)) {
        refuse(c, code);
        return;
    }
    const uint64_t id = c.id;
    // The job only carries `this` over to its result, which runs on the loop.
    const bool queued = hashing_.submit([this, id, address, work = std::move(work)]() -> std::function<void()> {
        Then then = work();
        return [this, id, address, then = std::move(then)] {
            if (auto it = limits_.find(address); it != limits_.end()) --it->second.in_flight;
            Client* c = find_client(id);
            if (!c) return;  // gone meanwhile: nothing to answer or store
            c->waiting = false;
            then(*c);
            if (c->fd >= 0 && !c->in.empty()) on_data(*c);
        };
    });
    if (!queued) {
        AddressLimit& a = limits_[address];
        --a.in_flight;
        ++a.tokens;  // the server was busy, not this address
        refuse(c, code);
        return;
    }
    c.waiting = true;
}

void UniverseServer::authenticate(Client& c, uint8_t code, const Citizen& who, const std::string& password,
                                  std::function<void(Client&, int, const Citizen&)> then) {
    off_loop(c, code, [this, number = who.number, stored = who.password_hash, password, then = std::move(then)] {
        const bool ok = password_verify(password, stored);
        return Then([this, ok, number, stored, then](Client& c) {
            auto now = citizens_.by_number(number);
            if (!now) return then(c, kNoCitizen, Citizen{});
            // A password changed meanwhile was not the one checked.
            if (!ok || now->password_hash != stored) return then(c, kWrongPassword, *now);
            then(c, 0, *now);
        });
    });
}

void UniverseServer::notify_telegram(uint32_t citizen) {
    each_client([&](Client& other) {
        auto s = sessions_.find(other.id);
        if (s != sessions_.end() && s->second.citizen == citizen) reply(other, 9, 0);
    });
}

bool UniverseServer::handle(Client& c, uint8_t code, const uint8_t* payload, size_t length) {
    FieldReader r(payload, length);
    Session& session = sessions_[c.id];
    counts_[code].fetch_add(1);
    switch (code) {
    case 24: {  // world look-up
        std::string name = r.get_string();
        if (!r.ok()) return false;
        const World* w = find_world(name);
        log("lookup %s: %s", name.c_str(), w ? "found" : "not running");
        if (!w) {
            reply(c, 0, kNoWorld);
            break;
        }
        reply(c, 0, 0, Payload().u32(w->address).u16(w->port).bytes);
        break;
    }
    case 25: {  // immigration
        std::string name = r.get_string(), password = r.get_string();
        r.get_byte();
        std::string email = r.get_string();
        if (!r.ok()) return false;
        int rc = validate_name(name);
        if (!rc) rc = validate_password(password);
        if (!rc) rc = validate_email(email);
        if (!rc && citizens_.by_name(name)) rc = kNameInUse;
        if (rc) {
            log("immigrate %s: %d", name.c_str(), rc);
            reply(c, 1, static_cast<uint8_t>(rc));
            break;
        }
        off_loop(c, 1, [this, name, password, email, iterations = config_.hash_iterations] {
            std::string hash = password_hash(password, iterations);
            return Then([this, name, email, hash](Client& c) {
                const int rc = citizens_.add_hashed(name, hash, email) ? 0 : kNameInUse;
                log("immigrate %s: %d", name.c_str(), rc);
                reply(c, 1, static_cast<uint8_t>(rc));
            });
        });
        break;
    }
    case 26: {  // change attributes
        std::string name = r.get_string(), password = r.get_string();
        r.get_byte();
        std::string new_name = r.get_string();
        r.get_byte();
        std::string new_password = r.get_string();
        r.get_byte();
        std::string email = r.get_string();
        if (!r.ok()) return false;
        auto who = citizens_.by_name(name);
        if (!who) {
            log("attributes %s: %d", name.c_str(), kNoCitizen);
            reply(c, 2, kNoCitizen);
            break;
        }
        int invalid = validate_name(new_name);
        if (!invalid) invalid = validate_password(new_password);
        if (!invalid) invalid = validate_email(email);
        // The old password is checked first; the new one is hashed only when
        // everything else is acceptable.
        off_loop(c, 2, [this, name, password, new_name, new_password, email, invalid, number = who->number,
                        stored = who->password_hash, iterations = config_.hash_iterations] {
            const bool ok = password_verify(password, stored);
            std::string hash = ok && !invalid ? password_hash(new_password, iterations) : std::string();
            return Then([this, name, new_name, email, invalid, number, stored, ok, hash](Client& c) {
                auto now = citizens_.by_number(number);
                int rc = !now ? kNoCitizen : !ok || now->password_hash != stored ? kWrongPassword : invalid;
                if (!rc) {
                    auto other = citizens_.by_name(new_name);
                    if (other && other->number != number) rc = kNameInUse;
                }
                if (!rc && !citizens_.update_hashed(number, new_name, hash, email)) rc = kNameInUse;
                Session& session = sessions_[c.id];
                if (!rc && session.citizen == number) session.name = new_name;
                log("attributes %s: %d", name.c_str(), rc);
                reply(c, 2, static_cast<uint8_t>(rc));
            });
        });
        break;
    }
    case 27: {  // read attributes
        std::string name = r.get_string(), password = r.get_string();
        if (!r.ok()) return false;
        auto who = citizens_.by_name(name);
        if (!who) {
            reply(c, 3, kNoCitizen);
            break;
        }
        authenticate(c, 3, *who, password, [this](Client& c, int rc, const Citizen& who) {
            if (rc) {
                reply(c, 3, static_cast<uint8_t>(rc));
                return;
            }
            reply(c, 3, 0, Payload().byte(0).str(who.name).byte(2).str(who.email).bytes);
        });
        break;
    }
    case 28: {  // forgotten password
        std::string name = r.get_string();
        if (!r.ok()) return false;
        auto who = citizens_.by_name(name);
        if (!who) {
            reply(c, 4, kNoCitizen);
            break;
        }
        // No mail server here: the mail goes to the log. Only a hash of the
        // password is kept, so the mail can only send the citizen on.
        log("mail to %s: someone asked for the password of citizen %s (number %u); passwords are kept only "
            "as hashes, so ask the administrator of this universe to set a new one",
            who->email.c_str(), who->name.c_str(), who->number);
        reply(c, 4, 0);
        break;
    }
    case 29: {  // build check
        uint32_t build = r.get_u32();
        r.get_string();
        r.get_string();
        if (!r.ok()) return false;
        log("build check %u", build);
        reply(c, 5, 0,
              Payload().u32(config_.minimum_build).u32(config_.current_build).byte(config_.beta ? 1 : 0).bytes);
        break;
    }
    case 30: {  // login
        std::string name = r.get_string(), password = r.get_string();
        if (!r.ok()) return false;
        auto who = citizens_.by_name(name);
        if (!who) {
            log("login %s: %d", name.c_str(), kNoCitizen);
            reply(c, 6, kNoCitizen);
            break;
        }
        authenticate(c, 6, *who, password, [this, name](Client& c, int rc, const Citizen& who) {
            log("login %s: %d", name.c_str(), rc);
            if (rc) {
                reply(c, 6, static_cast<uint8_t>(rc));
                return;
            }
            Session& session = sessions_[c.id];
            session.citizen = who.number;
            session.name = who.name;
            reply(c, 6, 0, Payload().u32(who.number).bytes);
            if (citizens_.telegram_count(who.number) > 0) reply(c, 9, 0);
        });
        break;
    }
    case 31: {  // world list
        Payload list;
        for (const auto& w : worlds_) list.str(w.name);
        reply(c, 7, 0, list.bytes);
        break;
    }
    case 32:  // keep-alive
        break;
    case 33: {  // citizen name
        uint32_t number = r.get_u32();
        if (!r.ok()) return false;
        auto who = citizens_.by_number(number);
        if (!who) {
            reply(c, 8, kNoCitizen, Payload().u32(number).bytes);
            break;
        }
        reply(c, 8, 0, Payload().u32(number).str(who->name).bytes);
        break;
    }
    case 34: {  // read a telegram
        if (!session.citizen) {
            reply(c, 10, kNoCitizen);
            break;
        }
        auto t = citizens_.telegram_take(session.citizen);
        if (!t) {
            reply(c, 10, 1);
            break;
        }
        bool more = citizens_.telegram_count(session.citizen) > 0;
        reply(c, 10, 0, Payload().u32(t->from).str(t->from_name).str(t->text).byte(more ? 1 : 0).bytes);
        break;
    }
    case 35: {  // send a telegram
        uint32_t to = r.get_u32();
        std::string text = r.get_string();
        if (!r.ok()) return false;
        if (!citizens_.by_number(to)) break;
        citizens_.telegram_add(to, session.citizen, text);
        log("telegram from %u to %u", session.citizen, to);
        notify_telegram(to);
        break;
    }
    case 36: {  // citizen number
        std::string name = r.get_string();
        if (!r.ok()) return false;
        auto who = citizens_.by_name(name);
        if (!who) {
            reply(c, 12, kNoCitizen, Payload().str(name).bytes);
            break;
        }
        reply(c, 12, 0, Payload().str(name).u32(who->number).bytes);
        break;
    }
    case 37: {  // who stands behind an avatar
        uint8_t id[4];
        if (!r.get_raw(id, 4)) return false;
        uint32_t key = load_be32(id);
        std::optional<std::string> name = whos_at_ ? whos_at_(key) : std::nullopt;
        Payload p;
        p.raw(id, 4);
        if (!name) {
            reply(c, 13, kNoCitizen, p.bytes);
            break;
        }
        reply(c, 13, 0, p.str(*name).bytes);
        break;
    }
    default:
        log("unknown request %d ignored", code);
        break;
    }
    return true;
}

}  // namespace zk::server
