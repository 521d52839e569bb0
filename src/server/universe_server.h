// The universe server: citizens, logins, the list of running worlds, the
// build check and telegrams.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "server/citizens.h"
#include "server/service.h"

namespace zk::server {

struct UniverseConfig {
    uint32_t minimum_build = 162;
    uint32_t current_build = 162;
    bool beta = false;
};

class UniverseServer : public Service {
public:
    UniverseServer(Citizens& citizens, UniverseConfig config);

    // A running world that look-ups and the world list answer.
    void add_world(const std::string& name, uint32_t address, uint16_t port);
    // Who stands behind an avatar identifier (the avatar channel fills it).
    // Whether a citizen is logged in from that address (host order).
    bool logged_in(uint32_t citizen, uint32_t address);
    void set_whos_at(std::function<std::optional<std::string>(uint32_t)> fn) { whos_at_ = std::move(fn); }

    static constexpr size_t kMaxFrame = 1024;

    // Requests of a code handled so far (any thread may read it).
    uint64_t request_count(uint8_t code) const { return counts_[code].load(); }

protected:
    void on_data(Client& c) override;
    void on_close(Client& c) override;

private:
    struct Session {
        uint32_t citizen = 0;
        std::string name;
    };
    struct World {
        std::string name;
        uint32_t address;
        uint16_t port;
    };

    // Handles one request; false when it was malformed.
    bool handle(Client& c, uint8_t code, const uint8_t* payload, size_t length);
    void reply(Client& c, uint8_t code, uint8_t rc, const std::string& payload = {});
    const World* find_world(const std::string& name) const;
    // 0 with the citizen, or 3 (no such citizen) / 13 (wrong password).
    int authenticate(const std::string& name, const std::string& password, Citizen& out);
    void notify_telegram(uint32_t citizen);

    Citizens& citizens_;
    UniverseConfig config_;
    std::vector<World> worlds_;
    std::map<uint64_t, Session> sessions_;
    std::function<std::optional<std::string>(uint32_t)> whos_at_;
    std::array<std::atomic<uint64_t>, 256> counts_{};
};

}  // namespace zk::server
